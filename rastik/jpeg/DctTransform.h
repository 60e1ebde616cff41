// The forward DCT of the encoder on whole blocks, in vector registers where
// the processor has them.
#pragma once

#include <cstdint>

// In place on 64 samples in natural order: the fast 8-point DCT on every row,
// then on every column; products (x * C) >> 9; outputs unnormalised.
__attribute__((visibility("hidden"))) void DctForwardTransform(int32_t* block);
