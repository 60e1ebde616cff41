// JPEG codec, reading: the header, the whole image into the channel planes,
// the reduced image and the preview. Every read is its own libjpeg run over
// the codec's open file (or the range of another file it was given).
#include <cstring>
#include <vector>

#include "rastik/CJpgIO.h"
#include "rastik/Exports.h"
#include "rastik/General.h"
#include "rastik/core/CPlaneRowStream.h"
#include "rastik/core/CReducedSampler.h"
#include "rastik/core/CRowProgress.h"
#include "rastik/jpeg/CJpgIORun.h"
#include "rastik/support/Inches.h"

namespace {

// Dots per inch when the file gives no density.
constexpr float kDefaultDensity = 72.0f;
constexpr float kCentimetresPerInch = static_cast<float>(rastik::kCentimetresPerInch);

bool SameGeometry(const JpegHead& output, const CRastik& image)
{
    return output.Width == image.Width && output.Height == image.Height &&
           output.Components == image.ChannelCount;
}

// Splits scanlines into the channel planes through the plane-row stream.
class PlaneSink : public JpegRowSink {
public:
    PlaneSink(CRastik& image, const CPlaneRowStream::PlaneSet& planes, bool invert)
        : m_image(image), m_rows(image, planes, CPlaneRowStream::kFill, CPlaneRowStream::kTopDown, image.ChannelCount),
          m_invert(invert && image.ColorMode == kModeCmyk)
    {
    }

    bool Prepare() { return m_rows.Open(); }
    bool Start(const JpegHead& output) noexcept override { return SameGeometry(output, m_image); }

    bool Row(const uint8_t* samples, uint32_t) noexcept override
    {
        const uint32_t channels = m_image.ChannelCount;
        const uint32_t width = m_image.Width;
        for (uint32_t c = 0; c < channels; ++c) {
            uint8_t* out = m_rows.Row(c);
            if (!out) return false;
            const uint8_t* in = samples + c;
            if (m_invert) {
                for (uint32_t x = 0; x < width; ++x, in += channels) out[x] = static_cast<uint8_t>(255 - *in);
            } else {
                for (uint32_t x = 0; x < width; ++x, in += channels) out[x] = *in;
            }
        }
        return m_rows.Advance();
    }

    bool Finish() { return m_rows.Finish() == CPlaneRowStream::kDone; }

private:
    CRastik& m_image;
    CPlaneRowStream m_rows;
    bool m_invert;
};

// Takes the source rows and columns the reduced sampler selects.
class ReduceSink : public JpegRowSink {
public:
    ReduceSink(CRastik& image, uint32_t width, uint32_t height, uint8_t** planes)
        : m_image(image), m_planes(planes), m_stride(BytesPerRow(width * 8)),
          m_sampler(image.Width, image.Height, width, height), m_progress(image.Height, 0, &image.EscPressed)
    {
    }

    bool Start(const JpegHead& output) noexcept override { return SameGeometry(output, m_image); }

    bool Row(const uint8_t* samples, uint32_t row) noexcept override
    {
        if (m_sampler.Wants(row)) {
            const uint32_t next = m_sampler.Take();
            const uint32_t channels = m_image.ChannelCount;
            const bool invert = m_image.ColorMode == kModeCmyk;
            const std::vector<uint32_t>& columns = m_sampler.Columns();
            for (uint32_t c = 0; c < channels; ++c) {
                uint8_t* out = m_planes[c] + static_cast<size_t>(next) * m_stride;
                for (size_t k = 0; k < columns.size(); ++k) {
                    uint8_t v = samples[static_cast<size_t>(columns[k]) * channels + c];
                    out[k] = invert ? static_cast<uint8_t>(255 - v) : v;
                }
            }
        }
        return m_progress.Step();
    }

