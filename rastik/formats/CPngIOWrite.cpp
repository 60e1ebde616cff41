// PNG writing: 8 bits per sample, not interlaced; grey, grey with alpha,
// RGB, RGB with alpha and palette images (256 entries), with the resolution
// as pixels per metre. The chunks are written here, the image data
// compressed on the conversion's worker pool.
#include <cmath>

#include "rastik/CPngIO.h"
#include "rastik/General.h"
#include "rastik/Messages.h"
#include "rastik/core/COperation.h"
#include "rastik/core/CPlaneRowStream.h"
#include "rastik/core/CSizeRule.h"
#include "rastik/formats/CPngChunkWriter.h"
#include "rastik/formats/CPngIORun.h"
#include "rastik/formats/CPngImageData.h"
#include "rastik/support/CPoolScope.h"
#include "rastik/support/Inches.h"
#include "rastik/support/PixelRows.h"

namespace {


// Pixels per metre of a resolution in its unit, rounded; 0 when there is none.
uint32_t PixelsPerMetre(float resolution, uint32_t unit)
{
    double v = std::round(static_cast<double>(resolution) * CSizeRule::UnitFactor(unit) / rastik::kMetresPerInch);
    if (!(v >= 1.0)) return 0;
    return v > 2147483647.0 ? 2147483647u : static_cast<uint32_t>(v);
}

// Interleaves the planes' rows, top row first, through the plane-row stream.
class PlaneSource {
public:
    explicit PlaneSource(CRastik& image)
        : m_image(image), m_rows(image, CPlaneRowStream::kDrain, CPlaneRowStream::kTopDown, image.ChannelCount)
    {
        m_rows.LeaveMessagesToStatus();
    }
    bool Prepare() { return m_rows.Open(); }
    // A stop or failure of the rows; a failure without a message otherwise.
    CStatus Status() const { return m_rows.Status() ? CStatus::Failed() : m_rows.Status(); }
    // Fills samples with the next row (width x channels, interleaved);
    // false on a stop or failure.
    bool Row(uint8_t* samples)
    {
        const uint32_t channels = m_image.ChannelCount;
        const uint8_t* in[4] = {};
        for (uint32_t c = 0; c < channels; ++c)
            if (!(in[c] = m_rows.Row(c))) return false;
        rastik::JoinSamples(in, m_image.Width, channels, samples);
        return m_rows.Advance();
    }
    bool Finish() { return m_rows.Finish() == CPlaneRowStream::kDone; }

private:
    CRastik& m_image;
    CPlaneRowStream m_rows;
};

}  // namespace

int CPngIO::WriteHeader()
{
    return 1;
}

int CPngIO::WriteFile()
{
    COperation op(*this, COperation::kWrite);
    return op.Run([&] { return WriteRows(); });
}

CStatus CPngIO::WriteRows()
{
    if (!File.IsOpen()) {
        CFileException error;
        if (!Path || !File.Open(Path, CFile::modeCreate | CFile::modeWrite | CFile::typeBinary, &error))
            return CStatus::Failed();
    }
    const PngColorType* type = PngColorType::For(ColorMode, ChannelCount);
    if (!type) return CStatus::Failed(kMsgImageType);
    if (Width == 0 || Height == 0 || Width > 0x7FFFFFFF || Height > 0x7FFFFFFF) return CStatus::Failed();
    // A row, its filter type byte included, is counted in 32 bits.
    if (static_cast<uint64_t>(Width) * ChannelCount >= UINT32_MAX) return CStatus::Failed(kMsgNoBuffer);

    PngWriteHead head;
    head.Width = Width;
    head.Height = Height;
    head.ColorType = type->ColorType;
    head.Channels = ChannelCount;
    // The palette as 256 entries red, green, blue; entries past the image's
    // are black, and an image without one is grey.
    uint8_t palette[3 * 256] = {};
    for (uint32_t i = 0; i < 256; ++i) {
        uint8_t* p = palette + 3 * i;
        if (!Palette) {
            p[0] = p[1] = p[2] = static_cast<uint8_t>(i);
        } else if (i < PaletteSize) {
            p[0] = Palette[4 * i + 2];
            p[1] = Palette[4 * i + 1];
            p[2] = Palette[4 * i];
        }
    }
    head.Palette = palette;
    head.XPixelsPerMetre = PixelsPerMetre(XResolution, ResolutionUnit);
    head.YPixelsPerMetre = PixelsPerMetre(YResolution, ResolutionUnit);
    head.HasPixelSize = head.XPixelsPerMetre > 0 && head.YPixelsPerMetre > 0;

    PlaneSource source(*this);
    if (!source.Prepare()) return source.Status();
    CPoolScope pool;
    CPngChunkWriter output(File);
    CPngImageData data(output, head, pool.Pool());
    if (!data.Open()) return CStatus::Failed(kMsgNoBuffer);
    output.WriteHead(head);
    for (uint32_t y = 0; y < Height; ++y) {
        if (!source.Row(data.Row())) {
            source.Finish();
            return source.Status();
        }
        if (!data.Commit()) return CStatus::Failed();
    }
    if (!data.Finish()) return CStatus::Failed();
    output.WriteEnd();
    if (!source.Finish()) return source.Status();
    File.Flush();
    return CStatus::Ok();
}
