// A row loop spread over the conversion's worker pool: rows are made in
// bands on any thread, a round of bands (a few per thread) at a time, and
// after each round this thread reports the round's rows to the loop's
// progress, which polls Esc. Rows must not depend on one another.
#pragma once

#include <cstdint>
#include <functional>

class CRowProgress;
class CWorkerPool;

class CPooledRows {
public:
    // Calls makeRow(row) for every row < rows; false when Esc stopped the
    // loop or a row failed (threw).
    static bool Run(CWorkerPool& pool, uint32_t rows, CRowProgress* progress,
                    const std::function<void(uint32_t row)>& makeRow);
};
