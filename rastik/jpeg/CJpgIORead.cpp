// JPEG codec, reading: the header, the whole image into the channel planes
// (spilled planes staged through one large buffer), the reduced image and
// the preview. Every read is its own libjpeg run on the file's path.
#include <cstring>
#include <vector>

#include "rastik/CJpgIO.h"
#include "rastik/Exports.h"
#include "rastik/General.h"
#include "rastik/jpeg/CJpgIORun.h"

namespace {

// Dots per inch when the file gives no density.
constexpr float kDefaultDensity = 72.0f;
constexpr float kCentimetresPerInch = 2.54f;

uint32_t PreviewRowBytes(uint32_t width)
{
    return (width * 24 + 31) / 32 * 4;
}

// Progress of a row loop and the Esc poll after every row.
class RowProgress {
public:
    explicit RowProgress(uint32_t total) : m_total(total)
    {
        int32_t end = 0;
        GetProgressRange(&m_start, &end);
        m_span = GetProgressSpan();
    }
    // False when Esc was pressed.
    bool Step(uint32_t done) const
    {
        StepProgress(m_start, m_span, done, m_total);
        return GetEscapeKB() == 0;
    }

private:
    int32_t m_start = 0;
    int32_t m_span = 0;
    uint32_t m_total;
};

bool SameGeometry(const JpegHead& output, const CRastik& image)
{
    return output.Width == image.Width && output.Height == image.Height &&
           output.Components == image.ChannelCount;
}

// Splits scanlines into channel planes; planes in the temporary file are
// collected in shares of one staging buffer and written a chunk at a time.
class PlaneSink : public JpegRowSink {
public:
    PlaneSink(CRastik& image, int32_t* kinds, CFile* tempFile, uint8_t** planes, int32_t* offsets, bool invert)
        : m_image(image), m_kinds(kinds), m_tempFile(tempFile), m_planes(planes), m_offsets(offsets),
          m_invert(invert), m_progress(image.Height)
    {
    }
    ~PlaneSink() override { FreeBuffer(&m_staging); }

    // Takes the staging buffer when planes live in the temporary file.
    bool Prepare()
    {
        uint32_t bpl = m_image.BytesPerLine;
        for (uint32_t c = 0; c < m_image.ChannelCount; ++c) {
            if (m_kinds[c] == kChannelHeap) {
                if (!m_planes[c]) return false;
            } else if (m_kinds[c] == kChannelTemp) {
                m_share[c] = m_tempChannels++;
            } else {
                return false;
            }
        }
        if (m_tempChannels == 0) return true;
        if (!m_tempFile) return false;
        uint64_t unit = static_cast<uint64_t>(m_tempChannels) * bpl;
        if (unit == 0 || unit > 0xFFFFFFFFu) return false;
        uint64_t want = unit * m_image.Height;
        if (want > 0xFFFFFFFFu) want = 0xFFFFFFFFu / unit * unit;
        uint32_t granted = 0;
        m_staging = static_cast<uint8_t*>(AllocLargeBuffer(static_cast<uint32_t>(want), static_cast<uint32_t>(unit),
                                                           &granted, 0));
        if (!m_staging) return false;
        m_chunkRows = static_cast<uint32_t>(granted / unit);
        return m_chunkRows > 0;
    }

    bool Start(const JpegHead& output) noexcept override { return SameGeometry(output, m_image); }

    bool Row(const uint8_t* samples, uint32_t row) noexcept override
    {
        const uint32_t channels = m_image.ChannelCount;
        const uint32_t width = m_image.Width;
        const uint32_t bpl = m_image.BytesPerLine;
        const bool invert = m_invert && m_image.ColorMode == kModeCmyk;
        for (uint32_t c = 0; c < channels; ++c) {
            uint8_t* out = m_kinds[c] == kChannelHeap
                               ? m_planes[c] + static_cast<size_t>(row) * bpl
                               : m_staging + (static_cast<size_t>(m_share[c]) * m_chunkRows + m_staged) * bpl;
            const uint8_t* in = samples + c;
            if (invert) {
                for (uint32_t x = 0; x < width; ++x, in += channels) out[x] = static_cast<uint8_t>(255 - *in);
            } else {
                for (uint32_t x = 0; x < width; ++x, in += channels) out[x] = *in;
            }
        }
        if (m_tempChannels) {
            ++m_staged;
            if ((m_staged == m_chunkRows || row + 1 == m_image.Height) && !FlushStaged()) return false;
        }
        if (!m_progress.Step(row + 1)) {
            m_escaped = true;
            return false;
        }
        return true;
    }

    bool Escaped() const { return m_escaped; }

private:
    bool FlushStaged() noexcept
    {
        const uint32_t bpl = m_image.BytesPerLine;
        try {
            for (uint32_t c = 0; c < m_image.ChannelCount; ++c) {
                if (m_kinds[c] != kChannelTemp) continue;
                int64_t at = static_cast<int64_t>(m_offsets[c]) + static_cast<int64_t>(m_flushed) * bpl;
                m_tempFile->Seek(at, CFile::begin);
                m_tempFile->Write(m_staging + static_cast<size_t>(m_share[c]) * m_chunkRows * bpl, m_staged * bpl);
            }
        } catch (const CFileException&) {
            return false;
        }
        m_flushed += m_staged;
        m_staged = 0;
        return true;
    }

