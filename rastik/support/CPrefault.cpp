// Mapping the pages of fresh blocks on a worker thread.
#include "rastik/support/CPrefault.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

namespace {

// Blocks smaller than this are not worth a worker's time.
constexpr size_t kLeastBytes = 1u << 20;

}  // namespace

void CPrefault::Add(void* block, size_t bytes)
{
    if (!m_pool || m_pool->Threads() < 2 || !block || bytes < kLeastBytes) return;
    const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t from = (reinterpret_cast<uintptr_t>(block) + page - 1) / page * page;
    const uintptr_t to = (reinterpret_cast<uintptr_t>(block) + bytes) / page * page;
    if (to <= from) return;
    // Mapping a page writable changes no byte of it; a system without the
    // advice refuses it, and the pages are then mapped as they are written.
    m_jobs.push_back(m_pool->Start(1, [from, to](uint32_t) {
        madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
    }));
}

void CPrefault::Wait()
{
    for (const auto& job : m_jobs) m_pool->Wait(*job);
    m_jobs.clear();
}
