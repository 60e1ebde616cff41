// Progress and Esc poll of a row loop: after every row the progress bar moves
// over the current range and the Esc key is polled; a press stops the loop
// and marks the image whose loop it was.
#pragma once

#include <cstdint>

class CRowProgress {
public:
    // total: rows of the whole loop; done: rows finished before it (a block
    // writer carries the count across calls); escaped: the image's
    // EscPressed, set to 1 when Esc stops the loop.
    explicit CRowProgress(uint32_t total, uint32_t done = 0, int32_t* escaped = nullptr);
    // Reports one more finished row; false when Esc was pressed.
    bool Step();
    // Reports the row count done so far without polling Esc.
    void Show(uint32_t done);
    bool Escaped() const { return m_escaped; }

private:
    int32_t m_start = 0;
    int32_t m_span = 0;
    uint32_t m_done;
    uint32_t m_total;
    int32_t* m_escFlag;
    bool m_escaped = false;
};
