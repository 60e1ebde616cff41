// Colour conversion between RGB and CMYK with grey-component replacement:
// K = 255 - max(R, G, B), and C, M, Y scaled to what is left above K.
#include "rastik/Convert.h"

namespace {

inline void RgbPixelToCmyk(uint8_t r, uint8_t g, uint8_t b, uint8_t* c, uint8_t* m, uint8_t* y, uint8_t* k)
{
    uint32_t mx = r > g ? r : g;
    if (b > mx) mx = b;
    *k = static_cast<uint8_t>(255 - mx);
    if (mx == 0) {
        *c = *m = *y = 0;
        return;
    }
    // Rounded: component = (max - v) * 255 / max.
    *c = static_cast<uint8_t>(((mx - r) * 255u + mx / 2) / mx);
    *m = static_cast<uint8_t>(((mx - g) * 255u + mx / 2) / mx);
    *y = static_cast<uint8_t>(((mx - b) * 255u + mx / 2) / mx);
}

inline uint8_t CmykComponentToRgb(uint8_t v, uint8_t k)
{
    // v' = 255 - (v * (255 - k) / 255 + k), rounded.
    uint32_t left = 255u - k;
    uint32_t ink = (static_cast<uint32_t>(v) * left + 127u) / 255u;
    return static_cast<uint8_t>(left - ink);
}

}  // namespace

extern "C" void RgbToCmyk(const uint8_t* r, const uint8_t* g, const uint8_t* b, uint8_t* c, uint8_t* m,
                          uint8_t* y, uint8_t* k, uint32_t, uint32_t, uint32_t pixelCount, int)
{
    for (uint32_t i = 0; i < pixelCount; ++i) RgbPixelToCmyk(r[i], g[i], b[i], c + i, m + i, y + i, k + i);
}

extern "C" void CmykToRgb(const uint8_t* c, const uint8_t* m, const uint8_t* y, const uint8_t* k, uint8_t* r,
                          uint8_t* g, uint8_t* b, uint32_t, uint32_t, uint32_t pixelCount, int, int)
{
    for (uint32_t i = 0; i < pixelCount; ++i) {
        r[i] = CmykComponentToRgb(c[i], k[i]);
        g[i] = CmykComponentToRgb(m[i], k[i]);
        b[i] = CmykComponentToRgb(y[i], k[i]);
    }
}

extern "C" void ConvertPixel(int kind, ConvertPixelParams* params, uint32_t* scratch)
{
    if (scratch) *scratch = 0;
    if (kind != 3 || !params || !params->Source || !params->Dest) return;
    const uint8_t* s = params->Source;
    params->Dest[0] = CmykComponentToRgb(s[0], s[3]);
    params->Dest[1] = CmykComponentToRgb(s[1], s[3]);
    params->Dest[2] = CmykComponentToRgb(s[2], s[3]);
}
