// L*a*b* and associated-alpha conversions of TIFF pixels.
#include "rastik/tiff/TiffColourConvert.h"

#include <cmath>

#include "rastik/support/ByteOrder.h"
#include "rastik/tiff/TiffSampleConvert.h"

namespace tiff {

namespace {

// CIE constants: the cube of 6/29 and (29/3)^3.
constexpr double kEpsilon = 216.0 / 24389.0;
constexpr double kKappa = 24389.0 / 27.0;
constexpr double kWhite[3] = {0.950456, 1.0, 1.088754};
constexpr double kXyzToRgb[3][3] = {
    {3.2404542, -1.5371385, -0.4985314}, {-0.9692660, 1.8760108, 0.0415560}, {0.0556434, -0.2040259, 1.0572252}};

// x^(5/12) as ImageMagick computes it: x = m 2^e with m in [0.5, 1); 2m
// to the power by the first nine terms of its Chebyshev series on [1, 2)
// (t = 4m - 3; coefficients of ((t + 3) / 2)^(5/12)), times 2^(5 (e - 1) / 12)
// split into a whole power of 2 and a twelfth step.
double FiveTwelfths(double x)
{
    static const double kSeries[9] = {1.17582002329969,      0.1666576309488907,     -0.008315489493904255,
                                      0.000751879767804204,  -8.324017851952564e-05, 1.0229209410113244e-05,
                                      -1.340100146615111e-06, 1.8333422246483588e-07, -2.5878596823514234e-08};
    static const double kSteps[12] = {1.0, 1.3348398541700344, 1.7817974362806785, 2.378414230005442,
                                      3.174802103936399, 4.237852377437181, 5.656854249492381, 7.550994501453547,
                                      10.079368399158986, 13.454342644059432, 17.959392772949972, 23.9729132300269};
    int exponent = 0;
    double t[9];
    t[0] = 1.0;
    t[1] = 4.0 * std::frexp(x, &exponent) - 3.0;
    for (int i = 2; i < 9; ++i) t[i] = 2.0 * t[1] * t[i - 1] - t[i - 2];
    double p = kSeries[0] * t[0];
    for (int i = 1; i < 9; ++i) p += kSeries[i] * t[i];
    int whole = (exponent - 1) >= 0 ? (exponent - 1) / 12 : -((12 - exponent) / 12);
    int step = exponent - 1 - 12 * whole;
    return std::ldexp(kSteps[step] * p, 5 * whole);
}

// The sRGB transfer curve of a linear value, as a rounded 16-bit quantum.
uint32_t EncodeQuantum(double linear)
{
    double v = linear <= 0.0031306684425005883 ? 12.92 * linear : 1.055 * FiveTwelfths(linear) - 0.055;
    double q = 65535 * v;
    if (!(q > 0)) return 0;
    return q >= 65535 ? 65535 : static_cast<uint32_t>(q + 0.5);
}

double Inverse(double f, double linear)
{
    double cube = f * f * f;
    return cube > kEpsilon ? cube : linear;
}

// A signed a* or b* sample as ImageMagick reads it: the 16-bit quantum q
// of the stored bits turned to offset form and truncated, then 255 (q /
// 65535 - 0.5).
double SignedChroma(uint32_t q)
{
    uint32_t offset = q >= 32768 ? q - 32768 : q + 32767;
    return 255 * (offset / 65535.0 - 0.5);
}

// L*, a*, b* of one pixel; false for what is not handled.
bool DecodeLab(const uint8_t* p, uint32_t photometric, uint32_t bits, bool little, const double* decode, double* lab)
{
    uint32_t v[3];
    for (int k = 0; k < 3; ++k) v[k] = bits == 8 ? p[k] : rastik::Get16(p + 2 * k, little);
    double top = bits == 8 ? 255.0 : 65535.0;
    switch (photometric) {
    case kCieLab: {
        uint32_t scale = bits == 8 ? 257 : 1;
        lab[0] = 100 * (v[0] * scale) / 65535.0;
        lab[1] = SignedChroma(v[1] * scale);
        lab[2] = SignedChroma(v[2] * scale);
        return true;
    }
    case kIccLab:
        lab[0] = v[0] * 100.0 / (bits == 8 ? 255.0 : 65280.0);
        for (int k = 1; k < 3; ++k) lab[k] = bits == 8 ? v[k] - 128.0 : v[k] / 256.0 - 128.0;
        return true;
    case kItuLab: {
        double span = top + 1;
        double defaults[6] = {0, 100, -85 * span / top, -85 * span / top + 170, -75 * span / top, -75 * span / top + 200};
        const double* d = decode ? decode : defaults;
        for (int k = 0; k < 3; ++k) lab[k] = d[2 * k] + v[k] * (d[2 * k + 1] - d[2 * k]) / top;
        return true;
    }
    default: return false;
    }
}

}  // namespace

void LabToRgb(double l, double a, double b, uint8_t* rgb)
{
    double fy = (l + 16) / 116, fx = fy + a / 500, fz = fy - b / 200;
    double xyz[3] = {Inverse(fx, (116 * fx - 16) / kKappa), Inverse(fy, l / kKappa), Inverse(fz, (116 * fz - 16) / kKappa)};
    for (int k = 0; k < 3; ++k) xyz[k] *= kWhite[k];
    for (int c = 0; c < 3; ++c) {
        const double* m = kXyzToRgb[c];
        rgb[c] = QuantumToByte(EncodeQuantum(m[0] * xyz[0] + m[1] * xyz[1] + m[2] * xyz[2]));
    }
}

bool LabRowToRgb(const uint8_t* src, uint8_t* rgb, size_t pixels, uint32_t samplesPerPixel, uint32_t photometric,
                 uint32_t bits, bool little, const double* decode)
{
    if ((bits != 8 && bits != 16) || samplesPerPixel < 3) return false;
    if (photometric != kCieLab && photometric != kIccLab && photometric != kItuLab) return false;
    size_t step = static_cast<size_t>(samplesPerPixel) * (bits / 8);
    for (size_t i = 0; i < pixels; ++i, src += step, rgb += 3) {
        double lab[3];
        DecodeLab(src, photometric, bits, little, decode, lab);
        LabToRgb(lab[0], lab[1], lab[2], rgb);
    }
    return true;
}

namespace {

uint8_t Unassociated(uint32_t colour, uint32_t alpha)
{
    uint32_t v = alpha ? colour * 255u / alpha : 0;
    return static_cast<uint8_t>(v > 255 ? 255 : v);
}

}  // namespace

void UnassociateAlpha(uint8_t* row, size_t pixels, uint32_t samplesPerPixel, uint32_t colourSamples,
                      uint32_t alphaIndex)
{
    for (size_t i = 0; i < pixels; ++i, row += samplesPerPixel) {
        uint32_t alpha = row[alphaIndex];
        if (alpha == 255) continue;
        for (uint32_t k = 0; k < colourSamples; ++k)
            if (k != alphaIndex) row[k] = Unassociated(row[k], alpha);
    }
}

void UnassociatePlanes(uint8_t* const* colour, uint32_t colourPlanes, const uint8_t* alpha, size_t pixels)
{
    for (size_t i = 0; i < pixels; ++i)
        if (alpha[i] != 255)
            for (uint32_t k = 0; k < colourPlanes; ++k) colour[k][i] = Unassociated(colour[k][i], alpha[i]);
}

}  // namespace tiff
