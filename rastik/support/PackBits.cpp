// PackBits expansion, bounded by both the input and the output, and the
// packing of rows as the TIFF writer stores them.
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

namespace rastik {

namespace {
constexpr uint32_t kMaxRun = 128;
}  // namespace

uint32_t wCompute8BitRun(const uint8_t* row, uint8_t* runs, uint32_t length)
{
    uint32_t count = 0;
    for (uint32_t i = 0; i < length;) {
        uint32_t n = 1;
        while (n < kMaxRun && i + n < length && row[i + n] == row[i]) ++n;
        runs[count++] = static_cast<uint8_t>(n);
        i += n;
    }
    return count;
}

uint32_t iEncodeLineTIF_PackBits(const uint8_t* row, const uint8_t* runs, uint32_t runCount, uint8_t* out)
{
    uint8_t* o = out;
    const uint8_t* group = row;  // first byte of the pending literal group
    uint32_t groupBytes = 0;
    auto flush = [&]() {
        if (groupBytes == 0) return;
        *o++ = static_cast<uint8_t>(groupBytes - 1);
        memcpy(o, group, groupBytes);
        o += groupBytes;
        groupBytes = 0;
    };
    for (uint32_t r = 0; r < runCount; ++r) {
        uint32_t n = runs[r];
        if (n <= 2 && groupBytes + n <= kMaxRun) {
            if (groupBytes == 0) group = row;
            groupBytes += n;
        } else {
            flush();
            *o++ = static_cast<uint8_t>(257 - n);
            *o++ = row[0];
        }
        row += n;
    }
    flush();
    return static_cast<uint32_t>(o - out);
}

}  // namespace rastik
