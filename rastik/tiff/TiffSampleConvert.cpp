// Sample conversions and predictors of TIFF rows.
#include "rastik/tiff/TiffSampleConvert.h"

#include <cstring>

#include "rastik/support/ByteOrder.h"

namespace tiff {

namespace {

uint32_t Get24(const uint8_t* p, bool little)
{
    return little ? p[0] | (p[1] << 8) | (static_cast<uint32_t>(p[2]) << 16)
                  : (static_cast<uint32_t>(p[0]) << 16) | (p[1] << 8) | p[2];
}

uint64_t Get64(const uint8_t* p, bool little)
{
    uint64_t low = rastik::Get32(p + (little ? 0 : 4), little);
    uint64_t high = rastik::Get32(p + (little ? 4 : 0), little);
    return (high << 32) | low;
}

float FloatOfBits(uint32_t bits)
{
    float v;
    memcpy(&v, &bits, 4);
    return v;
}

// The product is rounded to single precision before the half is added, as
// ImageMagick computes it; v x 65535 is exact in double precision.
uint8_t FloatToByte(float v)
{
    float x = static_cast<float>(static_cast<double>(v) * 65535.0);
    if (!(x > 0)) return 0;  // also NaN
    if (x >= 65535) return 255;
    return QuantumToByte(static_cast<uint32_t>(static_cast<double>(x) + 0.5));
}

uint8_t DoubleToByte(double v)
{
    double x = v * 65535.0;
    if (!(x > 0)) return 0;
    if (x >= 65535) return 255;
    return QuantumToByte(static_cast<uint32_t>(x + 0.5));
}

// IEEE half precision: sign, 5 exponent bits of bias 15, 10 fraction bits.
float HalfToFloat(uint32_t h)
{
    uint32_t sign = (h & 0x8000u) << 16, exponent = (h >> 10) & 0x1F, fraction = h & 0x3FF;
    if (exponent == 0) {
        float v = static_cast<float>(fraction) * (1.0f / 16777216.0f);  // 2^-24
        return sign ? -v : v;
    }
    if (exponent == 31) return FloatOfBits(sign | 0x7F800000u | (fraction << 13));
    return FloatOfBits(sign | ((exponent + 112) << 23) | (fraction << 13));
}

// 24-bit floating point: sign, 7 exponent bits of bias 63, 16 fraction
// bits; the largest exponent is an ordinary one.
float Float24ToFloat(uint32_t f)
{
    uint32_t sign = (f & 0x800000u) << 8, exponent = (f >> 16) & 0x7F, fraction = f & 0xFFFF;
    if (exponent == 0) {
        float v = static_cast<float>(fraction) * 0x1p-78f;
        return sign ? -v : v;
    }
    return FloatOfBits(sign | ((exponent + 64) << 23) | (fraction << 7));
}

}  // namespace

void Samples2ToBytes(const uint8_t* src, uint8_t* dst, size_t count, bool grey)
{
    uint8_t scale = grey ? 85 : 1;
    for (size_t i = 0; i < count; ++i)
        dst[i] = static_cast<uint8_t>(((src[i >> 2] >> (6 - 2 * (i & 3))) & 3) * scale);
}

void Samples12ToBytes(const uint8_t* src, uint8_t* dst, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = src + (i >> 1) * 3;
        uint32_t v = (i & 1) ? ((p[1] & 0x0F) << 8) | p[2] : (p[0] << 4) | (p[1] >> 4);
        dst[i] = static_cast<uint8_t>((v * 510 + 4095) / 8190);
    }
}

void Samples16ToBytes(const uint8_t* src, uint8_t* dst, size_t count, bool little)
{
    src += little ? 1 : 0;
    for (size_t i = 0; i < count; ++i) dst[i] = src[2 * i];
}

void Samples32ToBytes(const uint8_t* src, uint8_t* dst, size_t count, bool little)
{
    for (size_t i = 0; i < count; ++i) dst[i] = QuantumToByte(rastik::Get32(src + 4 * i, little) / 65537);
}

void SignedSamples8ToBytes(const uint8_t* src, uint8_t* dst, size_t count)
{
    if (dst != src) memcpy(dst, src, count);
}

void SignedSamples16ToBytes(const uint8_t* src, uint8_t* dst, size_t count, bool little)
{
    for (size_t i = 0; i < count; ++i)
        dst[i] = QuantumToByte((rastik::Get16(src + 2 * i, little) + 0x8000u) & 0xFFFF);
}

void FloatSamples16ToBytes(const uint8_t* src, uint8_t* dst, size_t count, bool little)
{
    for (size_t i = 0; i < count; ++i) dst[i] = FloatToByte(HalfToFloat(rastik::Get16(src + 2 * i, little)));
}

void FloatSamples24ToBytes(const uint8_t* src, uint8_t* dst, size_t count, bool little)
{
    for (size_t i = 0; i < count; ++i) dst[i] = FloatToByte(Float24ToFloat(Get24(src + 3 * i, little)));
}

void FloatSamples32ToBytes(const uint8_t* src, uint8_t* dst, size_t count, bool little)
{
    for (size_t i = 0; i < count; ++i) dst[i] = FloatToByte(FloatOfBits(rastik::Get32(src + 4 * i, little)));
}

void FloatSamples64ToBytes(const uint8_t* src, uint8_t* dst, size_t count, bool little)
{
    for (size_t i = 0; i < count; ++i) {
        uint64_t bits = Get64(src + 8 * i, little);
        double v;
        memcpy(&v, &bits, 8);
        dst[i] = DoubleToByte(v);
    }
}

