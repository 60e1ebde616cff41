// Progress and Esc poll of a row loop inside a conversion: after every row
// the progress bar moves over the current range and the Esc key is polled.
#pragma once

#include <cstdint>

class CRowProgress {
public:
    // total: rows of the whole loop.
    explicit CRowProgress(uint32_t total);
    // Reports one more finished row; false when Esc was pressed.
    bool Step();

private:
    int32_t m_start = 0;
    int32_t m_span = 0;
    uint32_t m_done = 0;
    uint32_t m_total;
};
