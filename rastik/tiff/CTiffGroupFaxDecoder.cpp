// Group 3 and Group 4 fax strips through the fax code decoder.
#include "rastik/tiff/CTiffGroupFaxDecoder.h"

CTiffGroupFaxDecoder::CTiffGroupFaxDecoder(const TiffRowShape& shape, CTiffCcittDecoder::Coding coding)
    : CTiffDecoder(shape), m_fax(shape.width, coding, shape.options)
{
}

bool CTiffGroupFaxDecoder::Start(CTiffStripBytes& bytes)
{
    if (!m_fax.Ok() || m_fax.RowBytes() != m_rowBytes) return false;
    m_fax.Start(bytes);
    return true;
}

uint8_t* CTiffGroupFaxDecoder::DecodeRow(uint8_t* row)
{
    m_fax.DecodeRow(row);
    return row;
}

void CTiffGroupFaxDecoder::SkipRows(uint32_t count, uint8_t*)
{
    for (uint32_t i = 0; i < count; ++i) m_fax.SkipRow();
}
