// Stored row lengths of picture pixel data: choosing the layout, reading and
// skipping one row.
#include "rastik/formats/CPictRowLayout.h"

#include "rastik/formats/CPictSource.h"

namespace {

// Rows shorter than this are never packed.
constexpr uint32_t kPackedFrom = 8;
// Longer rows have a word for their packed length.
constexpr uint32_t kByteCountUpTo = 250;

enum PackType : uint16_t { kPackNone = 1, kPackNoPadByte = 2 };

}  // namespace

CPictRowLayout CPictRowLayout::Unpacked(uint32_t rowBytes)
{
    CPictRowLayout l;
    l.RowBytes = rowBytes;
    return l;
}

CPictRowLayout CPictRowLayout::ForPixData(uint32_t rowBytes)
{
    if (rowBytes < kPackedFrom) return Unpacked(rowBytes);
    CPictRowLayout l;
    l.Packed = true;
    l.CountBytes = rowBytes > kByteCountUpTo ? 2 : 1;
    l.RowBytes = rowBytes;
    return l;
}

CPictRowLayout CPictRowLayout::ForImage(uint32_t rowBytes, uint16_t pixelSize, uint16_t packType,
                                        uint16_t cmpCount, uint32_t width)
{
    CPictRowLayout l = ForPixData(rowBytes);
    if (pixelSize < 16) return l;
    if (packType == kPackNone) l = Unpacked(rowBytes);
    if (pixelSize == 16) {
        l.Unit = 2;
        return l;
    }
    if (!l.Packed) {
        l.PixelBytes = 4;
    } else if (packType == kPackNoPadByte) {
        l = Unpacked(3 * width);
        l.PixelBytes = 3;
    } else {
        l.RowBytes = static_cast<uint32_t>(cmpCount) * width;
    }
    return l;
}

uint32_t CPictRowLayout::StoredCapacity() const
{
    if (!Packed) return RowBytes;
    return CountBytes == 1 ? 0xFFu : 0xFFFFu;
}

uint64_t CPictRowLayout::MinimumBytes(uint32_t rows) const
{
    if (!Packed) return static_cast<uint64_t>(RowBytes) * rows;
    // At best every 128 units are one repeat: a count byte and one unit.
    uint64_t runs = (static_cast<uint64_t>(RowBytes) + 128 * Unit - 1) / (128 * Unit);
    return (CountBytes + runs * (1 + Unit)) * rows;
}

bool CPictRowLayout::StoredLength(CPictSource& source, uint32_t* length) const
{
    *length = RowBytes;
    if (!Packed) return true;
    uint8_t b = 0;
    uint16_t w = 0;
    if (CountBytes == 1 ? !source.ReadNextByte(b) : !source.Word(w)) return false;
    *length = CountBytes == 1 ? b : w;
    return true;
}

bool CPictRowLayout::Read(CPictSource& source, uint8_t* stored, uint32_t* length) const
{
    return StoredLength(source, length) && source.Bytes(stored, *length);
}

bool CPictRowLayout::Skip(CPictSource& source) const
{
    uint32_t n = 0;
    return StoredLength(source, &n) && source.Skip(n);
}
