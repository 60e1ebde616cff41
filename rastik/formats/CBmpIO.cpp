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
#include "rastik/core/CReducedRows.h"
#include "rastik/formats/BmpHeaderLayout.h"
#include "rastik/support/CScopedBuffer.h"

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
    return static_cast<float>(pelsPerMeter * 2.54 / 100);
}

void UnpackOneBit(const uint8_t* src, uint8_t* out, uint32_t width)
{
    uint32_t x = 0;
    for (; x + 8 <= width; x += 8) {
        uint8_t b = src[x >> 3];
        out[x] = b >> 7;
        out[x + 1] = (b >> 6) & 1;
        out[x + 2] = (b >> 5) & 1;
        out[x + 3] = (b >> 4) & 1;
        out[x + 4] = (b >> 3) & 1;
        out[x + 5] = (b >> 2) & 1;
        out[x + 6] = (b >> 1) & 1;
        out[x + 7] = b & 1;
    }
    for (; x < width; ++x) out[x] = (src[x >> 3] >> (7 - (x & 7))) & 1;
}

void UnpackFourBit(const uint8_t* src, uint8_t* out, uint32_t width)
{
    uint32_t x = 0;
    for (; x + 2 <= width; x += 2) {
        uint8_t b = src[x >> 1];
        out[x] = b >> 4;
        out[x + 1] = b & 0x0F;
    }
    if (x < width) out[x] = src[x >> 1] >> 4;
}

// Interleaved blue-green-red(-x) pixels of a file row into the R, G, B
// planes, and the fourth bytes into the extra plane when there is one; the
// OR of the fourth bytes.
uint8_t SplitPixels(const uint8_t* line, uint32_t width, uint32_t step, uint8_t* const* planes)
{
    uint8_t* r = planes[0];
    uint8_t* g = planes[1];
    uint8_t* b = planes[2];
    uint8_t* extra = step == 4 ? planes[3] : nullptr;
    uint8_t any = 0;
    for (uint32_t x = 0; x < width; ++x, line += step) {
        b[x] = line[0];
        g[x] = line[1];
        r[x] = line[2];
        if (extra) any |= extra[x] = line[3];
    }
    return any;
}

// Stored rows of a bitmap in file order, for the reduced read.
class BmpFileRows : public CReducedRows {
public:
    BmpFileRows(CFile& file, uint32_t rowBytes) : m_file(file), m_rowBytes(rowBytes) {}
    bool Read(uint8_t* row) override { return m_file.Read(row, m_rowBytes) == m_rowBytes; }
    bool Skip() override
    {
        m_file.Seek(m_rowBytes, CFile::current);
        return true;
    }

private:
    CFile& m_file;
    uint32_t m_rowBytes;
};

}  // namespace

