// Undoing TIFF predictors on decoded rows.
#include "rastik/tiff/CTiffPredictor.h"

#include "rastik/support/ByteOrder.h"
#include "rastik/tiff/TiffTags.h"

CTiffPredictor::CTiffPredictor(uint32_t predictor, const TiffRowShape& shape, bool littleEndian)
    : m_predictor(predictor), m_shape(shape), m_rowBytes(shape.RowBytes()), m_little(littleEndian)
{
}

bool CTiffPredictor::Takes(uint32_t predictor, uint32_t bits)
{
    if (predictor == tiff::kPredictorNone) return true;
    return predictor == tiff::kPredictorHorizontal && (bits == 8 || bits == 16);
}

bool CTiffPredictor::Active() const
{
    return m_predictor == tiff::kPredictorHorizontal;
}

void CTiffPredictor::Undo(uint8_t* row) const
{
    if (!Active()) return;
    uint32_t step = m_shape.samples;
    if (m_shape.bits == 8) {
        for (uint32_t i = step; i < m_rowBytes; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - step]);
        return;
    }
    if (m_shape.bits != 16) return;
    uint32_t count = m_shape.width * step;
    for (uint32_t i = step; i < count; ++i) {
        uint16_t v = static_cast<uint16_t>(rastik::Get16(row + 2 * i, m_little) + rastik::Get16(row + 2 * (i - step), m_little));
        rastik::Put16(row + 2 * i, v, m_little);
    }
}
