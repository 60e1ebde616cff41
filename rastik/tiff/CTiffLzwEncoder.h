// LZW coder of TIFF strips (compression 5): each strip is one complete code
// stream, Clear first and end-of-information last, codes of 9 to 12 bits
// packed most significant bit first. Rows are horizontally differenced
// (Predictor 2) before coding. The code width grows one code early, as
// every TIFF reader since 1991 expects: after code 511, 1023 and 2047 are
// assigned; a table filled to code 4094 is cleared.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/LargeBlock.h"

class CTiffLzwEncoder {
public:
    // Rows of rowBytes bytes with samples bytes per pixel.
    CTiffLzwEncoder(uint32_t rowBytes, uint32_t samples);

    // Sizes the output for strips of up to rows rows; false when the
    // memory cannot be had.
    bool Reserve(uint32_t rows);
    // Codes rowCount rows as one strip; false when the strip has more rows
    // than reserved.
    bool iEncodeTIF_LZW(const uint8_t* rows, uint32_t rowCount);
    const uint8_t* Data() const { return m_out.data(); }
    // Bytes of the last strip's code stream.
    uint32_t Length() const { return m_length; }

    // Most bytes a strip of bytes input bytes codes into.
    static uint64_t Bound(uint64_t bytes);

private:
    void ResetTable();
    // Writes string code w followed by byte c into the table (when there is
    // room) and keeps the width and the Clear in step with the decoder.
    void AddString(uint32_t w, uint32_t slot, uint8_t c);
    void iTIF_LZW_WriteCode(uint16_t code, uint8_t width);
    void Flush();

    uint32_t m_rowBytes;
    uint32_t m_samples;
    uint32_t m_reservedRows = 0;

    // Open-addressed string table: key (generation, prefix code << 8 |
    // byte) and code of each slot.
    std::vector<uint32_t> m_keys;
    uint32_t m_generation = 0;
    std::vector<uint16_t> m_codes;
    uint32_t m_next = 0;
    uint32_t m_limit = 0;
    uint8_t m_width = 0;

    std::vector<uint8_t> m_diff;
    LargeVector<uint8_t> m_out;
    uint32_t m_length = 0;
    uint32_t m_bits = 0;      // bit accumulator
    uint32_t m_pending = 0;   // bits waiting in the accumulator
};
