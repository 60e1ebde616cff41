// The decoded rows of one plane of a tiled TIFF image. Tiles are
// TileWidth x TileLength pixels, stored left to right and top down (all
// tiles of the first plane first when the file stores a plane per sample);
// each is decoded on its own, as a strip of TileLength rows of TileWidth
// pixels, and the tiles on the right and bottom edges reach past the image.
// Rows are made a band at a time (the row of tiles holding them), cut to
// the image's width; a band none of whose rows is asked for is never read.
// Where rows lie at fixed places in a tile and a read takes rows one at a
// time, only the rows asked for are read from each tile. The tiles of a
// band are decoded on the conversion's worker pool when there is one, each
// from its own start as on one thread, so the rows are the same. Memory: one
// band of decoded rows and the stored bytes of a chunk of its tiles.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/CFile.h"
#include "rastik/tiff/CTiffDecoder.h"
#include "rastik/tiff/CTiffPlaneRows.h"
#include "rastik/tiff/CTiffPredictor.h"
#include "rastik/tiff/CTiffRowReader.h"

class CTiffStripBytes;
class CWorkerPool;

// What the reader needs to know of a plane's tiles: the decoding of
// strips, a tile's rows being the shape's (TileWidth pixels, TileLength
// rows), and the image's width. The offsets and counts are those of the
// plane's Across() x Down() tiles.
struct TiffTilePlan : TiffStripPlan {
    uint32_t width = 0;

    // Tiles in a row of tiles and in a column; the tile size is not 0.
    uint32_t Across() const { return (width - 1) / shape.width + 1; }
    uint32_t Down() const { return (height - 1) / shape.rows + 1; }
    uint32_t TileRowBytes() const { return shape.RowBytes(); }
    // A band's row: the rows of its tiles side by side.
    uint64_t BandStride() const { return static_cast<uint64_t>(Across()) * TileRowBytes(); }
    uint64_t BandBytes() const { return BandStride() * std::min(shape.rows, height); }
    // Whether a tile's row ends on a byte boundary, so that a band's row
    // holds the image row as it is.
    bool Aligned() const { return static_cast<uint64_t>(shape.width) * shape.bits * shape.samples % 8 == 0; }
};

class CTiffTileReader : public CTiffPlaneRows {
public:
    CTiffTileReader(CFile& file, const TiffTilePlan& plan);
    ~CTiffTileReader() override;

    bool Open(uint32_t readAhead, uint32_t readers) override;
    const uint8_t* Row(uint32_t r) override;

private:
    // A tile of the band being filled: its column and stored bytes.
    struct Piece {
        uint32_t column = 0;
        uint32_t tile = 0;
        uint64_t at = 0;     // where its bytes begin in m_stored
        uint32_t bytes = 0;  // bytes held
        bool ok = false;
    };
    // Decodes rows [first, first + rows) of the band holding row first.
    bool Fill(uint32_t first, uint32_t rows);
    bool FillOnPool(uint32_t first, uint32_t rows);
    bool DecodePieces(std::vector<Piece>& pieces, uint32_t skip, uint32_t rows);
    // Starts decoder on bytes, passes over skip rows and decodes rows rows
    // into the band from out on. Safe on several threads for other columns.
    bool DecodeTile(CTiffDecoder& decoder, CTiffStripBytes& bytes, uint8_t* out, uint32_t skip, uint32_t rows) const;
    // The image row of the band's row at row, joined bit by bit.
    const uint8_t* Join(const uint8_t* row);
    uint64_t StoredRoom(uint32_t tile) const;

    CFile& m_file;
    TiffTilePlan m_plan;
    CTiffPredictor m_predictor;
    uint64_t m_fileLength = 0;
    uint32_t m_tileRowBytes = 0;
    uint64_t m_stride = 0;
    bool m_rowsOnly = false;  // one row of each tile at a time
    CWorkerPool* m_pool = nullptr;

    std::vector<uint8_t> m_band;    // decoded rows, m_stride bytes each
    std::vector<uint8_t> m_joined;  // an image row of tiles not byte-aligned
    std::vector<uint8_t> m_stored;  // tiles' stored bytes for the pool
    std::unique_ptr<CTiffStripBytes> m_bytes;
    std::unique_ptr<CTiffDecoder> m_decoder;
    uint32_t m_first = 0xFFFFFFFFu;  // first row the band holds
    uint32_t m_rows = 0;             // and how many
};
