// TIFF predictors, undone on decoded rows after a decoder that allows one.
// Predictor 1 stores samples as they are. Predictor 2, horizontal
// differencing, stores every sample but those of a row's first pixel as its
// difference from the same sample of the pixel before: whole samples of 8,
// 16, 32 or 64 bits in the file's byte order. Predictor 3, for floating
// point samples of 16, 24, 32 or 64 bits, stores a row's bytes regrouped by
// significance and then differenced byte by byte (TiffSampleConvert.h).
#pragma once

#include <cstdint>

#include "rastik/tiff/CTiffDecoder.h"

class CTiffPredictor {
public:
    CTiffPredictor(uint32_t predictor, const TiffRowShape& shape, bool littleEndian);

    // Whether rows of bits-bit samples can be stored with predictor.
    static bool Takes(uint32_t predictor, uint32_t bits);
    // Whether rows need undoing at all.
    bool Active() const;
    // The stored row of the shape turned into samples. Safe to call on
    // several threads at once.
    void Undo(uint8_t* row) const;

private:
    uint32_t m_predictor;
    TiffRowShape m_shape;
    uint32_t m_rowBytes;
    bool m_little;
};
