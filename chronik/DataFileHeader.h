// The header at the start of a diagnostic data file, 100 bytes (numbers are
// unsigned 32-bit little-endian words, times seconds since 1970-01-01 00:00
// UTC):
//   0   30 bytes  magic "KORVAL DIAGNOSE DATABASE V1.00", no terminating zero
//   30            seconds per file (from the index header at creation)
//   34            creation time (time of the event that made the file)
//   38            time of the last stored event
//   42            512, payload words per block
//   46            next free block number (128 after creation; the number of
//                 blocks in the file)
//   50  50 bytes  zero
// The block directory follows at 100 (DirectoryEntry.h), the blocks at 1124
// (BlockHeader.h).
#pragma once

#include <cstdint>

struct DataFileHeader {
    static constexpr char kMagic[] = "KORVAL DIAGNOSE DATABASE V1.00";
    static constexpr uint32_t kMagicLength = 30;
    static constexpr uint32_t kSpanOffset = 30;
    static constexpr uint32_t kCreationOffset = 34;
    static constexpr uint32_t kLastEventOffset = 38;
    static constexpr uint32_t kWordsPerBlockOffset = 42;
    static constexpr uint32_t kNextFreeOffset = 46;
    static constexpr uint32_t kSize = 100;

    uint32_t secondsPerFile = 0;
    uint32_t creationTime = 0;
    uint32_t lastEventTime = 0;
    uint32_t wordsPerBlock = 0;
    uint32_t nextFreeBlock = 0;

    // The fields of the kSize bytes at p (the magic is checked by HasMagic).
    static DataFileHeader Decode(const uint8_t* p);
    // The magic and the fields into the kSize bytes at p; the rest zero.
    void Encode(uint8_t* p) const;
    // The kMagicLength bytes at p are the magic.
    static bool HasMagic(const uint8_t* p);
};
