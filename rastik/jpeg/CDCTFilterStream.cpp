// Output side of the DCT encoder: header byte writers, the bit writer of the
// scan, buffer flushes and the end of the image.
#include "rastik/CDCTFilter.h"
#include "rastik/jpeg/DctCoder.h"
#include "rastik/jpeg/JpegMarkers.h"

void CDCTFilter::Write_8_Bit(uint32_t value)
{
    *m_pWritePos++ = static_cast<uint8_t>(value);
}

void CDCTFilter::Write_16_Bit(uint32_t value)
{
    m_pWritePos[0] = static_cast<uint8_t>(value >> 8);
    m_pWritePos[1] = static_cast<uint8_t>(value);
    m_pWritePos += 2;
}

void CDCTFilter::Write_Stream(const uint8_t* bytes, uint32_t length)
{
    std::memcpy(m_pWritePos, bytes, length);
    m_pWritePos += length;
}

void CDCTFilter::WriteBit(uint32_t bits, uint32_t count)
{
    if (count == 0 || count > 31) return;
    DctCoder::Bits b{m_dwBitBuffer, m_dwFreeBits};
    DctCoder::PutBits(*this, b, bits & ((1u << count) - 1), count);
    m_dwBitBuffer = b.acc;
    m_dwFreeBits = b.free;
}

// A short write cannot be repaired here; it is remembered for Encode_EOD and
// the buffer is emptied all the same, so that the scan stays inside it.
void CDCTFilter::FlushForRoom()
{
    if (CCodecFilter::FlushEncodeData() != 0) {
        m_bWriteFailed = true;
        m_pWritePos = m_pOutBuffer;
    }
}

void CDCTFilter::DrainWholeBytes()
{
    uint32_t whole = (32 - m_dwFreeBits) / 8;
    for (uint32_t i = 0; i < whole; ++i) {
        if (BufferRoom() < 2) FlushForRoom();
        uint8_t byte = static_cast<uint8_t>(m_dwBitBuffer >> 24);
        *m_pWritePos++ = byte;
        if (byte == 0xFF) *m_pWritePos++ = 0;
        m_dwBitBuffer <<= 8;
    }
    m_dwFreeBits += 8 * whole;
}

uint32_t CDCTFilter::FlushEncodeData()
{
    if (!m_pOutBuffer) return kFailure;
    DrainWholeBytes();
    uint32_t result = CCodecFilter::FlushEncodeData();
    m_nFlushState = 1;
    if (result != 0) {
        m_bWriteFailed = true;
        m_pWritePos = m_pOutBuffer;
    }
    return result;
}

uint32_t CDCTFilter::Encode_EOD()
{
    if (!m_pDCCode[0] || !m_pACCode[0]) return kFailure;  // no image under way
    if (m_dwHeight != 0 || !AppendAhead()) {
        Free_Memory();
        FlushEncodeData();
        return kFailure;
    }
    if (BufferRoom() < 10) FlushEncodeData();
    // The last bits, padded with 0 to a whole byte.
    uint32_t bytes = (32 - m_dwFreeBits + 7) / 8;
    for (uint32_t i = 0; i < bytes; ++i) {
        uint8_t byte = static_cast<uint8_t>(m_dwBitBuffer >> 24);
        *m_pWritePos++ = byte;
        if (byte == 0xFF) *m_pWritePos++ = 0;
        m_dwBitBuffer <<= 8;
    }
    m_dwBitBuffer = 0;
    m_dwFreeBits = 32;
    Write_16_Bit(jpegmarker::kEoi);
    uint32_t result = FlushEncodeData();
    Free_Memory();
    return (result != 0 || m_bWriteFailed) ? kFailure : 0;
}
