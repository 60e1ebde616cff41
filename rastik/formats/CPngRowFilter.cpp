// PNG row filters. Each filter stores a byte as its difference (modulo 256)
// from a prediction made of a = the byte one pixel to the left, b = the byte
// above and c = the byte above and to the left (0 outside the image): none
// predicts 0, sub a, up b, average floor((a + b) / 2), Paeth whichever of
// a, b, c is nearest to a + b - c (a, then b, then c on a tie).
#include "rastik/formats/CPngRowFilter.h"

#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

uint8_t PaethPredictor(int a, int b, int c)
{
    int pa = std::abs(b - c);
    int pb = std::abs(a - c);
    int pc = std::abs(a + b - 2 * c);
    if (pa <= pb && pa <= pc) return static_cast<uint8_t>(a);
    return static_cast<uint8_t>(pb <= pc ? b : c);
}

// A filtered byte's weight in the choice: its magnitude as a signed byte.
inline uint32_t Magnitude(uint8_t v)
{
    return v < 128 ? v : 256u - v;
}

}  // namespace

CPngRowFilter::CPngRowFilter(uint32_t width, uint32_t height, uint32_t pixelBytes, bool palette)
    : m_rowBytes(width * pixelBytes), m_pixelBytes(pixelBytes), m_best(m_rowBytes), m_trial(m_rowBytes)
{
    m_types = 1u << kNone;
    if (!palette) {
        m_types = 0x1F;
        if (height == 1) m_types &= ~((1u << kUp) | (1u << kAverage) | (1u << kPaeth));
        if (width == 1) m_types &= ~((1u << kSub) | (1u << kAverage) | (1u << kPaeth));
        m_types |= 1u << kNone;
    }
}

void CPngRowFilter::Filter(const uint8_t* row, const uint8_t* prior, uint8_t* out)
{
    if (m_types == (1u << kNone)) {
        out[0] = kNone;
        memcpy(out + 1, row, m_rowBytes);
        return;
    }
    Type best = kNone;
    uint64_t least = Apply(kNone, row, prior, m_best.data(), UINT64_MAX);
    for (Type type : {kSub, kUp, kAverage, kPaeth}) {
        if (!(m_types & (1u << type))) continue;
        uint64_t sum = Apply(type, row, prior, m_trial.data(), least);
        if (sum < least) {
            least = sum;
            best = type;
            std::swap(m_best, m_trial);
        }
    }
    out[0] = best;
    memcpy(out + 1, m_best.data(), m_rowBytes);
}

uint64_t CPngRowFilter::Apply(Type type, const uint8_t* row, const uint8_t* prior, uint8_t* out,
                              uint64_t limit) const
{
    const uint32_t n = m_rowBytes, bpp = m_pixelBytes < n ? m_pixelBytes : n;
    uint64_t sum = 0;
    switch (type) {
    case kNone:
        for (uint32_t i = 0; i < n; ++i) sum += Magnitude(out[i] = row[i]);
        break;
    case kSub:
        for (uint32_t i = 0; i < bpp; ++i) sum += Magnitude(out[i] = row[i]);
        for (uint32_t i = bpp; i < n; ++i) sum += Magnitude(out[i] = static_cast<uint8_t>(row[i] - row[i - bpp]));
        break;
    case kUp:
        for (uint32_t i = 0; i < n; ++i) sum += Magnitude(out[i] = static_cast<uint8_t>(row[i] - prior[i]));
        break;
    case kAverage:
        for (uint32_t i = 0; i < bpp; ++i) sum += Magnitude(out[i] = static_cast<uint8_t>(row[i] - prior[i] / 2));
        for (uint32_t i = bpp; i < n; ++i)
            sum += Magnitude(out[i] = static_cast<uint8_t>(row[i] - (row[i - bpp] + prior[i]) / 2));
        break;
    case kPaeth:
        for (uint32_t i = 0; i < bpp; ++i) sum += Magnitude(out[i] = static_cast<uint8_t>(row[i] - prior[i]));
        for (uint32_t i = bpp; i < n && sum <= limit; ++i)
            sum += Magnitude(out[i] = static_cast<uint8_t>(
                                 row[i] - PaethPredictor(row[i - bpp], prior[i], prior[i - bpp])));
        break;
    }
    return sum;
}
