// Fresh memory made ready on a worker thread: the system zeroes a page the
// first time it is written, and for blocks of many megabytes that costs as
// much as the work done in them. A worker asks the system to map the pages
// of a block at once (without writing them), while this thread goes on; a
// page this thread reaches first it maps itself, as without a worker.
// Nothing of the memory's contents changes, so the block may be used the
// whole time; it must not be freed before Wait.
#pragma once

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

#include "rastik/support/CWorkerPool.h"
#include "rastik/support/NonCopyable.h"

class CPrefault : private NonCopyable {
public:
    // pool: the conversion's pool, or null (then nothing is done).
    explicit CPrefault(CWorkerPool* pool) : m_pool(pool) {}
    ~CPrefault() { Wait(); }

    // Starts mapping the pages of [block, block + bytes).
    void Add(void* block, size_t bytes);
    // Returns once every block added so far is done with.
    void Wait();

    // Zeroes the blocks (pointer, bytes) and returns when they are zeroed:
    // in pieces shared among the pool's threads when pool is not null, so
    // that the system's mapping of fresh pages is shared too.
    static void Zero(CWorkerPool* pool, const std::vector<std::pair<void*, size_t>>& blocks);

private:
    CWorkerPool* m_pool;
    std::vector<std::shared_ptr<CWorkerPool::CJob>> m_jobs;
};
