// An entry of the index file, 32 bytes, from offset 43 in ascending order of
// start time (unsigned 32-bit little-endian words):
//   0   start time: the data file's creation time (its header offset 34)
//   4   end time: the time of the last write (a rebuild takes the data file's
//       last-event time, its header offset 38)
//   8   24 bytes  the data file's name, no terminating zero
#pragma once

#include <cstdint>
#include <string>

#include "chronik/IndexHeader.h"

struct IndexEntry {
    uint32_t start = 0;
    uint32_t end = 0;
    std::string name;

    static constexpr uint32_t kStartOffset = 0;
    static constexpr uint32_t kEndOffset = 4;
    static constexpr uint32_t kNameOffset = 8;
    static constexpr uint32_t kNameLength = 24;
    static constexpr uint32_t kSize = 32;

    // The entry in the kSize bytes at p; the name ends at its first zero.
    static IndexEntry Decode(const uint8_t* p);
    // Into the kSize bytes at p, the name cut to 24 characters and padded
    // with zeros.
    void Encode(uint8_t* p) const;
    // The file offset of entry i.
    static constexpr uint64_t Position(uint64_t i) { return IndexHeader::kSize + kSize * i; }
};
