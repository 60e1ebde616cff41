// TIFF directory reading: the header and the entries of the image file
// directory of the page asked for, classic or BigTIFF, then the defaults and
// checks that turn them into the image description; the page count and
// sizes; the format's byte-order routines.
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/CFileException.h"
#include "rastik/CTiffIO.h"
#include "rastik/Exports.h"
#include "rastik/General.h"
#include "rastik/Messages.h"
#include "rastik/core/CStatus.h"
#include "rastik/support/ByteOrder.h"
#include "rastik/support/Inches.h"
#include "rastik/tiff/CTiffDirectoryChain.h"
#include "rastik/tiff/TiffDecoderTable.h"
#include "rastik/tiff/TiffEntry.h"
#include "rastik/tiff/TiffTags.h"

using rastik::Get16;
using rastik::Get32;
using rastik::Get64;
using tiff::TiffEntry;

namespace {

constexpr CStatus kDone = CStatus::Ok();
// A refusal without a message.
constexpr CStatus kRefuse = CStatus::Failed();
constexpr CStatus kBadData = CStatus::Failed(kMsgBadFileData);
constexpr uint32_t kMaxBitsPerSampleItems = 32;
constexpr uint32_t kMaxPaletteEntries = 256;
constexpr uint32_t kMaxRowBits = 0xFFFFFFF8u;
// Pixels an image may have past the end of its data (they read as 0): as
// many as a JPEG file may decode once its data has run out.
constexpr uint64_t kMostPixelsPastData = 64ull << 20;
// Rows past the data cost a pass each however narrow they are: a few bytes
// must not stand for tens of millions of them.
constexpr uint64_t kMostRowsPastData = 1ull << 20;
// The inch of resolution unit 3 (centimetres).
constexpr float kCentimetresPerInch = static_cast<float>(rastik::kUnitCentimetresPerInch);

// The bytes of an entry's value, read where they stand: in the value field
// when they fit, else at the offset it holds. Fails with 27610 when they lie
// outside the file.
CStatus ReadValueBytes(CFile& file, const TiffEntry& e, bool little, tiff::TiffWidths w, uint64_t fileLength,
                       std::vector<uint8_t>& data)
{
    uint32_t size = tiff::TypeBytes(e.type);
    data.clear();
    if (size == 0 || e.count > fileLength / size) return kBadData;
    uint64_t bytes = e.count * size;
    if (bytes == 0) return kDone;
    if (e.Fits(w)) {
        data.assign(e.field, e.field + bytes);
        return kDone;
    }
    uint64_t at = e.Offset(little, w);
    if (at > fileLength || bytes > fileLength - at) return kBadData;
    data.resize(bytes);
    file.Seek(static_cast<int64_t>(at), CFile::begin);
    if (file.Read(data.data(), static_cast<uint32_t>(bytes)) != bytes) return kBadData;
    return kDone;
}

bool IsIntegerType(uint16_t type)
{
    switch (type) {
    case tiff::kByte:
    case tiff::kSByte:
    case tiff::kUndefined:
    case tiff::kShort:
    case tiff::kSShort:
    case tiff::kLong:
    case tiff::kSLong:
    case tiff::kIfd:
    case tiff::kLong8:
    case tiff::kSLong8:
    case tiff::kIfd8: return true;
    default: return false;
    }
}

// The items of an entry of whole numbers (BYTE to LONG8), read where they
// stand; other types give no items. Fails with 27610 when the items lie
// outside the file.
template <class Item>
CStatus ReadItems(CFile& file, const TiffEntry& e, bool little, tiff::TiffWidths w, uint64_t fileLength,
                  std::vector<Item>& items)
{
    items.clear();
    if (!IsIntegerType(e.type)) return kDone;
    std::vector<uint8_t> data;
    if (CStatus r = ReadValueBytes(file, e, little, w, fileLength, data); !r) return r;
    uint32_t size = tiff::TypeBytes(e.type);
    items.resize(data.size() / size);
    for (size_t i = 0; i < items.size(); ++i) {
        const uint8_t* p = data.data() + i * size;
        uint64_t v = size == 1 ? *p : size == 2 ? Get16(p, little) : size == 4 ? Get32(p, little) : Get64(p, little);
        items[i] = static_cast<Item>(v);
    }
    return kDone;
}

}  // namespace

