// Bitmap reading: the file and information headers with the colour table,
// whole-image reading into the channel planes (staged in chunks when planes
// live in the temporary file), reduced reading and the preview.
#include "rastik/CBmpIO.h"

#include <algorithm>
#include <cstring>

#include "rastik/Exports.h"
#include "rastik/General.h"
#include "rastik/Messages.h"
#include "rastik/core/CPlaneRowStream.h"
#include "rastik/core/CRowSource.h"
#include "rastik/core/CStatus.h"
#include "rastik/formats/BmpHeaderLayout.h"
#include "rastik/support/Inches.h"
#include "rastik/support/PixelRows.h"

namespace {

// Image description a bit count gives. A 32-bit pixel is blue, green, red
// and a fourth byte, which is held as an extra channel after the colours.
struct BitCountMode {
    uint16_t bits;
    uint32_t mode;
    uint32_t paletteSize;
    uint32_t bitsPerChannel;
    uint32_t channels;
    uint32_t colorChannels;
};

constexpr BitCountMode kModes[] = {
    {1, kModeBitmap, 2, 1, 1, 1},  {4, kModeIndexed, 16, 4, 1, 1}, {8, kModeIndexed, 256, 8, 1, 1},
    {24, kModeRgb, 0, 8, 3, 3},    {32, kModeRgb, 0, 8, 4, 3},
};

const BitCountMode* ModeOfBitCount(uint16_t bits)
{
    for (const BitCountMode& m : kModes)
        if (m.bits == bits) return &m;
    return nullptr;
}

// Stored rows are padded to whole 4-byte words.
uint64_t RowBytes(uint32_t bits, uint32_t width)
{
    return (static_cast<uint64_t>(bits) * width + 31) / 32 * 4;
}

// Pixels per metre into dots per inch; 0 (and nonsense below it) means 72.
float ResolutionOf(int32_t pelsPerMeter)
{
    if (pelsPerMeter <= 0) return 72.0f;
    return static_cast<float>(pelsPerMeter * rastik::kCentimetresPerInch / 100);
}

// The data reads' gate: the compressions and bit counts whose rows are read.
int RefusalOf(const CBmpIO::InfoHeader& h)
{
    if (h.Compression != 0) return kMsgCompressedBmp;
    return ModeOfBitCount(h.BitCount) ? 0 : kMsgUnsupported;
}

}  // namespace

CBmpIO::CBmpIO(const char* path) : m_refusal(kMsgUnsupported)
{
    Path = path;
    // Rows a host hands to AddToReduceData hold blue, green, red.
    BgrSamples = true;
}

CBmpIO::~CBmpIO()
{
    FreeBuffer(&m_work);
}

uint32_t CBmpIO::FileRowBytes() const
{
    uint64_t n = RowBytes(BmpInfoHeader.BitCount, Width);
    return n > 0xFFFFFFFFull ? 0 : static_cast<uint32_t>(n);
}

CStatus CBmpIO::ReadHead()
{
    int message = ReadHeadFields();
    return message == 0 ? CStatus::Ok() : CStatus::Failed(message);
}

int CBmpIO::HeadReadError() const
{
    return kMsgBadHeader;
}

int CBmpIO::ReadRefusal() const
{
    return m_refusal;
}

