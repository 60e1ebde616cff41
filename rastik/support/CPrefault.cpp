// Mapping the pages of fresh blocks on a worker thread.
#include "rastik/support/CPrefault.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

namespace {

// Blocks smaller than this are not worth a worker's time.
constexpr size_t kLeastBytes = 1u << 20;
// Zeroing is shared out in pieces of this many bytes, at addresses that are
// multiples of it: the large page of x86-64, which the system maps and
// zeroes whole on its first touch.
constexpr uintptr_t kZeroPiece = uintptr_t{2} << 20;

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

void CPrefault::Zero(CWorkerPool* pool, const std::vector<std::pair<void*, size_t>>& blocks)
{
    struct Piece { uint8_t* at; size_t bytes; };
    std::vector<Piece> pieces;
    const bool share = pool && pool->Threads() > 1;
    for (const auto& [block, bytes] : blocks) {
        uint8_t* at = static_cast<uint8_t*>(block);
        uint8_t* const end = at + bytes;
        while (at < end) {
            const uintptr_t boundary = (reinterpret_cast<uintptr_t>(at) / kZeroPiece + 1) * kZeroPiece;
            uint8_t* next = share ? std::min(reinterpret_cast<uint8_t*>(boundary), end) : end;
            pieces.push_back({at, static_cast<size_t>(next - at)});
            at = next;
        }
    }
    auto zero = [&pieces](uint32_t item) { memset(pieces[item].at, 0, pieces[item].bytes); };
    if (share && pieces.size() > 1) {
        pool->Run(static_cast<uint32_t>(pieces.size()), zero);
        return;
    }
    for (uint32_t i = 0; i < pieces.size(); ++i) zero(i);
}

void CPrefault::Wait()
{
    for (const auto& job : m_jobs) m_pool->Wait(*job);
    m_jobs.clear();
}
