// Clip-path resources of the Photoshop resource block, as both the reader
// and the writer take them. All numbers are big-endian whatever the TIFF
// byte order. Path resources have ids 2000 to 2998; their data are records
// of 26 bytes, each a 16-bit selector and 24 bytes:
//   0 / 3  closed / open subpath length: knot count (16 bits), 22 unused
//   1, 2   closed subpath knot (linked, unlinked) } three points: control
//   4, 5   open subpath knot (linked, unlinked)   } before, anchor, after
//   6      path fill rule; 7 clipboard; 8 initial fill rule
// A point is vertical then horizontal component, each a sign byte (0x00,
// 0x01 adds 1, 0xFF subtracts 1) and a 24-bit fraction f of the height or
// width: f / 16,777,215.
#pragma once

#include <cstdint>

namespace tiffpath {

constexpr uint16_t kFirstPathId = 2000;
constexpr uint16_t kLastPathId = 2998;
constexpr uint32_t kRecordBytes = 26;
constexpr uint16_t kClosedLength = 0;
constexpr uint16_t kOpenLength = 3;
constexpr uint16_t kOpenKnot = 4;
constexpr uint16_t kFillRule = 6;
constexpr uint8_t kSignMinusOne = 0xFF;
constexpr uint8_t kSignPlusOne = 0x01;
constexpr double kFractionScale = 16777215.0;
constexpr uint32_t kMaxFraction = 0xFFFFFF;

}  // namespace tiffpath
