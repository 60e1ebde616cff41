// Whole reads: a row source's rows into the channel planes.
#include "rastik/core/CPlaneRowSink.h"

#include <algorithm>
#include <cstring>

#include "rastik/core/CBandSplitter.h"
#include "rastik/support/CPoolScope.h"
#include "rastik/support/PixelRows.h"

CPlaneRowSink::CPlaneRowSink(CRastik& image, const CPlaneRowStream::PlaneSet& planes, const CRowLayout& layout)
    : m_layout(layout),
      m_rows(image, planes, CPlaneRowStream::kFill, layout.Order, layout.Planes, layout.Group), m_width(image.Width),
      m_height(image.Height), m_total(layout.Visits ? layout.Visits : image.Height)
{
    m_rows.LeaveMessagesToStatus();
    for (uint32_t p = 0; p < layout.Planes && p < static_cast<uint32_t>(kMaxChannels); ++p)
        if (!planes.kinds || planes.kinds[p] != kChannelHeap) m_heap = false;
}

CPlaneRowSink::~CPlaneRowSink() = default;

CStatus CPlaneRowSink::Open()
{
    const uint32_t samples = m_layout.Samples();
    if (m_layout.Planes == 0 || m_layout.Planes > static_cast<uint32_t>(kMaxChannels) ||
        samples > static_cast<uint32_t>(kMaxChannels) || samples < m_layout.Planes || m_total > 0xFFFFFFFFull)
        return CStatus::Failed();
    if (!m_rows.Open()) return m_rows.Status() ? CStatus::Failed() : m_rows.Status();
    if (m_layout.Visits) m_rows.SetProgress(static_cast<uint32_t>(m_total));
    // Rows are decoded into rows of the sink's own and copied into the
    // planes in one pass (faster than decoding into planes that are not in
    // the cache), except for sources that fill a group of rows at once.
    if ((m_layout.Group <= 1 && !m_layout.InPlace) || m_layout.Interleaved) LendRows(m_layout, m_width);
    if (m_layout.Interleaved && samples > m_layout.Planes) m_junk.assign(m_width, 0);
    if (AnyOrder()) m_seen.assign(m_height, 0);
    SplitInBands();
    return CStatus::Ok();
}

void CPlaneRowSink::SplitInBands()
{
    CWorkerPool* pool = CPoolScope::Lent();
    const uint32_t n = m_layout.Interleaved;
    if (!pool || n == 0 || n != m_layout.Planes || AnyOrder() || !m_heap || m_layout.Group > 1) return;
    const size_t slotBytes = std::max<size_t>(m_layout.RowBytes, static_cast<size_t>(m_width) * n);
    m_splitter = std::make_unique<CBandSplitter>(*pool, m_width, n, slotBytes, m_layout.Inverted);
    // Rows are final once their band is split: this sink tells the follower.
    m_rows.FollowedBy(nullptr);
}

CStatus CPlaneRowSink::StreamStatus() const
{
    CStatus s = m_rows.Status();
    return s ? CStatus::Failed() : s;
}

CStatus CPlaneRowSink::Finish(const CStatus& run)
{
    if (m_splitter && !m_splitter->Drain() && run) return CStatus::Failed();
    if (!run) return run;
    if (m_handed < m_total) return CStatus::Failed();
    if (m_rows.Finish() != CPlaneRowStream::kDone) return StreamStatus();
    return CStatus::Ok();
}

uint32_t CPlaneRowSink::RowsHanded() const
{
    return static_cast<uint32_t>(std::min<uint64_t>(m_handed, m_height));
}

void CPlaneRowSink::FollowedBy(CReadFollower* follower)
{
    m_follower = m_layout.Visits == 0 ? follower : nullptr;
    m_rows.FollowedBy(m_splitter ? nullptr : m_follower);
}

uint32_t CPlaneRowSink::MostRowsAhead(uint32_t threads)
{
    // Interleaved rows go through the splitter's bands; others are final
    // as they are committed.
    return CBandSplitter::MostRowsAhead(threads);
}

bool CPlaneRowSink::Wants(uint32_t row) const noexcept
{
    return row < m_height && m_rows.Result() == CPlaneRowStream::kRunning;
}

bool CPlaneRowSink::Done() const noexcept
{
    return m_handed >= m_total;
}

uint32_t CPlaneRowSink::PositionOf(uint32_t row) const
{
    return m_layout.Order == CPlaneRowStream::kBottomUp ? m_height - 1 - row : row;
}

uint8_t* const* CPlaneRowSink::PlaneRows(uint32_t row)
{
    if (row >= m_height) return nullptr;
    if (AnyOrder()) {
        for (uint32_t p = 0; p < m_layout.Planes; ++p)
            if (!(m_planes[p] = m_rows.RowAt(p, row, m_seen[row] != 0))) return nullptr;
        return m_planes;
    }
    // A group's rows are lent from its first one on, ahead of the rows committed.
    uint32_t pos = PositionOf(row);
    if (pos < m_next) return nullptr;
    for (uint32_t p = 0; p < m_layout.Planes; ++p)
        if (!(m_planes[p] = m_rows.Row(p, pos - m_next))) return nullptr;
    return m_planes;
}

