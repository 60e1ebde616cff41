// Field-by-field packing of the two bitmap headers.
#include "rastik/formats/BmpHeaderLayout.h"

#include <cstring>

#include "rastik/support/ByteOrder.h"
#include "rastik/support/Inches.h"

namespace {
// Bitmap headers are little-endian.
using rastik::GetLE16;
using rastik::GetLE32;
using rastik::PutLE16;
using rastik::PutLE32;
}  // namespace

void PackBmpHeaders(const CBmpIO::FileHeader& f, const CBmpIO::InfoHeader& h, uint8_t* out)
{
    PutLE16(out, f.Type);
    PutLE32(out + 2, f.Size);
    PutLE16(out + 6, f.Reserved1);
    PutLE16(out + 8, f.Reserved2);
    PutLE32(out + 10, f.OffBits);
    uint8_t* i = out + CBmpIO::kFileHeaderBytes;
    PutLE32(i, h.Size);
    PutLE32(i + 4, static_cast<uint32_t>(h.Width));
    PutLE32(i + 8, static_cast<uint32_t>(h.Height));
    PutLE16(i + 12, h.Planes);
    PutLE16(i + 14, h.BitCount);
    PutLE32(i + 16, h.Compression);
    PutLE32(i + 20, h.SizeImage);
    PutLE32(i + 24, static_cast<uint32_t>(h.XPelsPerMeter));
    PutLE32(i + 28, static_cast<uint32_t>(h.YPelsPerMeter));
    PutLE32(i + 32, h.ClrUsed);
    PutLE32(i + 36, h.ClrImportant);
}

bool IsOs2InfoHeader(uint32_t size)
{
    constexpr uint32_t kLongestOs2Two = 64;
    if (size == kOs2InfoHeaderBytes) return true;
    return size >= kShortestOs2TwoInfoHeader && size <= kLongestOs2Two && size != CBmpIO::kInfoHeaderBytes &&
           size != kBmpRgbMasksEnd && size != kBmpAlphaMaskEnd;
}

void PackBmpV5Fields(uint8_t* out)
{
    constexpr uint32_t kSrgb = 0x73524742;  // "sRGB"
    constexpr uint32_t kPicturesIntent = 4;
    memset(out, 0, kBmpV5InfoHeaderBytes - CBmpIO::kInfoHeaderBytes);
    PutLE32(out, 0x00FF0000);
    PutLE32(out + 4, 0x0000FF00);
    PutLE32(out + 8, 0x000000FF);
    PutLE32(out + 12, 0xFF000000);
    PutLE32(out + 16, kSrgb);
    PutLE32(out + 68, kPicturesIntent);
}

void UnpackBmpFileHeader(const uint8_t* fh, CBmpIO::FileHeader& f)
{
    f.Type = GetLE16(fh);
    f.Size = GetLE32(fh + 2);
    f.Reserved1 = GetLE16(fh + 6);
    f.Reserved2 = GetLE16(fh + 8);
    f.OffBits = GetLE32(fh + 10);
}

void UnpackBmpInfoHeader(const uint8_t* ih, CBmpIO::InfoHeader& h)
{
    h.Size = GetLE32(ih);
    h.Width = static_cast<int32_t>(GetLE32(ih + 4));
    h.Height = static_cast<int32_t>(GetLE32(ih + 8));
    h.Planes = GetLE16(ih + 12);
    h.BitCount = GetLE16(ih + 14);
    h.Compression = GetLE32(ih + 16);
    h.SizeImage = GetLE32(ih + 20);
    h.XPelsPerMeter = static_cast<int32_t>(GetLE32(ih + 24));
    h.YPelsPerMeter = static_cast<int32_t>(GetLE32(ih + 28));
    h.ClrUsed = GetLE32(ih + 32);
    h.ClrImportant = GetLE32(ih + 36);
}

void UnpackOs2InfoHeader(const uint8_t* ih, CBmpIO::InfoHeader& h)
{
    h = CBmpIO::InfoHeader();
    h.Size = GetLE32(ih);
    h.Width = GetLE16(ih + 4);
    h.Height = GetLE16(ih + 6);
    h.Planes = GetLE16(ih + 8);
    h.BitCount = GetLE16(ih + 10);
}

bool BmpPelsPerMetre(float resolution, uint32_t unit, int32_t* out)
{
    double v;
    if (unit == 0 || unit == 1)
        v = resolution * 100 / rastik::kUnitCentimetresPerInch;
    else if (unit == 3)
        v = static_cast<double>(resolution) * 100;
    else
        return false;
    if (!(v > 0)) v = 0;
    if (v > 2147483647.0) v = 2147483647.0;
    *out = static_cast<int32_t>(v);
    return true;
}