    CRastik& m_image;
    int32_t* m_kinds;
    CFile* m_tempFile;
    uint8_t** m_planes;
    int32_t* m_offsets;
    bool m_invert;
    RowProgress m_progress;
    uint32_t m_share[kMaxChannels] = {};
    uint32_t m_tempChannels = 0;
    uint8_t* m_staging = nullptr;
    uint32_t m_chunkRows = 0;
    uint32_t m_staged = 0;
    uint32_t m_flushed = 0;
    bool m_escaped = false;
};

// Takes the first source row and column that map to each target position.
class ReduceSink : public JpegRowSink {
public:
    ReduceSink(CRastik& image, uint32_t width, uint32_t height, uint8_t** planes)
        : m_image(image), m_height(height), m_planes(planes), m_stride(BytesPerRow(width * 8)),
          m_progress(image.Height)
    {
        float fx = static_cast<float>(width) / static_cast<float>(image.Width);
        m_fy = static_cast<float>(height) / static_cast<float>(image.Height);
        uint32_t k = 0;
        for (uint32_t x = 0; x < image.Width && k < width; ++x) {
            if (static_cast<uint32_t>(static_cast<double>(fx) * x) == k) {
                m_columns.push_back(x);
                ++k;
            }
        }
    }

    bool Start(const JpegHead& output) noexcept override { return SameGeometry(output, m_image); }

    bool Row(const uint8_t* samples, uint32_t row) noexcept override
    {
        if (m_next < m_height && static_cast<uint32_t>(static_cast<double>(m_fy) * row) == m_next) {
            const uint32_t channels = m_image.ChannelCount;
            const bool invert = m_image.ColorMode == kModeCmyk;
            for (uint32_t c = 0; c < channels; ++c) {
                uint8_t* out = m_planes[c] + static_cast<size_t>(m_next) * m_stride;
                for (size_t k = 0; k < m_columns.size(); ++k) {
                    uint8_t v = samples[static_cast<size_t>(m_columns[k]) * channels + c];
                    out[k] = invert ? static_cast<uint8_t>(255 - v) : v;
                }
            }
            ++m_next;
        }
        if (!m_progress.Step(row + 1)) {
            m_escaped = true;
            return false;
        }
        return true;
    }

    bool Escaped() const { return m_escaped; }

private:
    CRastik& m_image;
    uint32_t m_height;
    uint8_t** m_planes;
    uint32_t m_stride;
    RowProgress m_progress;
    float m_fy = 0.0f;
    std::vector<uint32_t> m_columns;
    uint32_t m_next = 0;
    bool m_escaped = false;
};

}  // namespace

int CJpgIO::ReadImageHead()
{
    JpegHead head;
    BeginRun();
    int result = RunJpegDecompress(Path, &head, nullptr);
    EndRun();
    if (result != kJpegRunDone) return 0;

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
    GetResourcePos();
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
    PlaneSink sink(*this, kinds, tempFile, planes, offsets, InvertCmyk != 0);
    if (!sink.Prepare()) return 0;
    JpegHead head;
    BeginRun();
    int result = RunJpegDecompress(Path, &head, &sink);
    EndRun();
    return result == kJpegRunDone ? 1 : 0;
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
    BeginRun();
    int result = RunJpegDecompress(Path, &head, &sink);
    EndRun();
    EndProgress();
    if (sink.Escaped()) EscPressed = 1;
    return result == kJpegRunDone ? 1 : 0;
}

int CJpgIO::ReadPrevImageData(uint32_t& width, uint32_t& height, uint8_t*& buffer)
{
    buffer = nullptr;
    int32_t position = GetPosOfPrevData();
    if (position > 0) {
        if (ReadPrevJpegFile(position, buffer)) {
            width = PrevWidth;
            height = PrevHeight;
            return 1;
        }
        if (EscPressed) return 0;
        // An embedded preview that cannot be decoded: reduce the image itself.
        PrevIsBgr = 0;
    }
    if (ChannelCount == 0 || ChannelCount > 4) return 0;
    GetPrevDataSize();
    uint32_t rowBytes = PreviewRowBytes(PrevWidth);
    uint64_t bufferBytes = static_cast<uint64_t>(rowBytes) * PrevHeight;
    uint64_t planeBytes64 = static_cast<uint64_t>(BytesPerRow(static_cast<uint32_t>(PrevWidth) * 8)) * PrevHeight;
    // A host may ask for previews of any size; the buffers must stay 32-bit.
    if (bufferBytes > 0xFFFFFFFFu || planeBytes64 > 0xFFFFFFFFu) return 0;
    buffer = static_cast<uint8_t*>(AllocBuffer(static_cast<uint32_t>(bufferBytes), 1, 0));
    if (!buffer) return 0;
    uint32_t planeBytes = static_cast<uint32_t>(planeBytes64);
    uint8_t* planes[4] = {};
    bool ok = true;
    for (uint32_t c = 0; c < ChannelCount && ok; ++c) {
        planes[c] = static_cast<uint8_t*>(AllocBuffer(planeBytes, 1, 0));
        ok = planes[c] != nullptr;
    }
    ok = ok && ReadReducedData(PrevWidth, PrevHeight, planes);
    if (ok) ReducedDataForPrev(planes, buffer);
    for (uint8_t*& p : planes) FreeBuffer(&p);
    if (!ok) {
        FreeBuffer(&buffer);
        return 0;
    }
    width = PrevWidth;
    height = PrevHeight;
    return 1;
}
