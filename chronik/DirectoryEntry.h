// An entry of a data file's block directory. The directory lies at offset
// 100 and holds 128 entries of 8 bytes (unsigned 32-bit little-endian words);
// entry i (0 to 127) names the node address i + 2 and the offset of block i:
//   0   node address
//   4   offset of the node's first block (1124 + 2072 * i)
#pragma once

#include <cstdint>

struct DirectoryEntry {
    static constexpr uint32_t kDirectoryOffset = 100;
    static constexpr uint32_t kEntries = 128;
    static constexpr uint32_t kAddressOffset = 0;
    static constexpr uint32_t kBlockOffsetOffset = 4;
    static constexpr uint32_t kSize = 8;
    static constexpr uint32_t kDirectorySize = kEntries * kSize;
    static constexpr uint32_t kFirstNode = 2;  // the address of entry 0

    uint32_t address = 0;
    uint32_t blockOffset = 0;

    // Entry i of the directory whose bytes start at directory.
    static DirectoryEntry Decode(const uint8_t* directory, uint32_t i);
    void Encode(uint8_t* directory, uint32_t i) const;
    // Where entry i starts, counted from the start of the directory.
    static constexpr uint32_t Position(uint32_t i) { return i * kSize; }
};
