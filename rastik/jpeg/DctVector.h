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
