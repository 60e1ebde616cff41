// A library decoder's rows into the base class's sink.
#include "rastik/core/CRowHandover.h"

bool CRowHandover::Fits(uint32_t width, uint32_t height, uint32_t samples) const noexcept
{
    return width == m_source.Width() && height == m_source.Height() && samples == m_source.Layout().Interleaved;
}

bool CRowHandover::Put(uint32_t row, const uint8_t* samples, CRowColumns columns) noexcept
{
    m_status = m_sink.Put(row, &samples, columns);
    return m_status.IsOk();
}

bool CRowHandover::Repeat(const uint8_t* samples, uint32_t row, uint32_t count) noexcept
{
    for (uint32_t i = 0; i < count && m_status; ++i)
        m_status = m_sink.Wants(row + i) ? m_sink.Put(row + i, &samples) : m_sink.Pass(row + i);
    return m_status.IsOk();
}

CStatus CRowHandover::Result(bool finished) const
{
    if (finished) return CStatus::Ok();
    return m_status ? CStatus::Failed() : m_status;
}
