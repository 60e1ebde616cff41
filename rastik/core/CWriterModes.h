// The colour modes the writer of each file type can hold, and the mode a
// conversion that writes the format its target names picks when the image's
// own mode cannot be held there.
#pragma once

#include <cstdint>
#include <initializer_list>

class CWriterModes {
public:
    // The writer of a file-type code; a code without a row holds nothing.
    explicit CWriterModes(uint16_t fileType);

    bool Holds(uint32_t mode) const;
    // Whether the writer keeps the planes past the colour channels (an
    // alpha plane or a 32-bit bitmap's fourth bytes); other writers get the
    // colour channels only.
    bool HoldsExtraChannels() const;
    // The mode an image in `mode` is written in: the mode itself when the
    // writer holds it, else the nearest one it holds (a bitmap: two-colour
    // indexed, then grey; grey: indexed, then RGB; RGB: indexed, then CMYK,
    // then grey; CMYK: RGB, then indexed, then grey; indexed: RGB, then grey,
    // or grey first for a palette of greys). `mode` itself when the writer
    // holds none of them.
    uint32_t Nearest(uint32_t mode, bool greyPalette) const;

private:
    // The first mode of the list the writer holds, else fallback.
    uint32_t FirstHeld(std::initializer_list<uint32_t> order, uint32_t fallback) const;

    uint32_t m_modes = 0;  // bit m set: the writer holds colour mode m
    bool m_extraChannels = false;
};
