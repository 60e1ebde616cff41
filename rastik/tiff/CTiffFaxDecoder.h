// CCITT Modified Huffman decoding of TIFF strips (compression 2): every row
// starts on a byte boundary and is a sequence of run lengths, white first,
// colours alternating, coded with the one-dimensional code tables of ITU-T
// T.4. Rows are produced as packed 1-bit pixels, most significant bit first,
// white runs as 0 bits and black runs as 1 bits; the image's photometric
// interpretation then says which shows as white.
#pragma once

#include <cstdint>

#include "rastik/support/ByteOrder.h"
#include "rastik/tiff/CTiffDecoder.h"

class CTiffFaxDecoder : public CTiffDecoder {
public:
    using CTiffDecoder::CTiffDecoder;

    // Rows of one 1-bit sample per pixel only.
    static bool Takes(uint32_t bits, uint32_t samples) { return bits == 1 && samples == 1; }

    bool Start(CTiffStripBytes& bytes) override;
    uint8_t* DecodeRow(uint8_t* row) override;
    // Decodes the next row of width pixels into row ((width + 7) / 8
    // bytes). An end-of-line or invalid code, or the end of the strip's
    // data, ends the row there, the rest staying white; runs past the width
    // are cut at it. Always 1.
    int ReadHuffmanTiff(uint8_t* row, uint32_t width);

private:
    // A run of one colour: make-up codes then a terminating code. The run
    // length, or -1 when the row cannot go on.
    int32_t ReadRun(bool black, uint32_t limit);
    int32_t ReadCode(bool black);

    rastik::CMsbBitReader m_bits{nullptr, nullptr};
};
