// Bands of target rows handed to the pool as a read makes their source rows final.
#include "rastik/core/CFollowingRows.h"

#include <algorithm>

#include "rastik/core/CRowProgress.h"

namespace {

// Rows of one item of pooled work, and target rows a hand-out gathers for
// every thread before it goes to the pool.
constexpr uint32_t kBandRows = 16;
constexpr uint32_t kBatchBandsPerThread = 1;

}  // namespace

CFollowingRows::CFollowingRows(CWorkerPool& pool, uint32_t rows, Needs needs, Make make)
    : m_pool(pool), m_rows(rows), m_needs(std::move(needs)), m_make(std::move(make)),
      m_batchRows(kBandRows * kBatchBandsPerThread * pool.Threads())
{
}

CFollowingRows::~CFollowingRows()
{
    WaitForAll();
}

void CFollowingRows::WaitForAll()
{
    for (Band& b : m_bands) m_pool.Wait(*b.job);
    m_bands.clear();
}

void CFollowingRows::RowsFinal(uint32_t rows) noexcept
{
    if (m_held) return;
    while (m_ready < m_rows && m_needs(m_ready) <= rows) ++m_ready;
    if (m_ready - m_handed < m_batchRows) return;
    try {
        HandOut(m_ready);
    } catch (...) {
        m_held = true;
    }
}

void CFollowingRows::HandOut(uint32_t end)
{
    if (end <= m_handed) return;
    const uint32_t first = m_handed;
    const uint32_t count = end - first;
    m_bands.reserve(m_bands.size() + 1);
    auto job = m_pool.Start((count + kBandRows - 1) / kBandRows, [this, first, end](uint32_t band) {
        const uint32_t from = first + band * kBandRows;
        const uint32_t to = std::min(from + kBandRows, end);
        for (uint32_t row = from; row < to; ++row) m_make(row);
    });
    m_bands.push_back({std::move(job), count});
    m_handed = end;
}

uint32_t CFollowingRows::RowsMade() noexcept
{
    for (; m_madeBand < m_bands.size(); ++m_madeBand, m_madeItem = 0) {
        const Band& b = m_bands[m_madeBand];
        for (; m_madeItem < b.job->Count(); ++m_madeItem) {
            if (!b.job->Done(m_madeItem)) return m_made;
            m_made += std::min(kBandRows, b.rows - m_madeItem * kBandRows);
        }
    }
    return m_made;
}

bool CFollowingRows::Finish(bool readSucceeded, CRowProgress& progress, uint32_t stepsPerRow)
{
    bool ok = readSucceeded;
    if (ok) {
        m_ready = m_rows;
        HandOut(m_rows);
    }
    for (Band& b : m_bands) {
        m_pool.Wait(*b.job);
        ok = ok && !b.job->Failed();
        for (uint64_t step = 0; ok && step < uint64_t{b.rows} * stepsPerRow; ++step) ok = progress.Step();
    }
    m_bands.clear();
    m_madeBand = 0;
    m_madeItem = 0;
    return ok;
}
