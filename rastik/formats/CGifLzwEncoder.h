// Encoder of GIF's variable-width LZW codes with the data sub-block framing.
// The stream starts with its minimum code size byte and a clear code; strings
// are looked up in an open-addressing hash table of 5,051 slots (a prime, so
// the probe visits every slot) keyed by the string's code and the next pixel.
// Codes are packed least significant bit first into sub-blocks of 255 data
// bytes, which are collected in a 2,000-byte staging area and written a
// staging area at a time. The code width grows right after code 2^width is
// handed out; when the table is full at 12 bits a clear code starts afresh.
#pragma once

#include <cstdint>

#include "platform/CFile.h"

class CGifLzwEncoder {
public:
    explicit CGifLzwEncoder(CFile& file) : m_file(file) {}
    CGifLzwEncoder(const CGifLzwEncoder&) = delete;
    CGifLzwEncoder& operator=(const CGifLzwEncoder&) = delete;

    // Starts a stream for pixels of 1 to 8 bits (values are taken modulo
    // 2^bits): minimum code size max(bits, 2), written as one byte, then the
    // clear code.
    void Start(uint32_t bits);
    // Encodes count more pixels; strings run on across calls (rows).
    void Add(const uint8_t* pixels, uint32_t count);
    // Emits the current string and the end code, passes the last partial
    // byte and sub-block on and writes what is staged (without the block
    // terminator). File writes throw CFileException.
    void Finish();

    static constexpr uint32_t kTableSlots = 5051;
    static constexpr uint32_t kSubBlockBytes = 255;
    static constexpr uint32_t kStagingBytes = 2000;

private:
    static constexpr uint32_t kMaxCodes = 4096;
    static constexpr uint32_t kMaxWidth = 12;
    static constexpr uint32_t kEmpty = 0xFFFFFFFFu;

    // Places a code of the current width above the bits held; whole bytes
    // go into the sub-block.
    void WriteCode(uint32_t code);
    void PutByte(uint8_t byte);
    // Passes the sub-block on to the staging area (written out first when
    // another full sub-block would not fit).
    void EndSubBlock();
    void ResetTable();

    CFile& m_file;
    uint32_t m_clear = 0;
    uint32_t m_endCode = 0;
    uint32_t m_minCodeSize = 0;
    uint32_t m_pixelMask = 0;
    uint32_t m_width = 0;
    uint32_t m_limit = 0;
    uint32_t m_next = 0;
    uint32_t m_string = 0;
    bool m_haveString = false;

    // Slot keys (string code << 8 | pixel) and the codes they were given.
    uint32_t m_keys[kTableSlots];
    uint16_t m_codes[kTableSlots];

    uint32_t m_accumulator = 0;
    uint32_t m_bitCount = 0;
    // Byte 0 holds the length once the sub-block is passed on.
    uint8_t m_subBlock[kSubBlockBytes + 1];
    uint32_t m_fill = 1;
    uint8_t m_staging[kStagingBytes];
    uint32_t m_staged = 0;
};