void CTiffIO::SwapBytes(uint8_t* p, uint16_t kind)
{
    if (kind == 2 || kind == 4) ReverseSwapBytes(p, kind);
    // An entry as read from an "MM" file turns into host order.
    if (kind == 12) tiff::SwapEntry(p, false);
}

void CTiffIO::vSwapWord(uint8_t* p, uint16_t count)
{
    for (uint32_t i = 0; i < count; ++i) ReverseSwapBytes(p + 4 * i, 4);
}

void CTiffIO::vSwapByte(uint8_t* p, uint16_t count)
{
    for (uint32_t i = 0; i < count; ++i) ReverseSwapBytes(p + 2 * i, 2);
}

void CTiffIO::SetTIFInfoField(uint32_t* out, const uint8_t* entry)
{
    *out = TiffEntry::Read(entry, true).value;
}

// A file error ends the read with 27610 (HeadReadError).
CStatus CTiffIO::ReadHead()
{
    uint64_t fileLength = File.GetLength();
    CTiffDirectoryChain chain(File, fileLength);
    CStatus opened = chain.Open();
    IntelByteOrder = chain.Little() ? 1 : 0;
    if (!opened) return opened;
    BigTiff = chain.Widths().big ? 1 : 0;
    if (!chain.SeekPage(Page)) {
        m_pagesFound = chain.Index() + 1;
        return CStatus::Failed(kMsgNoSuchPage);
    }
    std::vector<uint8_t> entries;
    if (!chain.ReadEntries(entries)) return kBadData;
    uint32_t entryBytes = chain.Widths().EntryBytes();
    for (size_t at = 0; at < entries.size(); at += entryBytes) {
        TiffEntry e = TiffEntry::Read(entries.data() + at, chain.Little(), chain.Widths());
        if (CStatus result = ReadEntry(e, fileLength); !result) return result;
    }
    return CompleteDirectory(fileLength);
}

CStatus CTiffIO::ReadEntry(const TiffEntry& e, uint64_t fileLength)
{
    uint32_t value = static_cast<uint32_t>(e.value);
    bool little = IntelByteOrder != 0;
    tiff::TiffWidths w{BigTiff != 0};
    std::vector<uint32_t> items;
    switch (e.tag) {
    case tiff::kImageWidth: Width = value; break;
    case tiff::kImageLength: Height = value; break;
    case tiff::kBitsPerSample: {
        if (e.count > kMaxBitsPerSampleItems) return kBadData;
        if (CStatus r = ReadItems(File, e, little, w, fileLength, items); !r) return r;
        if (items.empty()) break;
        BitsPerChannel = items[0];
        for (uint32_t bits : items)
            if (bits != items[0]) return kRefuse;
        break;
    }
    case tiff::kCompression: Compression = static_cast<int32_t>(value); break;
    case tiff::kPhotometric:
        Photometric = value;
        switch (value) {
        case tiff::kWhiteIsZero: PhotometricSense = 0, ColorChannels = 1; break;
        case tiff::kBlackIsZero: PhotometricSense = 1, ColorChannels = 1; break;
        case tiff::kRgb: ColorMode = kModeRgb, ColorChannels = 3; break;
        case tiff::kPalette: ColorMode = kModeIndexed, ColorChannels = 1; break;
        case tiff::kSeparated: ColorMode = kModeCmyk, ColorChannels = 4; break;
        case tiff::kYCbCr: ColorMode = kModeRgb, ColorChannels = 3; break;
        default:
            if (!TakeColourPhotometric(value)) return CStatus::Failed(kMsgBadHeader);
            break;
        }
        break;
    case tiff::kFillOrder: FillOrder = value; break;
    case tiff::kStripOffsets: return ReadItems(File, e, little, w, fileLength, StripOffsets);
    case tiff::kSamplesPerPixel: ChannelCount = value; break;
    case tiff::kRowsPerStrip: RowsPerStrip = value; break;
    case tiff::kStripByteCounts: return ReadItems(File, e, little, w, fileLength, StripByteCounts);
    case tiff::kXResolution: return ReadResolution(e, fileLength, XResolution);
    case tiff::kYResolution: return ReadResolution(e, fileLength, YResolution);
    case tiff::kPlanarConfig:
        if (value == tiff::kPlanarContiguous) PlanarRows = 0;
        else if (value == tiff::kPlanarSeparate) PlanarRows = 1;
        break;
    case tiff::kT4Options: T4Options = value; break;
    case tiff::kResolutionUnit: ResolutionUnit = value; break;
    case tiff::kPredictor: Predictor = value & 0xFFFF; break;
    case tiff::kColorMap: return ReadColorMap(e, fileLength);
    case tiff::kTileWidth: Tiled = true, TileWidth = value; break;
    case tiff::kTileLength: Tiled = true, TileLength = value; break;
    case tiff::kTileOffsets: Tiled = true; return ReadItems(File, e, little, w, fileLength, TileOffsets);
    case tiff::kTileByteCounts: Tiled = true; return ReadItems(File, e, little, w, fileLength, TileByteCounts);
    case tiff::kExtraSamples:
        ExtraSampleCount = static_cast<uint16_t>(e.count);
        if (CStatus r = ReadItems(File, e, little, w, fileLength, items); !r) return r;
        AssociatedAlpha = !items.empty() && items[0] == tiff::kAssociatedAlpha;
        break;
    case tiff::kSampleFormat:
        if (CStatus r = ReadItems(File, e, little, w, fileLength, items); !r) return r;
        if (!items.empty()) SampleFormat = items[0];
        break;
    case tiff::kJpegTables:
        if (tiff::TypeBytes(e.type) != 1) break;
        return ReadValueBytes(File, e, little, w, fileLength, JpegTables);
        break;
    case tiff::kPhotoshop: ReadResourceEntry(e, fileLength); break;
    default: return ReadColourEntry(e, fileLength);
    }
    return kDone;
}

