// PNG reading: the header with its colour-type mapping and resolution, and
// the row source of libpng's rows that the base class reads the whole image
// (interlaced passes combined in the planes), the reduced image and the
// preview from.
#include "rastik/CPngIO.h"

#include <cmath>

#include "rastik/General.h"
#include "rastik/core/CRowHandover.h"
#include "rastik/core/CRowSource.h"
#include "rastik/core/CStatus.h"
#include "rastik/formats/CPngFileIo.h"
#include "rastik/formats/CPngIORun.h"
#include "rastik/support/InflateBound.h"
#include "rastik/support/Inches.h"

namespace {

constexpr float kDefaultResolution = 72.0f;
// Dots per inch of a pixels-per-metre value. No integer number of pixels
// per metre is a whole number of dots per inch, so the value is held to
// hundredths: 300 dpi is stored as 11811 and reads back as 300.
float DotsPerInch(uint32_t pixelsPerMetre)
{
    if (pixelsPerMetre == 0) return kDefaultResolution;
    return static_cast<float>(std::round(pixelsPerMetre * rastik::kMetresPerInch * 100.0) / 100.0);
}

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
        File.Seek(static_cast<int64_t>(m_start), CFile::begin);
    } catch (const CFileException&) {
        return false;
    }
    return true;
}

void CPngIO::Rewind()
{
    try {
        File.Seek(static_cast<int64_t>(m_start), CFile::begin);
    } catch (const CFileException&) {
    }
}

CStatus CPngIO::ReadHead()
{
    CStatus refused = CStatus::Failed();
    if (!OpenForReading()) return refused;
    CPngFileIo input(File);
    PngHead head;
    int result = RunPngRead(input, &head, nullptr, ShowMessages != 0);
    // The header ends inside the first image data chunk.
    uint64_t at = File.GetPosition(), length = File.GetLength();
    uint64_t dataBytes = length > at ? length - at : 0;
    Rewind();
    if (result != kPngRunDone) return refused;
    // A file far too short for its pixels is refused before a host makes planes for them.
    uint64_t rowBytes = (static_cast<uint64_t>(head.Width) * head.BitDepth * head.Channels + 7) / 8;
    if (rastik::InflateBound(dataBytes) < rowBytes * head.Height) return refused;
    const PngColorType* m = PngColorType::Of(head.ColorType);
    if (!m || m->Channels != head.Channels || head.Width == 0 || head.Height == 0) return refused;
    if (m->Mode == kModeIndexed && head.PaletteEntries == 0) return refused;
    // Rows of BytesPerRow(width x 8) bytes; the planes may be of any size.
    if (head.Width > 0x1FFFFFFF) return refused;
    uint64_t stride = BytesPerRow(head.Width * 8);

    Width = head.Width;
    Height = head.Height;
    InterlaceType = static_cast<int32_t>(head.Interlace);
    ColorMode = m->Mode;
    ColorChannels = m->Colors;
    ChannelCount = m_fileChannels = m->Channels;
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
        if (!Palette) return refused;
        PaletteSize = 256;
        for (uint32_t i = 0; i < head.PaletteEntries; ++i) {
            Palette[4 * i] = head.Palette[3 * i + 2];
            Palette[4 * i + 1] = head.Palette[3 * i + 1];
            Palette[4 * i + 2] = head.Palette[3 * i];
        }
    }
    return CStatus::Ok();
}

int CPngIO::ReadPrevImageData(uint32_t& width, uint32_t& height, uint8_t*& buffer)
{
    int result = CRastik::ReadPrevImageData(width, height, buffer);
    OpenForReading();
    return result;
}

// The rows of one libpng run, handed over as libpng delivers them: the
// file's interleaved samples, one byte each; an interlaced image's rows once
// per pass that has pixels in them, with that pass's columns.
class CPngIO::RowSource : public CRowSource {
public:
    RowSource(CPngIO& codec, uint32_t planes)
        : CRowSource(codec.Width, codec.Height, LayoutOf(codec, planes)), m_codec(codec)
    {
    }
    ~RowSource() override { m_codec.Rewind(); }

    CStatus Start() override { return m_codec.OpenForReading() ? CStatus::Ok() : CStatus::Failed(); }
    CStatus Run(CRowSink& sink) override
    {
        CPngFileIo input(m_codec.File);
        PngHead head;
        Handover handover(*this, sink);
        int result = RunPngRead(input, &head, &handover, m_codec.ShowMessages != 0);
        return handover.rows.Result(result == kPngRunDone);
    }

private:
    // libpng's rows, and an interlaced image's pass columns, into the sink.
    struct Handover : public PngRowSink {
        Handover(const RowSource& source, CRowSink& sink) : interlaced(source.Layout().Visits != 0), rows(source, sink) {}
        bool Start(const PngHead& head) noexcept override { return rows.Fits(head.Width, head.Height, head.Channels); }
        bool Row(const uint8_t* samples, uint32_t row, uint32_t pass) noexcept override
        {
            CRowColumns columns;
            if (interlaced) columns = {PngPasses::ColumnStart(pass), PngPasses::ColumnStep(pass)};
            return rows.Put(row, samples, columns);
        }
        bool Done() const noexcept override { return rows.Done(); }

        bool interlaced;
        CRowHandover rows;
    };

    static CRowLayout LayoutOf(const CPngIO& codec, uint32_t planes)
    {
        CRowLayout l;
        l.Interleaved = codec.m_fileChannels;
        l.Planes = planes;
        if (codec.InterlaceType) {
            l.Order = CPlaneRowStream::kAnyOrder;
            l.Visits = PngPasses::RowVisits(codec.Width, codec.Height, true);
        }
        return l;
    }

    CPngIO& m_codec;
};

std::unique_ptr<CRowSource> CPngIO::OpenRowSource(RowPurpose)
{
    if (Width == 0 || Height == 0 || ChannelCount == 0 || ChannelCount > 4 || ColorChannels > ChannelCount)
        return nullptr;
    // One plane per channel of the file, or the colour channels only when
    // the host asked for those (UseColorChannels drops the alpha plane).
    bool planes = ChannelCount == m_fileChannels ||
                  (UseColorChannels && ChannelCount >= ColorChannels && ChannelCount < m_fileChannels);
    if (!planes) return nullptr;
    return std::make_unique<RowSource>(*this, ChannelCount);
}
