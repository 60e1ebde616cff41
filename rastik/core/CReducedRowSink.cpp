// Reduced reads: the sampled rows and columns of a row source's rows.
#include "rastik/core/CReducedRowSink.h"

#include <algorithm>

#include "rastik/General.h"

namespace {

// Rows handed over in all, for progress.
uint32_t Visits(const CRowLayout& layout, uint32_t height)
{
    return static_cast<uint32_t>(std::min<uint64_t>(layout.Visits ? layout.Visits : height, 0xFFFFFFFFull));
}

}  // namespace

CReducedRowSink::CReducedRowSink(CRastik& image, const CRowLayout& layout, uint32_t width, uint32_t height,
                                 uint8_t* const* planes, uint32_t planeCount)
    : m_image(image), m_layout(layout), m_sampler(image.Width, image.Height, width, height),
      m_planeCount(std::min<uint32_t>(planeCount, kMaxChannels)), m_height(height),
      m_stride(BytesPerRow(width * 8)), m_progress(Visits(layout, image.Height), 0, &image.EscPressed)
{
    for (uint32_t c = 0; c < m_planeCount; ++c) m_planes[c] = planes[c];
    LendRows(layout, image.Width);
}

int64_t CReducedRowSink::TargetOf(uint32_t row) const
{
    if (row >= m_image.Height) return -1;
    bool bottomUp = m_layout.Order == CPlaneRowStream::kBottomUp;
    uint32_t position = bottomUp ? m_image.Height - 1 - row : row;
    const std::vector<uint32_t>& rows = m_sampler.Rows();
    auto at = std::lower_bound(rows.begin(), rows.end(), position);
    if (at == rows.end() || *at != position) return -1;
    int64_t made = at - rows.begin();
    return bottomUp ? static_cast<int64_t>(m_height) - 1 - made : made;
}

bool CReducedRowSink::Wants(uint32_t row) const noexcept
{
    return TargetOf(row) >= 0;
}

bool CReducedRowSink::Done() const noexcept
{
    // Rows that come more than once (interlaced passes) are never known to be complete.
    return !m_layout.Visits && m_taken >= m_sampler.Rows().size();
}

uint8_t CReducedRowSink::Sample(const uint8_t* const* samples, uint32_t x, uint32_t c) const
{
    uint8_t v;
    if (m_layout.Interleaved) {
        uint32_t s = m_layout.Bgr && c < 3 ? 2 - c : c;
        v = samples[0][static_cast<size_t>(x) * m_layout.Interleaved + s];
    } else {
        v = samples[c][x];
    }
    return m_layout.Inverted ? static_cast<uint8_t>(255 - v) : v;
}

CStatus CReducedRowSink::Put(uint32_t row, const uint8_t* const* samples, CRowColumns columns) noexcept
{
    int64_t target = TargetOf(row);
    if (target >= 0 && samples) {
        const std::vector<uint32_t>& xs = m_sampler.Columns();
        uint32_t colours = std::min(m_planeCount, m_layout.Interleaved ? m_layout.Interleaved : m_layout.Planes);
        for (uint32_t c = 0; c < colours; ++c) {
            uint8_t* out = m_planes[c] + static_cast<size_t>(target) * m_stride;
            for (size_t k = 0; k < xs.size(); ++k)
                if (columns.All() || columns.Has(xs[k])) out[k] = Sample(samples, xs[k], c);
        }
        ++m_taken;
    }
    return Step();
}

CStatus CReducedRowSink::Pass(uint32_t) noexcept
{
    return Step();
}

CStatus CReducedRowSink::Step()
{
    return m_progress.Step() ? CStatus::Ok() : CStatus::Stopped();
}
