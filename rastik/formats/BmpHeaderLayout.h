// The bitmap file header (14 bytes) and information header (40 bytes) as they
// lie in a file, little-endian, and the resolution conversion of their
// pixels-per-metre fields. Shared by the bitmap codec and the
// black-and-white writer.
#pragma once

#include <cstdint>

#include "rastik/CBmpIO.h"

// File header: type u16 ("BM"), file size u32, two reserved u16, pixel-data
// offset u32. Information header: header size u32, width i32, height i32
// (positive: bottom-up), planes u16, bit count u16, compression u32, image
// size u32, horizontal and vertical pixels per metre i32, colours used u32,
// important colours u32.
constexpr uint32_t kBmpHeadersBytes = CBmpIO::kFileHeaderBytes + CBmpIO::kInfoHeaderBytes;

void PackBmpHeaders(const CBmpIO::FileHeader& file, const CBmpIO::InfoHeader& info, uint8_t* out);
void UnpackBmpHeaders(const uint8_t* fileBytes, const uint8_t* infoBytes, CBmpIO::FileHeader& file,
                      CBmpIO::InfoHeader& info);

// Pixels per metre of a resolution in inches (unit 0 or 1, through 2.53995 cm)
// or centimetres (unit 3, times 100), truncated and held to 0..INT32_MAX;
// false for a unit that cannot be converted.
bool BmpPelsPerMetre(float resolution, uint32_t unit, int32_t* out);
