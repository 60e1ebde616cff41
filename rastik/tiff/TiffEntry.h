// One 12-byte image file directory entry, as the reader takes it and the
// writer stores it: tag (16 bits) at 0, type (16 bits) at 2, value count
// (32 bits) at 4, value field (4 bytes) at 8, each in the file's byte order.
// Items that fit into the value field stand there left-aligned; larger values
// lie at the offset the field holds. One SHORT is read as 16 bits, anything
// else as the whole 32-bit field.
#pragma once

#include <cstdint>
#include <cstring>
#include <utility>

#include "rastik/support/ByteOrder.h"
#include "rastik/tiff/TiffTags.h"

namespace tiff {

constexpr uint32_t kEntryTagAt = 0;
constexpr uint32_t kEntryTypeAt = 2;
constexpr uint32_t kEntryCountAt = 4;
constexpr uint32_t kEntryFieldAt = 8;

struct TiffEntry {
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
        e.tag = rastik::Get16(p + kEntryTagAt, little);
        e.type = rastik::Get16(p + kEntryTypeAt, little);
        e.count = rastik::Get32(p + kEntryCountAt, little);
        memcpy(e.field, p + kEntryFieldAt, sizeof e.field);
        e.value = e.OneShort() ? rastik::Get16(e.field, little) : rastik::Get32(e.field, little);
        return e;
    }

    // Up to two SHORT items stand in the field; anything else is value.
    void Write(uint8_t* p, bool little) const
    {
        rastik::Put16(p + kEntryTagAt, tag, little);
        rastik::Put16(p + kEntryTypeAt, type, little);
        rastik::Put32(p + kEntryCountAt, count, little);
        if (type == kShort && count <= 2) {
            rastik::Put16(p + kEntryFieldAt, static_cast<uint16_t>(value), little);
            rastik::Put16(p + kEntryFieldAt + 2, second, little);
        } else {
            rastik::Put32(p + kEntryFieldAt, value, little);
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
        return rastik::GetLE16(p + kEntryTypeAt) == kShort && rastik::GetLE32(p + kEntryCountAt) == 1;
    };
    bool shortValue = inHostOrder && oneShort();
    std::swap(p[kEntryTagAt], p[kEntryTagAt + 1]);
    std::swap(p[kEntryTypeAt], p[kEntryTypeAt + 1]);
    std::swap(p[kEntryCountAt], p[kEntryCountAt + 3]);
    std::swap(p[kEntryCountAt + 1], p[kEntryCountAt + 2]);
    if (!inHostOrder) shortValue = oneShort();
    if (shortValue) {
        std::swap(p[kEntryFieldAt], p[kEntryFieldAt + 1]);
    } else {
        std::swap(p[kEntryFieldAt], p[kEntryFieldAt + 3]);
        std::swap(p[kEntryFieldAt + 1], p[kEntryFieldAt + 2]);
    }
}

}  // namespace tiff
