// Rows of uncompressed YCbCr strips.
#include "rastik/tiff/CTiffYCbCrDecoder.h"

#include <algorithm>
#include <cstring>

#include "rastik/tiff/CTiffStripBytes.h"
#include "rastik/tiff/TiffColourFields.h"

namespace {

uint32_t SubH(const TiffRowShape& s)
{
    return s.colour ? s.colour->subH : 2;
}

uint32_t SubV(const TiffRowShape& s)
{
    return s.colour ? s.colour->subV : 2;
}

}  // namespace

CTiffYCbCrDecoder::CTiffYCbCrDecoder(const TiffRowShape& shape)
    : CTiffDecoder(shape),
      m_convert(shape.width, SubH(shape), SubV(shape), shape.colour ? shape.colour->Coefficients() : nullptr,
                shape.colour ? shape.colour->Reference() : nullptr),
      m_subV(SubV(shape))
{
}

bool CTiffYCbCrDecoder::Start(CTiffStripBytes& bytes)
{
    if (!m_convert.Ok() || m_shape.bits != 8 || m_shape.samples != 3) return false;
    KeepWindow(bytes);
    m_row = 0;
    m_units.resize(m_convert.UnitRowBytes());
    return bytes.Capacity() > 0;
}

// A row of units may be larger than the window: taken a window at a time.
size_t CTiffYCbCrDecoder::ReadUnits()
{
    size_t held = 0;
    for (size_t done = 0; done < m_units.size();) {
        uint32_t n = static_cast<uint32_t>(std::min<size_t>(m_units.size() - done, m_bytes->Capacity()));
        const uint8_t* from = m_bytes->Take(m_at, n);
        held += static_cast<size_t>(m_at - from);
        memcpy(m_units.data() + done, from, n);
        done += n;
    }
    return held;
}

uint8_t* CTiffYCbCrDecoder::DecodeRow(uint8_t* row)
{
    if (m_row % m_subV == 0) m_convert.Start(m_units.data(), ReadUnits());
    ++m_row;
    m_convert.DecodeRow(row);
    return row;
}

void CTiffYCbCrDecoder::SkipRows(uint32_t count, uint8_t* row)
{
    for (uint32_t i = 0; i < count; ++i) DecodeRow(row);
}
