// One 12-byte image file directory entry, as the reader takes it and the
// writer stores it: tag (16 bits) at 0, type (16 bits) at 2, value count
// (32 bits) at 4, value field (4 bytes) at 8, each in the file's byte order.
// Items that fit into the value field stand there left-aligned; larger values
// lie at the offset the field holds. One SHORT is read as 16 bits, anything
// else as the whole 32-bit field.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "rastik/support/ByteOrder.h"
#include "rastik/tiff/TiffTags.h"

namespace tiff {

struct TiffEntry {
    static constexpr uint32_t kTagAt = 0, kTypeAt = 2, kCountAt = 4, kFieldAt = 8;

    uint16_t tag = 0;
    uint16_t type = 0;
    uint32_t count = 0;
    // One SHORT: its 16 bits; otherwise the whole field (a LONG, an offset).
    uint32_t value = 0;
    // The second of two SHORT items (writing).
    uint16_t second = 0;
    // The value field as stored (reading).
    uint8_t field[4] = {};

    bool OneShort() const { return type == kShort && count == 1; }

    static TiffEntry Read(const uint8_t* p, bool little)
    {
        TiffEntry e;
        e.tag = rastik::Get16(p + kTagAt, little);
        e.type = rastik::Get16(p + kTypeAt, little);
        e.count = rastik::Get32(p + kCountAt, little);
        memcpy(e.field, p + kFieldAt, sizeof e.field);
        e.value = e.OneShort() ? rastik::Get16(e.field, little) : rastik::Get32(e.field, little);
        return e;
    }

    // Up to two SHORT items stand in the field; anything else is value.
    void Write(uint8_t* p, bool little) const
    {
        rastik::Put16(p + kTagAt, tag, little);
        rastik::Put16(p + kTypeAt, type, little);
        rastik::Put32(p + kCountAt, count, little);
        if (type == kShort && count <= 2) {
            rastik::Put16(p + kFieldAt, static_cast<uint16_t>(value), little);
            rastik::Put16(p + kFieldAt + 2, second, little);
        } else {
            rastik::Put32(p + kFieldAt, value, little);
        }
    }
};

// Turns an entry into the other byte order in place: tag, type and count,
// and the value field as 16 bits for one SHORT, else as 32 bits. The type
// and count are taken in host order: before the swap when the entry is in
// host order now, after it when it is in the other order.
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
