// The source rows of a reduced read, as a codec reads them in file order:
// the shared reduced-read loop asks for each row to be read or skipped.
#pragma once

#include <cstdint>

class CReducedRows {
public:
    virtual ~CReducedRows() = default;
    // Reads the next source row into row (as AddToReduceData takes it).
    virtual bool Read(uint8_t* row) = 0;
    // Passes over the next source row without its samples.
    virtual bool Skip() = 0;
};
