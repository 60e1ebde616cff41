// The system's default colour palette, the stand-in for the stock palette of
// the original platform: the 16 standard VGA colours followed by black.
#pragma once

#include <cstdint>

struct PALETTEENTRY {
    uint8_t peRed;
    uint8_t peGreen;
    uint8_t peBlue;
    uint8_t peFlags;
};

// Entries are numbered 0 to 255; copies entries start .. start + count - 1
// that exist into entries and returns how many it copied.
uint32_t GetDefaultPaletteEntries(uint32_t start, uint32_t count, PALETTEENTRY* entries);
