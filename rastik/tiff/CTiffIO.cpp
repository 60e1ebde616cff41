// TIFF reading: which files the row source reads, the row source itself
// (the decoded rows of the strips, interleaved or a plane per sample, as
// bytes), the preview (the embedded thumbnail first) and the row depth
// conversions. The whole, reduced and preview reads are the base class's.
#include "rastik/CTiffIO.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>

#include "rastik/General.h"
#include "rastik/Messages.h"
#include "rastik/core/CRowSource.h"
#include "rastik/core/CStatus.h"
#include "rastik/support/CPoolScope.h"
#include "rastik/support/PixelRows.h"
#include "rastik/tiff/CTiffBlockStrips.h"
#include "rastik/tiff/CTiffPredictor.h"
#include "rastik/tiff/CTiffRowReader.h"
#include "rastik/tiff/CTiffTileReader.h"
#include "rastik/tiff/TiffColourConvert.h"
#include "rastik/tiff/TiffColourFields.h"
#include "rastik/tiff/TiffDecoderTable.h"
#include "rastik/tiff/TiffSampleConvert.h"
#include "rastik/tiff/TiffTags.h"

namespace {


// One byte per sample of count samples of a row of bits-bit samples: 1-
// and 4-bit values as they are, the high-order byte of 16-bit ones, other
// depths and sample formats as TiffSampleConvert.h maps them.
void ExpandSamples(const uint8_t* src, uint8_t* dst, uint64_t count, uint32_t bits, bool little, uint32_t format,
                   bool grey)
{
    if (tiff::SamplesToBytes(src, dst, count, bits, format, little, grey)) return;
    if (bits == 16)
        rastik::TakeHighBytes(src, count, little, dst);
    else if (bits < 8)
        rastik::UnpackPixels(src, count, bits, dst);
    else
        memcpy(dst, src, count);
}

}  // namespace

// The decoded rows of the strips from the first row down: interleaved rows
// from one strip reader, or a row of each plane read from one reader per
// plane. Rows of 8-bit samples are handed over where the readers hold them;
// other depths and mapped grey values go through rows of the source's own.
// A row the sink does not want is passed over unread: the readers skip
// inside a strip where the decoder table allows it and never read a strip
// none of whose rows are wanted. A whole read decodes strips on the
// conversion's worker pool.
class CTiffIO::RowSource : public CRowSource {
public:
    RowSource(CTiffIO& codec, RowPurpose purpose, const CRowLayout& layout)
        : CRowSource(codec.Width, codec.Height, layout), m_codec(codec), m_whole(purpose == kWholeImage)
    {
        if (m_whole) m_pool.emplace();
    }

    CStatus Start() override
    {
        if (m_codec.Compression == static_cast<int32_t>(tiff::kOldJpeg) && !m_codec.BuildOldJpegStream()) return CStatus::Failed();
        m_alphaAt = m_codec.AlphaToDivide();
        uint32_t readers = Layout().Interleaved ? 1 : Layout().Planes;
        // Colour planes are divided by the alpha plane, also where it is not
        // handed over.
        if (!Layout().Interleaved && m_alphaAt) readers = std::max(readers, m_alphaAt + 1);
        for (uint32_t p = 0; p < readers; ++p) {
            m_readers.push_back(m_codec.PlaneRows(p));
            if (!m_readers.back()->Open(m_whole ? Height() : 1, readers)) return CStatus::Failed();
        }
        m_lab = m_codec.IsLab();
        m_converted = m_codec.BitsPerChannel != 8 || tiff::ConvertsSamples(8, m_codec.SampleFormat) ||
                      m_codec.m_greyMapped || m_alphaAt || m_lab;
        if (m_converted) {
            size_t bytes = static_cast<size_t>(Width()) * (Layout().Interleaved ? Layout().Interleaved : readers);
            m_own.assign(bytes, 0);
            for (uint32_t p = 0; p < readers; ++p) m_rows[p] = m_own.data() + static_cast<size_t>(p) * Width();
        }
        return CStatus::Ok();
    }

    CStatus Run(CRowSink& sink) override
    {
        for (uint32_t r = 0; r < Height() && !sink.Done(); ++r) {
            CStatus s;
            if (!sink.Wants(r))
                s = sink.Pass(r);
            else if (const uint8_t* const* rows = RowsOf(r))
                s = sink.Put(r, rows);
            else
                s = CStatus::Failed();
            if (!s) return s;
        }
        return CStatus::Ok();
    }

