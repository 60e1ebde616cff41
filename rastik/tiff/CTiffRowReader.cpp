// Decoded rows of a TIFF plane, strip by strip.
#include "rastik/tiff/CTiffRowReader.h"

#include <algorithm>
#include <new>

#include "rastik/General.h"
#include "rastik/support/CPoolScope.h"
#include "rastik/tiff/CTiffStripBatch.h"
#include "rastik/tiff/CTiffStripBytes.h"
#include "rastik/tiff/TiffDecoderTable.h"

CTiffRowReader::CTiffRowReader(CFile& file, const TiffStripPlan& plan)
    : m_file(file), m_plan(plan), m_rowBytes(plan.RowBytes()),
      m_predictor(plan.predictor, plan.shape, plan.littleEndian)
{
}

CTiffRowReader::~CTiffRowReader()
{
    FreeBuffer(&m_row);
}

bool CTiffRowReader::Open(uint32_t readAhead, uint32_t readers)
{
    const TiffDecoderEntry* entry = m_plan.decoder;
    if (!entry || m_rowBytes == 0 || m_plan.rowsPerStrip == 0 || m_plan.height == 0) return false;
    m_row = static_cast<uint8_t*>(AllocBuffer(m_rowBytes, 0, 1));
    if (!m_row) return false;
    uint64_t largest = 0;
    for (uint32_t i = 0; i < m_plan.strips; ++i) largest = std::max<uint64_t>(largest, m_plan.counts[i]);
    // Rows at fixed places are read as far ahead as asked, and never in part.
    uint64_t least = 0;
    if (entry->seeksRows) {
        least = m_rowBytes;
        largest = std::min<uint64_t>(largest, static_cast<uint64_t>(std::max<uint32_t>(readAhead, 1)) * m_rowBytes);
    }
    m_bytes = std::make_unique<CTiffStripBytes>(m_file, m_file.GetLength(), m_plan.reverseBits);
    if (!m_bytes->Reserve(largest, least)) return false;
    m_decoder = entry->make(m_plan.shape);
    if (!m_decoder) return false;
    CWorkerPool* pool = CPoolScope::Lent();
    if (pool && readAhead >= m_plan.height && CTiffStripBatch::Suits(m_plan, pool->Threads(), m_file.GetLength())) {
        m_batch = std::make_unique<CTiffStripBatch>(m_file, *m_bytes, m_plan, m_predictor, *pool);
        if (!m_batch->Open(readers)) return false;
    }
    return true;
}

const uint8_t* CTiffRowReader::Row(uint32_t r)
{
    if (!m_decoder || r >= m_plan.height) return nullptr;
    try {
        if (m_batch) return m_batch->Row(r);
        uint32_t strip = r / m_plan.rowsPerStrip;
        if ((strip != m_strip || r < m_next) && !StartStrip(strip)) return nullptr;
        if (r > m_next) m_decoder->SkipRows(r - m_next, m_row);
        m_next = r + 1;
        uint8_t* row = m_decoder->DecodeRow(m_row);
        if (m_predictor.Active()) m_predictor.Undo(row);
        return row;
    } catch (const CFileException&) {
        return nullptr;
    } catch (const std::bad_alloc&) {
        return nullptr;  // a batch's buffers
    }
}

bool CTiffRowReader::StartStrip(uint32_t strip)
{
    m_strip = strip;
    m_next = strip * m_plan.rowsPerStrip;
    if (strip < m_plan.strips)
        m_bytes->Start(m_plan.offsets[strip], m_plan.counts[strip]);
    else
        m_bytes->Start(0, 0);
    return m_decoder->Start(*m_bytes);
}
