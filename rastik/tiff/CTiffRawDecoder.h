// Uncompressed TIFF strips (compression 1): the rows as they are stored, one
// after the other. Rows lie at fixed places, so rows are passed over without
// being read, and a row is handed out where it lies in the strip's window.
#pragma once

#include "rastik/tiff/CTiffDecoder.h"

class CTiffRawDecoder : public CTiffDecoder {
public:
    using CTiffDecoder::CTiffDecoder;

    // False when the window cannot hold a whole row.
    bool Start(CTiffStripBytes& bytes) override;
    uint8_t* DecodeRow(uint8_t* row) override;
    void SkipRows(uint32_t count, uint8_t* row) override;
};
