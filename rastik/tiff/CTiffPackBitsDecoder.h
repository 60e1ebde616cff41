// PackBits decoding of TIFF strips (compression 32773), one row at a time.
// A control byte n below 128 copies the next n + 1 bytes; above 128 repeats
// the next byte 257 - n times; 128 does nothing. A run that goes on past the
// end of a row carries into the next row of the strip.
#pragma once

#include <cstdint>

#include "rastik/tiff/CTiffDecoder.h"

class CTiffPackBitsDecoder : public CTiffDecoder {
public:
    using CTiffDecoder::CTiffDecoder;

    bool Start(CTiffStripBytes& bytes) override;
    uint8_t* DecodeRow(uint8_t* row) override;
    // Decodes the next rowBytes bytes of the strip into row; what the
    // strip's data does not cover becomes 0.
    void ReadPackBitsTiff(uint8_t* row, uint32_t rowBytes);

private:
    // At least n bytes from m_at on, unless the strip ends first.
    void Want(uint32_t n);

    uint32_t m_literal = 0;  // bytes of a copy still to come
    uint32_t m_repeat = 0;   // repeats of m_value still to come
    uint8_t m_value = 0;
};
