// The pixel-row kit: what codecs do to a row of pixels between a file's
// layout and the planes' one byte per sample. Unpacking and packing of 1-,
// 2- and 4-bit pixels in either order within a byte, splitting interleaved
// samples into one row per channel and joining them back, inverted samples,
// grey ramps and the reduction of 16-bit samples to 8 bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "rastik/support/ByteOrder.h"

namespace rastik {

// Pixels packed into bytes take BitOrder (ByteOrder.h): MsbFirst puts a
// byte's first pixel in its most significant bits (every format's usual
// order), LsbFirst in its least significant bits (TIFF fill order 2 for
// bilevel rows).

// count pixels of bits bits each (1, 2, 4 or 8), packed from src on, into one
// byte per pixel at out; with a map, out gets map[pixel] instead.
void UnpackPixels(const uint8_t* src, size_t count, uint32_t bits, uint8_t* out, const uint8_t* map = nullptr,
                  BitOrder order = BitOrder::MsbFirst);
// Pixel index of a packed row of bits-bit pixels.
uint8_t PixelAt(const uint8_t* src, size_t index, uint32_t bits, BitOrder order = BitOrder::MsbFirst);
// count one-byte pixels into packed bytes of bits-bit pixels (each pixel's
// low bits); a last partial byte is padded with zero bits.
void PackPixels(const uint8_t* in, size_t count, uint32_t bits, uint8_t* out, BitOrder order = BitOrder::MsbFirst);
// count bytes into 1-bit pixels: every non-zero byte a set bit.
void PackNonZero(const uint8_t* in, size_t count, uint8_t* out, BitOrder order = BitOrder::MsbFirst);

// Bytes of a row of count pixels of bits bits each.
inline size_t PackedBytes(size_t count, uint32_t bits)
{
    return (count * bits + 7) / 8;
}

// Turns the bits of each of count bytes end for end, in place (the rows
// of TIFF fill order 2 into the usual order).
void ReverseBitOrder(uint8_t* bytes, size_t count);
// 255 - value for count samples, in place.
void InvertSamples(uint8_t* samples, size_t count);
// Horizontal differencing of a row of count bytes, step bytes per pixel:
// each byte less the same byte of the pixel before it (modulo 256), the
// first pixel as it is.
void DifferenceSamples(const uint8_t* row, size_t count, uint32_t step, uint8_t* out);
// The high byte of each of count 16-bit samples stored in the given byte order.
void TakeHighBytes(const uint8_t* src, size_t count, bool littleEndian, uint8_t* out);
// A grey palette of entries entries (blue, green, red, 0 each), evenly from
// black to white: entry i is i x 255 / (entries - 1).
void FillGreyRamp(uint8_t* palette, uint32_t entries);

// Rows of channels samples per pixel, the count known when compiled.
// The row pointers are held in locals, so that the stores of samples
// (which may alias anything) do not make them be loaded again.
template <uint32_t Channels>
inline void SplitFixed(const uint8_t* in, uint32_t width, uint8_t* const* out)
{
    uint8_t* o[Channels];
    for (uint32_t c = 0; c < Channels; ++c) o[c] = out[c];
    for (uint32_t x = 0; x < width; ++x, in += Channels)
        for (uint32_t c = 0; c < Channels; ++c) o[c][x] = in[c];
}

template <uint32_t Channels>
inline void JoinFixed(const uint8_t* const* in, uint32_t width, uint8_t* out)
{
    const uint8_t* i[Channels];
    for (uint32_t c = 0; c < Channels; ++c) i[c] = in[c];
    for (uint32_t x = 0; x < width; ++x, out += Channels)
        for (uint32_t c = 0; c < Channels; ++c) out[c] = i[c][x];
}

// Three samples a pixel split and joined with byte shuffles where the
// processor has them, sixteen pixels at a time.
void SplitThree(const uint8_t* in, uint32_t width, uint8_t* const* out);
void JoinThree(const uint8_t* const* in, uint32_t width, uint8_t* out);

// Samples of width pixels of in (channels each) into out[0] .. out[channels - 1].
inline void SplitSamples(const uint8_t* in, uint32_t width, uint32_t channels, uint8_t* const* out)
{
    switch (channels) {
    case 1: memcpy(out[0], in, width); return;
    case 2: SplitFixed<2>(in, width, out); return;
    case 3: SplitThree(in, width, out); return;
    case 4: SplitFixed<4>(in, width, out); return;
    default:
        for (uint32_t c = 0; c < channels; ++c)
            for (uint32_t x = 0; x < width; ++x) out[c][x] = in[static_cast<size_t>(x) * channels + c];
    }
}

// The rows in[0] .. in[channels - 1] of width samples into one interleaved row.
inline void JoinSamples(const uint8_t* const* in, uint32_t width, uint32_t channels, uint8_t* out)
{
    switch (channels) {
    case 1: memcpy(out, in[0], width); return;
    case 2: JoinFixed<2>(in, width, out); return;
    case 3: JoinThree(in, width, out); return;
    case 4: JoinFixed<4>(in, width, out); return;
    default:
        for (uint32_t c = 0; c < channels; ++c)
            for (uint32_t x = 0; x < width; ++x) out[static_cast<size_t>(x) * channels + c] = in[c][x];
    }
}

}  // namespace rastik
