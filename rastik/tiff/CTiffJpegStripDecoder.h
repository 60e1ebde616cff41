// JPEG strips (compression 7) as rows of the decoder table: each strip is
// a JPEG stream of the strip's rows, abbreviated when the file's JPEGTables
// hold its tables, decoded by libjpeg (CTiffJpegDecoder). Rows come out
// interleaved, 8 bits a sample: RGB for YCbCr and RGB files, grey, or CMYK.
#pragma once

#include <vector>

#include "rastik/tiff/CTiffCoderDecoder.h"
#include "rastik/tiff/CTiffJpegDecoder.h"

class CTiffJpegStripDecoder : public CTiffCoderDecoder<CTiffJpegDecoder> {
public:
    explicit CTiffJpegStripDecoder(const TiffRowShape& shape);

    // 8-bit grey, three-sample colour and CMYK images only.
    static bool Takes(uint32_t bits, uint32_t samples) { return bits == 8 && samples >= 1 && samples <= 4; }

    // False when the strip is no JPEG stream of the strip's width, rows and
    // samples, or the tables cannot be read.
    bool Start(CTiffStripBytes& bytes) override;

private:
    std::vector<uint8_t> m_whole;  // a strip larger than the window, gathered
};