int CBmpIO::ReadHeadFields()
{
    uint8_t fh[kFileHeaderBytes];
    uint8_t ih[kInfoHeaderBytes];
    // Until the headers are known to be a bitmap's, the data reads are
    // refused as the header is.
    m_refusal = kMsgBadHeader;
    File.Seek(0, CFile::begin);
    if (File.Read(fh, sizeof fh) != sizeof fh || File.Read(ih, sizeof ih) != sizeof ih) return kMsgBadHeader;

    FileHeader& f = BmpFileHeader;
    InfoHeader& h = BmpInfoHeader;
    UnpackBmpHeaders(fh, ih, f, h);
    if (f.Type != kBmpType) return kMsgBadHeader;
    // The 12-byte header of the oldest bitmaps has 16-bit sizes and is not read.
    if (h.Size < kInfoHeaderBytes) return kMsgBadHeader;
    m_refusal = RefusalOf(h);
    if (m_refusal == kMsgCompressedBmp) return m_refusal;

    // Sizes: planes of BytesPerRow(width x 8) x height bytes must stay within 32 bits.
    if (h.Width <= 0 || h.Height == 0) return kMsgBadHeader;
    uint64_t width = static_cast<uint64_t>(h.Width);
    uint64_t height = h.Height < 0 ? static_cast<uint64_t>(-static_cast<int64_t>(h.Height))
                                   : static_cast<uint64_t>(h.Height);
    if (width > 0x1FFFFFFFull || height > 0xFFFFFFFFull) return kMsgBadHeader;
    const BitCountMode* m = ModeOfBitCount(h.BitCount);
    if (!m) return kMsgBadHeader;
    uint64_t stride = BytesPerRow(static_cast<uint32_t>(width * 8));
    if (stride * height > 0xFFFFFFFFull || stride * m->channels > 0xFFFFFFFFull) return kMsgBadHeader;

    // The pixel rows must lie within the file: a shorter file is refused
    // here, before a host allocates planes for rows that are not there.
    uint64_t length = File.GetLength();
    if (f.OffBits >= length || f.OffBits + RowBytes(h.BitCount, static_cast<uint32_t>(width)) * height > length)
        return kMsgBadHeader;

    Width = static_cast<uint32_t>(width);
    Height = static_cast<uint32_t>(height);
    XResolution = ResolutionOf(h.XPelsPerMeter);
    YResolution = ResolutionOf(h.YPelsPerMeter);
    ResolutionUnit = 1;
    FileBitCount = h.BitCount;
    ColorMode = m->mode;
    PaletteSize = m->paletteSize;
    BitsPerChannel = m->bitsPerChannel;
    ChannelCount = m->channels;
    ColorChannels = m->colorChannels;
    FreeBuffer(&Palette);
    if (PaletteSize == 0) return 0;

    // The colour table follows the information header, 4 bytes per entry
    // (blue, green, red, 0); colours-used 0 means a full table. Entries the
    // file does not give stay black.
    Palette = static_cast<uint8_t*>(AllocBuffer(PaletteSize * 4, 0, 0));
    if (!Palette) return kMsgBadHeader;
    uint32_t entries = (h.ClrUsed == 0 || h.ClrUsed > PaletteSize) ? PaletteSize : h.ClrUsed;
    uint64_t at = static_cast<uint64_t>(kFileHeaderBytes) + h.Size;
    if (at + entries * 4ull > length) return kMsgBadHeader;
    File.Seek(static_cast<int64_t>(at), CFile::begin);
    if (File.Read(Palette, entries * 4) != entries * 4) return kMsgBadHeader;
    return 0;
}

int CBmpIO::ReadOneLineData(uint8_t* line)
{
    uint32_t rowBytes = FileRowBytes();
    uint16_t bits = BmpInfoHeader.BitCount;
    if (rowBytes == 0) return 0;
    if (bits >= 8) return File.Read(line, rowBytes) == rowBytes ? 1 : 0;
    if (!m_work || m_workSize < rowBytes) {
        FreeBuffer(&m_work);
        m_work = static_cast<uint8_t*>(AllocBuffer(rowBytes, 0, 1));
        m_workSize = m_work ? rowBytes : 0;
        if (!m_work) return 0;
    }
    if (File.Read(m_work, rowBytes) != rowBytes) return 0;
    rastik::UnpackPixels(m_work, Width, bits, line);
    return 1;
}

