// Rows of one stored row in a row source's layout, to decode into: Planes
// rows of Width bytes, or one interleaved row (RowBytes bytes when the
// layout asks for more than Width x Interleaved).
#pragma once

#include <cstdint>
#include <vector>

#include "rastik/core/CRowLayout.h"

class CRowBuffer {
public:
    void Make(const CRowLayout& layout, uint32_t width);
    bool Made() const { return !m_rows.empty(); }
    uint8_t* const* Rows() { return m_rows.data(); }

private:
    std::vector<uint8_t> m_bytes;
    std::vector<uint8_t*> m_rows;
};
