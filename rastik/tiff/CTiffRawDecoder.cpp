// Rows of uncompressed TIFF strips.
#include "rastik/tiff/CTiffRawDecoder.h"

#include "rastik/tiff/CTiffStripBytes.h"

bool CTiffRawDecoder::Start(CTiffStripBytes& bytes)
{
    KeepWindow(bytes);
    return bytes.Capacity() >= m_rowBytes;
}

uint8_t* CTiffRawDecoder::DecodeRow(uint8_t*)
{
    return m_bytes->Take(m_at, m_rowBytes);
}

void CTiffRawDecoder::SkipRows(uint32_t count, uint8_t*)
{
    m_bytes->Skip(m_at, static_cast<uint64_t>(count) * m_rowBytes);
}
