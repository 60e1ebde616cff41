// GIF file facts shared by the reader and the writer: the bytes that start
// the blocks after the logical screen descriptor, the extension labels and
// the flags of the packed fields.
#pragma once

#include <cstdint>

namespace gif {

// A block starts with an extension introducer ('!'), an image separator
// (',') before an image descriptor, or the trailer (';') that ends the file.
constexpr uint8_t kExtensionIntroducer = 0x21;
constexpr uint8_t kImageSeparator = 0x2C;
constexpr uint8_t kTrailer = 0x3B;

// The byte after an extension introducer names the extension.
enum Label : uint8_t { kPlainTextLabel = 0x01, kGraphicControlLabel = 0xF9, kApplicationLabel = 0xFF };

// Packed fields of the screen and image descriptors: a colour table
// follows, of 2^(n + 1) entries for size bits n (the low three bits); the
// image's rows are interlaced. The screen's bits 4 to 6 give its colour
// resolution.
constexpr uint8_t kTableFlag = 0x80;
constexpr uint8_t kInterlaceFlag = 0x40;
constexpr uint8_t kTableSizeBits = 0x07;
inline uint32_t TableEntries(uint8_t flags)
{
    return 1u << ((flags & kTableSizeBits) + 1);
}

// Packed field of a graphic control extension: its colour index is
// transparent.
constexpr uint8_t kTransparentFlag = 0x01;

}  // namespace gif
