// PNG reading: the header with its colour-type mapping and resolution, the
// whole image into the channel planes (interlaced passes combined in the
// planes), the reduced image and the preview.
#include "rastik/CPngIO.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "rastik/General.h"
#include "rastik/core/CPlaneRowStream.h"
#include "rastik/core/CReducedSampler.h"
#include "rastik/core/CRowProgress.h"
#include "rastik/formats/CPngFileIo.h"
#include "rastik/formats/CPngIORun.h"
#include "rastik/support/Inches.h"
#include "rastik/support/PixelRows.h"

namespace {

constexpr float kDefaultResolution = 72.0f;
// Deflate codes at most 258 bytes in two bits.
constexpr uint64_t kMaxInflatedPerByte = 1032;

// Dots per inch of a pixels-per-metre value. No integer number of pixels
// per metre is a whole number of dots per inch, so the value is held to
// hundredths: 300 dpi is stored as 11811 and reads back as 300.
float DotsPerInch(uint32_t pixelsPerMetre)
{
    if (pixelsPerMetre == 0) return kDefaultResolution;
    return static_cast<float>(std::round(pixelsPerMetre * rastik::kMetresPerInch * 100.0) / 100.0);
}

// Whether the file's rows fit the image the host prepared: its size, and
// one plane per channel, or the colour channels only when the host asked
// for those (UseColorChannels drops the alpha plane).
bool SameGeometry(const PngHead& head, const CRastik& image)
{
    bool planes = head.Channels == image.ChannelCount ||
                  (image.UseColorChannels && image.ChannelCount >= image.ColorChannels &&
                   image.ChannelCount < head.Channels);
    return head.Width == image.Width && head.Height == image.Height && planes;
}

// Whether row had pixels in a pass before pass (and so holds some already).
bool SeenBefore(uint32_t row, uint32_t pass, uint32_t width)
{
    for (uint32_t p = 0; p < pass; ++p)
        if (PngPasses::RowHasPixels(row, p, width)) return true;
    return false;
}

// Splits rows into the channel planes through the plane-row stream: in file
// order, or for interlaced images each pass's columns into rows that may
// hold earlier passes' pixels.
class PlaneSink : public PngRowSink {
public:
    PlaneSink(CRastik& image, bool interlaced)
        : m_image(image), m_interlaced(interlaced),
          m_rows(image, CPlaneRowStream::kFill, interlaced ? CPlaneRowStream::kAnyOrder : CPlaneRowStream::kTopDown,
                 image.ChannelCount)
    {
    }

    bool Prepare()
    {
        uint64_t visits = PngPasses::RowVisits(m_image.Width, m_image.Height, m_interlaced);
        if (visits > 0xFFFFFFFFull || !m_rows.Open()) return false;
        m_rows.SetProgress(static_cast<uint32_t>(visits));
        return true;
    }
    bool Start(const PngHead& head) noexcept override
    {
        if (!SameGeometry(head, m_image)) return false;
        m_fileChannels = head.Channels;
        if (m_fileChannels > m_image.ChannelCount) m_skipped.resize(m_image.Width);
        return true;
    }

    bool Row(const uint8_t* samples, uint32_t row, uint32_t pass) noexcept override
    {
        const uint32_t channels = m_fileChannels;
        const uint32_t planes = m_image.ChannelCount;
        const uint32_t width = m_image.Width;
        if (!m_interlaced) {
            uint8_t* out[4] = {};
            for (uint32_t c = 0; c < channels; ++c)
                if (!(out[c] = c < planes ? m_rows.Row(c) : m_skipped.data())) return false;
            rastik::SplitSamples(samples, width, channels, out);
            return m_rows.Advance();
        }
        // The pass's columns only; earlier passes' pixels stay in the row.
        const uint32_t start = PngPasses::ColumnStart(pass);
        const uint32_t step = PngPasses::ColumnStep(pass);
        const bool seen = SeenBefore(row, pass, width);
        for (uint32_t c = 0; c < planes; ++c) {
            uint8_t* out = m_rows.RowAt(c, row, seen);
            if (!out) return false;
            const uint8_t* in = samples + c;
            for (uint32_t x = start; x < width; x += step) out[x] = in[static_cast<size_t>(x) * channels];
        }
        return m_rows.Commit(row);
    }

