// Picture header reading: the version opcode, the walk to the first bitmap,
// the bitmap's pixel map and colour table, and the image description.
#include <cstring>

#include "rastik/CPicIO.h"
#include "rastik/General.h"
#include "rastik/Messages.h"
#include "rastik/formats/CPictOpcodeWalk.h"
#include "rastik/formats/CPictRowLayout.h"
#include "rastik/formats/CPictSource.h"

namespace {

// A 512-byte preamble for the application and the 2-byte picture size come
// first; the frame rectangle follows.
constexpr uint64_t kFrameOffset = 514;
constexpr uint32_t kRectBytes = 8;
constexpr uint8_t kVersionOpcode = 0x11;
// Version 2 pictures continue the version opcode with 0xFF.
constexpr uint8_t kVersion2Tail = 0xFF;
// Base address placeholder before the pixel map of direct-pixel opcodes.
constexpr uint32_t kBaseAddressBytes = 4;
// Source and destination rectangles and the transfer mode.
constexpr uint32_t kCopyParamBytes = 2 * kRectBytes + 2;
// Row bytes: the top bit marks a pixel map, the next one is reserved.
constexpr uint16_t kPixmapFlag = 0x8000;
constexpr uint16_t kRowBytesMask = 0x3FFF;
// Colour tables: seed (long), flags (word), size word s, s + 1 entries of
// a value word and red, green, blue words; flag bit 15 numbers the entries
// in order instead of by their value.
constexpr uint16_t kDeviceTableFlag = 0x8000;
constexpr uint32_t kTableEntries = 256;

// Resolutions are 16.16 fixed point; a picture that gives none is 72 dpi.
float Resolution(uint32_t fixed)
{
    return fixed ? static_cast<float>(fixed / 65535.0) : 72.0f;
}

}  // namespace

CPicIO::HeadResult CPicIO::ReadPictHead()
{
    File.Seek(0, CFile::begin);
    CPictSource source(File);
    uint8_t b = 0;
    if (!source.Seek(kFrameOffset) || !source.Skip(kRectBytes)) return kHeadBadData;
    while (source.ReadNextByte(b) && b == 0) {
    }
    uint8_t version = 0, tail = 0;
    if (!source.Ok() || b != kVersionOpcode || !source.ReadNextByte(version)) return kHeadBadData;
    if (version != 1 && (version != 2 || !source.ReadNextByte(tail) || tail != kVersion2Tail)) return kHeadBadData;
    PictVersion = version;
    CPictOpcodeWalk walk(source, version);
    uint16_t opcode = 0;
    switch (walk.FindImage(&opcode)) {
    case CPictOpcodeWalk::kImage: return ReadImageRecord(source, opcode);
    case CPictOpcodeWalk::kEnd: return kHeadEnd;
    default: return kHeadBadData;
    }
}

// Row bytes, bounds, the pixel map when there is one, the colour table of
// indexed pixel maps, the copy parameters and the mask region of the region
// opcodes; the rows follow.
CPicIO::HeadResult CPicIO::ReadImageRecord(CPictSource& source, uint16_t opcode)
{
    bool direct = opcode == CPictOpcodeWalk::kDirectBitsRect || opcode == CPictOpcodeWalk::kDirectBitsRgn;
    uint16_t rowBytes = 0, top = 0, left = 0, bottom = 0, right = 0;
    if (direct) source.Skip(kBaseAddressBytes);
    source.Word(rowBytes);
    source.Word(top);
    source.Word(left);
    source.Word(bottom);
    source.Word(right);
    bool pixmap = direct || (rowBytes & kPixmapFlag);
    Pixmap = _PICTPixmap();
    if (pixmap) {
        ReadPixmap(source, Pixmap);
    } else {
        Pixmap.pixelSize = Pixmap.cmpCount = Pixmap.cmpSize = 1;
    }
    bool grey = true;
    if (!direct && pixmap && !ReadColorTable(source, &grey)) return kHeadBadData;
    source.Skip(kCopyParamBytes);
    if (CPictOpcodeWalk::HasRegion(opcode)) {
        uint16_t size = 0;
        if (!source.Word(size) || size < 2 || !source.Skip(size - 2u)) return kHeadBadData;
    }
    if (!source.Ok() || source.Position() > 0xFFFFFFFFu) return kHeadBadData;
    DataOffset = static_cast<uint32_t>(source.Position());
    int32_t width = static_cast<int16_t>(right) - static_cast<int16_t>(left);
    int32_t height = static_cast<int16_t>(bottom) - static_cast<int16_t>(top);
    if (pixmap) {
        XResolution = Resolution(Pixmap.hRes);
        YResolution = Resolution(Pixmap.vRes);
    }
    return Describe(rowBytes, width, height, grey, source.Left());
}

int CPicIO::ReadPixmap(CPictSource& source, _PICTPixmap& record)
{
    source.Fields(record.version, record.packType, record.packSize, record.hRes, record.vRes, record.pixelType,
                  record.pixelSize, record.cmpCount, record.cmpSize, record.planeBytes, record.pmTable,
                  record.pmReserved);
    return source.Ok() ? 1 : 0;
}

