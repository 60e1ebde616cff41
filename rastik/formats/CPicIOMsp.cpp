// The two headed 1-bit formats the picture reader also reads. Both formats have a 32-byte little-endian header and unpacked rows
// of whole bytes, top row first, a set bit black:
//  - "DanM", width (word at 4, a multiple of 8), height (word at 6), and
//    when the word at 8 is 0x8060 the resolution (word at 10); rows from 32;
//  - first word 0xC004, second word 0, width and height at 4 and 6; rows
//    from 24 when the byte at 22 is 24, else from 16.
#include <cstring>

#include "rastik/CPicIO.h"
#include "rastik/formats/CPictRowLayout.h"
#include "rastik/support/ByteOrder.h"

namespace {

constexpr uint16_t kSizeMask = 0x3FFF;
constexpr uint16_t kResolutionGiven = 0x8060;
constexpr uint16_t kSecondKindWord = 0xC004;
constexpr uint32_t kFirstKindData = 32;

}  // namespace

int CPicIO::CheckMsp(const uint8_t* header)
{
    if (memcmp(header, "DanM", 4) == 0 && static_cast<int16_t>(rastik::GetLE16(header + 4)) % 8 == 0) return 1;
    if (rastik::GetLE16(header) == kSecondKindWord && rastik::GetLE16(header + 2) == 0) return 2;
    return 0;
}

CPicIO::HeadResult CPicIO::ReadMspHead(const uint8_t* header, int kind)
{
    IsMsp = 1;
    PictVersion = 0;
    uint32_t width = rastik::GetLE16(header + 4) & kSizeMask;
    uint32_t height = rastik::GetLE16(header + 6) & kSizeMask;
    DataOffset = kind == 1 ? kFirstKindData : (header[22] == 24 ? 24 : 16);
    uint32_t rowBytes = (width + 7) / 8;
    if (width == 0 || height == 0) return kHeadBadData;
    // The rows must be in the file before a host makes planes for them.
    uint64_t length = File.GetLength();
    if (DataOffset + static_cast<uint64_t>(rowBytes) * height > length) return kHeadBadData;
    m_layout = std::make_unique<CPictRowLayout>(CPictRowLayout::Unpacked(rowBytes));
    Width = width;
    Height = height;
    ResolutionUnit = 1;
    if (rastik::GetLE16(header + 8) == kResolutionGiven)
        XResolution = YResolution = static_cast<float>(rastik::GetLE16(header + 10));
    FileBitCount = 1;
    BitsPerChannel = 8;
    Pixmap = _PICTPixmap();
    Pixmap.pixelSize = Pixmap.cmpCount = Pixmap.cmpSize = 1;
    DescribeBitmap();
    return kHeadOk;
}

// Mode 2 with black (index 0) and white (index 1); a set bit is black.
void CPicIO::DescribeBitmap()
{
    static const uint8_t kBlackWhite[8] = {0, 0, 0, 0, 255, 255, 255, 0};
    ColorMode = kModeBitmap;
    ChannelCount = ColorChannels = 1;
    PaletteSize = SetPalette(kBlackWhite, 2) ? 2 : 0;
    m_indexMap[0] = 1;
    m_indexMap[1] = 0;
}
