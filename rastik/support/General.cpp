// Memory, row geometry, temporary directory, free space and progress.
#include "rastik/General.h"

#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/CFileFaults.h"
#include "platform/LargeBlock.h"

namespace {

constexpr uint32_t kDefaultLargeBufferCap = 32u * 1024u * 1024u;

std::atomic<uint32_t> g_largeBufferCap{kDefaultLargeBufferCap};
std::atomic<uint64_t> g_planeHeapCap{0};
std::atomic<uint64_t> g_planeHeapInUse{0};
std::atomic<uint64_t> g_maxPixels{0};

uint64_t DefaultPlaneHeapCap()
{
    long pages = sysconf(_SC_PHYS_PAGES);
    long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return 1ull << 30;
    return static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize) / 2;
}

// The host's callback serves every thread; each thread (each conversion)
// has its own range.
struct ProgressState {
    std::mutex mutex;
    ProgressCallback callback = nullptr;
    void* user = nullptr;
};

struct ProgressRange {
    int32_t start = 0;
    int32_t end = 1000;
};
thread_local ProgressRange t_progressRange;

ProgressState& Progress()
{
    static ProgressState state;
    return state;
}

}  // namespace

// Buffers are released with free(); those of a megabyte or more lie in
// large pages (see LargeBlock.h).
extern "C" void* AllocBuffer(uint32_t size, int, int)
{
    return AllocLargeBlock(size, true);
}

extern "C" void* AllocLargeBuffer(uint32_t requested, uint32_t unit, uint32_t* granted, int)
{
    if (granted) *granted = 0;
    if (unit == 0 || requested == 0) return nullptr;
    uint32_t cap = g_largeBufferCap.load();
    uint32_t want = requested < cap ? requested : cap;
    if (want < unit) want = unit;
    // Whole units only, so callers can cut the grant into rows without a remainder.
    want -= want % unit;
    while (want >= unit) {
        void* p = AllocLargeBlock(want, true);
        if (p) {
            if (granted) *granted = want;
            return p;
        }
        uint32_t half = want / 2;
        want = half - half % unit;
    }
    return nullptr;
}

extern "C" void FreeBuffer(void* pointerVariable)
{
    if (!pointerVariable) return;
    void** p = static_cast<void**>(pointerVariable);
    free(*p);
    *p = nullptr;
}

extern "C" uint32_t BytesPerRow(uint32_t bits)
{
    uint64_t bytes = (static_cast<uint64_t>(bits) + 31u) / 32u * 4u;
    return bytes > 0xFFFFFFFFu ? 0xFFFFFFFCu : static_cast<uint32_t>(bytes);
}

extern "C" uint32_t GetRowAlignment()
{
    return 4;
}

extern "C" const char* GetTempDirectory()
{
    const char* dir = getenv("TMPDIR");
    return dir && *dir ? dir : "/tmp";
}

extern "C" uint64_t GetFreeDiskSpace(const char* dir)
{
    struct statvfs st;
    if (!dir || statvfs(dir, &st) != 0) return 0;
    uint64_t bytes = static_cast<uint64_t>(st.f_bavail) * static_cast<uint64_t>(st.f_frsize);
    if (const CFileFaults* faults = CFileFaults::Active()) bytes = std::min(bytes, faults->FreeSpaceLimit());
    return bytes;
}

extern "C" int HasFreeDiskSpace(const char* dir, uint64_t bytes)
{
    struct statvfs st;
    if (!dir || statvfs(dir, &st) != 0) return 0;
    return GetFreeDiskSpace(dir) >= bytes ? 1 : 0;
}

extern "C" void SetProgressCallback(ProgressCallback callback, void* user)
{
    ProgressState& s = Progress();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.callback = callback;
    s.user = user;
}

extern "C" void SetProgressRange(int32_t start, int32_t end)
{
    t_progressRange.start = start;
    t_progressRange.end = end;
}

extern "C" void GetProgressRange(int32_t* start, int32_t* end)
{
    if (start) *start = t_progressRange.start;
    if (end) *end = t_progressRange.end;
}

extern "C" int32_t GetProgressSpan()
{
    return t_progressRange.end - t_progressRange.start;
}

extern "C" void SetProgress(int32_t position)
{
    ProgressState& s = Progress();
    ProgressCallback cb;
    void* user;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        cb = s.callback;
        user = s.user;
    }
    if (cb) cb(position, t_progressRange.start, t_progressRange.end, user);
}

extern "C" void BeginProgress() {}
extern "C" void EndProgress() {}

void StepProgress(int32_t start, int32_t span, uint32_t done, uint32_t total)
{
    if (total == 0) return;
    // Signed 32-bit arithmetic, multiplication before division, computed wide
    // so that long images cannot overflow the product.
    int64_t pos = static_cast<int64_t>(start) +
                  static_cast<int64_t>(done) * static_cast<int64_t>(span) / static_cast<int64_t>(total);
    SetProgress(static_cast<int32_t>(pos));
}

extern "C" void SetLargeBufferCap(uint32_t bytes)
{
    g_largeBufferCap = bytes ? bytes : kDefaultLargeBufferCap;
}

extern "C" uint32_t GetLargeBufferCap()
{
    return g_largeBufferCap.load();
}

extern "C" void SetPlaneHeapCap(uint64_t bytes)
{
    g_planeHeapCap = bytes;
}

extern "C" uint64_t GetPlaneHeapCap()
{
    uint64_t cap = g_planeHeapCap.load();
    return cap ? cap : DefaultPlaneHeapCap();
}

extern "C" uint64_t GetPlaneHeapInUse()
{
    return g_planeHeapInUse.load();
}

extern "C" void SetMaxPixels(uint64_t pixels)
{
    g_maxPixels = pixels;
}

extern "C" uint64_t GetMaxPixels()
{
    return g_maxPixels.load();
}

bool ReservePlaneHeap(uint64_t bytes)
{
    uint64_t cap = GetPlaneHeapCap();
    uint64_t cur = g_planeHeapInUse.load();
    do {
        if (cur + bytes > cap || cur + bytes < cur) return false;
    } while (!g_planeHeapInUse.compare_exchange_weak(cur, cur + bytes));
    return true;
}

void ReleasePlaneHeap(uint64_t bytes)
{
    g_planeHeapInUse -= bytes;
}
