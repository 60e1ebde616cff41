// SGI LogLuv and LogL strips.
#include "rastik/tiff/CTiffSgiLogDecoder.h"

#include <new>

#include "rastik/tiff/CTiffStripBytes.h"

CTiffSgiLogDecoder::CTiffSgiLogDecoder(const TiffRowShape& shape) : CTiffDecoder(shape), m_log(shape.width, shape.photometric)
{
}

bool CTiffSgiLogDecoder::Start(CTiffStripBytes& bytes)
{
    if (!m_log.Ok() || m_shape.bits != 8 || m_log.OutputSamples() != m_shape.samples) return false;
    try {
        bytes.Gather(m_whole);
    } catch (const std::bad_alloc&) {
        return false;
    }
    m_log.Start(m_whole.data(), m_whole.size());
    return true;
}

uint8_t* CTiffSgiLogDecoder::DecodeRow(uint8_t* row)
{
    m_log.DecodeRow(row);
    return row;
}

void CTiffSgiLogDecoder::SkipRows(uint32_t count, uint8_t*)
{
    for (uint32_t i = 0; i < count; ++i) m_log.SkipRow();
}
