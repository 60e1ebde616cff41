// YCbCr data units to RGB rows with libtiff's fixed-point tables: codes are
// scaled by ReferenceBlackWhite in single precision, the chroma factors are
// 16-bit fixed point, and the green term is shifted down after the sum.
#include "rastik/tiff/CTiffYCbCrRows.h"

#include <algorithm>

namespace {

constexpr int kShift = 16;
constexpr int32_t kHalf = 1 << (kShift - 1);

int32_t Fixed(float x)
{
    return static_cast<int32_t>(x * static_cast<float>(1 << kShift) + 0.5);
}

// NaN, from a file's nonsense fields, becomes low.
float Clamp(float f, float low, float high)
{
    return !(f >= low) ? low : f > high ? high : f;
}

// Black codes beyond this are nonsense; they are taken to it, so the
// whole-number step below stays within an int.
constexpr float kFarthestBlack = 1 << 20;

// A code c on the scale from black to white, times range; the black code
// is taken to a whole number for the difference, not for the span.
float CodeToValue(int32_t c, float black, float white, float range)
{
    float span = white - black;
    int32_t whole = static_cast<int32_t>(Clamp(black, -kFarthestBlack, kFarthestBlack));
    return static_cast<float>(c - whole) * range / (span != 0 ? span : 1);
}

uint8_t ClampByte(int32_t v)
{
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

}  // namespace

CTiffYCbCrRows::CTiffYCbCrRows(uint32_t width, uint32_t subH, uint32_t subV, const float* coefficients,
                               const float* referenceBlackWhite)
    : m_width(width), m_h(subH), m_v(subV)
{
    auto valid = [](uint32_t s) { return s == 1 || s == 2 || s == 4; };
    m_ok = width > 0 && width <= (1u << 28) && valid(subH) && valid(subV);
    if (m_ok) m_unitRowBytes = static_cast<size_t>((width + subH - 1) / subH) * (subH * subV + 2);
    MakeTables(coefficients, referenceBlackWhite);
}

void CTiffYCbCrRows::MakeTables(const float* coefficients, const float* referenceBlackWhite)
{
    static const float kLuma[3] = {0.299f, 0.587f, 0.114f};
    static const float kBlackWhite[6] = {0, 255, 128, 255, 128, 255};
    const float* luma = coefficients ? coefficients : kLuma;
    const float* bw = referenceBlackWhite ? referenceBlackWhite : kBlackWhite;
    float red = luma[0], green = luma[1], blue = luma[2];
    double redSpan = 2.0 - 2.0 * red, blueSpan = 2.0 - 2.0 * blue;
    int32_t crR = Fixed(Clamp(static_cast<float>(redSpan), 0, 2));
    int32_t cbB = Fixed(Clamp(static_cast<float>(blueSpan), 0, 2));
    int32_t crG = -Fixed(Clamp(static_cast<float>(red * redSpan / green), 0, 2));
    int32_t cbG = -Fixed(Clamp(static_cast<float>(blue * blueSpan / green), 0, 2));
    for (int i = 0; i < 256; ++i) {
        int32_t x = i - 128;
        auto chroma = [&](float black, float white) {
            return static_cast<int32_t>(Clamp(CodeToValue(x, black - 128.0f, white - 128.0f, 127), -128.0f * 32, 128.0f * 32));
        };
        int32_t cr = chroma(bw[4], bw[5]), cb = chroma(bw[2], bw[3]);
        m_crToR[i] = (crR * cr + kHalf) >> kShift;
        m_cbToB[i] = (cbB * cb + kHalf) >> kShift;
        m_crToG[i] = crG * cr;
        m_cbToG[i] = cbG * cb + kHalf;
        m_y[i] = static_cast<int32_t>(Clamp(CodeToValue(i, bw[0], bw[1], 255), -128.0f * 32, 128.0f * 32));
    }
}

void CTiffYCbCrRows::ToRgb(uint32_t y, uint32_t cb, uint32_t cr, uint8_t* rgb) const
{
    int32_t luma = m_y[y & 0xFF];
    rgb[0] = ClampByte(luma + m_crToR[cr & 0xFF]);
    rgb[1] = ClampByte(luma + ((m_cbToG[cb & 0xFF] + m_crToG[cr & 0xFF]) >> kShift));
    rgb[2] = ClampByte(luma + m_cbToB[cb & 0xFF]);
}

void CTiffYCbCrRows::Start(const uint8_t* data, size_t size)
{
    m_at = data;
    m_end = data ? data + size : data;
    m_row = 0;
}

bool CTiffYCbCrRows::DecodeRow(uint8_t* rgb)
{
    if (!m_ok) return false;
    size_t have = m_at ? static_cast<size_t>(m_end - m_at) : 0;
    uint32_t unitBytes = m_h * m_v + 2;
    size_t units = std::min<size_t>(have / unitBytes, (m_width + m_h - 1) / m_h);
    const uint8_t* unit = m_at;
    uint32_t x = 0;
    for (size_t u = 0; u < units; ++u, unit += unitBytes) {
        const uint8_t* luma = unit + m_row * m_h;
        for (uint32_t k = 0; k < m_h && x < m_width; ++k, ++x) ToRgb(luma[k], unit[m_h * m_v], unit[m_h * m_v + 1], rgb + 3 * x);
    }
    for (; x < m_width; ++x) ToRgb(0, 128, 128, rgb + 3 * x);
    bool whole = have >= m_unitRowBytes;
    SkipRow();
    return whole;
}

bool CTiffYCbCrRows::SkipRow()
{
    if (!m_ok) return false;
    size_t have = m_at ? static_cast<size_t>(m_end - m_at) : 0;
    bool whole = have >= m_unitRowBytes;
    if (++m_row == m_v) {
        m_row = 0;
        m_at += std::min(have, m_unitRowBytes);
    }
    return whole;
}