    // The clip paths come with the whole image.
    CStatus Finish() override
    {
        if (m_whole && m_codec.ResourcePos > 0 && !m_codec.ReadPath()) return CStatus::Failed();
        return CStatus::Ok();
    }

private:
    // Row r of every reader, as bytes; null when a reader fails.
    const uint8_t* const* RowsOf(uint32_t r)
    {
        const uint32_t samples = Layout().Interleaved ? Layout().Interleaved : 1;
        for (size_t p = 0; p < m_readers.size(); ++p) {
            const uint8_t* row = m_readers[p]->Row(r);
            if (!row) return nullptr;
            if (!m_converted) {
                m_rows[p] = row;
                continue;
            }
            uint8_t* own = m_own.data() + p * Width();
            ExpandSamples(row, own, static_cast<uint64_t>(Width()) * samples, m_codec.BitsPerChannel,
                          m_codec.IntelByteOrder != 0, m_codec.SampleFormat, m_codec.ColorMode == kModeGrey);
            if (m_lab) m_codec.LabToRgbRow(row, own, samples);
            if (m_alphaAt && samples > 1) tiff::UnassociateAlpha(own, Width(), samples, m_alphaAt, m_alphaAt);
        }
        if (m_alphaAt && samples == 1) {
            uint8_t* colour[kMaxChannels];
            for (uint32_t p = 0; p < m_alphaAt; ++p) colour[p] = m_own.data() + static_cast<size_t>(p) * Width();
            tiff::UnassociatePlanes(colour, m_alphaAt, m_own.data() + static_cast<size_t>(m_alphaAt) * Width(), Width());
        }
        if (m_codec.m_greyMapped) m_codec.MapGrey(m_own.data(), Width(), samples);
        return m_rows;
    }

    CTiffIO& m_codec;
    bool m_whole;
    std::optional<CPoolScope> m_pool;  // strips decode on several threads
    std::vector<std::unique_ptr<CTiffPlaneRows>> m_readers;
    bool m_converted = false;
    bool m_lab = false;  // L*a*b* samples shown as RGB
    uint32_t m_alphaAt = 0;  // colour samples divided by the alpha after them; 0: none
    std::vector<uint8_t> m_own;
    const uint8_t* m_rows[kMaxChannels] = {};
};

CTiffIO::CTiffIO(const char* path) : m_colour(std::make_unique<tiff::TiffColourFields>())
{
    Path = path;
    IntelByteOrder = 1;
    BitsPerChannel = 1;
    PlanarRows = 0;
    Compression = tiff::kNone;
}

CTiffIO::~CTiffIO()
{
    // A CMYK block write given up half way leaves no temporary file.
    DropCmykFile();
}

int CTiffIO::HeadReadError() const
{
    return kMsgBadFileData;
}

int CTiffIO::ReadRefusal() const
{
    uint32_t bits = BitsPerChannel;
    bool converted = tiff::ConvertsSamples(bits, SampleFormat);
    if (!converted && bits != 1 && bits != 4 && bits != 8 && bits != 16) return kMsgOnly8Bit;
    // Colour samples are read as bytes of 8 or 16 bits only.
    if ((ColorMode == kModeRgb || ColorMode == kModeCmyk) && bits < 8) return kMsgOnly8Bit;
    if (Tiled ? !TilesReadable() : (StripTotal == 0 || RowsPerStrip == 0)) return kMsgUnsupported;
    if (!converted && SampleFormat != 1 && SampleFormat != 4) return kMsgUnsupported;
    if (int refusal = ColourRefusal()) return refusal;
    const TiffDecoderEntry* decoder = FindTiffDecoder(static_cast<uint32_t>(Compression), Photometric);
    if (!decoder || (decoder->takes && !decoder->takes(bits, ChannelCount))) return kMsgUnsupported;
    if (decoder->predictor && !CTiffPredictor::Takes(Predictor, bits)) return kMsgUnsupported;
    return 0;
}

