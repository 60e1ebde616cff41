// One row per file type with a writer: the colour modes it holds and whether
// it keeps extra channels. A new writer adds its row here.
#include "rastik/core/CWriterModes.h"

#include <initializer_list>

#include "rastik/CRastik.h"
#include "rastik/Exports.h"

namespace {

constexpr uint32_t Modes(std::initializer_list<uint32_t> modes)
{
    uint32_t bits = 0;
    for (uint32_t m : modes) bits |= 1u << m;
    return bits;
}

struct WriterRow {
    uint16_t FileType;
    uint32_t Modes;
    bool ExtraChannels;
};

constexpr WriterRow kWriters[] = {
    // 1-bit, 8-bit grey or indexed, 24-bit bitmaps; 32-bit ones with alpha
    {kTypeBmp, Modes({kModeBitmap, kModeGrey, kModeRgb, kModeIndexed}), true},
    // two-colour or 256-colour tables
    {kTypeGif, Modes({kModeBitmap, kModeIndexed}), false},
    {kTypeJpeg, Modes({kModeGrey, kModeRgb, kModeCmyk}), false},
    // bilevel, grey, RGB, CMYK and palette images, extra samples kept
    {kTypeTiff, Modes({kModeBitmap, kModeGrey, kModeRgb, kModeCmyk, kModeIndexed}), true},
    // grey, RGB and palette images, alpha kept
    {kTypePng, Modes({kModeGrey, kModeRgb, kModeIndexed}), true},
    // packed 1-bit rows from one channel
    {kTypeBlackWhite, Modes({kModeBitmap, kModeGrey}), false},
};

}  // namespace

CWriterModes::CWriterModes(uint16_t fileType)
{
    for (const WriterRow& row : kWriters) {
        if (row.FileType != fileType) continue;
        m_modes = row.Modes;
        m_extraChannels = row.ExtraChannels;
    }
}

bool CWriterModes::Holds(uint32_t mode) const
{
    return mode < 32 && (m_modes & (1u << mode)) != 0;
}

bool CWriterModes::HoldsExtraChannels() const
{
    return m_extraChannels;
}

uint32_t CWriterModes::FirstHeld(std::initializer_list<uint32_t> order, uint32_t fallback) const
{
    for (uint32_t m : order)
        if (Holds(m)) return m;
    return fallback;
}

uint32_t CWriterModes::Nearest(uint32_t mode, bool greyPalette) const
{
    switch (mode) {
    case kModeBitmap: return FirstHeld({kModeBitmap, kModeIndexed, kModeGrey}, mode);
    case kModeGrey: return FirstHeld({kModeGrey, kModeIndexed, kModeRgb}, mode);
    case kModeRgb: return FirstHeld({kModeRgb, kModeIndexed, kModeCmyk, kModeGrey}, mode);
    case kModeCmyk: return FirstHeld({kModeCmyk, kModeRgb, kModeIndexed, kModeGrey}, mode);
    case kModeIndexed:
        if (greyPalette) return FirstHeld({kModeIndexed, kModeGrey, kModeRgb}, mode);
        return FirstHeld({kModeIndexed, kModeRgb, kModeGrey}, mode);
    default: return mode;
    }
}
