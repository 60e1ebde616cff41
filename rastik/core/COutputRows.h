// A writer's buffer of whole output rows: the rows of one batch are built in
// it and written out together.
#pragma once

#include <cstddef>
#include <cstdint>

#include "rastik/core/CStatus.h"
#include "rastik/support/CScopedBuffer.h"

class COutputRows {
public:
    // Asks for up to `rows` rows of `rowBytes` bytes each; the support layer
    // may grant fewer (never part of a row). A failure (27609) when not even
    // one row can be had.
    CStatus Take(uint64_t rowBytes, uint64_t rows);

    uint8_t* Data() const { return m_buffer.p; }
    uint8_t* Row(uint32_t i) const { return m_buffer.p + static_cast<size_t>(i) * m_rowBytes; }
    // Rows granted: at least 1 once Take has succeeded.
    uint32_t Rows() const { return m_rows; }

private:
    CScopedBuffer m_buffer;
    uint32_t m_rowBytes = 0;
    uint32_t m_rows = 0;
};
