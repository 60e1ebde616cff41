// The blocks of a data file and the header each one begins with. Blocks are
// 2072 bytes long; block n (primary blocks 0 to 127, one per node, then
// overflow blocks appended at the end) lies at 1124 + 2072 * n. A block is a
// 24-byte header of six unsigned 32-bit little-endian words
//   0   first time: primary block: the file's creation time; overflow block:
//       the time of the event whose record opened it
//   4   last time: time of the last event written into the block
//   8   payload start: absolute file offset of the payload (block + 24)
//   12  used payload words * 2 + continued bit (bit 0: the block is full and
//       the chain goes on)
//   16  offset of the next block of the chain, 0 while there is none
//   20  leading-word word: L * 2 + all-codes bit. L words at the start of the
//       payload finish a record begun in the previous block of the chain; the
//       bit is 1 when all L are codes, 0 when the first is the record's code
//       count; 0 when the payload begins with a new record
// followed by a payload of 512 words. A full block has 1025 at offset 12.
//
// Event record in a payload: time, count n (at most 1024), n codes; records
// follow one another without gaps along a chain. The writer never stores a
// time of 0.
#pragma once

#include <cstdint>

struct BlockHeader {
    static constexpr uint32_t kFirstTimeOffset = 0;
    static constexpr uint32_t kLastTimeOffset = 4;
    static constexpr uint32_t kPayloadStartOffset = 8;
    static constexpr uint32_t kUsedOffset = 12;
    static constexpr uint32_t kNextOffset = 16;
    static constexpr uint32_t kLeadingOffset = 20;
    static constexpr uint32_t kSize = 24;

    static constexpr uint32_t kPayloadWords = 512;
    static constexpr uint32_t kBlockSize = kSize + 4 * kPayloadWords;
    static constexpr uint32_t kFirstBlockOffset = 1124;
    static constexpr uint32_t kMaxCodesPerRecord = 1024;

    uint32_t firstTime = 0;
    uint32_t lastTime = 0;
    uint32_t payloadStart = 0;
    uint32_t used = 0;         // used payload words, as stored (up to 31 bits)
    bool continued = false;
    uint32_t next = 0;
    uint32_t leading = 0;      // L, as stored (up to 31 bits)
    bool allCodes = false;

    // The six words at p.
    static BlockHeader Decode(const uint8_t* p);
    // The six words into the kSize bytes at p.
    void Encode(uint8_t* p) const;

    uint32_t UsedWord() const { return used * 2 + (continued ? 1 : 0); }
    uint32_t LeadingWord() const { return leading * 2 + (allCodes ? 1 : 0); }
    // The used-word word of a full block whose chain goes on.
    static constexpr uint32_t kFullUsedWord = kPayloadWords * 2 + 1;

    // The header of an empty block at offset block, opened at time.
    static BlockHeader Fresh(uint32_t block, uint32_t time);

    static constexpr uint32_t BlockOffset(uint32_t blockNumber) { return kFirstBlockOffset + kBlockSize * blockNumber; }
    static bool IsBlockBoundary(uint64_t offset)
    {
        return offset >= kFirstBlockOffset && (offset - kFirstBlockOffset) % kBlockSize == 0;
    }
};
