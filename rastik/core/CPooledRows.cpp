// Rounds of row bands on the worker pool, with progress between rounds.
#include "rastik/core/CPooledRows.h"

#include <algorithm>

#include "rastik/core/CRowProgress.h"
#include "rastik/support/CWorkerPool.h"

namespace {

// Rows of one item of pooled work, and items handed out per round for every
// thread.
constexpr uint32_t kBandRows = 16;
constexpr uint32_t kBandsPerThread = 4;

}  // namespace

bool CPooledRows::Run(CWorkerPool& pool, uint32_t rows, CRowProgress* progress,
                      const std::function<void(uint32_t row)>& makeRow)
{
    const uint32_t roundRows = kBandRows * kBandsPerThread * pool.Threads();
    for (uint32_t first = 0; first < rows; first += roundRows) {
        const uint32_t count = std::min(roundRows, rows - first);
        bool made = pool.Run((count + kBandRows - 1) / kBandRows, [&](uint32_t band) {
            const uint32_t from = first + band * kBandRows;
            const uint32_t to = std::min(from + kBandRows, first + count);
            for (uint32_t row = from; row < to; ++row) makeRow(row);
        });
        if (!made) return false;
        for (uint32_t row = 0; row < count; ++row)
            if (progress && !progress->Step()) return false;
    }
    return true;
}
