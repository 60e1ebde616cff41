// Interleaved rows split into planes in bands on the workers.
#include "rastik/core/CBandSplitter.h"

#include <algorithm>
#include <new>

#include "platform/LargeBlock.h"

#include "rastik/support/PixelRows.h"

namespace {

// Rows of one item of pooled work; a band holds one item per thread.
constexpr uint32_t kItemRows = 16;
constexpr uint32_t kItemsPerThread = 1;
// Slots of this many bytes and more lie in whole large pages.
constexpr size_t kLeastLargePages = 256u << 10;

}  // namespace

CBandSplitter::CBandSplitter(CWorkerPool& pool, uint32_t width, uint32_t samples, size_t slotBytes, bool inverted)
    : m_pool(pool), m_width(width), m_samples(samples), m_slotBytes(slotBytes), m_inverted(inverted),
      m_bandRows(kItemRows * kItemsPerThread * pool.Threads())
{
    const size_t bandBytes = m_slotBytes * m_bandRows;
    // The first band's slots are filled before any worker starts: in whole
    // large pages, they are mapped at a few faults instead of one per 4 KiB.
    size_t bytes = 2 * bandBytes;
    if (bytes >= kLeastLargePages) bytes = WholeLargePages(bytes);
    m_slots.reset(static_cast<uint8_t*>(AllocLargeBlock(bytes, false)));
    if (!m_slots) throw std::bad_alloc();
    for (uint32_t k = 0; k < 2; ++k) {
        m_bands[k].samples = m_slots.get() + k * bandBytes;
        m_bands[k].out.resize(static_cast<size_t>(m_samples) * m_bandRows);
    }
}

uint32_t CBandSplitter::MostRowsAhead(uint32_t threads)
{
    // A band on the workers and the band being filled.
    return 2 * kItemRows * kItemsPerThread * threads + 1;
}

CBandSplitter::~CBandSplitter()
{
    for (Band& b : m_bands)
        if (b.job) m_pool.Wait(*b.job);
}

uint8_t* CBandSplitter::Slot()
{
    Band& band = m_bands[m_filling];
    if (band.job) Settle(band);
    if (m_failed) return nullptr;
    return band.samples + m_slotBytes * band.rows;
}

void CBandSplitter::Add(uint8_t* const* out)
{
    Band& band = m_bands[m_filling];
    if (band.rows == 0) band.first = m_added;
    std::copy(out, out + m_samples, band.out.begin() + static_cast<ptrdiff_t>(band.rows) * m_samples);
    ++band.rows;
    ++m_added;
    if (band.rows < m_bandRows) return;
    Start(band);
    m_filling ^= 1;
}

void CBandSplitter::Start(Band& band)
{
    Band* b = &band;
    band.job = m_pool.Start((band.rows + kItemRows - 1) / kItemRows, [this, b](uint32_t item) {
        const uint32_t end = std::min(b->rows, (item + 1) * kItemRows);
        for (uint32_t i = item * kItemRows; i < end; ++i) {
            uint8_t* const* out = b->out.data() + static_cast<size_t>(i) * m_samples;
            rastik::SplitSamples(b->samples + m_slotBytes * i, m_width, m_samples, out);
            if (m_inverted)
                for (uint32_t s = 0; s < m_samples; ++s) rastik::InvertSamples(out[s], m_width);
        }
    });
}

bool CBandSplitter::AllDone(const CWorkerPool::CJob& job)
{
    for (uint32_t i = 0; i < job.Count(); ++i)
        if (!job.Done(i)) return false;
    return true;
}

void CBandSplitter::Settle(Band& band)
{
    m_pool.Wait(*band.job);
    if (band.job->Failed()) m_failed = true;
    band.job.reset();
    m_split = std::max(m_split, band.first + band.rows);
    band.rows = 0;
}

uint32_t CBandSplitter::RowsSplit()
{
    // A band on the workers that is to fill next started before the other.
    for (uint32_t k = 0; k < 2; ++k) {
        Band& band = m_bands[m_filling ^ k];
        if (band.job && AllDone(*band.job)) Settle(band);
        else if (band.job) break;
    }
    return m_split;
}

bool CBandSplitter::Drain()
{
    Band& filling = m_bands[m_filling];
    Band& other = m_bands[m_filling ^ 1];
    if (filling.rows > 0 && !filling.job) Start(filling);
    if (other.job) Settle(other);
    if (filling.job) Settle(filling);
    return !m_failed;
}