    bool Finish() { return m_rows.Finish() == CPlaneRowStream::kDone; }

private:
    CRastik& m_image;
    bool m_interlaced;
    CPlaneRowStream m_rows;
    uint32_t m_fileChannels = 0;
    std::vector<uint8_t> m_skipped;  // the row of a channel the host does not keep
};

// Takes the source rows and columns the reduced sampler selects into the
// colour planes; an interlaced image fills the taken pixels pass by pass.
class ReduceSink : public PngRowSink {
public:
    ReduceSink(CRastik& image, bool interlaced, uint32_t width, uint32_t height, uint8_t** planes)
        : m_image(image), m_interlaced(interlaced), m_planes(planes), m_stride(BytesPerRow(width * 8)),
          m_sampler(image.Width, image.Height, width, height),
          m_progress(static_cast<uint32_t>(std::min<uint64_t>(
                         PngPasses::RowVisits(image.Width, image.Height, interlaced), 0xFFFFFFFFull)),
                     0, &image.EscPressed)
    {
    }

    bool Start(const PngHead& head) noexcept override
    {
        m_fileChannels = head.Channels;
        return SameGeometry(head, m_image);
    }

    bool Row(const uint8_t* samples, uint32_t row, uint32_t pass) noexcept override
    {
        const std::vector<uint32_t>& rows = m_sampler.Rows();
        auto at = std::lower_bound(rows.begin(), rows.end(), row);
        if (at != rows.end() && *at == row) {
            const size_t target = static_cast<size_t>(at - rows.begin());
            const uint32_t channels = m_fileChannels;
            const std::vector<uint32_t>& columns = m_sampler.Columns();
            uint32_t start = m_interlaced ? PngPasses::ColumnStart(pass) : 0;
            uint32_t step = m_interlaced ? PngPasses::ColumnStep(pass) : 1;
            for (uint32_t c = 0; c < m_image.ColorChannels; ++c) {
                uint8_t* out = m_planes[c] + target * m_stride;
                for (size_t k = 0; k < columns.size(); ++k) {
                    uint32_t x = columns[k];
                    if (x >= start && (x - start) % step == 0) out[k] = samples[static_cast<size_t>(x) * channels + c];
                }
            }
            if (!m_interlaced) ++m_taken;
        }
        return m_progress.Step();
    }

    bool Done() const noexcept override { return !m_interlaced && m_taken >= m_sampler.Rows().size(); }

private:
    CRastik& m_image;
    bool m_interlaced;
    uint8_t** m_planes;
    uint32_t m_stride;
    CReducedSampler m_sampler;
    CRowProgress m_progress;
    size_t m_taken = 0;
    uint32_t m_fileChannels = 0;
};

}  // namespace

CPngIO::CPngIO(const char* path)
{
    Path = path;
}

CPngIO::~CPngIO() = default;

bool CPngIO::OpenForReading()
{
    try {
        if (!File.IsOpen()) {
            CFileException error;
            if (!Path || !File.Open(Path, CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary, &error))
                return false;
        }
        File.Seek(0, CFile::begin);
    } catch (const CFileException&) {
        return false;
    }
    return true;
}

void CPngIO::Rewind()
{
    try {
        File.Seek(0, CFile::begin);
    } catch (const CFileException&) {
    }
}

