// RGB rows of uncompressed 8-bit YCbCr TIFF strips (PhotometricInterpretation
// 6), converted exactly as libtiff's RGBA reading converts them.
//
// The samples are stored in data units of h x v luma samples (h and v the
// YCbCrSubSampling, each 1, 2 or 4; the luma samples row by row) followed
// by one Cb and one Cr sample; a row of units covers v rows of the image
// and ceil(width / h) units. Each pixel takes the chroma of its unit
// (whatever YCbCrPositioning says). YCbCrCoefficients (default 0.299,
// 0.587, 0.114) and ReferenceBlackWhite (default 0, 255, 128, 255, 128,
// 255) scale the codes into fixed-point tables as libtiff does.
//
// A strip starts at a row of units; rows come out as width RGB triples.
// Units the strip's data does not hold are black.
#pragma once

#include <cstddef>
#include <cstdint>

class CTiffYCbCrRows {
public:
    // coefficients: 3 values, referenceBlackWhite: 6, or null for the
    // defaults.
    CTiffYCbCrRows(uint32_t width, uint32_t subH, uint32_t subV, const float* coefficients = nullptr,
                   const float* referenceBlackWhite = nullptr);

    // Whether the width and subsampling can be decoded.
    bool Ok() const { return m_ok; }
    // Stored bytes of one row of data units (v rows of the image).
    size_t UnitRowBytes() const { return m_unitRowBytes; }
    uint32_t RowBytes() const { return 3 * m_width; }

    // Starts a strip on [data, data + size), which must stay alive while
    // rows are decoded.
    void Start(const uint8_t* data, size_t size);
    // The next row as RGB triples (RowBytes() bytes). False when the strip
    // does not hold the row's units whole.
    bool DecodeRow(uint8_t* rgb);
    bool SkipRow();

    // One pixel through the tables.
    void ToRgb(uint32_t y, uint32_t cb, uint32_t cr, uint8_t* rgb) const;

private:
    void MakeTables(const float* coefficients, const float* referenceBlackWhite);

    uint32_t m_width;
    uint32_t m_h, m_v;
    bool m_ok;
    size_t m_unitRowBytes = 0;

    const uint8_t* m_at = nullptr;   // the current row of units
    const uint8_t* m_end = nullptr;
    uint32_t m_row = 0;              // row within the row of units

    int32_t m_crToR[256], m_cbToB[256], m_crToG[256], m_cbToG[256], m_y[256];
};
