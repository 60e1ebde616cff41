// The blocks of one MCU of a band, transformed and in the order they are
// coded, made from the band's planes without the encoder's coding state, so
// that the MCUs of a band can be made on several threads while one thread
// codes them in order. The blocks are those the encoder's MCU routines
// transform, value for value.
#pragma once

#include <cstdint>

// Sample conversions into units of 1/512, level-shifted to centre on 0.
inline int32_t DctShifted(uint8_t v) { return (static_cast<int32_t>(v) - 128) * 512; }
inline int32_t DctInverted(uint8_t v) { return (127 - static_cast<int32_t>(v)) * 512; }

struct DctMcuBlocks {
    // The MCU layouts: 8 x 8 or 16 x 16, samples as they are or R, G, B
    // turned into Y, Cb, Cr.
    enum Kind { kPlain8, kPlain16, kYcc8, kYcc16 };
    static constexpr uint32_t kMostBlocks = 16;  // four components of four blocks
    static constexpr uint32_t kAreaValues = 4 * 256;

    struct Band {
        Kind kind;
        uint32_t components;
        uint32_t width;
        uint32_t rows;  // rows of the band
        uint32_t mcusPerRow;
        const uint8_t* planes[4];
    };

    // Blocks of one MCU and the component of each, in coding order.
    static uint32_t Order(const Band& band, uint32_t* components);
    // Makes the blocks of MCU number mcu of the band (64 values each) with a
    // work area of kAreaValues values of the caller's.
    static void Make(const Band& band, uint32_t mcu, int32_t* area, int32_t* blocks);
};