int CPngIO::ReadImageHead()
{
    if (!OpenForReading()) return 0;
    CPngFileIo input(File);
    PngHead head;
    int result = RunPngRead(input, &head, nullptr, ShowMessages != 0);
    // The header ends inside the first image data chunk.
    uint64_t dataBytes = 0;
    try {
        uint64_t at = File.GetPosition(), length = File.GetLength();
        dataBytes = length > at ? length - at : 0;
    } catch (const CFileException&) {
    }
    Rewind();
    if (result != kPngRunDone) return 0;
    // A file far too short for its pixels is refused before a host makes planes for them.
    uint64_t rowBytes = (static_cast<uint64_t>(head.Width) * head.BitDepth * head.Channels + 7) / 8;
    if (dataBytes * kMaxInflatedPerByte < rowBytes * head.Height) return 0;
    const PngColorType* m = PngColorType::Of(head.ColorType);
    if (!m || m->Channels != head.Channels || head.Width == 0 || head.Height == 0) return 0;
    if (m->Mode == kModeIndexed && head.PaletteEntries == 0) return 0;
    // Planes of BytesPerRow(width x 8) x height bytes must stay within 32 bits.
    if (head.Width > 0x1FFFFFFF) return 0;
    uint64_t stride = BytesPerRow(head.Width * 8);
    if (stride * head.Height > 0xFFFFFFFFull) return 0;

    Width = head.Width;
    Height = head.Height;
    InterlaceType = static_cast<int32_t>(head.Interlace);
    ColorMode = m->Mode;
    ColorChannels = m->Colors;
    ChannelCount = m->Channels;
    FileBitCount = 8;
    BitsPerChannel = 8;
    BytesPerLine = static_cast<uint32_t>(stride);
    ResolutionUnit = 1;
    XResolution = YResolution = kDefaultResolution;
    if (head.PixelSizeInMetres) {
        XResolution = DotsPerInch(head.XPixelsPerUnit);
        YResolution = DotsPerInch(head.YPixelsPerUnit);
    }
    // Palettes of every size, completed with black to 256 entries.
    FreeBuffer(&Palette);
    PaletteSize = 0;
    if (m->Mode == kModeIndexed) {
        Palette = static_cast<uint8_t*>(AllocBuffer(1024, 0, 0));
        if (!Palette) return 0;
        PaletteSize = 256;
        for (uint32_t i = 0; i < head.PaletteEntries; ++i) {
            Palette[4 * i] = head.Palette[3 * i + 2];
            Palette[4 * i + 1] = head.Palette[3 * i + 1];
            Palette[4 * i + 2] = head.Palette[3 * i];
        }
    }
    return 1;
}

int CPngIO::ReadImageData()
{
    if (Width == 0 || Height == 0 || ChannelCount == 0 || ChannelCount > 4 || BytesPerLine < Width) return 0;
    if (!OpenForReading()) return 0;
    PlaneSink sink(*this, InterlaceType != 0);
    int result = kPngRunFailed;
    if (sink.Prepare()) {
        CPngFileIo input(File);
        PngHead head;
        result = RunPngRead(input, &head, &sink, ShowMessages != 0);
    }
    bool finished = sink.Finish();
    Rewind();
    return finished && result == kPngRunDone ? 1 : 0;
}

int CPngIO::ReadReducedData(uint32_t width, uint32_t height, uint8_t** planes)
{
    if (!planes || width == 0 || height == 0 || width > 0xFFFF || height > 0xFFFF || Width == 0 || Height == 0 ||
        ChannelCount == 0 || ChannelCount > 4 || ColorChannels > ChannelCount)
        return 0;
    for (uint32_t c = 0; c < ColorChannels; ++c)
        if (!planes[c]) return 0;
    if (!OpenForReading()) return 0;
    PrevWidth = static_cast<uint16_t>(width);
    PrevHeight = static_cast<uint16_t>(height);
    BeginProgress();
    ReduceSink sink(*this, InterlaceType != 0, width, height, planes);
    CPngFileIo input(File);
    PngHead head;
    int result = RunPngRead(input, &head, &sink, ShowMessages != 0);
    EndProgress();
    Rewind();
    return result == kPngRunDone ? 1 : 0;
}

int CPngIO::ReadPrevImageData(uint32_t& width, uint32_t& height, uint8_t*& buffer)
{
    buffer = nullptr;
    if (ChannelCount == 0 || ChannelCount > 4) return 0;
    int result = PreviewFromReducedData(width, height, buffer);
    OpenForReading();
    return result;
}
