// A window onto channel planes too tall to be held whole while a writer
// follows their read: each plane keeps Rows() rows, image row r in slot
// r mod Rows(), and the rows released may be filled again. The read
// fills rows from the top only; the writer releases the rows it is done
// with. A row past the window is refused (the read then fails) rather than
// laid over rows the writer still takes. The reading thread alone fills and
// releases (the writer runs on it, between the read's rows).
#pragma once

#include <cstdint>

class CPlaneWindow {
public:
    explicit CPlaneWindow(uint32_t rows) : m_rows(rows ? rows : 1) {}

    uint32_t Rows() const { return m_rows; }
    // Slot of image row row.
    uint32_t Slot(uint32_t row) const { return row % m_rows; }
    // Whether row may be filled now: it lies no further than the window
    // below the first row not released.
    bool MayFill(uint32_t row) const { return row >= m_released && row - m_released < m_rows; }
    // The writer is done with the rows above row.
    void Release(uint32_t row);

    // Window rows for a read followed by a writer that holds at most
    // writerRows rows at once and is told of rows up to readerRows behind
    // the row being filled, widened to fill the large pages of rowBytes rows.
    static uint32_t RowsFor(uint32_t writerRows, uint32_t readerRows, uint32_t rowBytes);

private:
    const uint32_t m_rows;
    uint32_t m_released = 0;
};
