// Windows onto channel planes.
#include "rastik/core/CPlaneWindow.h"

#include <algorithm>

#include "platform/LargeBlock.h"

void CPlaneWindow::Release(uint32_t row)
{
    m_released = std::max(m_released, row);
}

uint32_t CPlaneWindow::RowsFor(uint32_t writerRows, uint32_t readerRows, uint32_t rowBytes)
{
    // The rows the writer holds from the first not released on, and those
    // the read fills ahead of the rows it has told final.
    const uint64_t rows = uint64_t{writerRows} + readerRows + 1;
    if (rowBytes == 0) return static_cast<uint32_t>(std::min<uint64_t>(rows, UINT32_MAX));
    const uint64_t bytes = WholeLargePages(rows * rowBytes);
    return static_cast<uint32_t>(std::min<uint64_t>(bytes / rowBytes, UINT32_MAX));
}
