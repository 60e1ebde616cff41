// One channel of a bit-field bitmap pixel: its mask, and the scaling of the
// masked bits to an 8-bit sample.
#pragma once

#include <cstdint>
#include <vector>

class CBmpChannelMask {
public:
    // A mask of one run of set bits (or none: the channel is 0).
    explicit CBmpChannelMask(uint32_t mask = 0);

    // Whether the set bits of mask lie together.
    static bool Contiguous(uint32_t mask);

    uint32_t Mask() const { return m_mask; }
    // The 8-bit sample of a pixel.
    uint8_t Sample(uint32_t pixel) const { return m_scale[((pixel & m_mask) >> m_shift) >> m_drop]; }

private:
    uint32_t m_mask;
    uint32_t m_shift = 0;  // the mask's lowest bit
    uint32_t m_drop = 0;   // low bits of masks over 16 bits that no sample shows
    std::vector<uint8_t> m_scale;
};
