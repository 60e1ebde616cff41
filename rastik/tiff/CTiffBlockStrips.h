// The strips of a streamed TIFF write whose compression codes whole strips
// (Deflate, JPEG): rows arrive a block at a time, whatever the block's size,
// and are gathered until a strip is complete; then the strip is coded.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "rastik/tiff/CTiffStripEncoder.h"

class CTiffBlockStrips {
public:
    // Strips of stripRows rows of rowBytes bytes, coded by coder.
    CTiffBlockStrips(std::unique_ptr<CTiffStripEncoder> coder, uint64_t rowBytes, uint32_t stripRows);

    // The memory of a strip and of its coding; false when it cannot be had.
    bool Reserve();
    // Where the next row goes.
    uint8_t* Row() { return m_rows.data() + m_held * m_rowBytes; }
    // Takes the row just filled; true when the strip is complete.
    bool Add() { return ++m_held == m_stripRows; }
    // Codes the rows held (at least one) as a strip and starts the next:
    // its bytes, or null when the coder failed.
    const uint8_t* Code(uint32_t& bytes);

private:
    std::unique_ptr<CTiffStripEncoder> m_coder;
    uint64_t m_rowBytes;
    uint32_t m_stripRows;
    uint32_t m_held = 0;
    std::vector<uint8_t> m_rows;
};
