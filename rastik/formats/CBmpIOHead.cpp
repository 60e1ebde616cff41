// Bitmap header reading: the file header, the information header of every
// version with the channel masks, the image description and the colour table.
#include <algorithm>
#include <cstring>

#include "rastik/CBmpIO.h"
#include "rastik/Exports.h"
#include "rastik/General.h"
#include "rastik/Messages.h"
#include "rastik/formats/BmpHeaderLayout.h"
#include "rastik/formats/CBmpChannelMask.h"
#include "rastik/support/ByteOrder.h"
#include "rastik/support/Inches.h"

namespace {

// Shortest data the pixels can be stored in. Uncompressed rows are exact:
// the stride of every row (whole 4-byte words) times the rows. Run-length
// codes have no such bound: a run gives 255 pixels for two bytes, a delta
// moves up to 255 rows and columns in four, and an end of bitmap (two bytes)
// leaves every pixel after it index 0, so the one code any image needs is
// that end. Stored rows of runs have a byte of codes for every 128 pixels
// at least; an image may have kRunLengthFreePixels more than 1024 pixels a
// byte of its codes (the rest of the image after an early end, as many
// pixels as a JPEG or TIFF file may leave past its data).
constexpr uint64_t kRunLengthShortest = 2;
constexpr uint64_t kRunLengthFreePixels = 64ull << 20;
constexpr uint64_t kMostPixelsPerCode = 1024;

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

// Bit-field pixels hold red, green and blue, and alpha when a mask gives it.
BitCountMode BitFieldMode(uint16_t bits, bool alpha)
{
    return {bits, kModeRgb, 0, 8, alpha ? 4u : 3u, 3};
}

bool IsBitFields(const CBmpIO::InfoHeader& h)
{
    if (h.Compression == kBmpBitFields || h.Compression == kBmpAlphaBitFields) return true;
    return h.Compression == kBmpUncompressed && h.BitCount == 16;
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
// Run-length rows are stored bottom-up only.
int RefusalOf(const CBmpIO::InfoHeader& h)
{
    bool os2 = IsOs2InfoHeader(h.Size);
    switch (h.Compression) {
    case kBmpUncompressed: return ModeOfBitCount(h.BitCount) || h.BitCount == 16 ? 0 : kMsgUnsupported;
    case kBmpRunLength8:
    case kBmpRunLength4:
        if (h.BitCount != (h.Compression == kBmpRunLength8 ? 8 : 4)) return kMsgCompressedBmp;
        return h.Height < 0 ? kMsgBadHeader : 0;
    case kBmpBitFields:
    case kBmpAlphaBitFields:
        if (os2) return kMsgCompressedBmp;
        return h.BitCount == 16 || h.BitCount == 32 ? 0 : kMsgCompressedBmp;
    case kBmpJpeg:
    case kBmpPng: return os2 ? kMsgCompressedBmp : 0;
    default: return kMsgCompressedBmp;
    }
}

}  // namespace

bool CBmpIO::ReadInfoHeader()
{
    // The header's own size comes first; at most the fields up to the alpha
    // mask are read.
    uint8_t ih[kBmpAlphaMaskEnd] = {};
    if (File.Read(ih, 4) != 4) return false;
    uint32_t size = rastik::GetLE32(ih);
    std::fill(std::begin(m_masks), std::end(m_masks), 0u);
    m_paletteAt = static_cast<uint64_t>(kFileHeaderBytes) + size;
    if (size == kOs2InfoHeaderBytes) {
        if (File.Read(ih + 4, size - 4) != size - 4) return false;
        UnpackOs2InfoHeader(ih, BmpInfoHeader);
        return true;
    }
    if (size < kShortestOs2TwoInfoHeader || (size < kInfoHeaderBytes && !IsOs2InfoHeader(size))) return false;
    // A 40-byte read as ever, so that a file cut inside it is refused alike.
    uint32_t want = std::max(kInfoHeaderBytes, std::min(size, kBmpAlphaMaskEnd));
    if (File.Read(ih + 4, want - 4) != want - 4) return false;
    if (size < kInfoHeaderBytes) memset(ih + size, 0, kInfoHeaderBytes - size);
    UnpackBmpInfoHeader(ih, BmpInfoHeader);
    return ReadMasks(ih, std::min(size, kBmpAlphaMaskEnd));
}

// The masks of bit-field pixels: in the header from 52 bytes on (the alpha
// mask from 56), else the 3 masks (4 for compression 6) that follow it. 16-bit
// pixels without masks are 5-5-5.
bool CBmpIO::ReadMasks(const uint8_t* info, uint32_t infoBytes)
{
    const InfoHeader& h = BmpInfoHeader;
    if (h.Compression == kBmpUncompressed && h.BitCount == 16) {
        m_masks[0] = 0x7C00;
        m_masks[1] = 0x03E0;
        m_masks[2] = 0x001F;
    }
    if (!IsBitFields(h) || h.Compression == kBmpUncompressed || IsOs2InfoHeader(h.Size)) return true;
    uint32_t count = h.Compression == kBmpAlphaBitFields ? 4 : 3;
    if (infoBytes >= kBmpRgbMasksEnd) {
        count = infoBytes >= kBmpAlphaMaskEnd ? 4 : 3;
        for (uint32_t c = 0; c < count; ++c) m_masks[c] = rastik::GetLE32(info + kBmpMasksAt + 4 * c);
        return true;
    }
    uint8_t masks[16];
    File.Seek(static_cast<int64_t>(m_paletteAt), CFile::begin);
    if (File.Read(masks, 4 * count) != 4 * count) return false;
    for (uint32_t c = 0; c < count; ++c) m_masks[c] = rastik::GetLE32(masks + 4 * c);
    m_paletteAt += 4 * count;
    return true;
}

int CBmpIO::ReadHeadFields()
{
    uint8_t fh[kFileHeaderBytes];
    // Until the headers are known to be a bitmap's, the data reads are
    // refused as the header is.
    m_refusal = kMsgBadHeader;
    m_embedded.reset();
    File.Seek(0, CFile::begin);
    if (File.Read(fh, sizeof fh) != sizeof fh) return kMsgBadHeader;
    UnpackBmpFileHeader(fh, BmpFileHeader);
    if (!ReadInfoHeader()) return kMsgBadHeader;
    if (BmpFileHeader.Type != kBmpType) return kMsgBadHeader;
    m_refusal = RefusalOf(BmpInfoHeader);
    if (m_refusal != 0 && m_refusal != kMsgUnsupported) return m_refusal;
    return Describe();
}

int CBmpIO::Describe()
{
    const FileHeader& f = BmpFileHeader;
    const InfoHeader& h = BmpInfoHeader;
    // Sizes: planes of BytesPerRow(width x 8) x height bytes must stay within 32 bits.
    if (h.Width <= 0 || h.Height == 0) return kMsgBadHeader;
    uint64_t width = static_cast<uint64_t>(h.Width);
    uint64_t height = h.Height < 0 ? static_cast<uint64_t>(-static_cast<int64_t>(h.Height))
                                   : static_cast<uint64_t>(h.Height);
    if (width > 0x1FFFFFFFull || height > 0xFFFFFFFFull) return kMsgBadHeader;
    XResolution = ResolutionOf(h.XPelsPerMeter);
    YResolution = ResolutionOf(h.YPelsPerMeter);
    ResolutionUnit = 1;
    if (h.Compression == kBmpJpeg || h.Compression == kBmpPng) return DescribeEmbedded(File.GetLength());
    bool bitFields = IsBitFields(h);
    for (uint32_t mask : m_masks)
        if (!CBmpChannelMask::Contiguous(mask)) return kMsgBadHeader;
    BitCountMode fields = BitFieldMode(h.BitCount, m_masks[3] != 0);
    const BitCountMode* m = bitFields ? &fields : ModeOfBitCount(h.BitCount);
    if (!m) return kMsgBadHeader;
    uint64_t stride = BytesPerRow(static_cast<uint32_t>(width * 8));
    if (stride * height > 0xFFFFFFFFull || stride * m->channels > 0xFFFFFFFFull) return kMsgBadHeader;

    // The pixel data must lie within the file: a shorter file is refused
    // here, before a host allocates planes for rows that are not there.
    bool runLength = h.Compression == kBmpRunLength8 || h.Compression == kBmpRunLength4;
    uint64_t length = File.GetLength();
    uint64_t rows = runLength ? kRunLengthShortest : RowBytes(h.BitCount, static_cast<uint32_t>(width)) * height;
    if (f.OffBits >= length || f.OffBits + rows > length) return kMsgBadHeader;
    // Nor can they be counted before decoding them; but an image far larger
    // than its codes could give in runs is refused before planes are made for it.
    if (runLength && width * height > kRunLengthFreePixels &&
        width * height - kRunLengthFreePixels > (length - f.OffBits) * kMostPixelsPerCode)
        return kMsgBadHeader;

    m_store = runLength ? PixelStore::kRunLength : bitFields ? PixelStore::kBitFields : PixelStore::kRows;
    Width = static_cast<uint32_t>(width);
    Height = static_cast<uint32_t>(height);
    FileBitCount = h.BitCount;
    ColorMode = m->mode;
    PaletteSize = m->paletteSize;
    BitsPerChannel = m_fileBitsPerChannel = m->bitsPerChannel;
    ChannelCount = m_fileChannels = m->channels;
    ColorChannels = m->colorChannels;
    FreeBuffer(&Palette);
    return PaletteSize == 0 ? 0 : ReadPalette(length);
}

// The colour table follows the information header (and masks that follow
// it), 4 bytes per entry (blue, green, red, 0), 3 bytes (blue, green, red)
// after the 12-byte header; colours-used 0 means a full table. Entries the
// file does not give stay black. The 12-byte header has no colours-used
// field, and its table may end early: where the pixel data begins.
int CBmpIO::ReadPalette(uint64_t length)
{
    const InfoHeader& h = BmpInfoHeader;
    Palette = static_cast<uint8_t*>(AllocBuffer(PaletteSize * 4, 0, 0));
    if (!Palette) return kMsgBadHeader;
    uint32_t entries = (h.ClrUsed == 0 || h.ClrUsed > PaletteSize) ? PaletteSize : h.ClrUsed;
    uint32_t entryBytes = h.Size == kOs2InfoHeaderBytes ? 3 : 4;
    uint64_t at = m_paletteAt;
    if (entryBytes == 3 && BmpFileHeader.OffBits > at)
        entries = static_cast<uint32_t>(std::min<uint64_t>(entries, (BmpFileHeader.OffBits - at) / 3));
    if (at + static_cast<uint64_t>(entries) * entryBytes > length) return kMsgBadHeader;
    File.Seek(static_cast<int64_t>(at), CFile::begin);
    if (File.Read(Palette, entries * entryBytes) != entries * entryBytes) return kMsgBadHeader;
    if (entryBytes == 3)
        for (uint32_t i = entries; i-- > 0;) {
            memmove(Palette + 4 * i, Palette + 3 * i, 3);
            Palette[4 * i + 3] = 0;
        }
    return 0;
}