    // Equal rows only matter where the sampler takes one.
    bool Repeat(const uint8_t* samples, uint32_t row, uint32_t count) noexcept override
    {
        for (uint32_t i = 0; i < count; ++i) {
            if (m_sampler.Wants(row + i) && !Row(samples, row + i)) return false;
            if (!m_sampler.Wants(row + i) && !m_progress.Step()) return false;
        }
        return true;
    }

private:
    CRastik& m_image;
    uint8_t** m_planes;
    uint32_t m_stride;
    CReducedSampler m_sampler;
    CRowProgress m_progress;
};

}  // namespace

int CJpgIO::ReadImageHead()
{
    JpegHead head;
    if (Run(&head, nullptr) != kJpegRunDone) return 0;

    uint32_t mode = 0;
    switch (head.Components) {
    case 1: mode = kModeGrey; break;
    case 3: mode = kModeRgb; break;
    case 4: mode = kModeCmyk; break;
    default: return 0;
    }
    Width = head.Width;
    Height = head.Height;
    ResolutionUnit = 1;
    XResolution = head.XDensity ? static_cast<float>(head.XDensity) : kDefaultDensity;
    YResolution = head.YDensity ? static_cast<float>(head.YDensity) : kDefaultDensity;
    if (head.DensityUnit == 2) {
        XResolution *= kCentimetresPerInch;
        YResolution *= kCentimetresPerInch;
    } else if (head.DensityUnit == 0) {
        XResolution = YResolution = kDefaultDensity;
    }
    ColorMode = mode;
    ChannelCount = ColorChannels = head.Components;
    PaletteSize = 0;
    FileBitCount = 8;
    BitsPerChannel = 8;
    uint32_t align = GetRowAlignment();
    if (align == 0) align = 4;
    uint64_t unitBits = 8ull * align;
    BytesPerLine = static_cast<uint32_t>((8ull * Width + unitBits - 1) / unitBits * align);
    if (!m_source) GetResourcePos();
    return 1;
}

int CJpgIO::ReadImageData()
{
    InvertCmyk = 1;
    return GetImageData(ChannelKind, TempFileObject, ChannelData, ChannelOffset);
}

int CJpgIO::GetImageData(int32_t* kinds, CFile* tempFile, uint8_t** planes, int32_t* offsets)
{
    if (!kinds || !planes || !offsets || Width == 0 || Height == 0 || ChannelCount == 0 ||
        ChannelCount > 4 || BytesPerLine < Width)
        return 0;
    PlaneSink sink(*this, CPlaneRowStream::PlaneSet{kinds, planes, offsets, tempFile}, InvertCmyk != 0);
    if (!sink.Prepare()) return 0;
    JpegHead head;
    int result = Run(&head, &sink);
    return sink.Finish() && result == kJpegRunDone ? 1 : 0;
}

int CJpgIO::ReadReducedData(uint32_t width, uint32_t height, uint8_t** planes)
{
    if (!planes || width == 0 || height == 0 || width > 0xFFFF || height > 0xFFFF || Width == 0 ||
        Height == 0 || ChannelCount == 0 || ChannelCount > 4)
        return 0;
    for (uint32_t c = 0; c < ChannelCount; ++c)
        if (!planes[c]) return 0;
    PrevWidth = static_cast<uint16_t>(width);
    PrevHeight = static_cast<uint16_t>(height);
    BeginProgress();
    ReduceSink sink(*this, width, height, planes);
    JpegHead head;
    int result = Run(&head, &sink);
    EndProgress();
    return result == kJpegRunDone ? 1 : 0;
}

int CJpgIO::ReadPrevImageData(uint32_t& width, uint32_t& height, uint8_t*& buffer)
{
    // An embedded preview that cannot be decoded: reduce the image itself.
    if (int thumbnail = PreviewFromThumbnail(width, height, buffer)) return thumbnail > 0 ? 1 : 0;
    if (ChannelCount == 0 || ChannelCount > 4) return 0;
    return PreviewFromReducedData(width, height, buffer);
}
