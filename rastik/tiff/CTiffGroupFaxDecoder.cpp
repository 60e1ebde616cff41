// Group 3 and Group 4 fax strips through the fax code decoder.
#include "rastik/tiff/CTiffGroupFaxDecoder.h"

CTiffGroupFaxDecoder::CTiffGroupFaxDecoder(const TiffRowShape& shape, CTiffCcittDecoder::Coding coding)
    : CTiffCoderDecoder(shape, shape.width, coding, shape.options)
{
}

bool CTiffGroupFaxDecoder::Start(CTiffStripBytes& bytes)
{
    if (!m_coder.Ok() || m_coder.RowBytes() != m_rowBytes) return false;
    m_coder.Start(bytes);
    return true;
}
