// Field-by-field packing of the two bitmap headers.
#include "rastik/formats/BmpHeaderLayout.h"

namespace {

void Put16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void Put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint16_t Get16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t Get32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

void PackBmpHeaders(const CBmpIO::FileHeader& f, const CBmpIO::InfoHeader& h, uint8_t* out)
{
    Put16(out, f.Type);
    Put32(out + 2, f.Size);
    Put16(out + 6, f.Reserved1);
    Put16(out + 8, f.Reserved2);
    Put32(out + 10, f.OffBits);
    uint8_t* i = out + CBmpIO::kFileHeaderBytes;
    Put32(i, h.Size);
    Put32(i + 4, static_cast<uint32_t>(h.Width));
    Put32(i + 8, static_cast<uint32_t>(h.Height));
    Put16(i + 12, h.Planes);
    Put16(i + 14, h.BitCount);
    Put32(i + 16, h.Compression);
    Put32(i + 20, h.SizeImage);
    Put32(i + 24, static_cast<uint32_t>(h.XPelsPerMeter));
    Put32(i + 28, static_cast<uint32_t>(h.YPelsPerMeter));
    Put32(i + 32, h.ClrUsed);
    Put32(i + 36, h.ClrImportant);
}

void UnpackBmpHeaders(const uint8_t* fh, const uint8_t* ih, CBmpIO::FileHeader& f, CBmpIO::InfoHeader& h)
{
    f.Type = Get16(fh);
    f.Size = Get32(fh + 2);
    f.Reserved1 = Get16(fh + 6);
    f.Reserved2 = Get16(fh + 8);
    f.OffBits = Get32(fh + 10);
    h.Size = Get32(ih);
    h.Width = static_cast<int32_t>(Get32(ih + 4));
    h.Height = static_cast<int32_t>(Get32(ih + 8));
    h.Planes = Get16(ih + 12);
    h.BitCount = Get16(ih + 14);
    h.Compression = Get32(ih + 16);
    h.SizeImage = Get32(ih + 20);
    h.XPelsPerMeter = static_cast<int32_t>(Get32(ih + 24));
    h.YPelsPerMeter = static_cast<int32_t>(Get32(ih + 28));
    h.ClrUsed = Get32(ih + 32);
    h.ClrImportant = Get32(ih + 36);
}

bool BmpPelsPerMetre(float resolution, uint32_t unit, int32_t* out)
{
    double v;
    if (unit == 0 || unit == 1)
        v = resolution * 100 / 2.53995;
    else if (unit == 3)
        v = static_cast<double>(resolution) * 100;
    else
        return false;
    if (!(v > 0)) v = 0;
    if (v > 2147483647.0) v = 2147483647.0;
    *out = static_cast<int32_t>(v);
    return true;
}
