// Conversion of the DCT decoder's transform outputs into bytes: the level
// shift, rounding and clamping of one component, and the YCbCr to RGB
// conversion with its interleaving, on vectors of eight values.
#include "rastik/jpeg/DctOutput.h"

#include <emmintrin.h>

#include "rastik/jpeg/DctVector.h"

namespace {

using Quad = int32_t __attribute__((vector_size(16)));
using Bytes16 = uint8_t __attribute__((vector_size(16)));

// Eight 32-bit values as eight 16-bit ones, saturated.
DCT_INLINE __m128i Narrow(const Row& x)
{
    Quad low = __builtin_shufflevector(x, x, 0, 1, 2, 3);
    Quad high = __builtin_shufflevector(x, x, 4, 5, 6, 7);
    return _mm_packs_epi32(reinterpret_cast<__m128i>(low), reinterpret_cast<__m128i>(high));
}

// (v >> 17) of the sixteen values of a and b clamped to 0..255: the two
// saturating narrowings clamp exactly.
DCT_INLINE Bytes16 Pack(const URow& a, const URow& b)
{
    return reinterpret_cast<Bytes16>(_mm_packus_epi16(Narrow(Row(a) >> 17), Narrow(Row(b) >> 17)));
}

// n pixels (8 or 16) of R, G and B as 3 n interleaved bytes: four pixels at
// a time, each store but the last running 4 bytes into the next group.
DCT_INLINE void StoreRgb(uint8_t* out, const Bytes16& r, const Bytes16& g, const Bytes16& b, uint32_t n)
{
    Bytes16 rg0 = __builtin_shufflevector(r, g, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
    Bytes16 group0 = __builtin_shufflevector(rg0, b, 0, 1, 16, 2, 3, 17, 4, 5, 18, 6, 7, 19, 0, 0, 0, 0);
    Bytes16 group1 = __builtin_shufflevector(rg0, b, 8, 9, 20, 10, 11, 21, 12, 13, 22, 14, 15, 23, 0, 0, 0, 0);
    std::memcpy(out, &group0, 16);
    if (n == 8) {
        std::memcpy(out + 12, &group1, 12);
        return;
    }
    Bytes16 rg1 = __builtin_shufflevector(r, g, 8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
    Bytes16 group2 = __builtin_shufflevector(rg1, b, 0, 1, 24, 2, 3, 25, 4, 5, 26, 6, 7, 27, 0, 0, 0, 0);
    Bytes16 group3 = __builtin_shufflevector(rg1, b, 8, 9, 28, 10, 11, 29, 12, 13, 30, 14, 15, 31, 0, 0, 0, 0);
    std::memcpy(out + 12, &group1, 16);
    std::memcpy(out + 24, &group2, 16);
    std::memcpy(out + 36, &group3, 12);
}

// The chroma terms of eight Cb and Cr outputs: 45941 Cr', -11277 Cb' -
// 23400 Cr' and 58065 Cb'.
struct Chroma {
    URow r, g, b;
};

DCT_INLINE void ChromaTerms(Chroma& t, const int32_t* cb, const int32_t* cr)
{
    URow vcb, vcr;
    Load(vcb, cb), Load(vcr, cr);
    vcb = URow(Row(vcb) >> 15);
    vcr = URow(Row(vcr) >> 15);
    t.r = vcr * 45941u;
    t.g = 0u - vcb * 11277u - vcr * 23400u;
    t.b = vcb * 58065u;
}

// Each of the eight terms twice: the first four into low, the rest into high.
DCT_INLINE void Spread(const URow& t, URow& low, URow& high)
{
    low = __builtin_shufflevector(t, t, 0, 0, 1, 1, 2, 2, 3, 3);
    high = __builtin_shufflevector(t, t, 4, 4, 5, 5, 6, 6, 7, 7);
}

DCT_INLINE void DctOutputBytesBody(DctOutputKind kind, const int32_t* s, uint8_t* out, uint32_t n)
{
    const Bytes16 flip = Bytes16{} + 0xFF;
    for (uint32_t x = 0; x < n; x += 16) {
        URow v[2];
        Load(v[0], s + x);
        if (x + 8 < n) Load(v[1], s + x + 8);
        else v[1] = v[0];
        for (URow& u : v) u = kind == DctOutputKind::Shifted ? u + 0x1010000u : 0xFF0000u - u;
        Bytes16 bytes = Pack(v[0], v[1]);
        if (kind == DctOutputKind::Upright) bytes ^= flip;
        std::memcpy(out + x, &bytes, x + 8 < n ? 16 : 8);
    }
}

DCT_INLINE void DctOutputRgbBody(const int32_t* y, const int32_t* cb, const int32_t* cr, uint8_t* r, uint8_t* g,
                                 uint8_t* b, uint32_t n)
{
    for (uint32_t x = 0; x < n; x += 8) {
        Chroma t;
        ChromaTerms(t, cb + x, cr + x);
        URow vy;
        Load(vy, y + x);
        vy += 0x1010000u;
        Bytes16 vr = Pack(vy + t.r, vy + t.r), vg = Pack(vy + t.g, vy + t.g), vb = Pack(vy + t.b, vy + t.b);
        std::memcpy(r + x, &vr, 8);
        std::memcpy(g + x, &vg, 8);
        std::memcpy(b + x, &vb, 8);
    }
}

DCT_INLINE void DctOutputYccBody(const int32_t* y, const int32_t* cb, const int32_t* cr, uint32_t h, uint32_t v,
                                 uint8_t* const* out, size_t rowStride, uint32_t step)
{
    uint32_t n = 8 * h;
    size_t offset = 0;
    for (uint32_t cy = 0; cy < 8; ++cy) {
        Chroma t, left, right;
        ChromaTerms(t, cb + 8 * cy, cr + 8 * cy);
        if (h == 2) {
            Spread(t.r, left.r, right.r);
            Spread(t.g, left.g, right.g);
            Spread(t.b, left.b, right.b);
        } else {
            left = right = t;
        }
        for (uint32_t ly = 0; ly < v; ++ly, offset += rowStride) {
            const int32_t* row = y + (cy * v + ly) * n;
            URow y0, y1;
            Load(y0, row);
            y0 += 0x1010000u;
            if (h == 2) {
                Load(y1, row + 8);
                y1 += 0x1010000u;
            } else {
                y1 = y0;
            }
            Bytes16 r = Pack(y0 + left.r, y1 + right.r);
            Bytes16 g = Pack(y0 + left.g, y1 + right.g);
            Bytes16 b = Pack(y0 + left.b, y1 + right.b);
            if (step == 3) {
                StoreRgb(out[0] + offset, r, g, b, n);
            } else {
                std::memcpy(out[0] + offset, &r, n);
                std::memcpy(out[1] + offset, &g, n);
                std::memcpy(out[2] + offset, &b, n);
            }
        }
    }
}

}  // namespace

DCT_TWO_BUILDS(DctOutputBytes, (DctOutputKind kind, const int32_t* s, uint8_t* out, uint32_t n), (kind, s, out, n))
DCT_TWO_BUILDS(DctOutputRgb,
               (const int32_t* y, const int32_t* cb, const int32_t* cr, uint8_t* r, uint8_t* g, uint8_t* b,
                uint32_t n),
               (y, cb, cr, r, g, b, n))
DCT_TWO_BUILDS(DctOutputYcc,
               (const int32_t* y, const int32_t* cb, const int32_t* cr, uint32_t h, uint32_t v, uint8_t* const* out,
                size_t rowStride, uint32_t step),
               (y, cb, cr, h, v, out, rowStride, step))
