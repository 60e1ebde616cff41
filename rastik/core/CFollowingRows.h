// A row loop that follows a whole read on the worker pool: each target row
// is made, on any thread, once the source rows it needs are final. The
// reading thread hands out bands of such rows as the read publishes its
// rows, so the read goes on while the rows before are made; after the read
// the rest are handed out and waited for. Rows must not depend on one
// another: each is the same function of the source whatever the timing.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "rastik/core/CReadFollower.h"
#include "rastik/support/CWorkerPool.h"
#include "rastik/support/NonCopyable.h"

class CRowProgress;

class CFollowingRows final : public CReadFollower, private NonCopyable {
public:
    // Source rows 0 .. n - 1 that target row j needs; n only grows with j.
    using Needs = std::function<uint32_t(uint32_t row)>;
    using Make = std::function<void(uint32_t row)>;

    // rows target rows, made by make(row) once needs(row) source rows are final.
    CFollowingRows(CWorkerPool& pool, uint32_t rows, Needs needs, Make make);
    // Waits for every band handed out.
    ~CFollowingRows();

    void RowsFinal(uint32_t rows) noexcept override;
    // Target rows 0 .. n - 1 made so far, without waiting (n only grows);
    // on the thread that hands out the bands.
    uint32_t RowsMade() noexcept;
    // After the read: hands out the rows left when the read succeeded and
    // waits for every band, reporting steps per row to progress. False when
    // the read failed, a band failed or Esc stopped the wait.
    bool Finish(bool readSucceeded, CRowProgress& progress, uint32_t stepsPerRow);

private:
    // Hands out target rows from m_handed to end as one job of bands.
    void HandOut(uint32_t end);
    void WaitForAll();

    struct Band {
        std::shared_ptr<CWorkerPool::CJob> job;
        uint32_t rows;
    };
    CWorkerPool& m_pool;
    const uint32_t m_rows;
    const Needs m_needs;
    const Make m_make;
    const uint32_t m_batchRows;
    uint32_t m_ready = 0;   // target rows whose source rows are final
    uint32_t m_handed = 0;  // target rows handed out
    // The rows made from the top: bands and items of the band before them.
    uint32_t m_made = 0;
    size_t m_madeBand = 0;
    uint32_t m_madeItem = 0;
    bool m_held = false;    // a hand-out failed: the rest waits for Finish
    std::vector<Band> m_bands;
};
