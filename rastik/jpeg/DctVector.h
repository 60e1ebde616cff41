// Vectors of eight 32-bit lanes for the DCT codec's block and row loops,
// with loads and stores that make no alignment assumption. Vectors are
// passed by reference only, so that no vector crosses a call boundary
// whatever the build's vector width.
#pragma once

#include <cstdint>
#include <cstring>

using Row = int32_t __attribute__((vector_size(32)));
// Sums and products modulo 2^32, for values that corrupt data may push past
// the range of sound ones.
using URow = uint32_t __attribute__((vector_size(32)));

#define DCT_INLINE inline __attribute__((always_inline))

DCT_INLINE void Load(Row& r, const int32_t* p) { std::memcpy(&r, p, sizeof r); }
DCT_INLINE void Store(int32_t* p, const Row& r) { std::memcpy(p, &r, sizeof r); }
DCT_INLINE void Load(URow& r, const int32_t* p) { std::memcpy(&r, p, sizeof r); }
DCT_INLINE void Store(int32_t* p, const URow& r) { std::memcpy(p, &r, sizeof r); }

// Picks one of two builds of a function when the library is loaded: the one
// for processors with 256-bit integer vectors where the processor has them.
template <typename Function>
Function DctPickBuild(Function avx2, Function generic)
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? avx2 : generic;
}

// Defines name(params) from the always-inline name##Body(args), built twice
// and dispatched through a pointer set at load time. (Target clones would do
// the same, but compilers export their dispatch symbol or fail to link it
// while the function is hidden inside the library.)
#define DCT_TWO_BUILDS(name, params, args)                                              \
    namespace {                                                                         \
    __attribute__((target("avx2"))) void name##Avx2 params { name##Body args; }         \
    void name##Generic params { name##Body args; }                                      \
    void(*const name##Build) params = DctPickBuild(name##Avx2, name##Generic);          \
    }                                                                                   \
    void name params { name##Build args; }
