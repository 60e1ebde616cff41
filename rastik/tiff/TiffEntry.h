// One image file directory entry, as the reader takes it and the writer
// stores it, each field in the file's byte order. Classic files: 12 bytes,
// tag (16 bits) at 0, type (16 bits) at 2, value count (32 bits) at 4, value
// field (4 bytes) at 8. BigTIFF files: 20 bytes, the count of 64 bits at 4
// and a value field of 8 bytes at 12. Items that fit into the value field
// stand there left-aligned; larger values lie at the offset the field holds
// (32 or 64 bits). One SHORT is read as 16 bits; an 8-byte item or an
// offset of a BigTIFF file as 64 bits; anything else as 32 bits.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "rastik/support/ByteOrder.h"
#include "rastik/tiff/TiffTags.h"

namespace tiff {

// The widths of the directory structures of a classic or a BigTIFF file.
struct TiffWidths {
    bool big = false;

    uint32_t HeaderBytes() const { return big ? kBigHeaderBytes : kHeaderBytes; }
    uint32_t EntryBytes() const { return big ? kBigEntryBytes : kEntryBytes; }
    uint32_t FieldBytes() const { return big ? 8 : 4; }
    // Bytes of a directory's entry count and of an offset.
    uint32_t CountBytes() const { return big ? 8 : 2; }
    uint32_t OffsetBytes() const { return big ? 8 : 4; }
    uint64_t GetOffset(const uint8_t* p, bool little) const
    {
        return big ? rastik::Get64(p, little) : rastik::Get32(p, little);
    }
    uint64_t GetCount(const uint8_t* p, bool little) const
    {
        return big ? rastik::Get64(p, little) : rastik::Get16(p, little);
    }
};

struct TiffEntry {
    static constexpr uint32_t kTagAt = 0, kTypeAt = 2, kCountAt = 4, kFieldAt = 8, kBigFieldAt = 12;

    uint16_t tag = 0;
    uint16_t type = 0;
    uint64_t count = 0;
    // One SHORT: its 16 bits; otherwise the field as a number (a LONG, an
    // offset).
    uint64_t value = 0;
    // The second of two SHORT items (writing).
    uint16_t second = 0;
    // The value field as stored (reading), or the items the writer puts
    // there when inlined is set.
    uint8_t field[8] = {};
    bool inlined = false;

    bool OneShort() const { return type == kShort && count == 1; }
    // Whether the items stand in the value field of an entry of widths w.
    bool Fits(TiffWidths w) const
    {
        uint32_t size = TypeBytes(type);
        return size != 0 && count <= w.FieldBytes() / size;
    }
    // Where the items lie when they do not fit.
    uint64_t Offset(bool little, TiffWidths w) const { return w.GetOffset(field, little); }

    static TiffEntry Read(const uint8_t* p, bool little, TiffWidths w = {})
    {
        TiffEntry e;
        e.tag = rastik::Get16(p + kTagAt, little);
        e.type = rastik::Get16(p + kTypeAt, little);
        e.count = w.big ? rastik::Get64(p + kCountAt, little) : rastik::Get32(p + kCountAt, little);
        memcpy(e.field, p + (w.big ? kBigFieldAt : kFieldAt), w.FieldBytes());
        if (e.OneShort())
            e.value = rastik::Get16(e.field, little);
        else if (w.big && (TypeBytes(e.type) == 8 || !e.Fits(w)))
            e.value = rastik::Get64(e.field, little);
        else
            e.value = rastik::Get32(e.field, little);
        return e;
    }

    // Inlined items as they were put; up to two SHORT items, one LONG8 of a
    // BigTIFF file and an offset of one by their widths; anything else as
    // a 32-bit value. The rest of the field is 0.
    void Write(uint8_t* p, bool little, TiffWidths w = {}) const
    {
        rastik::Put16(p + kTagAt, tag, little);
        rastik::Put16(p + kTypeAt, type, little);
        uint8_t* f = p + (w.big ? kBigFieldAt : kFieldAt);
        if (w.big)
            rastik::Put64(p + kCountAt, count, little);
        else
            rastik::Put32(p + kCountAt, static_cast<uint32_t>(count), little);
        memset(f, 0, w.FieldBytes());
        if (inlined) {
            memcpy(f, field, w.FieldBytes());
        } else if (type == kShort && count <= 2) {
            rastik::Put16(f, static_cast<uint16_t>(value), little);
            rastik::Put16(f + 2, second, little);
        } else if (w.big && (TypeBytes(type) == 8 || !Fits(w))) {
            rastik::Put64(f, value, little);
        } else {
            rastik::Put32(f, static_cast<uint32_t>(value), little);
        }
    }
};

// Turns a classic entry into the other byte order in place: tag, type and
// count, and the value field as 16 bits for one SHORT, else as 32 bits. The
// type and count are taken in host order: before the swap when the entry is
// in host order now, after it when it is in the other order.
inline void SwapEntry(uint8_t* p, bool inHostOrder)
{
    auto oneShort = [p] {
        return rastik::GetLE16(p + TiffEntry::kTypeAt) == kShort && rastik::GetLE32(p + TiffEntry::kCountAt) == 1;
    };
    bool shortValue = inHostOrder && oneShort();
    std::reverse(p + TiffEntry::kTagAt, p + TiffEntry::kTypeAt);
    std::reverse(p + TiffEntry::kTypeAt, p + TiffEntry::kCountAt);
    std::reverse(p + TiffEntry::kCountAt, p + TiffEntry::kFieldAt);
    if (!inHostOrder) shortValue = oneShort();
    std::reverse(p + TiffEntry::kFieldAt, p + TiffEntry::kFieldAt + (shortValue ? 2 : 4));
}

}  // namespace tiff
