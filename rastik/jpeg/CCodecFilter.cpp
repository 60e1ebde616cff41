// Base of the DCT codec: owns the output buffer and writes it to the
// encoded-data stream.
#include "rastik/CCodecFilter.h"

#include <cstring>
#include <new>

#include "rastik/Exports.h"

CCodecFilter::CCodecFilter()
    : m_pOutBuffer(new (std::nothrow) uint8_t[kOutBufferSize])
{
    m_pWritePos = m_pOutBuffer;
    m_pBufferLimit = m_pOutBuffer ? m_pOutBuffer + kOutBufferSize : nullptr;
}

CCodecFilter::CCodecFilter(const CCodecFilter& other) : CCodecFilter()
{
    *this = other;
}

CCodecFilter& CCodecFilter::operator=(const CCodecFilter& other)
{
    if (this == &other) return *this;
    m_nStream = other.m_nStream;
    m_dwHeaderLength = other.m_dwHeaderLength;
    m_nFlushState = other.m_nFlushState;
    m_pWritePos = m_pOutBuffer;
    if (m_pOutBuffer && other.m_pOutBuffer) {
        uint32_t used = other.BufferedBytes();
        std::memcpy(m_pOutBuffer, other.m_pOutBuffer, used);
        m_pWritePos = m_pOutBuffer + used;
    }
    return *this;
}

CCodecFilter::~CCodecFilter()
{
    delete[] m_pOutBuffer;
}

uint32_t CCodecFilter::FlushEncodeData()
{
    m_nFlushState = -1;
    if (!m_pOutBuffer) return 0xFFFFFFFFu;
    int count = static_cast<int>(BufferedBytes());
    if (WriteOut(m_pOutBuffer, count) != count) return 0xFFFFFFFFu;
    m_pWritePos = m_pOutBuffer;
    return 0;
}

int CCodecFilter::WriteOut(const uint8_t* bytes, int count)
{
    return WriteEncodedData(m_nStream, reinterpret_cast<const char*>(bytes), count);
}
