// Encoder of GIF's variable-width LZW codes with the data sub-block framing.
// The stream starts with its minimum code size byte and a clear code; the
// string table is looked up in an open-addressing hash table keyed by the
// string's code and the next pixel. Codes are packed least significant bit
// first into a 64-bit accumulator that leaves whole bytes at a time; the
// packed stream is cut into sub-blocks of 255 data bytes (each after its
// length byte) and written a few kilobytes at a time. The code width grows
// right after code 2^width is handed out; when the table is full at 12 bits
// a clear code starts afresh.
#pragma once

#include <cstdint>

#include "platform/CFile.h"
#include "rastik/support/NonCopyable.h"

class CGifLzwEncoder : private NonCopyable {
public:
    explicit CGifLzwEncoder(CFile& file) : m_file(file) {}

    // Starts a stream for pixels of 1 to 8 bits (values are taken modulo
    // 2^bits): minimum code size max(bits, 2), written as one byte, then the
    // clear code.
    void Start(uint32_t bits);
    // Encodes count more pixels; strings run on across calls (rows). Full
    // sub-blocks may be written (file writes throw CFileException).
    void Add(const uint8_t* pixels, uint32_t count);
    // Emits the current string and the end code, passes the last partial
    // byte and sub-block on and writes what is left (without the block
    // terminator). File writes throw CFileException.
    void Finish();

    static constexpr uint32_t kSubBlockBytes = 255;

private:
    static constexpr uint32_t kMaxCodes = 4096;
    static constexpr uint32_t kMaxWidth = 12;
    // Table slots hold key << kCodeBits | code, key = string << 8 | pixel
    // (20 bits); 0 marks a free slot (no code below the clear code + 2 is
    // ever stored). Eight times as many slots as codes keep probes short;
    // a clear empties only the slots that were used.
    static constexpr uint32_t kCodeBits = 12;
    static constexpr uint32_t kSlotBits = 15;
    static constexpr uint32_t kSlots = 1u << kSlotBits;
    // Packed bytes collect until this many full sub-blocks are at hand.
    static constexpr uint32_t kBlocksPerWrite = 32;
    static constexpr uint32_t kPackedBytes = kBlocksPerWrite * kSubBlockBytes;

    static uint32_t SlotOf(uint32_t key);
    // Empties the slots of the codes handed out and starts the codes afresh.
    void ClearTable();
    // Places a code of the current width above the bits held.
    void WriteCode(uint32_t code);
    // Passes the full sub-blocks of the packed bytes on; with last, also the
    // final partial one.
    void WriteSubBlocks(bool last);
    void StartTable();

    CFile& m_file;
    // The codes of the minimum code size, and the pixel bits it keeps.
    uint32_t m_clear = 0, m_endCode = 0, m_minCodeSize = 0, m_pixelMask = 0;
    // The current code width, the code that widens it, the next free code.
    uint32_t m_width = 0, m_limit = 0, m_next = 0;
    // The string being matched.
    uint32_t m_string = 0;
    bool m_haveString = false;
    // The minimum code size byte waits to go out with the first sub-blocks.
    bool m_startPending = false;

    uint32_t m_table[kSlots];
    // The slot each code was stored in.
    uint16_t m_slotOfCode[kMaxCodes];

    uint64_t m_accumulator = 0;
    uint32_t m_bitCount = 0;
    // Packed code bytes not yet cut into sub-blocks; the slack takes the
    // whole accumulator stored past the last byte.
    uint8_t m_packed[kPackedBytes + 2 * sizeof(uint64_t)];
    uint32_t m_packedCount = 0;
    // The code size byte and the sub-blocks of one write: the full ones and
    // at the end one partial.
    uint8_t m_blocks[1 + (kBlocksPerWrite + 1) * (kSubBlockBytes + 1)];
};
