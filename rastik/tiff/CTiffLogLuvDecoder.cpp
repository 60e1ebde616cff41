// SGI LogLuv and LogL rows: run-length decoding byte plane by byte plane,
// then libtiff's conversion of each pixel for display.
#include "rastik/tiff/CTiffLogLuvDecoder.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kUvScale = 410.0;

// Luminance of the 16 bits of sign and log: 0 for a zero log.
double Luminance(uint32_t p16)
{
    int32_t le = static_cast<int32_t>(p16 & 0x7FFF);
    if (le == 0) return 0;
    double y = std::exp(M_LN2 / 256.0 * (le + 0.5) - M_LN2 * 64.0);
    return (p16 & 0x8000) ? -y : y;
}

uint8_t Display(double c)
{
    if (c <= 0) return 0;
    if (c >= 1) return 255;
    return static_cast<uint8_t>(static_cast<int>(256.0 * std::sqrt(c)));
}

}  // namespace

CTiffLogLuvDecoder::CTiffLogLuvDecoder(uint32_t width, uint32_t photometric)
    : m_width(width), m_photometric(photometric)
{
    m_ok = width > 0 && width <= (1u << 28) && (photometric == kLogL || photometric == kLogLuv);
    if (m_ok) m_pixels.resize(width);
}

void CTiffLogLuvDecoder::LogLuvToRgb(uint32_t pixel, uint8_t* rgb)
{
    double y = Luminance(pixel >> 16);
    if (y <= 0) {
        rgb[0] = rgb[1] = rgb[2] = 0;
        return;
    }
    double u = 1.0 / kUvScale * (((pixel >> 8) & 0xFF) + 0.5);
    double v = 1.0 / kUvScale * ((pixel & 0xFF) + 0.5);
    double s = 1.0 / (6.0 * u - 16.0 * v + 12.0);
    double cx = 9.0 * u * s, cy = 4.0 * v * s;
    // XYZ as libtiff hands it over, in single precision.
    double x = static_cast<float>(cx / cy * y), yy = static_cast<float>(y), z = static_cast<float>((1.0 - cx - cy) / cy * y);
    rgb[0] = Display(2.690 * x + -1.276 * yy + -0.414 * z);
    rgb[1] = Display(-1.022 * x + 1.978 * yy + 0.044 * z);
    rgb[2] = Display(0.061 * x + -0.224 * yy + 1.163 * z);
}

uint8_t CTiffLogLuvDecoder::LogLToGrey(uint32_t pixel)
{
    return Display(Luminance(pixel));
}

void CTiffLogLuvDecoder::Start(const uint8_t* data, size_t size)
{
    m_at = data;
    m_end = data ? data + size : data;
}

// The pixels of the next row; false when the data ran out first (the rest
// of the row is 0).
bool CTiffLogLuvDecoder::ReadRow()
{
    std::fill(m_pixels.begin(), m_pixels.end(), 0);
    unsigned planes = m_photometric == kLogLuv ? 4 : 2;
    bool whole = true;
    for (unsigned plane = 0; plane < planes; ++plane) {
        unsigned shift = 8 * (planes - 1 - plane);
        uint32_t x = 0;
        while (x < m_width) {
            if (m_at == m_end) {
                whole = false;
                break;
            }
            uint32_t control = *m_at++;
            if (control >= 128) {
                if (m_at == m_end) {
                    whole = false;
                    break;
                }
                uint32_t value = static_cast<uint32_t>(*m_at++) << shift;
                for (uint32_t n = std::min(control - 126, m_width - x); n; --n) m_pixels[x++] |= value;
            } else {
                uint32_t n = std::min<size_t>({control, m_width - x, static_cast<size_t>(m_end - m_at)});
                for (; n; --n) m_pixels[x++] |= static_cast<uint32_t>(*m_at++) << shift;
            }
        }
    }
    return whole;
}

bool CTiffLogLuvDecoder::DecodeRow(uint8_t* out)
{
    if (!m_ok) return false;
    bool whole = ReadRow();
    for (uint32_t x = 0; x < m_width; ++x) {
        if (m_photometric == kLogLuv)
            LogLuvToRgb(m_pixels[x], out + 3 * x);
        else
            out[x] = LogLToGrey(m_pixels[x]);
    }
    return whole;
}

bool CTiffLogLuvDecoder::SkipRow()
{
    return m_ok && ReadRow();
}
