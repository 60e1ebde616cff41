// PackBits expansion, bounded by both the input and the output.
#include "rastik/support/PackBits.h"

#include <cstring>

namespace rastik {

size_t UnpackBits(const uint8_t* in, size_t inBytes, uint8_t* out, size_t outBytes, unsigned unit)
{
    size_t at = 0;
    size_t done = 0;
    while (at < inBytes && done < outBytes) {
        uint8_t c = in[at++];
        if (c == 128) continue;
        if (c < 128) {
            size_t n = (static_cast<size_t>(c) + 1) * unit;
            if (n > inBytes - at) n = inBytes - at;
            if (n > outBytes - done) n = outBytes - done;
            memcpy(out + done, in + at, n);
            at += (static_cast<size_t>(c) + 1) * unit;
            done += n;
            continue;
        }
        if (inBytes - at < unit) break;
        size_t count = 257 - static_cast<size_t>(c);
        const uint8_t* u = in + at;
        at += unit;
        if (unit == 1) {
            size_t n = count < outBytes - done ? count : outBytes - done;
            memset(out + done, u[0], n);
            done += n;
        } else {
            for (size_t i = 0; i < count && done < outBytes; ++i)
                for (unsigned k = 0; k < unit && done < outBytes; ++k) out[done++] = u[k];
        }
    }
    return done;
}

}  // namespace rastik
