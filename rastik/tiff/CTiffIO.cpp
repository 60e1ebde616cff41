// TIFF reading: which files the row producers take, whole-image reading into
// the channel planes (interleaved rows, or a plane per sample one plane after
// the other), reduced reading and the preview, and the row depth conversions.
#include "rastik/CTiffIO.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "rastik/General.h"
#include "rastik/Messages.h"
#include "rastik/core/CPlaneRowStream.h"
#include "rastik/core/CReducedRows.h"
#include "rastik/support/CPoolScope.h"
#include "rastik/support/CScopedBuffer.h"
#include "rastik/tiff/CTiffPredictor.h"
#include "rastik/tiff/CTiffRowReader.h"
#include "rastik/tiff/TiffColourConvert.h"
#include "rastik/tiff/TiffDecoderTable.h"
#include "rastik/tiff/TiffSampleConvert.h"
#include "rastik/tiff/TiffStatus.h"
#include "rastik/tiff/TiffTags.h"

namespace {

// One byte per sample of count samples of a row of bits-bit samples: 1-
// and 4-bit values as they are, the high-order byte of 16-bit ones, other
// depths and sample formats as TiffSampleConvert.h maps them.
void ExpandSamples(const uint8_t* src, uint8_t* dst, uint64_t count, uint32_t bits, bool little,
                   uint32_t format = tiff::kUnsignedInteger, bool grey = false)
{
    if (tiff::SamplesToBytes(src, dst, count, bits, format, little, grey)) return;
    switch (bits) {
    case 1:
        for (uint64_t i = 0; i < count; ++i) dst[i] = (src[i >> 3] >> (7 - (i & 7))) & 1;
        break;
    case 4:
        for (uint64_t i = 0; i < count; ++i) dst[i] = (i & 1) ? (src[i >> 1] & 0x0F) : (src[i >> 1] >> 4);
        break;
    case 16:
        src += little ? 1 : 0;
        for (uint64_t i = 0; i < count; ++i) dst[i] = src[2 * i];
        break;
    default: memcpy(dst, src, count); break;
    }
}

// Samples of plane k of a row of interleaved pixels.
void TakePlane(const uint8_t* row, uint8_t* dst, uint32_t width, uint32_t samples, uint32_t k)
{
    if (samples == 1) {
        memcpy(dst, row, width);
        return;
    }
    row += k;
    for (uint32_t x = 0; x < width; ++x, row += samples) dst[x] = *row;
}

// Source rows of a reduced read as the shared reduction takes them:
// interleaved rows as stored (16-bit samples as their high bytes), or the
// rows of the colour planes one after the other.
class TiffReducedRows : public CReducedRows {
public:
    TiffReducedRows(std::vector<std::unique_ptr<CTiffRowReader>>& readers, uint32_t width, uint64_t samples,
                    uint32_t rowBytes, uint32_t bits, bool little, uint32_t format, bool grey, uint32_t alphaAt)
        : m_readers(readers), m_width(width), m_samples(samples), m_rowBytes(rowBytes), m_bits(bits),
          m_little(little), m_format(format), m_grey(grey), m_alphaAt(alphaAt)
    {
    }
    bool Read(uint8_t* row) override
    {
        for (size_t p = 0; p < m_readers.size(); ++p) {
            const uint8_t* src = m_readers[p]->Row(m_next);
            if (!src) return false;
            uint8_t* dst = row + p * m_width;
            if (m_bits != 1 && m_bits != 4 && (m_bits != 8 || m_format != tiff::kUnsignedInteger))
                ExpandSamples(src, dst, m_samples, m_bits, m_little, m_format, m_grey);
            else
                memcpy(dst, src, m_rowBytes);
        }
        if (m_alphaAt) tiff::UnassociateAlpha(row, m_width, static_cast<uint32_t>(m_samples / m_width), m_alphaAt, m_alphaAt);
        ++m_next;
        return true;
    }
    bool Skip() override
    {
        ++m_next;
        return true;
    }

private:
    std::vector<std::unique_ptr<CTiffRowReader>>& m_readers;
    uint32_t m_width;
    uint64_t m_samples;
    uint32_t m_rowBytes;
    uint32_t m_bits;
    bool m_little;
    uint32_t m_format;
    bool m_grey;
    uint32_t m_alphaAt;  // colour samples divided by the alpha after them; 0: none
    uint32_t m_next = 0;
};

}  // namespace

CTiffIO::CTiffIO(const char* path)
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

