// JPEG markers (ISO/IEC 10918-1, table B.1). A marker is the byte 0xFF and
// a code byte; in the stream it reads as one big-endian 16-bit word, which
// is how these constants give it. Every marker from SOF0 on, other than
// the restarts RST0..RST7, SOI, EOI and TEM (0xFF01), starts a segment
// whose 16-bit big-endian length counts itself.
#pragma once

#include <cstdint>

namespace jpegmarker {

// Frames: SOF0 baseline, SOF1 extended sequential, SOF2 progressive; all
// others up to SOF15 are lossless, hierarchical or arithmetic-coded.
constexpr uint16_t kSof0 = 0xFFC0;
constexpr uint16_t kSof1 = 0xFFC1;
constexpr uint16_t kSof2 = 0xFFC2;
constexpr uint16_t kSof15 = 0xFFCF;
// Tables: Huffman (DHT) and arithmetic conditioning (DAC), which sit among
// the frame codes; quantisation (DQT); the restart interval (DRI).
constexpr uint16_t kDht = 0xFFC4;
constexpr uint16_t kDac = 0xFFCC;
constexpr uint16_t kDqt = 0xFFDB;
constexpr uint16_t kDri = 0xFFDD;
// Markers without a segment.
constexpr uint16_t kTem = 0xFF01;
constexpr uint16_t kRst0 = 0xFFD0;
constexpr uint16_t kRst7 = 0xFFD7;
constexpr uint16_t kSoi = 0xFFD8;
constexpr uint16_t kEoi = 0xFFD9;
// The scan header; its entropy-coded data follows the segment.
constexpr uint16_t kSos = 0xFFDA;
// Application segments: APP0 (JFIF), APP13 (resource blocks), APP14
// (the colour transform flag).
constexpr uint16_t kApp0 = 0xFFE0;
constexpr uint16_t kApp13 = 0xFFED;
constexpr uint16_t kApp14 = 0xFFEE;
// Padding before a marker: any number of 0xFF bytes.
constexpr uint16_t kFill = 0xFFFF;

// The code byte of a marker, as libjpeg reports a marker it met.
constexpr uint8_t Code(uint16_t marker)
{
    return static_cast<uint8_t>(marker);
}

// True for the marker words, the prefix 0xFF and a code other than 0.
constexpr bool IsMarker(uint32_t word)
{
    return word > 0xFF00 && word <= 0xFFFF;
}

}  // namespace jpegmarker
