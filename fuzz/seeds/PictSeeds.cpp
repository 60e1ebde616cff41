// Picture and 1-bit seeds, built by the tests' picture builders.
#include "PictSeeds.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "PictFixture.h"
#include "SeedFiles.h"

namespace {

using pictfix::PictFixture;

uint8_t Sample(uint32_t x, uint32_t y, uint32_t c)
{
    return static_cast<uint8_t>(x * 9 + y * 5 + c * 80);
}

// Drawing opcodes of version 2 before the image: DefHilite (no data), Clip
// (a region of 10 bytes), LongComment (kind, size, data).
std::vector<uint8_t> DrawingOpcodes(uint32_t width, uint32_t height)
{
    return {0x00, 0x1E, 0x00, 0x01, 0x00, 10, 0, 0, 0, 0, uint8_t(height >> 8), uint8_t(height),
            uint8_t(width >> 8), uint8_t(width), 0x00, 0xA1, 0x00, 100, 0x00, 4, 1, 2, 3, 4};
}

// An indexed pixel map of 1, 2, 4 or 8 bits (PackBitsRect) with a colour
// table of grey or colour entries.
std::vector<uint8_t> Indexed(uint32_t width, uint32_t height, uint16_t bits, bool grey, int version = 2)
{
    PictFixture f;
    f.version = version;
    f.width = width, f.height = height, f.pixelSize = bits;
    uint32_t entries = 1u << bits;
    for (uint32_t i = 0; i < entries; ++i) {
        uint16_t v = static_cast<uint16_t>(i * 255 / (entries - 1) * 257);
        f.table.push_back({uint16_t(i), v, grey ? v : uint16_t(65535 - v), grey ? v : uint16_t(v * 3)});
    }
    if (version == 2) f.before = DrawingOpcodes(width, height);
    uint32_t perByte = 8 / bits;
    for (uint32_t y = 0; y < height; ++y) {
        std::vector<uint8_t> row(pictfix::RowBytesOf(f), 0);
        for (uint32_t x = 0; x < width; ++x)
            row[x / perByte] |= static_cast<uint8_t>((Sample(x, y, 0) % entries) << (8 - bits * (x % perByte + 1)));
        f.rows.push_back(row);
    }
    return pictfix::MakePict(f);
}

// Direct pixels (DirectBitsRect): 32 bits as rows of all red, green, blue
// bytes (pack type 4), or 16-bit words x RRRRR GGGGG BBBBB (pack type 3).
std::vector<uint8_t> Direct(uint32_t width, uint32_t height, uint16_t bits)
{
    PictFixture f;
    f.opcode = 0x9A;
    f.width = width, f.height = height, f.pixelSize = bits, f.cmpCount = 3;
    f.packType = bits == 32 ? 4 : 3;
    f.before = DrawingOpcodes(width, height);
    for (uint32_t y = 0; y < height; ++y) {
        std::vector<uint8_t> row;
        for (uint32_t c = 0; c < 3 && bits == 32; ++c)
            for (uint32_t x = 0; x < width; ++x) row.push_back(Sample(x, y, c));
        for (uint32_t x = 0; x < width && bits == 16; ++x) {
            uint32_t v = (Sample(x, y, 0) >> 3) << 10 | (Sample(x, y, 1) >> 3) << 5 | Sample(x, y, 2) >> 3;
            row.insert(row.end(), {uint8_t(v >> 8), uint8_t(v)});
        }
        row.resize(std::max<size_t>(row.size(), pictfix::RowBytesOf(f)));
        f.rows.push_back(row);
    }
    return pictfix::MakePict(f);
}

// A 1-bit bitmap without a pixel map (BitsRect).
std::vector<uint8_t> Bitmap(uint32_t width, uint32_t height)
{
    PictFixture f;
    f.opcode = 0x90;
    f.pixmap = false;
    f.width = width, f.height = height, f.pixelSize = 1;
    for (uint32_t y = 0; y < height; ++y) {
        std::vector<uint8_t> row(pictfix::RowBytesOf(f));
        for (size_t x = 0; x < row.size(); ++x) row[x] = Sample(uint32_t(x), y, 0);
        f.rows.push_back(row);
    }
    return pictfix::MakePict(f);
}

std::vector<uint8_t> OneBitRows(uint32_t width, uint32_t height)
{
    std::vector<uint8_t> rows;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < (width + 7) / 8; ++x) rows.push_back(static_cast<uint8_t>(x * 29 + y * 3));
    return rows;
}

}  // namespace

void SavePictSeeds(const std::string& outDir)
{
    struct Named {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    const Named pictures[] = {
        {"indexed8-13x7.pct", Indexed(13, 7, 8, false)},
        {"grey8-9x4.pct", Indexed(9, 4, 8, true)},
        {"indexed4-11x5.pct", Indexed(11, 5, 4, false)},
        {"indexed2-10x3.pct", Indexed(10, 3, 2, false)},
        {"direct32-7x6.pct", Direct(7, 6, 32)},
        {"direct16-9x5.pct", Direct(9, 5, 16)},
        {"wide-direct32-300x2.pct", Direct(300, 2, 32)},
        {"bitmap-20x4.pct", Bitmap(20, 4)},
        {"version1-12x4.pct", Indexed(12, 4, 8, false, 1)},
        {"danm-24x5.msp", pictfix::MakeMsp(1, 24, 5, OneBitRows(24, 5), 150)},
        {"c004-16x6.msp", pictfix::MakeMsp(2, 16, 6, OneBitRows(16, 6))},
        {"c004-long-header-40x3.msp", pictfix::MakeMsp(2, 40, 3, OneBitRows(40, 3), 0, 24)},
    };
    for (const Named& p : pictures) SaveSeed(outDir, "pict", p.name, p.bytes);
    for (int i : {0, 4, 9}) SaveSeed(outDir, "imgproc", pictures[i].name, pictures[i].bytes);
}