std::unique_ptr<CRowSource> CTiffIO::OpenRowSource(RowPurpose purpose)
{
    // A whole read skips extra samples when only the colour channels are
    // asked for; a reduced read takes the colour channels.
    uint32_t planes = purpose == kWholeImage ? (UseColorChannels ? ColorChannels : ChannelCount) : ReducedPlaneCount();
    if (planes == 0 || planes > ChannelCount || ChannelCount > static_cast<uint32_t>(kMaxChannels)) return nullptr;
    CRowLayout layout;
    layout.Planes = planes;
    if (!IsPlanar() && ChannelCount > 1) layout.Interleaved = ChannelCount;
    return std::make_unique<RowSource>(*this, purpose, layout);
}

uint64_t CTiffIO::StripRowBytes() const
{
    uint64_t samples = IsPlanar() ? 1 : ChannelCount;
    return (static_cast<uint64_t>(Width) * BitsPerChannel * samples + 7) / 8;
}

void CTiffIO::PlanDecoding(TiffStripPlan& p, uint32_t width, uint32_t rows) const
{
    p.decoder = FindTiffDecoder(static_cast<uint32_t>(Compression), Photometric);
    p.predictor = p.decoder && p.decoder->predictor ? Predictor : tiff::kPredictorNone;
    p.reverseBits = FillOrder == 2;
    p.littleEndian = IntelByteOrder != 0;
    p.shape = {width, BitsPerChannel, IsPlanar() ? 1 : ChannelCount, rows, T4Options, Photometric, JpegTables,
               m_colour.get()};
    p.height = Height;
    p.rowsPerStrip = rows;
}

TiffStripPlan CTiffIO::PlanOf(uint32_t plane) const
{
    TiffStripPlan p;
    PlanDecoding(p, Width, RowsPerStrip);
    // An old-style JPEG image is one frame, read as a single strip.
    if (Compression == static_cast<int32_t>(tiff::kOldJpeg)) p.shape.rows = p.rowsPerStrip = Height;
    uint64_t perPlane = (Height - 1) / p.rowsPerStrip + 1;
    uint64_t first = perPlane * plane;
    if (first < StripTotal) {
        p.offsets = StripOffsets.data() + first;
        p.strips = static_cast<uint32_t>(std::min<uint64_t>(perPlane, StripTotal - first));
        p.counts = StripByteCounts.data() + first;
    }
    return p;
}

std::unique_ptr<CTiffPlaneRows> CTiffIO::PlaneRows(uint32_t plane)
{
    if (Tiled) return std::make_unique<CTiffTileReader>(File, TilePlanOf(plane));
    return std::make_unique<CTiffRowReader>(File, PlanOf(plane));
}

uint32_t CTiffIO::AlphaToDivide() const
{
    bool divide = AssociatedAlpha && ChannelCount > ColorChannels;
    return divide ? static_cast<uint32_t>(ColorChannels) : 0;
}

void CTiffIO::MakeGreyMap()
{
    m_greyMapped = ColorMode == kModeGrey && (BitsPerChannel == 4 || PhotometricSense == 0);
    for (uint32_t v = 0; v < 256; ++v) {
        uint32_t grey = BitsPerChannel == 4 ? std::min<uint32_t>(v, 15) * 17 : v;
        m_greyMap[v] = static_cast<uint8_t>(PhotometricSense == 0 ? 255 - grey : grey);
    }
}

void CTiffIO::MapGrey(uint8_t* row, uint32_t width, uint32_t step) const
{
    for (size_t x = 0; x < static_cast<size_t>(width) * step; x += step) row[x] = m_greyMap[row[x]];
}

int CTiffIO::TurnTo8BitsLineData(const uint8_t* src, uint8_t* dst)
{
    ExpandSamples(src, dst, static_cast<uint64_t>(Width) * ChannelCount, BitsPerChannel, IntelByteOrder != 0,
                  SampleFormat, ColorMode == kModeGrey);
    return 1;
}

int CTiffIO::TurnTo1BitsLineData(const uint8_t* src, uint8_t* dst)
{
    rastik::PackNonZero(src, static_cast<size_t>(Width) * ChannelCount, dst);
    return 1;
}

int CTiffIO::ReadPrevImageData(uint32_t& width, uint32_t& height, uint8_t*& buffer)
{
    // A thumbnail that cannot be decoded: reduce the image itself.
    if (int thumbnail = PreviewFromThumbnail(width, height, buffer)) {
        if (thumbnail < 0) return 0;
        FreeBuffer(&Palette);
        return 1;
    }
    return CRastik::ReadPrevImageData(width, height, buffer);
}