// The Photoshop resource block; one that fits into the entry holds no
// resource.
void CTiffIO::ReadResourceEntry(const TiffEntry& e, uint64_t fileLength)
{
    uint64_t bytes = static_cast<uint64_t>(e.count) * std::max<uint32_t>(1, tiff::TypeBytes(e.type));
    tiff::TiffWidths w{BigTiff != 0};
    uint64_t at = e.Offset(IntelByteOrder != 0, w);
    bool inFile = bytes > w.FieldBytes() && at < fileLength && at <= 0x7FFFFFFFu;
    ResourcePos = inFile ? static_cast<int32_t>(at) : 0;
    ResourceLength = inFile ? static_cast<uint32_t>(std::min<uint64_t>(bytes, fileLength - at)) : 0;
}

// A RATIONAL at the entry's offset: signed numerator over unsigned
// denominator; a zero denominator leaves 72.
CStatus CTiffIO::ReadResolution(const TiffEntry& e, uint64_t fileLength, float& resolution)
{
    bool little = IntelByteOrder != 0;
    if (e.type != tiff::kRational && e.type != tiff::kSRational) return kDone;
    std::vector<uint8_t> data;
    if (CStatus r = ReadValueBytes(File, e, little, tiff::TiffWidths{BigTiff != 0}, fileLength, data); !r) return r;
    if (data.size() < 8) return kDone;
    const uint8_t* pair = data.data();
    // A RATIONAL's numerator is unsigned: writers that keep the most precision
    // store 72.009 as 4294967295 / 59644865. Only an SRATIONAL's is signed.
    uint32_t bits = Get32(pair, little);
    double numerator = e.type == tiff::kSRational ? static_cast<double>(static_cast<int32_t>(bits)) : bits;
    uint32_t denominator = Get32(pair + 4, little);
    resolution = denominator ? static_cast<float>(numerator / denominator) : 72.0f;
    return kDone;
}

// ColorMap: all reds, then all greens, then all blues, 16 bits each. A map
// whose values all lie below 256 holds 8-bit components; otherwise every
// component is the high byte of its value.
CStatus CTiffIO::ReadColorMap(const TiffEntry& e, uint64_t fileLength)
{
    uint32_t entries = e.count / 3;
    if (entries > kMaxPaletteEntries) return kRefuse;
    std::vector<uint32_t> values;
    if (CStatus r = ReadItems(File, e, IntelByteOrder != 0, tiff::TiffWidths{BigTiff != 0}, fileLength, values); !r)
        return r;
    if (entries == 0 || values.size() < entries * 3) return kDone;
    bool wide = std::any_of(values.begin(), values.begin() + entries * 3, [](uint32_t v) { return v > 255; });
    std::vector<uint8_t> palette(entries * 4);
    for (uint32_t i = 0; i < entries; ++i) {
        for (uint32_t c = 0; c < 3; ++c) {
            uint32_t v = values[c * entries + i];
            palette[i * 4 + 2 - c] = static_cast<uint8_t>(wide ? v >> 8 : v);
        }
    }
    if (!SetPalette(palette.data(), entries)) return CStatus::Failed(kMsgNoBuffer);
    PaletteSize = entries;
    return kDone;
}