bool ConvertsSamples(uint32_t bits, uint32_t format)
{
    if (format == kUndefinedFormat) format = kUnsignedInteger;
    switch (format) {
    case kUnsignedInteger: return bits == 2 || bits == 12 || bits == 16 || bits == 32;
    case kSignedInteger: return bits == 8 || bits == 16 || bits == 32;
    case kFloatingPoint: return bits == 16 || bits == 24 || bits == 32 || bits == 64;
    default: return false;
    }
}

bool SamplesToBytes(const uint8_t* src, uint8_t* dst, size_t count, uint32_t bits, uint32_t format, bool little,
                    bool grey)
{
    if (!ConvertsSamples(bits, format)) return false;
    if (format == kFloatingPoint) {
        switch (bits) {
        case 16: FloatSamples16ToBytes(src, dst, count, little); break;
        case 24: FloatSamples24ToBytes(src, dst, count, little); break;
        case 32: FloatSamples32ToBytes(src, dst, count, little); break;
        default: FloatSamples64ToBytes(src, dst, count, little); break;
        }
    } else if (format == kSignedInteger && bits != 32) {
        if (bits == 8)
            SignedSamples8ToBytes(src, dst, count);
        else
            SignedSamples16ToBytes(src, dst, count, little);
    } else {
        switch (bits) {
        case 2: Samples2ToBytes(src, dst, count, grey); break;
        case 12: Samples12ToBytes(src, dst, count); break;
        case 16: Samples16ToBytes(src, dst, count, little); break;
        default: Samples32ToBytes(src, dst, count, little); break;
        }
    }
    return true;
}

namespace {

// 8-bit differences of 1, 3 or 4 samples a pixel added up along the row,
// the running sums in locals of their own (the compiler keeps them in
// registers rather than reading each back from the row).
void AddUpBytes1(uint8_t* row, size_t count)
{
    uint8_t a = row[0];
    for (size_t i = 1; i < count; ++i) row[i] = a = static_cast<uint8_t>(a + row[i]);
}

void AddUpBytes3(uint8_t* row, size_t count)
{
    uint8_t a = row[0], b = row[1], c = row[2];
    for (size_t i = 3; i + 3 <= count; i += 3) {
        a = static_cast<uint8_t>(a + row[i]);
        b = static_cast<uint8_t>(b + row[i + 1]);
        c = static_cast<uint8_t>(c + row[i + 2]);
        row[i] = a, row[i + 1] = b, row[i + 2] = c;
    }
}

void AddUpBytes4(uint8_t* row, size_t count)
{
    uint8_t a = row[0], b = row[1], c = row[2], d = row[3];
    for (size_t i = 4; i + 4 <= count; i += 4) {
        a = static_cast<uint8_t>(a + row[i]);
        b = static_cast<uint8_t>(b + row[i + 1]);
        c = static_cast<uint8_t>(c + row[i + 2]);
        d = static_cast<uint8_t>(d + row[i + 3]);
        row[i] = a, row[i + 1] = b, row[i + 2] = c, row[i + 3] = d;
    }
}

}  // namespace

void UndoHorizontalDifferencing(uint8_t* row, uint32_t width, uint32_t samplesPerPixel, uint32_t bytesPerSample,
                                bool little)
{
    size_t count = static_cast<size_t>(width) * samplesPerPixel;
    size_t step = samplesPerPixel;
    switch (bytesPerSample) {
    case 1:
        if (width == 0) break;
        if (step == 1) AddUpBytes1(row, count);
        else if (step == 3) AddUpBytes3(row, count);
        else if (step == 4) AddUpBytes4(row, count);
        else
            for (size_t i = step; i < count; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - step]);
        break;
    case 2:
        for (size_t i = step; i < count; ++i)
            rastik::Put16(row + 2 * i, static_cast<uint16_t>(rastik::Get16(row + 2 * i, little) +
                                                             rastik::Get16(row + 2 * (i - step), little)),
                          little);
        break;
    case 4:
        for (size_t i = step; i < count; ++i)
            rastik::Put32(row + 4 * i, rastik::Get32(row + 4 * i, little) + rastik::Get32(row + 4 * (i - step), little),
                          little);
        break;
    case 8:
        for (size_t i = step; i < count; ++i) {
            uint64_t v = Get64(row + 8 * i, little) + Get64(row + 8 * (i - step), little);
            rastik::Put32(row + 8 * i + (little ? 0 : 4), static_cast<uint32_t>(v), little);
            rastik::Put32(row + 8 * i + (little ? 4 : 0), static_cast<uint32_t>(v >> 32), little);
        }
        break;
    default: break;
    }
}

void UndoFloatPredictor(uint8_t* row, uint8_t* scratch, uint32_t width, uint32_t samplesPerPixel,
                        uint32_t bytesPerSample, bool little)
{
    size_t count = static_cast<size_t>(width) * samplesPerPixel;
    size_t bytes = count * bytesPerSample;
    for (size_t i = samplesPerPixel; i < bytes; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - samplesPerPixel]);
    memcpy(scratch, row, bytes);
    for (uint32_t b = 0; b < bytesPerSample; ++b) {
        // Significance b (0: most significant) sits at byte b of a
        // big-endian sample, at byte size - 1 - b of a little-endian one.
        const uint8_t* plane = scratch + b * count;
        uint8_t* out = row + (little ? bytesPerSample - 1 - b : b);
        for (size_t i = 0; i < count; ++i) out[i * bytesPerSample] = plane[i];
    }
}

}  // namespace tiff
