// Old-style JPEG images through libjpeg, as one frame.
#include "rastik/tiff/CTiffOldJpegDecoder.h"

#include <cstring>

#include "rastik/tiff/TiffColourFields.h"
#include "rastik/tiff/TiffTags.h"

namespace {

// Without a PhotometricInterpretation: grey or YCbCr by the samples.
uint32_t PhotometricOf(const TiffRowShape& shape)
{
    if (shape.photometric != tiff::kNoPhotometric) return shape.photometric;
    return shape.samples == 1 ? tiff::kBlackIsZero : tiff::kYCbCr;
}

const float* CoefficientsOf(const TiffRowShape& shape)
{
    return shape.colour ? shape.colour->Coefficients() : nullptr;
}

const float* ReferenceOf(const TiffRowShape& shape)
{
    return shape.colour ? shape.colour->Reference() : nullptr;
}

}  // namespace

CTiffOldJpegDecoder::CTiffOldJpegDecoder(const TiffRowShape& shape)
    : CTiffDecoder(shape), m_ycbcr(PhotometricOf(shape) == tiff::kYCbCr && shape.samples == 3),
      m_jpeg(PhotometricOf(shape), shape.samples, nullptr, 0, true),
      m_convert(shape.width, 1, 1, CoefficientsOf(shape), ReferenceOf(shape))
{
}

bool CTiffOldJpegDecoder::Start(CTiffStripBytes&)
{
    const tiff::TiffColourFields* c = m_shape.colour;
    if (!c || c->jpegStream.empty() || !m_jpeg.Ok() || m_shape.bits != 8 || c->frameWidth < m_shape.width) return false;
    if (m_jpeg.OutputSamples() != m_shape.samples) return false;
    m_frameRow.assign(static_cast<size_t>(c->frameWidth) * m_shape.samples, 0);
    return m_jpeg.Start(c->jpegStream.data(), c->jpegStream.size(), c->frameWidth, c->frameHeight);
}

uint8_t* CTiffOldJpegDecoder::DecodeRow(uint8_t* row)
{
    m_jpeg.DecodeRow(m_frameRow.data());
    if (!m_ycbcr) {
        memcpy(row, m_frameRow.data(), m_rowBytes);
        return row;
    }
    const uint8_t* p = m_frameRow.data();
    for (uint32_t x = 0; x < m_shape.width; ++x, p += 3) m_convert.ToRgb(p[0], p[1], p[2], row + 3 * x);
    return row;
}

void CTiffOldJpegDecoder::SkipRows(uint32_t count, uint8_t*)
{
    for (uint32_t i = 0; i < count; ++i) m_jpeg.SkipRow();
}
