// The JPEG stream of an old-style JPEG TIFF image (compression 6), put
// together from the layouts libtiff reads, for CTiffJpegDecoder to decode
// as one frame of the image (or of one tile):
// - a whole stream at JPEGInterchangeFormat (it reaches a scan and its
//   data): that stream as it is;
// - a stream head at JPEGInterchangeFormat (tables and frame, no scan),
//   the strips (or the tile) holding the scan: the head, a scan header
//   unless the first strip begins with one, the strips' bytes one after
//   the other, an end-of-image marker. Writers restart the entropy coding
//   at every strip without restart markers: without a restart interval of
//   their own, strips of whole MCU rows are joined by restart markers and
//   the interval becomes a strip's MCUs;
// - no JPEGInterchangeFormat: a baseline head made from JPEGQTables,
//   JPEGDCTables and JPEGACTables (one table of each per component),
//   JPEGRestartInterval and YCbCrSubSampling, then the scan as above.
// Anything else (JPEGProc other than 1 baseline, no tables where a head
// must be made, more than three components) is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

struct TiffOldJpegFields {
    uint32_t width = 0;   // of the frame: the image, or a tile
    uint32_t height = 0;
    uint32_t samplesPerPixel = 3;
    bool ycbcr = true;    // PhotometricInterpretation 6
    uint32_t subH = 2, subV = 2;  // YCbCrSubSampling (YCbCr only)
    uint32_t process = 1;         // JPEGProc
    uint32_t restartInterval = 0;
    uint32_t rowsPerStrip = 0;    // rows of each piece but the last (strips)
    std::span<const uint8_t> interchange;  // JPEGInterchangeFormat bytes, if any
    // Bytes from each table's offset on (at least the table; more is fine),
    // one per component: 64 quantisation values; 16 code counts and the
    // values they count.
    std::vector<std::span<const uint8_t>> qTables, dcTables, acTables;
};

class CTiffOldJpegStream {
public:
    // The stream of a frame whose scan is the given pieces (strips in
    // order, or one tile); false, out empty, when the layout is refused.
    static bool Build(const TiffOldJpegFields& fields, const std::vector<std::span<const uint8_t>>& pieces,
                      std::vector<uint8_t>* out);
};
