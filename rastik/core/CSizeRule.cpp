// Size modes of whole-file conversion: new size and resolution from the
// source size, its resolution and the size arguments.
#include "rastik/core/CSizeRule.h"

#include <cmath>
#include <cstdint>

#include "rastik/support/Inches.h"

namespace {

// Integer part of a non-negative floating value, held to 32 bits unsigned;
// negative values and NaN give 0.
uint32_t TruncUnsigned(double v)
{
    if (!(v > 0.0)) return 0;
    if (v >= 4294967295.0) return 0xFFFFFFFFu;
    return static_cast<uint32_t>(v);
}

// Integer part of a resolution in dots per inch, held to 0..INT32_MAX.
int32_t WholeDotsPerInch(double dpi)
{
    if (!(dpi > 0.0)) return 0;
    if (dpi >= 2147483647.0) return 0x7FFFFFFF;
    return static_cast<int32_t>(dpi);
}

int32_t ClampResolution(uint32_t v)
{
    return v > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int32_t>(v);
}

}  // namespace

CSizeRule::CSizeRule(uint32_t width, uint32_t height, int32_t dotsPerInch)
    : m_width(width ? width : 1), m_height(height ? height : 1), m_dpi(dotsPerInch < 0 ? 0 : dotsPerInch)
{
}

float CSizeRule::UnitFactor(uint32_t unit)
{
    switch (unit) {
    case 2: return 25.3995f;    // millimetre
    case 3: return static_cast<float>(rastik::kUnitCentimetresPerInch);  // centimetre
    case 4: return 0.0253995f;  // metre
    case 5: return 72.0f;       // point
    case 6: return 6.0f;        // pica
    case 7: return 1440.0f;     // twip
    default: return 1.0f;       // 0 and 1: inch
    }
}

int32_t CSizeRule::DotsPerInch(float resolution, uint32_t unit)
{
    float dpi = resolution * UnitFactor(unit);
    return WholeDotsPerInch(dpi);
}

int32_t CSizeRule::NearestDotsPerInch(float resolution, uint32_t unit)
{
    float dpi = resolution * UnitFactor(unit);
    return WholeDotsPerInch(static_cast<double>(dpi) + 0.5);
}

uint32_t CSizeRule::Scale(uint32_t value, uint32_t num, uint32_t den)
{
    // The integer product is kept whole (a 32-bit product would wrap for
    // very wide images or high resolutions) and divided in floating point.
    uint64_t product = static_cast<uint64_t>(value) * num;
    return TruncUnsigned(static_cast<double>(product) / static_cast<double>(den) + 0.5);
}

void CSizeRule::Keep()
{
    NewWidth = m_width;
    NewHeight = m_height;
    NewResolution = m_dpi;
}

void CSizeRule::ScaleToWidth(uint32_t w)
{
    NewWidth = w;
    NewHeight = Scale(m_height, w, m_width);
    NewResolution = ClampResolution(Scale(static_cast<uint32_t>(m_dpi), w, m_width));
}

void CSizeRule::ScaleToHeight(uint32_t h)
{
    NewWidth = Scale(m_width, h, m_height);
    NewHeight = h;
    NewResolution = ClampResolution(Scale(static_cast<uint32_t>(m_dpi), h, m_height));
}

void CSizeRule::ScaleByResolution(int32_t r)
{
    // A source below one dot per inch counts as 72 dots per inch.
    double dpi = m_dpi > 0 ? static_cast<double>(m_dpi) : 72.0;
    NewWidth = TruncUnsigned(static_cast<double>(m_width) * r / dpi);
    NewHeight = TruncUnsigned(static_cast<double>(m_height) * r / dpi);
    NewResolution = r;
}

void CSizeRule::KeepSize(int32_t r)
{
    NewWidth = m_width;
    NewHeight = m_height;
    NewResolution = r;
}

void CSizeRule::Exact(uint32_t w, uint32_t h, int32_t r)
{
    NewWidth = w;
    NewHeight = h;
    NewResolution = r;
}

void CSizeRule::HoldToOne()
{
    if (NewWidth == 0) NewWidth = 1;
    if (NewHeight == 0) NewHeight = 1;
    if (NewResolution < 1) NewResolution = 1;
}

void CSizeRule::Apply(int sizeMode, uint32_t w, int32_t h, int32_t r)
{
    // The height argument takes part in the unsigned arithmetic as it stands.
    uint32_t uh = static_cast<uint32_t>(h);
    switch (sizeMode) {
    case 0: Keep(); break;
    case 1:
        if (w < m_width) ScaleToWidth(w);
        else Keep();
        break;
    case 2:
        if (uh < m_height) ScaleToHeight(uh);
        else Keep();
        break;
    case 3:
        // H / h >= W / w, compared exactly as H · w >= W · h.
        if (static_cast<uint64_t>(m_height) * w >= static_cast<uint64_t>(m_width) * uh) {
            if (uh < m_height) ScaleToHeight(uh);
            else Keep();
        } else {
            if (w < m_width) ScaleToWidth(w);
            else Keep();
        }
        break;
    case 4:
        if (w >= m_width && w >= m_height) Keep();
        else if (m_width < m_height) ScaleToHeight(w);
        else ScaleToWidth(w);
        break;
    case 5: ScaleToHeight(uh); break;
    case 6:
        ScaleToHeight(uh);
        NewWidth = w;
        break;
    case 7: ScaleByResolution(r); break;
    case 8: KeepSize(r); break;
    default: Exact(w, uh, r); break;
    }
    HoldToOne();
}
