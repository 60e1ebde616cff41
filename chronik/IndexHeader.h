// The header of the index file "Index.API", 43 bytes (unsigned 32-bit
// little-endian words):
//   0   31 bytes  magic "KORVAL DIAGNOSE FILEINDEX V1.00", no terminating zero
//   31            seconds per data file (copied into every new data file)
//   35            number of entries
//   39            length of the index file in bytes (43 + 32 * entries)
// The entries follow from offset 43 (IndexEntry.h).
#pragma once

#include <cstdint>

struct IndexHeader {
    static constexpr char kMagic[] = "KORVAL DIAGNOSE FILEINDEX V1.00";
    static constexpr uint32_t kMagicLength = 31;
    static constexpr uint32_t kSpanOffset = 31;
    static constexpr uint32_t kCountOffset = 35;
    static constexpr uint32_t kLengthOffset = 39;
    static constexpr uint32_t kSize = 43;

    uint32_t secondsPerFile = 0;
    uint32_t count = 0;
    uint32_t length = 0;

    // The fields of the kSize bytes at p (the magic is checked by HasMagic).
    static IndexHeader Decode(const uint8_t* p);
    // The magic and the fields into the kSize bytes at p.
    void Encode(uint8_t* p) const;
    // The kMagicLength bytes at p are the magic.
    static bool HasMagic(const uint8_t* p);
};
