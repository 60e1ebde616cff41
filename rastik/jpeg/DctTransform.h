// The forward DCT of the encoder on whole blocks, in vector registers where
// the processor has them.
#pragma once

#include <cstdint>

// 64 samples of source in natural order into block (which may be source
// itself): the fast 8-point DCT on every row, then on every column; products
// (x * C) >> 9; outputs unnormalised.
void DctForwardTransform(const int32_t* source, int32_t* block);
