// Builders of small TIFF files for the TIFF tests and the fuzz seeds:
// directory entries from a table, strips as given, either byte order;
// clip-path resources; LZW strips from a list of codes.
#pragma once

#include <cstdint>
#include <vector>

namespace testutil {

struct TiffEntry {
    uint16_t tag;
    uint16_t type;  // 1 BYTE, 3 SHORT, 4 LONG, 5 RATIONAL, 7 UNDEFINED, 10 SRATIONAL, 16 LONG8
    std::vector<uint32_t> values;  // RATIONAL, SRATIONAL: numerator, denominator pairs
    std::vector<uint8_t> bytes;    // BYTE / UNDEFINED data (instead of values)
};

struct TiffFixture {
    bool littleEndian = true;
    std::vector<TiffEntry> entries;            // without the strip entries
    std::vector<std::vector<uint8_t>> strips;  // stored bytes of each strip
    bool stripsReversed = false;               // store the strips last to first
    bool shortStripArrays = false;             // StripOffsets/StripByteCounts as SHORT
    bool withByteCounts = true;
    bool tiles = false;                        // the strips are tiles (TileOffsets, TileByteCounts)
    // BigTIFF layout (the first page's setting holds for the file); the
    // strip tables then are LONG8 unless shortStripArrays.
    bool bigTiff = false;
};
std::vector<uint8_t> MakeTiff(const TiffFixture& fixture);
// A file of several pages in one directory chain, in the byte order and
// layout of the first; with loopTo >= 0 the last directory's next offset
// points back at directory loopTo. The directories of subIfds follow, out of
// the chain, and the first page's SubIFDs entry (type IFD) points at them.
std::vector<uint8_t> MakeTiffPages(const std::vector<TiffFixture>& pages, int loopTo = -1,
                                   const std::vector<TiffFixture>& subIfds = {});

// Bytes of one item of a field type (RATIONAL: both numbers).
uint32_t ItemBytes(uint16_t type);

// A plain image description: width, height, bits, samples, photometric,
// uncompressed rows of rowsPerStrip rows.
TiffFixture PlainTiff(uint32_t width, uint32_t height, uint16_t bits, uint16_t samples, uint16_t photometric,
                      const std::vector<uint8_t>& data, uint32_t rowsPerStrip, bool littleEndian = true);

// The same image in uncompressed tiles of tileWidth x tileLength pixels:
// data holds the rows as PlainTiff takes them, or with planar set the rows
// of each plane (one sample a pixel) plane after plane. Edge tiles are
// padded with 0.
TiffFixture TiledTiff(uint32_t width, uint32_t height, uint16_t bits, uint16_t samples, uint16_t photometric,
                      const std::vector<uint8_t>& data, uint32_t tileWidth, uint32_t tileLength, bool planar = false,
                      bool littleEndian = true);

// A clip-path resource ("8BIM", id, empty name, data) of subpaths, closed
// or open, given by their anchors as fractions of the width and height;
// each knot's control points lie at (x - 0.01, y + 0.02) before and
// (x + 0.02, y - 0.01) after it. extraBytes: junk after the records.
struct PathKnot {
    double x, y;
};
struct PathSubpath {
    bool closed;
    std::vector<PathKnot> knots;
};
std::vector<uint8_t> PathResource(uint16_t id, const std::vector<PathSubpath>& subpaths, uint32_t extraBytes = 0);

// LZW codes packed most significant bit first, with the widths the format
// gives them: 9 bits after Clear, one more from the code after the one that
// makes the next free code 511, 1023 and 2047.
std::vector<uint8_t> LzwCodes(const std::vector<uint32_t>& codes);

}  // namespace testutil
