// Rows in a row source's layout.
#include "rastik/core/CRowBuffer.h"

#include <algorithm>

void CRowBuffer::Make(const CRowLayout& layout, uint32_t width)
{
    size_t row = layout.Interleaved
                     ? std::max<size_t>(layout.RowBytes, static_cast<size_t>(width) * layout.Interleaved)
                     : width;
    size_t rows = layout.Interleaved ? 1 : layout.Planes;
    m_bytes.assign(row * rows, 0);
    m_rows.clear();
    for (size_t i = 0; i < rows; ++i) m_rows.push_back(m_bytes.data() + i * row);
}
