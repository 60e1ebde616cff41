// The libFuzzer program of one target: FUZZ_ENTRY names its entry
// (fuzz/host/FuzzEntries.h).
#include <cstddef>
#include <cstdint>

#include "host/FuzzEntries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return FUZZ_ENTRY(data, size);
}