int CPicIO::ReadColorTable(CPictSource& source, bool* grey)
{
    uint16_t flags = 0, size = 0;
    if (!source.Skip(4) || !source.Word(flags) || !source.Word(size)) return 0;
    uint32_t entries = size + 1u;
    if (entries * 8ull > source.Left()) return 0;
    FreeBuffer(&ColorTable);
    ColorTable = static_cast<uint8_t*>(AllocBuffer(kTableEntries * 3, 1, 0));
    if (!ColorTable) return 0;
    for (uint32_t i = 0; i < entries && i < kTableEntries; ++i)
        ColorTable[3 * i] = ColorTable[3 * i + 1] = ColorTable[3 * i + 2] = static_cast<uint8_t>(i);
    *grey = true;
    for (uint32_t i = 0; i < entries; ++i) {
        uint16_t value = 0, rgb[3] = {};
        source.Word(value);
        for (uint16_t& c : rgb) source.Word(c);
        if (rgb[0] != rgb[1] || rgb[1] != rgb[2]) *grey = false;
        // Components are 16-bit intensities (0xFFFF full): their high bytes.
        uint32_t index = (flags & kDeviceTableFlag) ? i : value % entries;
        if (index >= kTableEntries) continue;
        for (int c = 0; c < 3; ++c) ColorTable[3 * index + c] = static_cast<uint8_t>(rgb[c] >> 8);
    }
    return source.Ok() ? 1 : 0;
}

bool CPicIO::Decodable() const
{
    uint16_t size = Pixmap.pixelSize, count = Pixmap.cmpCount;
    if (size == 1 || size == 2 || size == 4 || size == 8) return count == 1;
    if (size == 16) return count == 3;
    return size == 32 && (count == 3 || count == 4);
}

CPicIO::HeadResult CPicIO::Describe(uint16_t rowBytesField, int32_t width, int32_t height, bool grey,
                                    uint64_t bytesLeft)
{
    if (width <= 0 || height <= 0) return kHeadBadData;
    if (!Decodable()) return kHeadUnsupported;
    uint16_t size = Pixmap.pixelSize;
    // Indexed pixels other than 1-bit ones need their colour table.
    bool indexed = size <= 8;
    if (indexed && size > 1 && !ColorTable) return kHeadUnsupported;
    uint32_t needed = static_cast<uint32_t>((static_cast<uint64_t>(width) * size + 7) / 8);
    uint32_t rowBytes = rowBytesField & kRowBytesMask;
    // Wide pixel maps of some writers run into the reserved bit.
    if (rowBytes < needed) rowBytes = rowBytesField & 0x7FFF;
    if (rowBytes < needed) return kHeadBadData;
    CPictRowLayout layout = CPictRowLayout::ForImage(rowBytes, size, Pixmap.packType, Pixmap.cmpCount,
                                                     static_cast<uint32_t>(width));
    // The rows must fit the rest of the file, and the planes 32 bits.
    if (layout.MinimumBytes(static_cast<uint32_t>(height)) > bytesLeft) return kHeadBadData;
    if (static_cast<uint64_t>(BytesPerRow(static_cast<uint32_t>(width) * 8)) * static_cast<uint32_t>(height) >
        0xFFFFFFFFull)
        return kHeadBadData;
    m_layout = std::make_unique<CPictRowLayout>(layout);
    Width = static_cast<uint32_t>(width);
    Height = static_cast<uint32_t>(height);
    ResolutionUnit = 1;
    FileBitCount = BitsPerChannel = 8;
    FreeBuffer(&Palette);
    PaletteSize = 0;
    if (size == 1) {
        DescribeBitmap();
        // A 1-bit pixel map's colour table says which bit value is light.
        if (ColorTable)
            for (int v = 0; v < 2; ++v)
                m_indexMap[v] = ColorTable[3 * v] + ColorTable[3 * v + 1] + ColorTable[3 * v + 2] >= 384 ? 1 : 0;
        return kHeadOk;
    }
    if (!indexed) {
        ColorMode = kModeRgb;
        ChannelCount = ColorChannels = 3;
        return kHeadOk;
    }
    ChannelCount = ColorChannels = 1;
    if (grey) {
        ColorMode = kModeGrey;
        for (uint32_t i = 0; i < kTableEntries; ++i) m_indexMap[i] = ColorTable[3 * i];
        return kHeadOk;
    }
    ColorMode = kModeIndexed;
    uint8_t entries[kTableEntries * 4] = {};
    for (uint32_t i = 0; i < kTableEntries; ++i) {
        m_indexMap[i] = static_cast<uint8_t>(i);
        entries[4 * i] = ColorTable[3 * i + 2];
        entries[4 * i + 1] = ColorTable[3 * i + 1];
        entries[4 * i + 2] = ColorTable[3 * i];
    }
    if (!SetPalette(entries, kTableEntries)) return kHeadBadData;
    PaletteSize = kTableEntries;
    return kHeadOk;
}
