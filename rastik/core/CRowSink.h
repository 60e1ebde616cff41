// The receiver of a row source's rows, made by the base class for one read:
// the whole read puts them into the channel planes (CPlaneRowSink), a
// reduced read or a preview takes the rows and columns its sampler selects
// (CReducedRowSink). Rows are named by their image row (row 0 at the top).
// Every hand-over and every row passed over counts for progress and polls
// Esc; a stop or failure comes back as the status, and the source then
// ends its run with that status.
//
// A source whose decoder writes where it is told asks Target(row), fills it
// in its layout and calls Commit(row). A decoder with buffers of its own
// (libjpeg, libpng) hands a row over with Put. A row the sink does not want
// may be passed over without decoding its samples: Pass(row).
#pragma once

#include <cstdint>

#include "rastik/core/CRowBuffer.h"
#include "rastik/core/CRowLayout.h"
#include "rastik/core/CStatus.h"

class CRowSink {
public:
    virtual ~CRowSink() = default;

    // Whether the read takes the samples of image row row (any row, in any
    // order, any number of times).
    virtual bool Wants(uint32_t row) const noexcept = 0;
    // Whether it takes any of the image rows first .. first + count - 1, so a
    // source that decodes rows in groups (strips, rows of tiles) can pass
    // over a whole group unread.
    virtual bool WantsAny(uint32_t first, uint32_t count) const noexcept
    {
        for (uint32_t i = 0; i < count; ++i)
            if (Wants(first + i)) return true;
        return false;
    }
    // Every row the read takes was handed over: a source may stop.
    virtual bool Done() const noexcept = 0;

    // Where the source writes image row row in its layout: Planes rows of
    // Width bytes, or one interleaved row. By default rows of the sink's own
    // (LendRows); a whole read lends the planes' rows themselves to a source
    // that fills groups of rows or asks for them (CRowLayout::Group,
    // InPlace). Null after a failure.
    virtual uint8_t* const* Target(uint32_t row) noexcept
    {
        (void)row;
        return m_lent.Made() ? m_lent.Rows() : nullptr;
    }
    // Row row was written into Target(row); columns: the pixels it holds
    // new. By default the lent rows are handed over with Put.
    virtual CStatus Commit(uint32_t row, CRowColumns columns = CRowColumns()) noexcept
    {
        return m_lent.Made() ? Put(row, m_lent.Rows(), columns) : CStatus::Failed();
    }
    // Row row lies in the source's own rows, in its layout.
    virtual CStatus Put(uint32_t row, const uint8_t* const* samples, CRowColumns columns = CRowColumns()) noexcept = 0;
    // Row row was passed over.
    virtual CStatus Pass(uint32_t row) noexcept = 0;

protected:
    // Makes the rows Target lends for a source of the layout.
    void LendRows(const CRowLayout& layout, uint32_t width) { m_lent.Make(layout, width); }
    CRowBuffer& LentRows() { return m_lent; }

private:
    CRowBuffer m_lent;
};
