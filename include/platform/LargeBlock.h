// Large heap blocks for image planes and work tables. A block is released
// with free() like any malloc block, so a host that frees a plane it was
// handed needs to know nothing of it; but a block of 1 MiB or more is
// aligned to the system's large page and advised for large pages, so that
// first touching it costs one page fault per 2 MiB instead of one per 4 KiB.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

// The large page: a block of whole large pages is aligned and advised too.
constexpr size_t kLargeBlockPage = size_t{2} << 20;
// bytes rounded up to whole large pages (0 when that passes 64 bits).
constexpr uint64_t WholeLargePages(uint64_t bytes)
{
    return (bytes + kLargeBlockPage - 1) / kLargeBlockPage * kLargeBlockPage;
}

// A block of bytes bytes (at least one), zeroed when zeroed is set; null when
// the memory cannot be had.
void* AllocLargeBlock(size_t bytes, bool zeroed);

// An allocator of large blocks, for work vectors that grow to megabytes:
// std::vector<uint8_t, LargeBlockAllocator<uint8_t>>.
template <class T>
struct LargeBlockAllocator {
    using value_type = T;
    LargeBlockAllocator() = default;
    template <class U>
    LargeBlockAllocator(const LargeBlockAllocator<U>&) noexcept
    {
    }
    T* allocate(size_t n)
    {
        if (n > static_cast<size_t>(-1) / sizeof(T)) throw std::bad_alloc();
        void* p = AllocLargeBlock(n * sizeof(T), false);
        if (!p) throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, size_t) noexcept { std::free(p); }
    template <class U>
    bool operator==(const LargeBlockAllocator<U>&) const noexcept
    {
        return true;
    }
};

template <class T>
using LargeVector = std::vector<T, LargeBlockAllocator<T>>;
