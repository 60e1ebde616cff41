// The pixel-row kit.
#include "rastik/support/PixelRows.h"

#include <algorithm>
#include <array>

#include <immintrin.h>

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

namespace {

using Mask = std::array<uint8_t, 16>;

// Byte k of a splitting mask for channel ch and input vector v: the byte of
// pixel k's sample ch when it lies in that vector, else none (0x80).
constexpr Mask SplitMask(uint32_t ch, uint32_t v)
{
    Mask m{};
    for (uint32_t k = 0; k < 16; ++k) {
        const uint32_t at = 3 * k + ch;
        m[k] = at >= 16 * v && at < 16 * v + 16 ? static_cast<uint8_t>(at - 16 * v) : 0x80;
    }
    return m;
}

// Byte j of output vector v taken from plane p: its pixel's byte when the
// byte holds sample p, else none.
constexpr Mask JoinMask(uint32_t p, uint32_t v)
{
    Mask m{};
    for (uint32_t j = 0; j < 16; ++j) {
        const uint32_t at = 16 * v + j;
        m[j] = at % 3 == p ? static_cast<uint8_t>(at / 3) : 0x80;
    }
    return m;
}

template <Mask (*Make)(uint32_t, uint32_t)>
constexpr std::array<Mask, 9> Masks()
{
    std::array<Mask, 9> all{};
    for (uint32_t i = 0; i < 9; ++i) all[i] = Make(i / 3, i % 3);
    return all;
}

constexpr std::array<Mask, 9> kSplitMasks = Masks<SplitMask>();
constexpr std::array<Mask, 9> kJoinMasks = Masks<JoinMask>();

__attribute__((target("ssse3"))) inline __m128i Shuffle(__m128i v, const Mask& m)
{
    return _mm_shuffle_epi8(v, _mm_loadu_si128(reinterpret_cast<const __m128i*>(m.data())));
}

// Whole groups of sixteen pixels; returns the pixels done.
__attribute__((target("ssse3"))) uint32_t SplitThreeShuffled(const uint8_t* in, uint32_t width, uint8_t* const* out)
{
    uint32_t x = 0;
    for (; x + 16 <= width; x += 16, in += 48) {
        __m128i v[3];
        for (int i = 0; i < 3; ++i) v[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16 * i));
        for (int c = 0; c < 3; ++c) {
            __m128i r = _mm_or_si128(_mm_or_si128(Shuffle(v[0], kSplitMasks[3 * c]), Shuffle(v[1], kSplitMasks[3 * c + 1])),
                                     Shuffle(v[2], kSplitMasks[3 * c + 2]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out[c] + x), r);
        }
    }
    return x;
}

__attribute__((target("ssse3"))) uint32_t JoinThreeShuffled(const uint8_t* const* in, uint32_t width, uint8_t* out)
{
    uint32_t x = 0;
    for (; x + 16 <= width; x += 16, out += 48) {
        __m128i p[3];
        for (int c = 0; c < 3; ++c) p[c] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in[c] + x));
        for (int v = 0; v < 3; ++v) {
            __m128i r = _mm_or_si128(_mm_or_si128(Shuffle(p[0], kJoinMasks[v]), Shuffle(p[1], kJoinMasks[3 + v])),
                                     Shuffle(p[2], kJoinMasks[6 + v]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * v), r);
        }
    }
    return x;
}

bool HasShuffles()
{
    return __builtin_cpu_supports("ssse3");
}

}  // namespace

void SplitThree(const uint8_t* in, uint32_t width, uint8_t* const* out)
{
    const uint32_t done = HasShuffles() ? SplitThreeShuffled(in, width, out) : 0;
    uint8_t* const rest[3] = {out[0] + done, out[1] + done, out[2] + done};
    SplitFixed<3>(in + 3 * static_cast<size_t>(done), width - done, rest);
}

void JoinThree(const uint8_t* const* in, uint32_t width, uint8_t* out)
{
    const uint32_t done = HasShuffles() ? JoinThreeShuffled(in, width, out) : 0;
    const uint8_t* const rest[3] = {in[0] + done, in[1] + done, in[2] + done};
    JoinFixed<3>(rest, width - done, out + 3 * static_cast<size_t>(done));
}

}  // namespace rastik