TiffStatus CTiffIO::Refusal() const
{
    uint32_t bits = BitsPerChannel;
    bool converted = tiff::ConvertsSamples(bits, SampleFormat);
    if (!converted && bits != 1 && bits != 4 && bits != 8 && bits != 16) return TiffStatus::Fail(kMsgOnly8Bit);
    // Colour samples are read as bytes of 8 or 16 bits only.
    if ((ColorMode == kModeRgb || ColorMode == kModeCmyk) && bits < 8) return TiffStatus::Fail(kMsgOnly8Bit);
    if (Tiled || StripTotal == 0 || RowsPerStrip == 0) return TiffStatus::Fail(kMsgUnsupported);
    if (!converted && SampleFormat != 1 && SampleFormat != 4) return TiffStatus::Fail(kMsgUnsupported);
    if (Photometric == tiff::kYCbCr && Compression != tiff::kJpeg) return TiffStatus::Fail(kMsgUnsupported);
    const TiffDecoderEntry* decoder = FindTiffDecoder(static_cast<uint32_t>(Compression));
    if (!decoder || (decoder->takes && !decoder->takes(bits, ChannelCount))) return TiffStatus::Fail(kMsgUnsupported);
    if (decoder->predictor && !CTiffPredictor::Takes(Predictor, bits)) return TiffStatus::Fail(kMsgUnsupported);
    return TiffStatus::Done();
}

uint64_t CTiffIO::StripRowBytes() const
{
    uint64_t samples = IsPlanar() ? 1 : ChannelCount;
    return (static_cast<uint64_t>(Width) * BitsPerChannel * samples + 7) / 8;
}

TiffStripPlan CTiffIO::PlanOf(uint32_t plane) const
{
    TiffStripPlan p;
    p.decoder = FindTiffDecoder(static_cast<uint32_t>(Compression));
    p.predictor = p.decoder && p.decoder->predictor ? Predictor : tiff::kPredictorNone;
    p.reverseBits = FillOrder == 2;
    p.littleEndian = IntelByteOrder != 0;
    p.shape = {Width, BitsPerChannel, IsPlanar() ? 1 : ChannelCount, RowsPerStrip, T4Options, Photometric, JpegTables};
    p.height = Height;
    p.rowsPerStrip = RowsPerStrip;
    uint64_t perPlane = (Height - 1) / RowsPerStrip + 1;
    uint64_t first = perPlane * plane;
    if (first < StripTotal) {
        p.offsets = StripOffsets.data() + first;
        p.strips = static_cast<uint32_t>(std::min<uint64_t>(perPlane, StripTotal - first));
        p.counts = StripByteCounts.data() + first;
    }
    return p;
}