uint8_t* const* CPlaneRowSink::Target(uint32_t row) noexcept
{
    if (m_splitter) {
        m_slot[0] = m_rows.Result() == CPlaneRowStream::kRunning ? m_splitter->Slot() : nullptr;
        return m_slot[0] ? m_slot : nullptr;
    }
    if (LentRows().Made()) return m_rows.Result() == CPlaneRowStream::kRunning ? LentRows().Rows() : nullptr;
    return PlaneRows(row);
}

CStatus CPlaneRowSink::Commit(uint32_t row, CRowColumns columns) noexcept
{
    if (m_splitter) return Put(row, m_slot, columns);
    if (LentRows().Made()) return Put(row, LentRows().Rows(), columns);
    if (!AnyOrder() && PositionOf(row) != m_next) return CStatus::Failed();
    if (m_layout.Inverted)
        for (uint32_t p = 0; p < m_layout.Planes; ++p) rastik::InvertSamples(m_planes[p], m_width);
    return Passed(row);
}

void CPlaneRowSink::Split(const uint8_t* samples, CRowColumns columns)
{
    const uint32_t n = m_layout.Interleaved;
    for (uint32_t s = 0; s < n; ++s) {
        uint32_t plane = m_layout.Bgr && s < 3 ? 2 - s : s;
        m_split[s] = plane < m_layout.Planes ? m_planes[plane] : m_junk.data();
    }
    if (columns.All()) {
        rastik::SplitSamples(samples, m_width, n, m_split);
        if (m_layout.Inverted)
            for (uint32_t p = 0; p < m_layout.Planes; ++p) rastik::InvertSamples(m_planes[p], m_width);
        return;
    }
    const uint8_t flip = m_layout.Inverted ? 0xFF : 0;
    for (uint32_t p = 0; p < m_layout.Planes; ++p) {
        uint32_t s = m_layout.Bgr && p < 3 ? 2 - p : p;
        uint8_t* out = m_planes[p];
        for (uint32_t x = columns.Start; x < m_width; x += columns.Step)
            out[x] = static_cast<uint8_t>(samples[static_cast<size_t>(x) * n + s] ^ flip);
    }
}

CStatus CPlaneRowSink::Put(uint32_t row, const uint8_t* const* samples, CRowColumns columns) noexcept
{
    if (!samples || !PlaneRows(row)) return StreamStatus();
    if (!AnyOrder() && PositionOf(row) != m_next) return CStatus::Failed();
    if (m_splitter) return PutInBand(row, samples[0], columns);
    if (m_layout.Interleaved) {
        Split(samples[0], columns);
    } else {
        const uint8_t flip = m_layout.Inverted ? 0xFF : 0;
        for (uint32_t p = 0; p < m_layout.Planes; ++p) {
            if (columns.All() && !flip) {
                memcpy(m_planes[p], samples[p], m_width);
                continue;
            }
            for (uint32_t x = columns.Start; x < m_width; x += columns.Step)
                m_planes[p][x] = static_cast<uint8_t>(samples[p][x] ^ flip);
        }
    }
    return Passed(row);
}

CStatus CPlaneRowSink::PutInBand(uint32_t row, const uint8_t* samples, CRowColumns columns)
{
    if (!samples) return CStatus::Failed();
    if (!columns.All()) {
        // Part of a row: the bands before go first, then the row here.
        if (!m_splitter->Drain()) return CStatus::Failed();
        Split(samples, columns);
        return Passed(row);
    }
    uint8_t* slot = m_splitter->Slot();
    if (!slot) return CStatus::Failed();
    const uint32_t n = m_layout.Interleaved;
    if (samples != slot) memcpy(slot, samples, static_cast<size_t>(m_width) * n);
    uint8_t* out[kMaxChannels] = {};
    for (uint32_t s = 0; s < n; ++s) out[s] = m_planes[m_layout.Bgr && s < 3 ? 2 - s : s];
    m_splitter->Add(out);
    CStatus passed = Passed(row);
    if (passed && m_follower && m_layout.Order == CPlaneRowStream::kTopDown)
        m_follower->RowsFinal(m_splitter->RowsSplit());
    return passed;
}

CStatus CPlaneRowSink::Passed(uint32_t row)
{
    ++m_handed;
    if (AnyOrder()) {
        m_seen[row] = 1;
        return m_rows.Commit(row) ? CStatus::Ok() : m_rows.Status();
    }
    ++m_next;
    return m_rows.Advance(1) ? CStatus::Ok() : m_rows.Status();
}

CStatus CPlaneRowSink::Pass(uint32_t) noexcept
{
    // A whole read takes every row.
    return CStatus::Failed();
}
