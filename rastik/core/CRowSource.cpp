// The pull loop of row sources that read and skip stored rows in order.
#include "rastik/core/CRowSource.h"

#include <algorithm>

CRowSource::CRowSource(uint32_t width, uint32_t height, const CRowLayout& layout)
    : m_width(width), m_height(height), m_layout(layout)
{
}

CRowSource::~CRowSource() = default;

CStatus CRowSource::Start()
{
    return CStatus::Ok();
}

CStatus CRowSource::Finish()
{
    return CStatus::Ok();
}

CStatus CRowSource::Read(uint8_t* const*)
{
    return CStatus::Failed();
}

uint32_t CRowSource::NextRow() const
{
    return m_layout.Order == CPlaneRowStream::kBottomUp ? m_height - 1 - m_passed : m_passed;
}

CStatus CRowSource::Skip()
{
    if (m_skippedRows.empty()) {
        const CRowLayout& l = m_layout;
        size_t row = l.Interleaved ? std::max<size_t>(l.RowBytes, static_cast<size_t>(m_width) * l.Interleaved)
                                   : m_width;
        size_t rows = l.Interleaved ? 1 : l.Planes;
        m_skipped.assign(row * rows, 0);
        for (size_t i = 0; i < rows; ++i) m_skippedRows.push_back(m_skipped.data() + i * row);
    }
    return Read(m_skippedRows.data());
}

CStatus CRowSource::ReadInto(CRowSink& sink, uint32_t row)
{
    uint8_t* const* rows = sink.Target(row);
    if (!rows) return CStatus::Failed();
    if (CStatus s = Read(rows); !s) return s;
    return sink.Commit(row);
}

CStatus CRowSource::SkipPast(CRowSink& sink, uint32_t row)
{
    if (CStatus s = Skip(); !s) return s;
    return sink.Pass(row);
}

CStatus CRowSource::Run(CRowSink& sink)
{
    while (m_passed < m_height && !sink.Done()) {
        uint32_t row = NextRow();
        CStatus s = sink.Wants(row) ? ReadInto(sink, row) : SkipPast(sink, row);
        ++m_passed;
        if (!s) return s;
    }
    return CStatus::Ok();
}
