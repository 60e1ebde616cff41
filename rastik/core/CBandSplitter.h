// Interleaved rows of a whole read split into heap planes in bands on the
// worker pool: the source fills the rows of one band while the band before
// is split on the workers, two bands taking turns. A row is final in its
// planes once its band is split; bands are split in the order they fill.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "rastik/support/CWorkerPool.h"
#include "rastik/support/NonCopyable.h"

class CBandSplitter : private NonCopyable {
public:
    // Rows of width pixels of samples samples each, lent as slots of
    // slotBytes; inverted: every sample is stored as 255 - value.
    CBandSplitter(CWorkerPool& pool, uint32_t width, uint32_t samples, size_t slotBytes, bool inverted);
    // Waits for the bands on the workers.
    ~CBandSplitter();

    // The slot of the next row, to fill with its interleaved samples; null
    // when a band failed.
    uint8_t* Slot();
    // The slot was filled: sample s of every pixel goes to the plane row
    // out[s]. A full band goes to the workers.
    void Add(uint8_t* const* out);
    // Rows split so far, from the first row added (without waiting).
    uint32_t RowsSplit();
    // Splits the rows added and waits for them; false when a band failed.
    bool Drain();
    // Most rows added and not yet split, the row being filled included, on
    // a pool of threads threads.
    static uint32_t MostRowsAhead(uint32_t threads);

private:
    struct Band {
        uint8_t* samples = nullptr;    // the slots, in m_slots
        std::vector<uint8_t*> out;     // samples plane rows per row
        uint32_t rows = 0;
        uint32_t first = 0;  // rows added before the band
        std::shared_ptr<CWorkerPool::CJob> job;
    };
    void Start(Band& band);
    // Waits for a band on the workers and counts its rows split.
    void Settle(Band& band);
    static bool AllDone(const CWorkerPool::CJob& job);

    CWorkerPool& m_pool;
    const uint32_t m_width;
    const uint32_t m_samples;
    const size_t m_slotBytes;
    const bool m_inverted;
    const uint32_t m_bandRows;
    // The slots of both bands, in one block of large pages.
    std::unique_ptr<uint8_t, void (*)(void*)> m_slots{nullptr, &std::free};
    Band m_bands[2];
    uint32_t m_filling = 0;  // the band whose slots are lent
    uint32_t m_added = 0;
    uint32_t m_split = 0;
    bool m_failed = false;
};
