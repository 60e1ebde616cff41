// JPEG strips through libjpeg.
#include "rastik/tiff/CTiffJpegStripDecoder.h"

#include "rastik/support/Allocates.h"
#include "rastik/tiff/CTiffStripBytes.h"
#include "rastik/tiff/TiffTags.h"

namespace {

// Without a PhotometricInterpretation: grey, RGB or CMYK by the samples. A
// plane of an RGB or CMYK file that stores a plane per sample is a grey
// stream of its own.
uint32_t PhotometricOf(const TiffRowShape& shape)
{
    bool plane = shape.samples == 1 && (shape.photometric == tiff::kRgb || shape.photometric == tiff::kSeparated);
    if (plane) return tiff::kBlackIsZero;
    if (shape.photometric != tiff::kNoPhotometric) return shape.photometric;
    return shape.samples == 1 ? tiff::kBlackIsZero : shape.samples == 4 ? tiff::kSeparated : tiff::kRgb;
}

}  // namespace

CTiffJpegStripDecoder::CTiffJpegStripDecoder(const TiffRowShape& shape)
    : CTiffCoderDecoder(shape, PhotometricOf(shape), shape.samples, shape.tables.data(), shape.tables.size())
{
}

bool CTiffJpegStripDecoder::Start(CTiffStripBytes& bytes)
{
    if (!m_coder.Ok() || m_coder.OutputSamples() != m_shape.samples || m_shape.bits != 8) return false;
    const uint8_t* data = bytes.Begin();
    size_t size = static_cast<size_t>(bytes.End() - bytes.Begin());
    if (bytes.HasMore()) {
        // libjpeg reads the stream from memory.
        if (!rastik::Allocates([&] { bytes.Gather(m_whole); })) return false;
        data = m_whole.data();
        size = m_whole.size();
    }
    uint32_t rows = m_shape.rows ? m_shape.rows : 0xFFFFFFFFu;
    return m_coder.Start(data, size, m_shape.width, rows);
}
