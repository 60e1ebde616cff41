// The compressions the TIFF reader decodes, one entry per Compression code:
// the decoder that turns a strip's stored bytes into rows, the most bytes a
// stored byte can decode to (the directory refuses files whose strips
// cannot hold their rows), whether a predictor may follow the decoder,
// whether a reduced read passes over rows inside a strip without reading
// them, which depths it reads and the photometric default it implies. A new
// compression is one entry here and one CTiffDecoder subclass; a Deflate
// entry takes its bound from rastik/support/InflateBound.h, as PNG does.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "rastik/tiff/CTiffDecoder.h"

struct TiffDecoderEntry {
    uint32_t compression;  // the Compression tag value
    const char* name;
    std::unique_ptr<CTiffDecoder> (*make)(const TiffRowShape& shape);
    // Decoded bytes one stored byte gives at most, plus whole rows one stored
    // byte gives at most (for codes that spend at least a byte on a row).
    uint32_t bytesPerByte;
    uint32_t rowsPerByte;
    // Whether the Predictor tag applies to the decoded rows; without it
    // the tag is ignored.
    bool predictor;
    // Whether rows lie at fixed places in a strip: a reduced read then
    // reads only the rows it takes and passes over the others unread.
    bool seeksRows;
    // Which images the decoder reads, by bits per sample and samples per
    // pixel; null for every depth the reader takes.
    bool (*takes)(uint32_t bits, uint32_t samples);
    // Whether one- and two-sample images without a PhotometricInterpretation
    // are white-is-zero (fax data) rather than black-is-zero.
    bool whiteIsZero;

    // Most bytes stored bytes decode to in rows of rowBytes bytes.
    uint64_t MostDecoded(uint64_t stored, uint64_t rowBytes) const;
};

// The entry of a compression code; null when the reader has none.
const TiffDecoderEntry* FindTiffDecoder(uint32_t compression);
// The entry for strips of a compression code and photometric
// interpretation: uncompressed YCbCr has its own.
const TiffDecoderEntry* FindTiffDecoder(uint32_t compression, uint32_t photometric);
// Every entry.
std::span<const TiffDecoderEntry> TiffDecoders();
