// Row access to the channel planes of an image, wherever they live: rows of
// heap planes are used in place; rows of spilled planes go through one
// buffer per plane, read from and written back to the temporary file.
#pragma once

#include <cstdint>

#include "rastik/CRastik.h"
#include "rastik/support/NonCopyable.h"

class CPlaneRows : private NonCopyable {
public:
    // rowsPerRead: most rows a single Rows() call asks for.
    CPlaneRows(CRastik& image, uint32_t rowsPerRead);
    ~CPlaneRows();

    // False when a buffer for a spilled plane could not be had.
    bool Ready() const { return m_ready; }

    // rows consecutive rows of plane c from row (rows <= rowsPerRead); the
    // last rows read of a spilled plane are kept, so asking again is free.
    // Null on a read failure.
    const uint8_t* Rows(uint32_t c, uint32_t row, uint32_t rows);
    // Where row `row` of plane c is to be filled.
    uint8_t* Target(uint32_t c, uint32_t row);
    // Writes a filled row of a spilled plane back; false on a write failure.
    bool Store(uint32_t c, uint32_t row);

private:
    CRastik& m_image;
    uint32_t m_rowsPerRead;
    bool m_ready = true;
    uint8_t* m_buffers[kMaxChannels] = {};
    int64_t m_cachedRow[kMaxChannels];
    uint32_t m_cachedRows[kMaxChannels] = {};
};
