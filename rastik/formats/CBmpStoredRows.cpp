// Stored rows of an uncompressed 24-bit bitmap: blue, green, red a pixel,
// each row padded to whole 4-byte words, the bottom row first unless the
// header's height is negative. The rows asked for lie one after the other
// in the file and are read at once.
#include "rastik/formats/CBmpStoredRows.h"

#include "platform/CFile.h"
#include "rastik/support/PixelRows.h"

CBmpStoredRows::CBmpStoredRows(const CFile& file, uint64_t dataOffset, uint32_t rowBytes, uint32_t width,
                               uint32_t height, bool topDown)
    : m_file(file), m_dataOffset(dataOffset), m_rowBytes(rowBytes), m_width(width), m_height(height),
      m_topDown(topDown)
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

bool CBmpStoredRows::Take(uint32_t first, uint32_t rows, uint8_t* const* planes, size_t stride,
                          uint8_t* scratch) const
{
    if (rows == 0 || first >= m_height || rows > m_height - first) return Failure();
    const uint64_t bytes = uint64_t{rows} * m_rowBytes;
    if (bytes > UINT32_MAX) return Failure();
    const uint32_t count = static_cast<uint32_t>(bytes);
    const uint32_t lowest = m_topDown ? first : first + rows - 1;
    if (m_file.ReadAt(RowOffset(lowest), scratch, count) != count) return Failure();
    // Blue, green, red: the planes in reverse.
    uint8_t* out[3] = {planes[2], planes[1], planes[0]};
    for (uint32_t i = 0; i < rows; ++i) {
        const uint32_t at = m_topDown ? i : rows - 1 - i;
        rastik::SplitThree(scratch + static_cast<size_t>(at) * m_rowBytes, m_width, out);
        for (uint8_t*& o : out) o += stride;
    }
    return true;
}