CBmpIO::CBmpIO(const char* path)
{
    Path = path;
    // Stored pixels are blue, green, red.
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

int CBmpIO::ReadImageHead()
{
    int message;
    try {
        message = ReadHeadFields();
    } catch (const CFileException&) {
        message = kMsgBadHeader;
    }
    if (message == 0) return 1;
    Warn(message);
    return 0;
}

int CBmpIO::ReadHeadFields()
{
    uint8_t fh[kFileHeaderBytes];
    uint8_t ih[kInfoHeaderBytes];
    File.Seek(0, CFile::begin);
    if (File.Read(fh, sizeof fh) != sizeof fh || File.Read(ih, sizeof ih) != sizeof ih) return kMsgBadHeader;

    FileHeader& f = BmpFileHeader;
    InfoHeader& h = BmpInfoHeader;
    UnpackBmpHeaders(fh, ih, f, h);

    if (f.Type != kBmpType) return kMsgBadHeader;
    // The 12-byte header of the oldest bitmaps has 16-bit sizes and is not read.
    if (h.Size < kInfoHeaderBytes) return kMsgBadHeader;
    if (h.Compression != 0) return kMsgCompressedBmp;

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
    if (bits == 4)
        UnpackFourBit(m_work, line, Width);
    else
        UnpackOneBit(m_work, line, Width);
    return 1;
}

int CBmpIO::ReadImageData()
{
    if (BmpInfoHeader.Compression != 0) {
        ShowRastikMessage(kMsgCompressedBmp);
        return 0;
    }
    uint16_t bits = BmpInfoHeader.BitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) {
        ShowRastikMessage(kMsgUnsupported);
        return 0;
    }
    // 24- and 32-bit rows fill R, G, B; 32-bit rows also the extra plane,
    // unless the host holds only the colour channels.
    uint32_t planes = bits >= 24 ? 3 : 1;
    if (bits == 32 && ChannelCount >= 4 && !UseColorChannels) planes = 4;
    uint32_t rowBytes = FileRowBytes();
    if (rowBytes == 0 || planes > ChannelCount) return 0;
    uint64_t lineBytes = std::max<uint64_t>({static_cast<uint64_t>(BytesPerLine) * ChannelCount, rowBytes, Width});
    if (lineBytes > 0xFFFFFFFFull) return 0;
    CScopedBuffer line(AllocBuffer(static_cast<uint32_t>(lineBytes), 0, 0));
    if (!line.p) return 0;
    bool topDown = BmpInfoHeader.Height < 0;
    CPlaneRowStream rows(*this, CPlaneRowStream::kFill, topDown ? CPlaneRowStream::kTopDown : CPlaneRowStream::kBottomUp,
                         planes);
    if (!rows.Open()) return 0;
    uint8_t fourthBytes = 0;
    try {
        File.Seek(BmpFileHeader.OffBits, CFile::begin);
        for (uint32_t n = 0; n < Height; ++n) {
            if (!ReadOneLineData(line.p)) return 0;
            uint8_t* dst[4] = {};
            for (uint32_t k = 0; k < planes; ++k)
                if (!(dst[k] = rows.Row(k))) return 0;
            if (planes == 1)
                memcpy(dst[0], line.p, Width);
            else
                fourthBytes |= SplitPixels(line.p, Width, bits / 8, dst);
            if (!rows.Advance()) return 0;
        }
    } catch (const CFileException&) {
        return 0;
    }
    FreeBuffer(&m_work);
    m_workSize = 0;
    if (rows.Finish() != CPlaneRowStream::kDone) return 0;
    return planes == 4 && fourthBytes == 0 ? MakeExtraPlaneOpaque() : 1;
}

// Most 32-bit files leave the fourth byte unused, as 0: read as alpha, such a
// file would be wholly transparent, so an extra plane of nothing but zeros
// becomes fully opaque instead.
int CBmpIO::MakeExtraPlaneOpaque()
{
    CPlaneRowStream::PlaneSet set{ChannelKind + 3, ChannelData + 3, ChannelOffset + 3, TempFileObject};
    CPlaneRowStream rows(*this, set, CPlaneRowStream::kFill, CPlaneRowStream::kTopDown, 1);
    if (!rows.Open()) return 0;
    for (uint32_t n = 0; n < Height; ++n) {
        uint8_t* row = rows.Row(0);
        if (!row) return 0;
        memset(row, 0xFF, Width);
        if (!rows.Advance()) return 0;
    }
    return rows.Finish() == CPlaneRowStream::kDone ? 1 : 0;
}

int CBmpIO::ReadReducedData(uint32_t width, uint32_t height, uint8_t** planes)
{
    if (BmpInfoHeader.Compression != 0) {
        Warn(kMsgCompressedBmp);
        return 0;
    }
    uint16_t bits = BmpInfoHeader.BitCount;
    const BitCountMode* m = ModeOfBitCount(bits);
    if (!m) {
        Warn(kMsgUnsupported);
        return 0;
    }
    // The sampler takes the colour channels from the stored row as the header
    // describes it, stepping over a 32-bit pixel's fourth byte.
    if (!planes || width == 0 || height == 0 || width > 0xFFFF || height > 0xFFFF) return 0;
    if (Width == 0 || Height == 0 || ChannelCount != m->channels || BitsPerChannel != m->bitsPerChannel) return 0;
    for (uint32_t k = 0; k < m->colorChannels; ++k)
        if (!planes[k]) return 0;
    uint32_t rowBytes = FileRowBytes();
    if (rowBytes == 0) return 0;
    try {
        File.Seek(BmpFileHeader.OffBits, CFile::begin);
    } catch (const CFileException&) {
        return 0;
    }
    BmpFileRows rows(File, rowBytes);
    return ReduceRows(width, height, planes, rowBytes, BmpInfoHeader.Height > 0, rows);
}

int CBmpIO::ReadPrevImageData(uint32_t& width, uint32_t& height, uint8_t*& buffer)
{
    buffer = nullptr;
    uint16_t bits = BmpInfoHeader.BitCount;
    if (BmpInfoHeader.Compression != 0 || !ModeOfBitCount(bits)) return 0;
    if (ColorChannels == 0 || ColorChannels > 3) return 0;
    return PreviewFromReducedData(width, height, buffer);
}
