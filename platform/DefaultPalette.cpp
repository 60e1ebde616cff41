// The default palette: the 16 VGA colours, then black up to 256 entries.
#include "platform/DefaultPalette.h"

namespace {

constexpr uint32_t kEntries = 256;

// Red, green, blue of the VGA colours 0 to 15.
constexpr uint8_t kVga[16][3] = {
    {0, 0, 0},       {0, 0, 170},     {0, 170, 0},     {0, 170, 170},  {170, 0, 0},     {170, 0, 170},
    {170, 85, 0},    {170, 170, 170}, {85, 85, 85},    {85, 85, 255},  {85, 255, 85},   {85, 255, 255},
    {255, 85, 85},   {255, 85, 255},  {255, 255, 85},  {255, 255, 255},
};

}  // namespace

uint32_t GetDefaultPaletteEntries(uint32_t start, uint32_t count, PALETTEENTRY* entries)
{
    if (!entries || start >= kEntries) return 0;
    if (count > kEntries - start) count = kEntries - start;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t n = start + i;
        entries[i] = n < 16 ? PALETTEENTRY{kVga[n][0], kVga[n][1], kVga[n][2], 0} : PALETTEENTRY{0, 0, 0, 0};
    }
    return count;
}
