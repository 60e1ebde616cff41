// The pixel-row kit.
#include "rastik/support/PixelRows.h"

#include <algorithm>

namespace rastik {

namespace {

// Shift of pixel i's bits within its byte.
template <uint32_t Bits>
inline uint32_t ShiftOf(size_t i, BitOrder order)
{
    constexpr uint32_t perByte = 8 / Bits;
    uint32_t slot = static_cast<uint32_t>(i % perByte);
    return order == BitOrder::MsbFirst ? 8 - Bits - slot * Bits : slot * Bits;
}

// One byte's pixels at a time where whole bytes remain, then the rest.
template <uint32_t Bits, bool Mapped>
void Unpack(const uint8_t* src, size_t count, uint8_t* out, const uint8_t* map, BitOrder order)
{
    constexpr uint32_t perByte = 8 / Bits;
    constexpr uint32_t mask = (1u << Bits) - 1;
    size_t x = 0;
    for (; x + perByte <= count; x += perByte) {
        const uint32_t b = src[x / perByte];
        for (uint32_t k = 0; k < perByte; ++k) {
            uint32_t shift = order == BitOrder::MsbFirst ? 8 - Bits - k * Bits : k * Bits;
            uint8_t v = static_cast<uint8_t>((b >> shift) & mask);
            out[x + k] = Mapped ? map[v] : v;
        }
    }
    for (; x < count; ++x) {
        uint8_t v = static_cast<uint8_t>((src[x / perByte] >> ShiftOf<Bits>(x, order)) & mask);
        out[x] = Mapped ? map[v] : v;
    }
}

template <uint32_t Bits>
void UnpackOf(const uint8_t* src, size_t count, uint8_t* out, const uint8_t* map, BitOrder order)
{
    if (map)
        Unpack<Bits, true>(src, count, out, map, order);
    else
        Unpack<Bits, false>(src, count, out, map, order);
}

template <uint32_t Bits>
void Pack(const uint8_t* in, size_t count, uint8_t* out, BitOrder order, bool nonZero)
{
    constexpr uint32_t perByte = 8 / Bits;
    constexpr uint32_t mask = (1u << Bits) - 1;
    memset(out, 0, PackedBytes(count, Bits));
    for (size_t x = 0; x < count; ++x) {
        uint32_t v = nonZero ? (in[x] != 0) : (in[x] & mask);
        out[x / perByte] = static_cast<uint8_t>(out[x / perByte] | (v << ShiftOf<Bits>(x, order)));
    }
}

}  // namespace

void UnpackPixels(const uint8_t* src, size_t count, uint32_t bits, uint8_t* out, const uint8_t* map, BitOrder order)
{
    switch (bits) {
    case 1: UnpackOf<1>(src, count, out, map, order); return;
    case 2: UnpackOf<2>(src, count, out, map, order); return;
    case 4: UnpackOf<4>(src, count, out, map, order); return;
    default:
        if (!map) {
            memcpy(out, src, count);
            return;
        }
        for (size_t x = 0; x < count; ++x) out[x] = map[src[x]];
    }
}

uint8_t PixelAt(const uint8_t* src, size_t index, uint32_t bits, BitOrder order)
{
    switch (bits) {
    case 1: return static_cast<uint8_t>((src[index / 8] >> ShiftOf<1>(index, order)) & 1);
    case 2: return static_cast<uint8_t>((src[index / 4] >> ShiftOf<2>(index, order)) & 3);
    case 4: return static_cast<uint8_t>((src[index / 2] >> ShiftOf<4>(index, order)) & 15);
    default: return src[index];
    }
}

void PackPixels(const uint8_t* in, size_t count, uint32_t bits, uint8_t* out, BitOrder order)
{
    switch (bits) {
    case 1: Pack<1>(in, count, out, order, false); return;
    case 2: Pack<2>(in, count, out, order, false); return;
    case 4: Pack<4>(in, count, out, order, false); return;
    default: memcpy(out, in, count);
    }
}

void PackNonZero(const uint8_t* in, size_t count, uint8_t* out, BitOrder order)
{
    Pack<1>(in, count, out, order, true);
}

void ReverseBitOrder(uint8_t* bytes, size_t count)
{
    static const uint8_t kNibble[16] = {0x0, 0x8, 0x4, 0xC, 0x2, 0xA, 0x6, 0xE, 0x1, 0x9, 0x5, 0xD, 0x3, 0xB, 0x7, 0xF};
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>((kNibble[bytes[i] & 15] << 4) | kNibble[bytes[i] >> 4]);
}

void InvertSamples(uint8_t* samples, size_t count)
{
    for (size_t i = 0; i < count; ++i) samples[i] = static_cast<uint8_t>(255 - samples[i]);
}

void DifferenceSamples(const uint8_t* row, size_t count, uint32_t step, uint8_t* out)
{
    const size_t first = std::min<size_t>(step, count);
    for (size_t i = 0; i < first; ++i) out[i] = row[i];
    for (size_t i = first; i < count; ++i) out[i] = static_cast<uint8_t>(row[i] - row[i - first]);
}

void TakeHighBytes(const uint8_t* src, size_t count, bool littleEndian, uint8_t* out)
{
    src += littleEndian ? 1 : 0;
    for (size_t i = 0; i < count; ++i) out[i] = src[2 * i];
}

void FillGreyRamp(uint8_t* palette, uint32_t entries)
{
    for (uint32_t i = 0; i < entries; ++i) {
        uint8_t v = static_cast<uint8_t>(entries > 1 ? i * 255 / (entries - 1) : 0);
        palette[4 * i] = palette[4 * i + 1] = palette[4 * i + 2] = v;
        palette[4 * i + 3] = 0;
    }
}

}  // namespace rastik
