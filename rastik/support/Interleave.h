// Rows of interleaved samples (pixel after pixel, a sample per channel) to
// and from one row per channel, for codecs whose libraries hand over or take
// interleaved rows. One pass over the row for one to four channels.
#pragma once

#include <cstdint>
#include <cstring>

namespace rastik {

// Samples of width pixels of in (channels each) into out[0] .. out[channels - 1].
inline void SplitSamples(const uint8_t* in, uint32_t width, uint32_t channels, uint8_t* const* out)
{
    switch (channels) {
    case 1:
        memcpy(out[0], in, width);
        return;
    case 2:
        for (uint32_t x = 0; x < width; ++x, in += 2) {
            out[0][x] = in[0];
            out[1][x] = in[1];
        }
        return;
    case 3:
        for (uint32_t x = 0; x < width; ++x, in += 3) {
            out[0][x] = in[0];
            out[1][x] = in[1];
            out[2][x] = in[2];
        }
        return;
    case 4:
        for (uint32_t x = 0; x < width; ++x, in += 4) {
            out[0][x] = in[0];
            out[1][x] = in[1];
            out[2][x] = in[2];
            out[3][x] = in[3];
        }
        return;
    default:
        for (uint32_t c = 0; c < channels; ++c)
            for (uint32_t x = 0; x < width; ++x) out[c][x] = in[static_cast<size_t>(x) * channels + c];
    }
}

// The rows in[0] .. in[channels - 1] of width samples into one interleaved row.
inline void JoinSamples(const uint8_t* const* in, uint32_t width, uint32_t channels, uint8_t* out)
{
    switch (channels) {
    case 1:
        memcpy(out, in[0], width);
        return;
    case 2:
        for (uint32_t x = 0; x < width; ++x, out += 2) {
            out[0] = in[0][x];
            out[1] = in[1][x];
        }
        return;
    case 3:
        for (uint32_t x = 0; x < width; ++x, out += 3) {
            out[0] = in[0][x];
            out[1] = in[1][x];
            out[2] = in[2][x];
        }
        return;
    case 4:
        for (uint32_t x = 0; x < width; ++x, out += 4) {
            out[0] = in[0][x];
            out[1] = in[1][x];
            out[2] = in[2][x];
            out[3] = in[3][x];
        }
        return;
    default:
        for (uint32_t c = 0; c < channels; ++c)
            for (uint32_t x = 0; x < width; ++x) out[static_cast<size_t>(x) * channels + c] = in[c][x];
    }
}

}  // namespace rastik
