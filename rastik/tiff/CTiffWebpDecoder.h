// WebP strips (compression 50001): each strip is one WebP image (lossy or
// lossless) of the strip's width and rows, decoded whole by libwebp into
// RGB or RGBA rows of 8-bit samples.
#pragma once

#include <vector>

#include "rastik/tiff/CTiffDecoder.h"

class CTiffWebpDecoder : public CTiffDecoder {
public:
    using CTiffDecoder::CTiffDecoder;

    // 8-bit RGB and RGBA images only.
    static bool Takes(uint32_t bits, uint32_t samples) { return bits == 8 && (samples == 3 || samples == 4); }

    // False when the strip is no WebP image of the strip's width and at
    // most its rows, or its rows would take too much memory.
    bool Start(CTiffStripBytes& bytes) override;
    uint8_t* DecodeRow(uint8_t* row) override;
    void SkipRows(uint32_t count, uint8_t* row) override;

private:
    std::vector<uint8_t> m_stored;  // a strip larger than the window
    std::vector<uint8_t> m_rows;    // the strip's rows, decoded
    size_t m_at = 0;                // next row's place in m_rows
};
