// Large blocks: aligned to the large page and advised for it.
#include "platform/LargeBlock.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>

namespace {

// The large page of x86-64 (a second-level page table entry's reach).
constexpr size_t kLargePage = kLargeBlockPage;
// From half a large page up, a block is rounded up to whole large pages:
// mapping a fresh small page costs far more than zeroing one (several
// microseconds against a fraction of one on a virtual machine that maps
// guest pages one by one), so the unused rest of its last large page costs
// less than the small pages it saves. Smaller blocks come from malloc.
constexpr size_t kSmallest = kLargePage / 2;

}  // namespace

void* AllocLargeBlock(size_t bytes, bool zeroed)
{
    const bool wholePages = bytes >= kLargePage && bytes % kLargePage == 0;
    if (bytes < kSmallest && !wholePages) return zeroed ? calloc(bytes ? bytes : 1, 1) : malloc(bytes ? bytes : 1);
    const size_t rounded = WholeLargePages(bytes);
    if (rounded < bytes) return nullptr;
    void* p = aligned_alloc(kLargePage, rounded);
    if (!p) return nullptr;
#ifdef MADV_HUGEPAGE
    // Advice only: where large pages are off or not to be had, the block
    // works as any other.
    madvise(p, rounded, MADV_HUGEPAGE);
#endif
    if (zeroed) memset(p, 0, bytes);
    return p;
}
