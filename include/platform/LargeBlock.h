// Large heap blocks for image planes and work tables. A block is released
// with free() like any malloc block, so a host that frees a plane it was
// handed needs to know nothing of it; but a block of several megabytes is
// aligned to the system's large page and advised for large pages, so that
// first touching it costs one page fault per 2 MiB instead of one per 4 KiB.
#pragma once

#include <cstddef>

// The large page: a block of whole large pages is aligned and advised too.
constexpr size_t kLargeBlockPage = size_t{2} << 20;

// A block of bytes bytes (at least one), zeroed when zeroed is set; null when
// the memory cannot be had.
void* AllocLargeBlock(size_t bytes, bool zeroed);
