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

}  // namespace rastik
