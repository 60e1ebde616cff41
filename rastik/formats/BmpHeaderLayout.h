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

// Compression field values. OS/2 2.x headers give 3 and 4 other meanings
// (one-dimensional Huffman codes, 24-bit run-length rows).
constexpr uint32_t kBmpUncompressed = 0;
constexpr uint32_t kBmpRunLength8 = 1;
constexpr uint32_t kBmpRunLength4 = 2;
constexpr uint32_t kBmpBitFields = 3;  // pixels under channel masks
constexpr uint32_t kBmpJpeg = 4;       // the pixel data is a JPEG file
constexpr uint32_t kBmpPng = 5;        // the pixel data is a PNG file
constexpr uint32_t kBmpAlphaBitFields = 6;

// The 12-byte OS/2 information header: header size u32, width u16, height
// u16 (rows bottom-up), planes u16, bit count u16. The other fields are 0.
constexpr uint32_t kOs2InfoHeaderBytes = 12;
void UnpackOs2InfoHeader(const uint8_t* infoBytes, CBmpIO::InfoHeader& info);

// Information header sizes: 12 (OS/2 1.x), 40, 52 and 56 (the 40-byte
// header followed by the red, green, blue and then the alpha mask), 108 and
// 124 (the same masks, then colour-space fields). Other sizes from 16 to 64
// are OS/2 2.x headers: the 40-byte layout, cut short (missing fields are 0)
// or followed by fields of their own. The masks lie at offset 40.
constexpr uint32_t kBmpMasksAt = 40;
constexpr uint32_t kBmpRgbMasksEnd = 52;
constexpr uint32_t kBmpAlphaMaskEnd = 56;
constexpr uint32_t kShortestOs2TwoInfoHeader = 16;
// Whether an information header of size bytes is an OS/2 one (1.x or 2.x).
bool IsOs2InfoHeader(uint32_t size);

// The V5 information header (124 bytes): the 40-byte fields, then the red,
// green, blue and alpha masks u32, colour space type u32, end points (36
// bytes), gammas (3 x u32), intent u32, profile offset and size u32, and a
// reserved u32. Written with the masks of blue, green, red and alpha bytes,
// the sRGB colour space and the pictures intent.
constexpr uint32_t kBmpV5InfoHeaderBytes = 124;
void PackBmpV5Fields(uint8_t* afterInfoHeader);

void PackBmpHeaders(const CBmpIO::FileHeader& file, const CBmpIO::InfoHeader& info, uint8_t* out);
void UnpackBmpFileHeader(const uint8_t* fileBytes, CBmpIO::FileHeader& file);
void UnpackBmpInfoHeader(const uint8_t* infoBytes, CBmpIO::InfoHeader& info);

// Pixels per metre of a resolution in inches (unit 0 or 1, through 2.53995 cm)
// or centimetres (unit 3, times 100), truncated and held to 0..INT32_MAX;
// false for a unit that cannot be converted.
bool BmpPelsPerMetre(float resolution, uint32_t unit, int32_t* out);
