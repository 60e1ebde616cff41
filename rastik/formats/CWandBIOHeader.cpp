// Bitmap headers of the black-and-white writer: the 14-byte file header, the
// 40-byte information header and the palette, written little-endian field by
// field.
#include <cstdint>
#include <cstring>

#include "platform/CFileException.h"
#include "rastik/CWandBIO.h"
#include "rastik/General.h"
#include "rastik/Messages.h"

namespace {
constexpr uint16_t kBitmapType = 19778;  // "BM"
constexpr uint32_t kFileHeaderBytes = 14;
constexpr uint32_t kInfoHeaderBytes = 40;
constexpr uint32_t kHeaderBytes = kFileHeaderBytes + kInfoHeaderBytes;

void Put16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void Put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Truncates toward zero, held to 0..INT32_MAX (0 for a value that is not a number).
int32_t ToPels(double v)
{
    if (!(v > 0)) return 0;
    if (v >= 2147483647.0) return INT32_MAX;
    return static_cast<int32_t>(v);
}

// Pixels per metre of a resolution in dots per inch (unit 0 or 1) or per
// centimetre (unit 3); false for a unit that is not converted.
bool PelsPerMetre(float resolution, uint32_t unit, int32_t* out)
{
    if (unit == 0 || unit == 1) {
        *out = ToPels(static_cast<double>(resolution * 100.0f) / 2.53995);
        return true;
    }
    if (unit == 3) {
        *out = ToPels(static_cast<double>(resolution) * 100.0);
        return true;
    }
    return false;
}
}  // namespace

int CWandBIO::WriteHeader()
{
    if (ColorChannels > 3) {
        ShowRastikMessage(kMsgBmpChannels);
        return 0;
    }
    if (ColorMode == kModeGrey) {
        uint8_t ramp[256 * 4];
        for (int i = 0; i < 256; ++i) {
            ramp[4 * i] = ramp[4 * i + 1] = ramp[4 * i + 2] = static_cast<uint8_t>(i);
            ramp[4 * i + 3] = 0;
        }
        PaletteSize = 256;
        if (!SetPalette(ramp, 256)) return 0;
    }
    int result = WriteHeaderBytes();
    FreeBuffer(&Palette);
    return result;
}

int CWandBIO::WriteHeaderBytes()
{
    int32_t xPels = 0, yPels = 0;
    if (!PelsPerMetre(XResolution, ResolutionUnit, &xPels) ||
        !PelsPerMetre(YResolution, ResolutionUnit, &yPels)) {
        ShowRastikMessage(kMsgResolutionUnit);
        return 0;
    }
    // Rows of Width x channels bytes rounded to whole 4-byte words; the
    // recorded file size is rounded the same way.
    uint64_t offset = kHeaderBytes + 4ull * PaletteSize;
    uint64_t rowBytes = (static_cast<uint64_t>(Width) * ColorChannels + 3) & ~3ull;
    uint64_t fileSize = (offset + rowBytes * Height + 3) & ~3ull;
    if (fileSize > 0xFFFFFFFFull || Width > static_cast<uint32_t>(INT32_MAX) ||
        Height > static_cast<uint32_t>(INT32_MAX))
        return 0;

    uint8_t h[kHeaderBytes] = {};
    Put16(h + 0, kBitmapType);
    Put32(h + 2, static_cast<uint32_t>(fileSize));
    Put16(h + 6, 0);
    Put16(h + 8, 0);
    Put32(h + 10, static_cast<uint32_t>(offset));
    Put32(h + 14, kInfoHeaderBytes);
    Put32(h + 18, Width);
    Put32(h + 22, Height);  // positive: rows bottom-up
    Put16(h + 26, 1);       // planes
    Put16(h + 28, static_cast<uint16_t>(ColorChannels * BitsPerChannel));
    Put32(h + 30, 0);  // no compression
    Put32(h + 34, 0);  // image size
    Put32(h + 38, static_cast<uint32_t>(xPels));
    Put32(h + 42, static_cast<uint32_t>(yPels));
    Put32(h + 46, PaletteSize);  // colours used
    Put32(h + 50, 0);            // important colours
    try {
        File.Write(h, kHeaderBytes);
        if (PaletteSize > 0) {
            if (Palette) {
                File.Write(Palette, 4 * PaletteSize);
            } else {
                uint8_t zero[4] = {};
                for (uint32_t i = 0; i < PaletteSize; ++i) File.Write(zero, 4);
            }
        }
        File.Flush();
    } catch (const CFileException& e) {
        if (e.m_cause == CFileException::diskFull) ShowRastikMessage(kMsgDiskFull);
        return 0;
    }
    return 1;
}
