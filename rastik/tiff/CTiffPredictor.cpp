// Undoing TIFF predictors on decoded rows.
#include "rastik/tiff/CTiffPredictor.h"

#include <vector>

#include "rastik/tiff/TiffSampleConvert.h"
#include "rastik/tiff/TiffTags.h"

CTiffPredictor::CTiffPredictor(uint32_t predictor, const TiffRowShape& shape, bool littleEndian)
    : m_predictor(predictor), m_shape(shape), m_rowBytes(shape.RowBytes()), m_little(littleEndian)
{
}

bool CTiffPredictor::Takes(uint32_t predictor, uint32_t bits)
{
    switch (predictor) {
    case tiff::kPredictorNone: return true;
    case tiff::kPredictorHorizontal: return bits == 8 || bits == 16 || bits == 32 || bits == 64;
    case tiff::kPredictorFloatingPoint: return bits == 16 || bits == 24 || bits == 32 || bits == 64;
    default: return false;
    }
}

bool CTiffPredictor::Active() const
{
    return (m_predictor == tiff::kPredictorHorizontal || m_predictor == tiff::kPredictorFloatingPoint) &&
           Takes(m_predictor, m_shape.bits);
}

void CTiffPredictor::Undo(uint8_t* row) const
{
    if (!Active()) return;
    uint32_t bytes = m_shape.bits / 8;
    if (m_predictor == tiff::kPredictorHorizontal) {
        tiff::UndoHorizontalDifferencing(row, m_shape.width, m_shape.samples, bytes, m_little);
        return;
    }
    // The row's bytes regrouped: a scratch copy of the row's own (rows are
    // undone on worker threads at once, so it is not kept).
    constexpr uint32_t kOnStack = 4096;
    uint8_t local[kOnStack];
    std::vector<uint8_t> large(m_rowBytes > kOnStack ? m_rowBytes : 0);
    uint8_t* scratch = m_rowBytes > kOnStack ? large.data() : local;
    tiff::UndoFloatPredictor(row, scratch, m_shape.width, m_shape.samples, bytes, m_little);
}
