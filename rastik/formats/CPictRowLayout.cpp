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
    // At best every 128 units are one repeat: a count byte and one unit;
    // the length field may be a single byte whatever the row bytes say.
    uint64_t runs = (static_cast<uint64_t>(RowBytes) + 128 * Unit - 1) / (128 * Unit);
    return (1 + runs * (1 + Unit)) * rows;
}

// The length field's size goes by the row bytes, but some writers choose it
// by the length of the row they pack: rows of 201 to 250 bytes then carry a
// word, and 32-bit rows packed from at most 200 component bytes a byte. Both
// show: a word below 256 starts with a zero byte, which no packed row of 8
// or more bytes has as its length; and a row a byte counts starts with a
// length byte of at least 2, which taken as a word's high byte gives more
// than even the least efficient packing of the row needs.
bool CPictRowLayout::StoredLength(CPictSource& source, uint32_t* length) const
{
    *length = RowBytes;
    if (!Packed) return true;
    uint8_t b = 0;
    if (!source.ReadNextByte(b)) return false;
    *length = b;
    if (CountBytes == 1) {
        if (b != 0) return true;
        if (!source.ReadNextByte(b)) return false;
        *length = b;
        return true;
    }
    uint8_t low = 0;
    if (!source.ReadNextByte(low)) return false;
    uint32_t word = (static_cast<uint32_t>(b) << 8) | low;
    if (word <= 2 * RowBytes + 2) {
        *length = word;
        return true;
    }
    return source.Seek(source.Position() - 1);
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