uint32_t CTiffIO::AlphaToDivide() const
{
    bool divide = AssociatedAlpha && !IsPlanar() && ChannelCount > ColorChannels;
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

void CTiffIO::MapGrey(uint8_t* row, uint32_t count) const
{
    for (uint32_t x = 0; x < count; ++x) row[x] = m_greyMap[row[x]];
}

void CTiffIO::ExpandSamples(const uint8_t* src, uint8_t* dst, uint32_t count) const
{
    ::ExpandSamples(src, dst, count, BitsPerChannel, IntelByteOrder != 0, SampleFormat, ColorMode == kModeGrey);
}

int CTiffIO::TurnTo8BitsLineData(const uint8_t* src, uint8_t* dst)
{
    ::ExpandSamples(src, dst, static_cast<uint64_t>(Width) * ChannelCount, BitsPerChannel, IntelByteOrder != 0);
    return 1;
}

int CTiffIO::TurnTo1BitsLineData(const uint8_t* src, uint8_t* dst)
{
    uint64_t count = static_cast<uint64_t>(Width) * ChannelCount;
    memset(dst, 0, (count + 7) / 8);
    for (uint64_t i = 0; i < count; ++i)
        if (src[i]) dst[i >> 3] |= static_cast<uint8_t>(0x80u >> (i & 7));
    return 1;
}

int CTiffIO::ReadImageData()
{
    if (TiffStatus refusal = Refusal(); refusal.Failed()) {
        ShowRastikMessage(refusal.message);
        return 0;
    }
    // Extra samples are skipped when only the colour channels are asked for.
    uint32_t planes = UseColorChannels ? ColorChannels : ChannelCount;
    if (planes == 0 || planes > ChannelCount) return 0;
    int ok = ReadAllPlanes(planes);
    if (ok && ResourcePos > 0) ok = ReadPath();
    return ok;
}

int CTiffIO::ReadAllPlanes(uint32_t planes)
{
    CPoolScope pool;  // strips decode on several threads
    if (!IsPlanar()) return ReadPlaneRows(0, planes, 0, 1);
    for (uint32_t c = 0; c < planes; ++c)
        if (!ReadPlaneRows(c, 1, c, planes)) return 0;
    return 1;
}

// Fills planes first .. first + planes - 1 from the rows of the strips of
// stripPlane; progress counts over totalPlanes passes of the image.
int CTiffIO::ReadPlaneRows(uint32_t first, uint32_t planes, uint32_t stripPlane, uint32_t totalPlanes)
{
    TiffStripPlan plan = PlanOf(stripPlane);
    CTiffRowReader reader(File, plan);
    if (!reader.Open(Height)) return 0;
    uint64_t samples = static_cast<uint64_t>(Width) * plan.shape.samples;
    CScopedBuffer expanded;
    uint32_t alphaAt = AlphaToDivide();
    if (BitsPerChannel != 8 || alphaAt) {
        expanded.Reset(AllocBuffer(static_cast<uint32_t>(samples), 0, 1));
        if (!expanded.p) return 0;
    }
    CPlaneRowStream::PlaneSet set{ChannelKind + first, ChannelData + first, ChannelOffset + first, TempFileObject};
    CPlaneRowStream rows(*this, set, CPlaneRowStream::kFill, CPlaneRowStream::kTopDown, planes);
    uint64_t total = static_cast<uint64_t>(Height) * totalPlanes;
    if (total <= 0xFFFFFFFFu) rows.SetProgress(static_cast<uint32_t>(total), Height * stripPlane);
    if (!rows.Open()) return 0;
    bool grey = m_greyMapped && first == 0;
    for (uint32_t r = 0; r < Height; ++r) {
        const uint8_t* row = reader.Row(r);
        if (!row) return 0;
        if (expanded.p) {
            ExpandSamples(row, expanded.p, static_cast<uint32_t>(samples));
            if (alphaAt) tiff::UnassociateAlpha(expanded.p, Width, plan.shape.samples, alphaAt, alphaAt);
            row = expanded.p;
        }
        for (uint32_t k = 0; k < planes; ++k) {
            uint8_t* dst = rows.Row(k);
            if (!dst) return 0;
            TakePlane(row, dst, Width, plan.shape.samples, k);
            if (k == 0 && grey) MapGrey(dst, Width);
        }
        if (!rows.Advance()) return 0;
    }
    return rows.Finish() == CPlaneRowStream::kDone ? 1 : 0;
}

int CTiffIO::ReadReducedData(uint32_t width, uint32_t height, uint8_t** planes)
{
    if (Refusal().Failed() || !planes || width == 0 || height == 0 || width > 0xFFFF || height > 0xFFFF) return 0;
    bool colour = ColorMode == kModeRgb || ColorMode == kModeCmyk;
    uint32_t colourPlanes = colour ? ColorChannels : 1;
    for (uint32_t k = 0; k < colourPlanes; ++k)
        if (!planes[k]) return 0;
    // Interleaved rows come from one reader, planes from one reader each.
    std::vector<std::unique_ptr<CTiffRowReader>> readers;
    for (uint32_t p = 0; p < (IsPlanar() ? colourPlanes : 1); ++p) {
        readers.push_back(std::make_unique<CTiffRowReader>(File, PlanOf(p)));
        if (!readers.back()->Open(1)) return 0;
    }
    uint64_t rowBytes = std::max<uint64_t>(StripRowBytes(), static_cast<uint64_t>(Width) * colourPlanes);
    if (rowBytes > 0xFFFFFFFFu) return 0;
    uint64_t samples = static_cast<uint64_t>(Width) * (IsPlanar() ? 1 : ChannelCount);
    TiffReducedRows rows(readers, Width, samples, static_cast<uint32_t>(StripRowBytes()), BitsPerChannel,
                         IntelByteOrder != 0, SampleFormat, ColorMode == kModeGrey, AlphaToDivide());
    if (!ReduceRows(width, height, planes, static_cast<uint32_t>(rowBytes), false, rows)) return 0;
    if (m_greyMapped) {
        uint32_t stride = BytesPerRow(width * 8);
        for (uint32_t i = 0; i < height; ++i) MapGrey(planes[0] + static_cast<size_t>(i) * stride, width);
    }
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
    if (Refusal().Failed() || ColorChannels == 0 || ColorChannels > 4) return 0;
    return PreviewFromReducedData(width, height, buffer);
}
