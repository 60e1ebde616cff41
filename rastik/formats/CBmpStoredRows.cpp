// Stored rows of an uncompressed 24-bit bitmap: blue, green, red a pixel,
// each row padded to whole 4-byte words, the bottom row first unless the
// header's height is negative. Rows lie one after the other in the file: most
// of each row is read for a run of rows at once, less of it row by row.
#include "rastik/formats/CBmpStoredRows.h"

#include "platform/CFile.h"
#include "rastik/support/PixelRows.h"

namespace {

constexpr uint32_t kPixelBytes = 3;

}  // namespace

CBmpStoredRows::CBmpStoredRows(const CFile& file, uint64_t dataOffset, uint32_t rowBytes, uint32_t height,
                               bool topDown)
    : m_file(file), m_dataOffset(dataOffset), m_rowBytes(rowBytes), m_height(height), m_topDown(topDown)
{
}

size_t CBmpStoredRows::ScratchBytes(uint32_t rows) const
{
    return static_cast<size_t>(rows) * m_rowBytes;
}

bool CBmpStoredRows::Failure() const
{
    NoteFailure();
    return false;
}

uint64_t CBmpStoredRows::RowOffset(uint32_t y) const
{
    const uint32_t stored = m_topDown ? y : m_height - 1 - y;
    return m_dataOffset + uint64_t{stored} * m_rowBytes;
}

bool CBmpStoredRows::Take(uint32_t first, uint32_t rows, uint32_t column, uint32_t columns, uint8_t* const* planes,
                          size_t stride, uint8_t* scratch) const
{
    if (rows == 0 || first >= m_height || rows > m_height - first) return Failure();
    if ((uint64_t{column} + columns) * kPixelBytes > m_rowBytes) return Failure();
    // Blue, green, red: the planes in reverse.
    uint8_t* out[3] = {planes[2], planes[1], planes[0]};
    // More than half of each row: the rows are read whole.
    const bool whole = uint64_t{columns} * kPixelBytes * 2 >= m_rowBytes;
    if (whole) {
        const uint32_t lowest = m_topDown ? first : first + rows - 1;
        const uint32_t bytes = rows * m_rowBytes;
        if (m_file.ReadAt(RowOffset(lowest), scratch, bytes) != bytes) return Failure();
    }
    for (uint32_t i = 0; i < rows; ++i) {
        const uint32_t y = first + i;
        const uint8_t* in = nullptr;
        if (whole) {
            const uint32_t at = m_topDown ? i : rows - 1 - i;
            in = scratch + static_cast<size_t>(at) * m_rowBytes + size_t{column} * kPixelBytes;
        } else {
            const uint32_t bytes = columns * kPixelBytes;
            if (m_file.ReadAt(RowOffset(y) + uint64_t{column} * kPixelBytes, scratch, bytes) != bytes) return Failure();
            in = scratch;
        }
        rastik::SplitThree(in, columns, out);
        for (uint8_t*& o : out) o += stride;
    }
    return true;
}
