// SGI LogLuv and LogL strips (compression 34676, PhotometricInterpretation
// 32845 LogLuv or 32844 LogL) to RGB or grey bytes, exactly as libtiff's
// RGBA reading shows them (ImageMagick shows LogLuv alike; LogL samples it
// shows as if they were plain numbers, PIL reads neither).
//
// A stored row is the bytes of its pixels one significance after the other
// (the most significant bytes of all pixels first), each run-length coded:
// a control byte of 128 or more repeats the next byte control - 126 times,
// a smaller one is followed by that many literal bytes. LogLuv pixels are
// 32 bits: the sign and 15 bits of log luminance Le (Y = 2^((Le + 0.5) /
// 256 - 64), 0 for Le 0), then 8 bits each of u' and v' ((e + 0.5) / 410);
// LogL pixels are the 16 bits of luminance alone. The display mapping is
// libtiff's: its RGB matrix of XYZ, then 256 sqrt(c) truncated (a gamma of
// 2), 0 at or below 0 and 255 from 1 up.
//
// LogLuv24 (compression 34677) is not decoded. Rows come out as width RGB
// triples (LogLuv) or width grey bytes (LogL); bytes a strip does not hold
// decode as black.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "rastik/tiff/TiffTags.h"

class CTiffLogLuvDecoder {
public:
    static constexpr uint32_t kLogL = tiff::kLogL;
    static constexpr uint32_t kLogLuv = tiff::kLogLuv;

    CTiffLogLuvDecoder(uint32_t width, uint32_t photometric);
    bool Ok() const { return m_ok; }
    uint32_t OutputSamples() const { return m_photometric == kLogLuv ? 3 : 1; }

    // Starts a strip on [data, data + size), which must stay alive while
    // rows are decoded.
    void Start(const uint8_t* data, size_t size);
    // The next row (width x OutputSamples() bytes). False when the strip's
    // data ended before the row did.
    bool DecodeRow(uint8_t* out);
    bool SkipRow();

    // One pixel as libtiff shows it.
    static void LogLuvToRgb(uint32_t pixel, uint8_t* rgb);
    static uint8_t LogLToGrey(uint32_t pixel);

private:
    bool ReadRow();

    uint32_t m_width;
    uint32_t m_photometric;
    bool m_ok;
    const uint8_t* m_at = nullptr;
    const uint8_t* m_end = nullptr;
    std::vector<uint32_t> m_pixels;
};
