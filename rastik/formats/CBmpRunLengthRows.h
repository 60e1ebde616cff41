// The rows of a run-length bitmap (8-bit and 4-bit indexes), decoded in
// stored order into one index plane.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/CFile.h"
#include "rastik/core/CRowSource.h"

class CBmpRunLengthRows : public CRowSource {
public:
    // The codes from offset on in file, of rows of width pixels of bits (8
    // or 4) bits, height rows stored bottom-up.
    CBmpRunLengthRows(CFile& file, uint32_t offset, uint32_t width, uint32_t height, uint32_t bits);

    CStatus Start() override;

protected:
    // Decodes the codes of the next row. Rows cannot be found without
    // decoding the ones before, so a row passed over is decoded too, its
    // pixels unwritten: a reduced read costs one decoding of the file.
    CStatus Read(uint8_t* const* rows) override;
    CStatus Skip() override;

private:
    // The codes of the next row, into row when it is not null.
    CStatus Decode(uint8_t* row);
    // One code's bytes; false where the data ends.
    bool Next(uint8_t* byte);
    bool Refill();
    // count pixels of value from the current column on, clipped to the row
    // (each of these writes nothing into a null row).
    void PutRun(uint8_t* row, uint32_t count, uint8_t value);
    // count pixels stored one by one, padded to a 16-bit word.
    bool PutAbsolute(uint8_t* row, uint32_t count);
    // count bytes of the data into the row from the current column on.
    bool CopyBytes(uint8_t* row, uint32_t count);
    // The escape that follows a zero count: false where the data ends.
    bool Escape(uint8_t code, uint8_t* row, bool* rowEnds);

    CFile& m_file;
    uint32_t m_offset;
    uint32_t m_bits;
    std::vector<uint8_t> m_buffer;
    size_t m_pos = 0;
    size_t m_end = 0;
    uint32_t m_x = 0;          // column of the next pixel
    uint32_t m_nextX = 0;      // column the row after a delta move starts at
    uint32_t m_blankRows = 0;  // rows a delta move passed over, still to hand out
    bool m_ended = false;      // end of bitmap: the rest of the image is index 0
};
