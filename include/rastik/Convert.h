// Colour-space conversion of 8-bit planar rows: RGB to CMYK and back, and one
// CMYK pixel to RGB. The two directions agree: RGB -> CMYK -> RGB returns the
// input within 1.
#pragma once

#include <cstdint>

#include "rastik/RastikApi.h"

extern "C" {

// One row of planar RGB into planar CMYK (grey-component replacement,
// K = 255 - max(R, G, B)). The strides and the last argument are accepted for
// the calling convention; one row of pixelCount pixels is converted.
RASTIK_API void RgbToCmyk(const uint8_t* r, const uint8_t* g, const uint8_t* b,
                          uint8_t* c, uint8_t* m, uint8_t* y, uint8_t* k,
                          uint32_t srcStride, uint32_t dstStride, uint32_t pixelCount, int flags);

// One row of planar CMYK into planar RGB.
RASTIK_API void CmykToRgb(const uint8_t* c, const uint8_t* m, const uint8_t* y, const uint8_t* k,
                          uint8_t* r, uint8_t* g, uint8_t* b,
                          uint32_t srcStride, uint32_t dstStride, uint32_t pixelCount, int flags1, int flags2);

// Parameter block of ConvertPixel.
struct ConvertPixelParams {
    const uint8_t* Source;  // C, M, Y, K
    uint8_t* Dest;          // R, G, B
    uint32_t Flags[4];      // each 1
};

// Kind 3 converts one CMYK pixel to RGB; other kinds do nothing.
RASTIK_API void ConvertPixel(int kind, ConvertPixelParams* params, uint32_t* scratch);
}
