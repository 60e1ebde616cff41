// PackBits run-length data, as the Macintosh toolbox packs rows: a count
// byte c below 128 is followed by c + 1 literal units, a count above 128 by
// one unit repeated 257 - c times, and 128 is a no-op. Units are bytes, or
// 2-byte pixels in the rows of 16-bit pictures.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rastik {

// Expands [in, in + inBytes) into out, at most outBytes bytes; unit is 1 or
// 2. A run that passes the end of the input or of the output is cut there.
// Returns the bytes written.
size_t UnpackBits(const uint8_t* in, size_t inBytes, uint8_t* out, size_t outBytes, unsigned unit = 1);

// Packing a row of bytes in two steps. wCompute8BitRun splits the row into
// maximal runs of equal bytes of at most 128 bytes each and stores their
// lengths in runs (one byte each; the list needs room for length entries),
// returning their number. iEncodeLineTIF_PackBits writes the runs: runs of 1
// or 2 bytes gather into a literal group while it stays within 128 bytes;
// any other run, and a short run that no longer fits, first ends the group
// (count byte = group length - 1, then the bytes) and goes out as a repeat
// (count byte 257 - run length, then the byte). Returns the bytes written
// to out, which holds PackBitsBound(length) bytes.
uint32_t wCompute8BitRun(const uint8_t* row, uint8_t* runs, uint32_t length);
uint32_t iEncodeLineTIF_PackBits(const uint8_t* row, const uint8_t* runs, uint32_t runCount, uint8_t* out);
// Most bytes a row of length bytes packs into. The worst case repeats a
// full literal group of 128 bytes (129 written) followed by a 1-byte run
// that no longer fits (2 written): 2 bytes more for every 129.
inline uint64_t PackBitsBound(uint64_t length)
{
    return length + length / 64 + 4;
}

}  // namespace rastik
