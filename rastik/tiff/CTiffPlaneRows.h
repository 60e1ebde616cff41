// The decoded rows of one TIFF image plane (the interleaved rows, or one
// plane of a file that stores a plane per sample), asked for in ascending
// order, whether the file stores them in strips (CTiffRowReader) or tiles
// (CTiffTileReader). A reader owns its buffers and decoders: it is neither
// copied nor assigned.
#pragma once

#include <cstdint>

#include "rastik/support/NonCopyable.h"

class CTiffPlaneRows : private NonCopyable {
public:
    virtual ~CTiffPlaneRows() = default;

    // Takes the buffers; readAhead: rows a read may take at once; readers:
    // readers of the image decoding at once (one per plane). False when
    // memory is short.
    virtual bool Open(uint32_t readAhead, uint32_t readers) = 0;
    // Row r (not below the row asked before), in the file's sample layout.
    // Data the file does not hold reads as 0. Null when the file cannot be
    // read or the data is not of its compression.
    virtual const uint8_t* Row(uint32_t r) = 0;
};
