// How the rows of a row source come: their order, the planes they fill, and
// their samples: one row per plane, or the codec's interleaved pixels,
// which the base class splits (whole reads) or samples (reduced reads).
#pragma once

#include <cstdint>

#include "rastik/core/CPlaneRowStream.h"

struct CRowLayout {
    // The order stored rows come in: from the top, from the bottom, or one
    // the source names row by row (interlaced rows).
    CPlaneRowStream::Direction Order = CPlaneRowStream::kTopDown;
    // Planes a whole read fills, from plane 0.
    uint32_t Planes = 1;
    // 0: a row is Planes rows of Width samples, one per plane. n: a row is
    // Width pixels of n interleaved samples (n >= Planes; samples past the
    // planes filled are dropped).
    uint32_t Interleaved = 0;
    // Interleaved colour samples stored blue, green, red: plane 2 - k takes
    // sample k of the first three.
    bool Bgr = false;
    // Samples stored as 255 - value (inverted ink).
    bool Inverted = false;
    // Bytes an interleaved row the sink lends (Target) must hold; 0 for
    // Width x Interleaved. A source that reads padded file rows straight in
    // asks for their length.
    uint32_t RowBytes = 0;
    // Rows a source fills before committing any (an MCU row, a strip, a row
    // of tiles): spilled planes are staged in whole groups. A source fills
    // each group from its first row on.
    uint32_t Group = 1;
    // A whole read lends the planes' rows themselves rather than rows of its
    // own (always so for groups): for decoders whose stores are cheap.
    bool InPlace = false;
    // Rows handed over in all, when the source hands some rows over more than
    // once (one pass of an interlaced image at a time); 0: each row once.
    uint64_t Visits = 0;

    uint32_t Samples() const { return Interleaved ? Interleaved : Planes; }
};

// Which pixels of a row a hand-over holds: every one, or those of one pass
// of an interlaced image (Start, Start + Step, ...).
struct CRowColumns {
    uint32_t Start = 0;
    uint32_t Step = 1;
    bool All() const { return Start == 0 && Step == 1; }
    bool Has(uint32_t x) const { return x >= Start && (x - Start) % Step == 0; }
};