// The stored rows in file order: 1- and 4-bit rows unpacked into the index
// plane, other rows handed over as stored (blue, green, red and a fourth
// byte per pixel; a row is padded to whole words). Rows are passed over by
// seeking past them.
class CBmpIO::RowSource : public CRowSource {
public:
    RowSource(CBmpIO& codec, uint32_t rowBytes, bool extra)
        : CRowSource(codec.Width, codec.Height, LayoutOf(codec, rowBytes, extra)), m_codec(codec),
          m_rowBytes(rowBytes), m_extra(extra)
    {
    }

    CStatus Start() override
    {
        m_codec.File.Seek(m_codec.BmpFileHeader.OffBits, CFile::begin);
        return CStatus::Ok();
    }
    CStatus Read(uint8_t* const* rows) override
    {
        if (!m_codec.ReadOneLineData(rows[0])) return CStatus::Failed();
        if (m_extra)
            for (uint32_t x = 0; x < m_codec.Width; ++x) m_fourthBytes |= rows[0][4 * static_cast<size_t>(x) + 3];
        return CStatus::Ok();
    }
    CStatus Skip() override
    {
        m_codec.File.Seek(m_rowBytes, CFile::current);
        return CStatus::Ok();
    }
    CStatus Finish() override
    {
        FreeBuffer(&m_codec.m_work);
        m_codec.m_workSize = 0;
        return m_extra && m_fourthBytes == 0 ? m_codec.MakeExtraPlaneOpaque() : CStatus::Ok();
    }

private:
    static CRowLayout LayoutOf(const CBmpIO& codec, uint32_t rowBytes, bool extra)
    {
        CRowLayout l;
        l.Order = codec.BmpInfoHeader.Height < 0 ? CPlaneRowStream::kTopDown : CPlaneRowStream::kBottomUp;
        uint32_t bits = codec.BmpInfoHeader.BitCount;
        if (bits < 8) return l;
        l.Interleaved = bits / 8;
        l.Planes = bits == 8 ? 1 : extra ? 4 : 3;
        l.Bgr = bits > 8;
        l.RowBytes = rowBytes;
        return l;
    }

    CBmpIO& m_codec;
    uint32_t m_rowBytes;
    bool m_extra;
    uint8_t m_fourthBytes = 0;
};

std::unique_ptr<CRowSource> CBmpIO::OpenRowSource(RowPurpose purpose)
{
    const BitCountMode* m = ModeOfBitCount(BmpInfoHeader.BitCount);
    uint32_t rowBytes = FileRowBytes();
    if (!m || rowBytes == 0 || Width == 0 || Height == 0) return nullptr;
    // The reduced read takes the colour channels from the stored row as the
    // header describes it, stepping over a 32-bit pixel's fourth byte.
    if (purpose == kReducedImage && (ChannelCount != m->channels || BitsPerChannel != m->bitsPerChannel))
        return nullptr;
    // A 32-bit row fills the extra plane too, unless the host holds only
    // the colour channels.
    bool extra = purpose == kWholeImage && m->bits == 32 && ChannelCount >= 4 && !UseColorChannels;
    return std::make_unique<RowSource>(*this, rowBytes, extra);
}

// Most 32-bit files leave the fourth byte unused, as 0: read as alpha, such a
// file would be wholly transparent, so an extra plane of nothing but zeros
// becomes fully opaque instead.
CStatus CBmpIO::MakeExtraPlaneOpaque()
{
    CPlaneRowStream::PlaneSet set{ChannelKind + 3, ChannelData + 3, ChannelOffset + 3, TempFileObject};
    CPlaneRowStream rows(*this, set, CPlaneRowStream::kFill, CPlaneRowStream::kTopDown, 1);
    rows.LeaveMessagesToStatus();
    if (!rows.Open()) return rows.Status() ? CStatus::Failed() : rows.Status();
    for (uint32_t n = 0; n < Height; ++n) {
        uint8_t* row = rows.Row(0);
        if (!row) return rows.Status();
        memset(row, 0xFF, Width);
        if (!rows.Advance()) return rows.Status();
    }
    rows.Finish();
    return rows.Status();
}
