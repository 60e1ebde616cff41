// The decoded rows of one TIFF image plane (the interleaved rows, or one
// plane of a file that stores a plane per sample), asked for in ascending
// order: each strip is found at its own offset, strips holding no asked row
// are never read, and a strip is left as soon as the rows asked of it are
// decoded. The compression's decoder (TiffDecoderTable.h) makes the rows;
// the predictor, where the compression allows one, is undone after it.
// Rows that lie at fixed places are read many at a time for whole-image
// reads and one at a time, passing over the others, for reduced reads.
// Whole-image reads of compressed strips inside a conversion with worker
// threads decode several strips at once (CTiffStripBatch).
#pragma once

#include <cstdint>
#include <memory>

#include "platform/CFile.h"
#include "rastik/tiff/CTiffDecoder.h"
#include "rastik/tiff/CTiffPlaneRows.h"
#include "rastik/tiff/CTiffPredictor.h"

class CTiffStripBatch;
class CTiffStripBytes;
struct TiffDecoderEntry;

// What the reader needs to know of a plane's strips.
struct TiffStripPlan {
    const TiffDecoderEntry* decoder = nullptr;
    uint32_t predictor = 1;     // Predictor tag value, 1 when none applies
    bool reverseBits = false;   // FillOrder 2
    bool littleEndian = true;   // byte order of 16-bit samples
    TiffRowShape shape;         // the rows of a strip
    uint32_t height = 0;
    uint32_t rowsPerStrip = 1;
    const uint64_t* offsets = nullptr;
    const uint64_t* counts = nullptr;  // stored bytes of each strip
    uint32_t strips = 0;               // strips the file gives for the plane

    uint32_t RowBytes() const { return shape.RowBytes(); }
};

class CTiffRowReader : public CTiffPlaneRows {
public:
    CTiffRowReader(CFile& file, const TiffStripPlan& plan);
    ~CTiffRowReader() override;

    // Takes the buffers; readAhead: rows a read may take at once where rows
    // lie at fixed places; readers: readers of the image decoding at once
    // (one per plane), which share the batches of strips on the pool.
    // False when memory is short.
    bool Open(uint32_t readAhead, uint32_t readers = 1) override;
    // Row r (not below the row asked before): RowBytes() bytes in the
    // file's sample layout. Data the file does not hold reads as 0. Null
    // when the file cannot be read or a strip is not data of its
    // compression.
    const uint8_t* Row(uint32_t r) override;

private:
    bool StartStrip(uint32_t strip);

    CFile& m_file;
    TiffStripPlan m_plan;
    uint32_t m_rowBytes;
    CTiffPredictor m_predictor;

    uint8_t* m_row = nullptr;  // room for one decoded row
    std::unique_ptr<CTiffStripBytes> m_bytes;
    std::unique_ptr<CTiffDecoder> m_decoder;
    // Whole reads inside a conversion with worker threads: strips decoded
    // on the pool, a batch at a time.
    std::unique_ptr<CTiffStripBatch> m_batch;
    uint32_t m_strip = 0xFFFFFFFFu;  // strip being decoded
    uint32_t m_next = 0;             // next row its decoder gives
};