CStatus CTiffIO::CompleteDirectory(uint64_t fileLength)
{
    // Resolutions in centimetres become dots per inch (whatever the order of
    // the entries was).
    if (ResolutionUnit == tiff::kResolutionCentimetre) {
        XResolution *= kCentimetresPerInch;
        YResolution *= kCentimetresPerInch;
    }
    ResolutionUnit = 1;
    CompleteColour();
    uint32_t samples = ChannelCount ? ChannelCount : 1;
    if (ColorMode == 0 && PhotometricSense == 2) {
        // No PhotometricInterpretation: three or more samples are RGB, one
        // or two grey; fax data is white on zero.
        if (samples >= 3) {
            ColorMode = kModeRgb, ColorChannels = 3;
        } else {
            const TiffDecoderEntry* decoder = FindTiffDecoder(static_cast<uint32_t>(Compression));
            PhotometricSense = decoder && decoder->whiteIsZero ? 0 : 1;
            ColorChannels = 1;
        }
    }
    if (PhotometricSense == 0 || PhotometricSense == 1) ColorMode = BitsPerChannel == 1 ? kModeBitmap : kModeGrey;
    if (ColorMode == kModeBitmap && !Palette) {
        uint8_t bw[8] = {0, 0, 0, 0, 255, 255, 255, 0};
        if (PhotometricSense == 0) std::swap_ranges(bw, bw + 4, bw + 4);
        if (!SetPalette(bw, 2)) return CStatus::Failed(kMsgNoBuffer);
        PaletteSize = 2;
    }
    if (ColorMode == kModeGrey && !Palette) {
        // Grey planes hold 8-bit grey values whatever the depth in the file.
        uint8_t ramp[256 * 4];
        for (uint32_t i = 0; i < 256; ++i) ramp[i * 4] = ramp[i * 4 + 1] = ramp[i * 4 + 2] = static_cast<uint8_t>(i), ramp[i * 4 + 3] = 0;
        if (!SetPalette(ramp, 256)) return CStatus::Failed(kMsgNoBuffer);
        PaletteSize = 256;
    }
    if (Width == 0 || Height == 0) return kRefuse;
    if (ChannelCount == 0) ChannelCount = ColorChannels;
    if (RowsPerStrip == 0 || RowsPerStrip > Height) RowsPerStrip = Height;
    if (ChannelCount > static_cast<uint32_t>(kMaxChannels) || ChannelCount < ColorChannels) return kBadData;
    if (ColorMode == kModeIndexed && !Palette) return kBadData;
    // Planes of BytesPerRow(Width x 8) x Height bytes and file rows must stay within 32 bits.
    if (Width > 0x1FFFFFFFu || BitsPerChannel == 0 || BitsPerChannel > 64) return kBadData;
    if (static_cast<uint64_t>(BytesPerRow(Width * 8)) * Height > 0xFFFFFFFFull) return kBadData;
    if (static_cast<uint64_t>(Width) * BitsPerChannel * ChannelCount > kMaxRowBits) return kBadData;
    if (!Tiled) {
        if (StripOffsets.empty()) return kBadData;
        StripTotal = static_cast<uint32_t>(StripOffsets.size());
        if (Compression == tiff::kNone)
            SizeStoredStrips();
        else
            DeriveByteCounts(StripOffsets, StripTotal, fileLength, StripByteCounts);
    }
    StripCount = static_cast<int32_t>(std::min<uint32_t>(StripTotal, 0x7FFFFFFF));
    MakeGreyMap();
    // A layout the row source cannot read is refused here, with the data
    // reads' message, before a host allocates planes for it.
    if (int refusal = ReadRefusal()) return CStatus::Failed(refusal);
    return Tiled ? CompleteTiles(fileLength) : CheckStripData(fileLength);
}

// Byte counts of the first total compressed strips (or tiles) the file does
// not give: each runs to the next offset above its own, the last to the end
// of the file.
void CTiffIO::DeriveByteCounts(const std::vector<uint64_t>& offsets, uint32_t total, uint64_t fileLength,
                               std::vector<uint64_t>& counts)
{
    if (counts.size() >= total) return;
    std::vector<uint64_t> sorted(offsets);
    std::sort(sorted.begin(), sorted.end());
    for (size_t i = counts.size(); i < total; ++i) {
        uint64_t at = offsets[i];
        auto next = std::upper_bound(sorted.begin(), sorted.end(), at);
        uint64_t end = next == sorted.end() ? fileLength : *next;
        counts.push_back(at >= fileLength ? 0 : std::min(end, fileLength) - at);
    }
}

