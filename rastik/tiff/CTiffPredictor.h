// TIFF predictors, undone on decoded rows after a decoder that allows one.
// Predictor 1 stores samples as they are. Predictor 2, horizontal
// differencing, stores every sample but those of a row's first pixel as its
// difference from the same sample of the pixel before: bytes for 8-bit
// samples, whole samples in the file's byte order for 16-bit ones.
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
    // The stored row of the shape turned into samples.
    void Undo(uint8_t* row) const;

private:
    uint32_t m_predictor;
    TiffRowShape m_shape;
    uint32_t m_rowBytes;
    bool m_little;
};
