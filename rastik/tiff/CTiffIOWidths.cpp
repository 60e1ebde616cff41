// TIFF writing: whether the file is written as BigTIFF, decided before its
// first byte from a bound on its size, since a classic file's 32-bit offsets
// address 4 GiB only.
#include <algorithm>

#include "rastik/CTiffIO.h"
#include "rastik/tiff/TiffTags.h"

namespace {

// Room for what follows the strips besides the strip tables: the thumbnail
// and clip paths of the resource block, resolutions, the directory.
constexpr uint64_t kTailRoom = 16ull << 20;
constexpr uint64_t kPathRoom = 1ull << 20;  // per clip path

}  // namespace

uint64_t CTiffIO::OutputBound() const
{
    uint64_t samples = std::max<uint32_t>(ChannelCount, 1);
    uint64_t raw = static_cast<uint64_t>(Width) * samples * Height;
    uint64_t strips = raw;
    if (ColorMode == kModeBitmap) {
        // Bilevel rows are stored uncompressed, 1 bit a sample.
        strips = (static_cast<uint64_t>(Width) * samples + 7) / 8 * Height;
    } else {
        // PackBits: a control byte per 128 bytes and per row; LZW: 12 bits
        // a byte at worst, and Clear codes; any other coding twice the data.
        if (Compression == tiff::kPackBits) strips = raw + raw / 128 + Height;
        else if (Compression == tiff::kLzw) strips = raw + raw / 2 + 16ull * Height;
        else if (Compression != tiff::kNone) strips = 2 * raw;
    }
    // Colour map, then two 8-byte items per strip (a strip has a row at least).
    uint64_t map = 256 * 6;
    uint64_t tables = 16ull * Height;
    return tiff::kBigHeaderBytes + map + strips + tables + kTailRoom + kPathRoom * std::max(PathCount, 0);
}
