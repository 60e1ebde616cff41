// The DCT decoder's conversion of inverse-transform outputs into bytes:
// rows of one component, rows of Y, Cb and Cr into R, G and B, and whole
// MCUs of Y with one block each of Cb and Cr, in vector registers where the
// processor has them. A transform output s is (sample - 128) x 2^17.
#pragma once

#include <cstddef>
#include <cstdint>

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
// Sums and products are taken modulo 2^32.
__attribute__((visibility("hidden"))) void DctOutputRgb(const int32_t* y, const int32_t* cb, const int32_t* cr,
                                                        uint8_t* r, uint8_t* g, uint8_t* b, uint32_t n);

// A whole MCU in the same way: Y of h x v blocks (h, v 1 or 2; row stride
// 8 h) and one 8 x 8 block each of Cb and Cr, repeated across the MCU.
// With step 3 the pixels go interleaved to out[0], else to the planes
// out[0..2]; out points at the MCU's top-left, rows rowStride apart.
__attribute__((visibility("hidden"))) void DctOutputYcc(const int32_t* y, const int32_t* cb, const int32_t* cr,
                                                        uint32_t h, uint32_t v, uint8_t* const* out,
                                                        size_t rowStride, uint32_t step);
