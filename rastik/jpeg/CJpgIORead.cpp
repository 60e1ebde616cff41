// JPEG codec, reading: the header, and the row source of libjpeg's
// scanlines that the base class reads the whole image, the reduced image and
// the preview from (the embedded thumbnail first). Every read is its own
// libjpeg run over the codec's open file (or the range of another file it
// was given).
#include "rastik/CJpgIO.h"
#include "rastik/Exports.h"
#include "rastik/General.h"
#include "rastik/Messages.h"
#include "rastik/core/CRowHandover.h"
#include "rastik/core/CRowSource.h"
#include "rastik/core/CStatus.h"
#include "rastik/jpeg/CJpgIORun.h"
#include "rastik/support/Inches.h"

namespace {

// Dots per inch when the file gives no density.
constexpr float kDefaultDensity = 72.0f;
constexpr float kCentimetresPerInch = static_cast<float>(rastik::kCentimetresPerInch);

}  // namespace

// The scanlines of one libjpeg run, handed over as libjpeg delivers them:
// interleaved samples of every component; CMYK samples inverted as Adobe
// applications store them (the whole read inverts them only when asked).
class CJpgIO::RowSource : public CRowSource {
public:
    RowSource(CJpgIO& codec, bool inverted) : CRowSource(codec.Width, codec.Height, LayoutOf(codec, inverted)), m_codec(codec) {}

    CStatus Run(CRowSink& sink) override
    {
        Handover handover(*this, sink);
        JpegHead head;
        return handover.rows.Result(m_codec.Run(&head, &handover) == kJpegRunDone);
    }

private:
    // libjpeg's scanlines into the sink; rows repeated after the data ran
    // out go only where the sink takes them.
    struct Handover : public JpegRowSink {
        Handover(const RowSource& source, CRowSink& sink) : rows(source, sink) {}
        bool Start(const JpegHead& output) noexcept override
        {
            return rows.Fits(output.Width, output.Height, output.Components);
        }
        bool Row(const uint8_t* samples, uint32_t row) noexcept override { return rows.Put(row, samples); }
        bool Repeat(const uint8_t* samples, uint32_t row, uint32_t count) noexcept override
        {
            return rows.Repeat(samples, row, count);
        }

        CRowHandover rows;
    };

    static CRowLayout LayoutOf(const CJpgIO& codec, bool inverted)
    {
        CRowLayout l;
        l.Interleaved = l.Planes = codec.ChannelCount;
        l.Inverted = inverted && codec.ColorMode == kModeCmyk;
        return l;
    }

    CJpgIO& m_codec;
};

std::unique_ptr<CRowSource> CJpgIO::OpenRowSource(RowPurpose purpose)
{
    if (Width == 0 || Height == 0 || ChannelCount == 0 || ChannelCount > 4) return nullptr;
    return std::make_unique<RowSource>(*this, purpose == kReducedImage || InvertCmyk != 0);
}

CStatus CJpgIO::ReadHead()
{
    JpegHead head;
    if (Run(&head, nullptr) != kJpegRunDone) return CStatus::Failed();

    uint32_t mode = 0;
    switch (head.Components) {
    case 1: mode = kModeGrey; break;
    case 3: mode = kModeRgb; break;
    case 4: mode = kModeCmyk; break;
    default: return CStatus::Failed();
    }
    // A file too short for the data its frame declares is refused before a
    // host allocates planes for it.
    uint64_t length = m_source ? m_sourceLength : File.GetLength();
    if (head.LeastDataBytes > length) return CStatus::Failed(kMsgBadHeader);
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
    return CStatus::Ok();
}

int CJpgIO::ReadImageData()
{
    InvertCmyk = 1;
    return GetImageData(ChannelKind, TempFileObject, ChannelData, ChannelOffset);
}

int CJpgIO::GetImageData(int32_t* kinds, CFile* tempFile, uint8_t** planes, int64_t* offsets)
{
    return ReadPlanesFromSource(kinds, tempFile, planes, offsets);
}

int CJpgIO::ReadPrevImageData(uint32_t& width, uint32_t& height, uint8_t*& buffer)
{
    // An embedded preview that cannot be decoded: reduce the image itself.
    if (int thumbnail = PreviewFromThumbnail(width, height, buffer)) return thumbnail > 0 ? 1 : 0;
    return CRastik::ReadPrevImageData(width, height, buffer);
}
