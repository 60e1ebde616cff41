// The libFuzzer program of one target: FUZZ_ENTRY names its entry
// (fuzz/host/FuzzEntries.h). An input may take 10 s of CPU time.
#include <cstddef>
#include <cstdint>

#include "host/CCpuBudget.h"
#include "host/FuzzEntries.h"

namespace {
constexpr unsigned kCpuSecondsPerInput = 10;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CCpuBudget budget(kCpuSecondsPerInput);
    return FUZZ_ENTRY(data, size);
}
