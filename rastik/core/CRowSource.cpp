// The pull loop of row sources that read and skip stored rows in order.
#include "rastik/core/CRowSource.h"

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
    if (!m_skipped.Made()) m_skipped.Make(m_layout, m_width);
    return Read(m_skipped.Rows());
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
