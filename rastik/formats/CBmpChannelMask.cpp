// Scaling of bit-field channels. A mask of n bits up to 8 gives
// v x 255 / (2^n - 1), truncated, as PIL shows 5-5-5 and 5-6-5 pixels; a
// wider one gives its top 16 bits scaled to 8 with rounding, as ImageMagick
// shows such pixels. Either way the largest value is 255.
#include "rastik/formats/CBmpChannelMask.h"

#include <bit>
#include <cstddef>

bool CBmpChannelMask::Contiguous(uint32_t mask)
{
    if (mask == 0) return true;
    uint32_t low = mask >> std::countr_zero(mask);
    return (low & (low + 1)) == 0;
}

CBmpChannelMask::CBmpChannelMask(uint32_t mask) : m_mask(mask)
{
    if (mask == 0 || !Contiguous(mask)) {
        m_mask = 0;
        m_scale.assign(1, 0);
        return;
    }
    m_shift = static_cast<uint32_t>(std::countr_zero(mask));
    uint32_t bits = static_cast<uint32_t>(std::popcount(mask));
    m_drop = bits > 16 ? bits - 16 : 0;
    uint32_t kept = bits - m_drop;
    uint32_t top = (1u << kept) - 1;
    m_scale.resize(static_cast<size_t>(top) + 1);
    for (uint32_t v = 0; v <= top; ++v) {
        if (bits <= 8)
            m_scale[v] = static_cast<uint8_t>(v * 255 / top);
        else
            m_scale[v] = static_cast<uint8_t>(((v << (16 - kept)) * 255 + 32767) / 65535);
    }
}
