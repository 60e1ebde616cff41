// TIFF tiles: the tile fields of the directory checked against the image
// and the file, and the plan of each plane's tiles for the tile reader.
// TileWidth and TileLength may be any size above 0 (files in the wild do not
// keep to multiples of 16); the tiles on the right and bottom edges reach
// past the image and are cut to it on reading.
#include <algorithm>

#include "rastik/CTiffIO.h"
#include "rastik/General.h"
#include "rastik/Messages.h"
#include "rastik/core/CStatus.h"
#include "rastik/tiff/CTiffTileReader.h"
#include "rastik/tiff/TiffDecoderTable.h"
#include "rastik/tiff/TiffTags.h"

namespace {

constexpr CStatus kBadData = CStatus::Failed(kMsgBadFileData);
// A tile's row must fit the 32 bits of a decoder's row.
constexpr uint64_t kMaxTileRowBits = 0xFFFFFFF8u;
// The decoded band of every plane (a row of tiles, cut to the image's
// height) may take the heap the planes may take, 64 MiB at least, but
// never more than 1 GiB.
constexpr uint64_t kLeastBandBytes = 64u << 20;
constexpr uint64_t kMostBandBytes = 1u << 30;

}  // namespace

bool CTiffIO::TilesReadable() const
{
    // Subsampled YCbCr samples are read from strips only; JPEG and
    // old-style JPEG (6) convert their own colour.
    bool ycbcr = Photometric == tiff::kYCbCr && Compression != tiff::kJpeg && Compression != tiff::kOldJpeg;
    return TileWidth != 0 && TileLength != 0 && !TileOffsets.empty() && !ycbcr;
}

TiffTilePlan CTiffIO::TilePlanOf(uint32_t plane) const
{
    TiffTilePlan p;
    PlanDecoding(p, TileWidth, TileLength);
    p.width = Width;
    if (TileWidth == 0 || TileLength == 0 || Width == 0 || Height == 0) return p;
    uint64_t perPlane = static_cast<uint64_t>(p.Across()) * p.Down();
    uint64_t first = perPlane * plane;
    if (first + perPlane <= std::min(TileOffsets.size(), TileByteCounts.size())) {
        p.offsets = TileOffsets.data() + first;
        p.counts = TileByteCounts.data() + first;
        p.strips = static_cast<uint32_t>(perPlane);
    }
    return p;
}

// Every tile the image needs must be listed, and its stored bytes must be
// able to hold the tile's rows inside the image, within what the
// compression can decode to; a band must fit the memory it may take.
CStatus CTiffIO::CompleteTiles(uint64_t fileLength)
{
    const uint32_t planes = IsPlanar() ? ChannelCount : 1;
    const uint32_t samples = IsPlanar() ? 1 : ChannelCount;
    if (static_cast<uint64_t>(TileWidth) * BitsPerChannel * samples > kMaxTileRowBits) return kBadData;
    TiffTilePlan plan = TilePlanOf(0);
    const uint64_t perPlane = static_cast<uint64_t>(plan.Across()) * plan.Down();
    const uint64_t tiles = perPlane * planes;
    if (TileOffsets.size() < tiles) return kBadData;
    const uint64_t tileRowBytes = plan.TileRowBytes();
    if (Compression == tiff::kNone) {
        // Uncompressed tiles hold TileLength whole rows; a count short of
        // them cuts the tile.
        uint64_t full = tileRowBytes * TileLength;
        TileByteCounts.resize(TileOffsets.size(), 0xFFFFFFFFu);
        for (uint64_t& count : TileByteCounts) count = std::min<uint64_t>(count, full);
    } else {
        DeriveByteCounts(TileOffsets, static_cast<uint32_t>(TileOffsets.size()), fileLength, TileByteCounts);
    }
    const uint64_t band = plan.BandBytes() * planes;
    if (band > std::min(kMostBandBytes, std::max(kLeastBandBytes, GetPlaneHeapCap()))) return kBadData;
    const TiffDecoderEntry* decoder = plan.decoder;
    if (!decoder) return kBadData;
    for (uint64_t i = 0; i < tiles; ++i) {
        uint64_t row = (i % perPlane) / plan.Across() * TileLength;
        uint64_t need = tileRowBytes * std::min<uint64_t>(TileLength, Height - row);
        uint64_t at = TileOffsets[i];
        uint64_t stored = at < fileLength ? std::min<uint64_t>(TileByteCounts[i], fileLength - at) : 0;
        if (decoder->MostDecoded(stored, tileRowBytes) < need) return kBadData;
    }
    return CStatus::Ok();
}
