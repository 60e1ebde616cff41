// Pictures and 1-bit files built byte by byte as the formats are documented,
// for the picture reader's tests: one bitmap opcode after any opcodes the
// test puts before it, rows packed or not by the documented rules.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace pictfix {

struct PictFixture {
    int version = 2;
    uint16_t opcode = 0x98;
    uint32_t width = 0;
    uint32_t height = 0;
    bool pixmap = true;  // false: a 1-bit bitmap without a pixel map
    uint16_t pixelSize = 8;
    uint16_t cmpCount = 1;
    uint16_t packType = 0;
    uint32_t hRes = 0x00480000;
    uint32_t vRes = 0x00480000;
    // Colour table entries: value, red, green, blue.
    std::vector<std::array<uint16_t, 4>> table;
    uint16_t tableFlags = 0;
    uint16_t rowBytes = 0;  // 0: the least even count for the width
    // Rows as they are unpacked (rowBytes each; 32-bit rows as the pack
    // type arranges them); packed here when the rules say so.
    std::vector<std::vector<uint8_t>> rows;
    // When given, stored as they stand instead of rows.
    std::vector<uint8_t> storedRows;
    // Opcodes with their data between the header and the bitmap.
    std::vector<uint8_t> before;
};

uint16_t RowBytesOf(const PictFixture& f);
std::vector<uint8_t> MakePict(const PictFixture& f);
// PackBits of a row in units of 1 or 2 bytes.
std::vector<uint8_t> PackBits(const std::vector<uint8_t>& row, unsigned unit);

// The 1-bit formats: "DanM" (kind 1) or 0xC004 (kind 2), rows of whole bytes.
std::vector<uint8_t> MakeMsp(int kind, uint16_t width, uint16_t height, const std::vector<uint8_t>& rows,
                             uint16_t resolution = 0, uint8_t byte22 = 0);

// A small sample of a colour mode: a 32-bit picture (RGB), an 8-bit one
// with a grey or a colour table (grey, indexed), or a "DanM" file (bitmap).
std::vector<uint8_t> SamplePicture(uint32_t mode, uint16_t width, uint16_t height);

}  // namespace pictfix
