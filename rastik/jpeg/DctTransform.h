// The forward DCT of the encoder, the inverse DCT of the decoder and the
// decoder's conversion of transform outputs into bytes, on whole blocks and
// rows, in vector registers where the processor has them.
#pragma once

#include <cstddef>
#include <cstdint>

// 64 samples of source in natural order into block (which may be source
// itself): the fast 8-point DCT on every row, then on every column; products
// (x * C) >> 9; outputs unnormalised.
__attribute__((visibility("hidden"))) void DctForwardTransform(const int32_t* source, int32_t* block);

// 64 dequantised coefficients of block (natural order, each multiplied by its
// scale factor of 2^14 s(u) s(v)) into eight rows of out, stride apart: the
// inverse flow graph down every column, then along every row; products
// (x >> 14) * C, sums modulo 2^32. Outputs are (sample - 128) x 2^17.
__attribute__((visibility("hidden"))) void DctInverseTransform(const int32_t* block, int32_t* out, size_t stride);

// How the decoder turns a transform output s into a byte.
enum class DctOutputKind {
    Shifted,   // (s + 0x1010000) >> 17: level shift by 128 and rounding by one half
    Inverted,  // (0xFF0000 - s) >> 17: inverted, with the same rounding
    Upright    // 255 - ((0xFF0000 - s) >> 17): inverted twice
};

// n outputs (a multiple of 8) into n bytes; the shifted values are clamped
// to 0..255.
__attribute__((visibility("hidden"))) void DctOutputBytes(DctOutputKind kind, const int32_t* s, uint8_t* out,
                                                          uint32_t n);

// n outputs of Y, Cb and Cr (a multiple of 8) into R, G and B bytes:
// Y' = Y + 0x1010000, Cb' = Cb >> 15, Cr' = Cr >> 15; R = Y' + 45941 Cr',
// G = Y' - 11277 Cb' - 23400 Cr', B = Y' + 58065 Cb' (1.402, 0.34414,
// 0.71414 and 1.772 scaled by 2^15), each >> 17 and clamped to 0..255.
__attribute__((visibility("hidden"))) void DctOutputRgb(const int32_t* y, const int32_t* cb, const int32_t* cr,
                                                        uint8_t* r, uint8_t* g, uint8_t* b, uint32_t n);
