// The most bytes Deflate data can inflate to, for refusing files whose
// compressed data is far too short for the pixels they claim before a host
// allocates planes for them. A Deflate block codes a match of 258 bytes in
// as little as two bits (a one-bit length code and a one-bit distance code
// of a dynamic Huffman table), so one stored byte gives at most 1032 bytes.
#pragma once

#include <cstdint>

namespace rastik {

constexpr uint32_t kMostInflatedPerByte = 1032;

// Most bytes storedBytes of Deflate data inflate to.
constexpr uint64_t InflateBound(uint64_t storedBytes)
{
    return storedBytes > UINT64_MAX / kMostInflatedPerByte ? UINT64_MAX : storedBytes * kMostInflatedPerByte;
}

}  // namespace rastik