// Uncompressed strips hold their rows: they are taken at that size whatever
// the file's byte counts say (writers get them wrong), as far as the file
// holds them.
void CTiffIO::SizeStoredStrips()
{
    uint64_t rowBytes = StripRowBytes();
    uint32_t perPlane = (Height - 1) / RowsPerStrip + 1;
    StripByteCounts.resize(StripTotal);
    for (uint32_t i = 0; i < StripTotal; ++i) {
        uint32_t row = (i % perPlane) * RowsPerStrip;
        uint64_t bytes = StoredBytes(std::min(RowsPerStrip, Height - std::min(row, Height)), rowBytes);
        StripByteCounts[i] = bytes;
    }
}

// The strips must be able to hold the image, within what their compression
// can decode to, but for at most kMostPixelsPastData pixels in at most
// kMostRowsPastData rows: rows the data does not reach read as 0 (files cut
// short, strips whose byte counts fall short of their rows). A file that holds much less is refused here,
// before a host allocates planes for it.
CStatus CTiffIO::CheckStripData(uint64_t fileLength) const
{
    const TiffDecoderEntry* decoder = FindTiffDecoder(static_cast<uint32_t>(Compression), Photometric);
    if (!decoder) return kBadData;
    uint64_t rowBytes = StripRowBytes();
    uint32_t planes = IsPlanar() ? ChannelCount : 1;
    uint32_t perPlane = (Height - 1) / RowsPerStrip + 1;
    uint64_t need = rowBytes * Height * planes;
    uint64_t have = 0;
    uint64_t strips = std::min<uint64_t>(StripTotal, static_cast<uint64_t>(perPlane) * planes);
    for (uint64_t i = 0; i < strips && have < need; ++i) {
        uint64_t at = StripOffsets[i];
        if (at >= fileLength) continue;
        uint64_t most = decoder->MostDecoded(std::min<uint64_t>(StripByteCounts[i], fileLength - at), rowBytes);
        have = most >= need - have ? need : have + most;
    }
    if (have >= need) return kDone;
    // The pixels the data leaves out: the part of the image it does not reach.
    double rows = static_cast<double>(need - have) / static_cast<double>(need) * Height;
    bool few = rows <= static_cast<double>(kMostRowsPastData) && rows * Width <= static_cast<double>(kMostPixelsPastData);
    return few ? kDone : kBadData;
}

uint32_t CTiffIO::GetChOffset() const
{
    const std::vector<uint64_t>& offsets = Tiled ? TileOffsets : StripOffsets;
    return offsets.empty() || offsets[0] > 0xFFFFFFFFu ? 0 : static_cast<uint32_t>(offsets[0]);
}

void CTiffIO::GetMessageFigures(int id, uint64_t* first, uint64_t* second) const
{
    CRastik::GetMessageFigures(id, first, second);
    if (id == kMsgNoSuchPage) *first = m_pagesFound, *second = Page;
}

uint32_t CTiffIO::GetPageCount()
{
    try {
        CTiffDirectoryChain chain(File, File.GetLength());
        if (!chain.Open()) return 0;
        while (chain.Next()) {
        }
        return chain.Index() + 1;
    } catch (const CFileException&) {
        return 0;
    }
}

bool CTiffIO::GetPageSize(uint32_t page, uint32_t& width, uint32_t& height, uint32_t& compression)
{
    width = height = 0;
    compression = tiff::kNone;
    try {
        CTiffDirectoryChain chain(File, File.GetLength());
        std::vector<uint8_t> entries;
        if (!chain.Open() || !chain.SeekPage(page) || !chain.ReadEntries(entries)) return false;
        uint32_t entryBytes = chain.Widths().EntryBytes();
        for (size_t at = 0; at < entries.size(); at += entryBytes) {
            TiffEntry e = TiffEntry::Read(entries.data() + at, chain.Little(), chain.Widths());
            uint32_t value = static_cast<uint32_t>(e.value);
            if (e.tag == tiff::kImageWidth) width = value;
            if (e.tag == tiff::kImageLength) height = value;
            if (e.tag == tiff::kCompression) compression = value;
        }
        return true;
    } catch (const CFileException&) {
        return false;
    }
}
