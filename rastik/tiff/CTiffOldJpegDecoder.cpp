// Old-style JPEG images through libjpeg, as one frame.
#include "rastik/tiff/CTiffOldJpegDecoder.h"

#include <cstring>
#include <new>

#include "rastik/tiff/CTiffStripBytes.h"

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
    : CTiffCoderDecoder(shape, PhotometricOf(shape), shape.samples, nullptr, 0, true),
      m_ycbcr(PhotometricOf(shape) == tiff::kYCbCr && shape.samples == 3),
      m_convert(shape.width, 1, 1, CoefficientsOf(shape), ReferenceOf(shape))
{
}

bool CTiffOldJpegDecoder::Start(CTiffStripBytes& bytes)
{
    const tiff::TiffColourFields* c = m_shape.colour;
    if (!c || !m_coder.Ok() || m_shape.bits != 8 || m_coder.OutputSamples() != m_shape.samples) return false;
    if (!c->jpegStream.empty()) {
        if (c->frameWidth < m_shape.width) return false;
        m_frameRow.assign(static_cast<size_t>(c->frameWidth) * m_shape.samples, 0);
        return m_coder.Start(c->jpegStream.data(), c->jpegStream.size(), c->frameWidth, c->frameHeight);
    }
    // A tile: a frame of its own, of the tile's size.
    TiffOldJpegFields f = c->jpegFields;
    f.width = m_shape.width;
    f.height = f.rowsPerStrip = m_shape.rows;
    try {
        std::vector<uint8_t> tile;
        bytes.Gather(tile);
        if (!CTiffOldJpegStream::Build(f, {std::span<const uint8_t>(tile)}, &m_tileStream)) return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
    m_frameRow.assign(static_cast<size_t>(m_shape.width) * m_shape.samples, 0);
    return m_coder.Start(m_tileStream.data(), m_tileStream.size(), m_shape.width, m_shape.rows);
}

uint8_t* CTiffOldJpegDecoder::DecodeRow(uint8_t* row)
{
    m_coder.DecodeRow(m_frameRow.data());
    if (!m_ycbcr) {
        memcpy(row, m_frameRow.data(), m_rowBytes);
        return row;
    }
    const uint8_t* p = m_frameRow.data();
    for (uint32_t x = 0; x < m_shape.width; ++x, p += 3) m_convert.ToRgb(p[0], p[1], p[2], row + 3 * x);
    return row;
}
