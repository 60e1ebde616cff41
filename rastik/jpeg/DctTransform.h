// The forward DCT of the encoder and the inverse DCT of the decoder on whole
// blocks, in vector registers where the processor has them.
#pragma once

#include <cstddef>
#include <cstdint>

// 64 samples of source in natural order into block (which may be source
// itself): the fast 8-point DCT on every row, then on every column; products
// (x * C) >> 9; outputs unnormalised.
__attribute__((visibility("hidden"))) void DctForwardTransform(const int32_t* source, int32_t* block);

// 64 dequantised coefficients of block (natural order, each multiplied by its
// scale factor of 2^14 s(u) s(v)) into eight rows of out, stride apart: the
// inverse flow graph down every column, then along every row; products
// x * C >> 14 with C scaled by 2^14, sums modulo 2^32. Outputs are
// (sample - 128) x 2^17.
__attribute__((visibility("hidden"))) void DctInverseTransform(const int32_t* block, int32_t* out, size_t stride);

