// Uncompressed YCbCr strips (compression 1, PhotometricInterpretation 6) as
// RGB rows of the decoder table: the strip holds rows of data units, each
// covering as many image rows as the vertical subsampling says
// (CTiffYCbCrRows converts them with the directory's YCbCrSubSampling,
// YCbCrCoefficients and ReferenceBlackWhite). Rows come out as width RGB
// triples; units the strip's data does not hold are black.
#pragma once

#include <vector>

#include "rastik/tiff/CTiffDecoder.h"
#include "rastik/tiff/CTiffYCbCrRows.h"

class CTiffYCbCrDecoder : public CTiffDecoder {
public:
    explicit CTiffYCbCrDecoder(const TiffRowShape& shape);

    // 8-bit samples, three to a pixel.
    static bool Takes(uint32_t bits, uint32_t samples) { return bits == 8 && samples == 3; }

    // False when the subsampling is not one the reader takes.
    bool Start(CTiffStripBytes& bytes) override;
    uint8_t* DecodeRow(uint8_t* row) override;
    void SkipRows(uint32_t count, uint8_t* row) override;

private:
    // The next row of data units into m_units; the bytes the strip held.
    size_t ReadUnits();

    CTiffYCbCrRows m_convert;
    uint32_t m_subV;
    std::vector<uint8_t> m_units;
    uint32_t m_row = 0;  // rows of the strip handed out
};
