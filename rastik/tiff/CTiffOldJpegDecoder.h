// Old-style JPEG images (compression 6) as rows of the decoder table. The
// image is one JPEG frame whose pieces lie about the file (TiffColourFields
// holds the stream the read put together from them, CTiffOldJpegStream);
// the decoder reads that stream as the image's only strip, ignoring the
// strip's own bytes. A tiled image is a frame per tile, put together from
// the tile's bytes and the tables as the tile is decoded. YCbCr frames are decoded to YCbCr samples, each data
// unit's chroma over its pixels, and converted to RGB as uncompressed YCbCr
// is (CTiffYCbCrRows: YCbCrCoefficients and ReferenceBlackWhite apply); grey
// and RGB frames come out as they are. A frame wider than the image (a
// tile) is cut to the image's width.
#pragma once

#include <vector>

#include "rastik/tiff/CTiffCoderDecoder.h"
#include "rastik/tiff/CTiffJpegDecoder.h"
#include "rastik/tiff/CTiffYCbCrRows.h"

class CTiffOldJpegDecoder : public CTiffCoderDecoder<CTiffJpegDecoder> {
public:
    explicit CTiffOldJpegDecoder(const TiffRowShape& shape);

    // False when there is no stream, or it is no JPEG frame of the image.
    bool Start(CTiffStripBytes& bytes) override;
    // A row of the frame, cut to the image's width and converted to RGB.
    uint8_t* DecodeRow(uint8_t* row) override;

private:
    bool m_ycbcr;
    CTiffYCbCrRows m_convert;
    std::vector<uint8_t> m_frameRow;    // a row of the frame as decoded
    std::vector<uint8_t> m_tileStream;  // a tile's frame, put together
};
