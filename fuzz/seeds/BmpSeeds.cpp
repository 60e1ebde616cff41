// Bitmap seeds built byte by byte (the fields little-endian).
#include "BmpSeeds.h"

#include <algorithm>
#include <initializer_list>

#include "SeedFiles.h"

namespace {

void Put16(SeedBytes& b, uint32_t v)
{
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(SeedBytes& b, uint32_t v)
{
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

struct BmpSeed {
    const char* name;
    uint32_t width, height;
    uint32_t headerSize;  // 12: OS/2 1.x; others: the 40-byte layout, cut or padded
    uint16_t bits;
    uint32_t compression;
    SeedBytes extra;  // masks or colour table after the header
    SeedBytes data;   // pixel data
};

// File header, information header, extra bytes, pixel data.
SeedBytes Build(const BmpSeed& s)
{
    SeedBytes info;
    Put32(info, s.headerSize);
    if (s.headerSize == 12) {
        Put16(info, s.width);
        Put16(info, s.height);
        Put16(info, 1);
        Put16(info, s.bits);
    } else {
        for (uint32_t v : {s.width, s.height}) Put32(info, v);
        Put16(info, 1);
        Put16(info, s.bits);
        for (uint32_t v : {s.compression, static_cast<uint32_t>(s.data.size()), 2835u, 2835u, 0u, 0u})
            Put32(info, v);
        info.resize(s.headerSize, 0);
    }
    uint32_t offset = static_cast<uint32_t>(14 + info.size() + s.extra.size());
    SeedBytes b = {'B', 'M'};
    Put32(b, offset + static_cast<uint32_t>(s.data.size()));
    Put32(b, 0);
    Put32(b, offset);
    b.insert(b.end(), info.begin(), info.end());
    b.insert(b.end(), s.extra.begin(), s.extra.end());
    b.insert(b.end(), s.data.begin(), s.data.end());
    return b;
}

SeedBytes Words(std::initializer_list<uint32_t> words)
{
    SeedBytes b;
    for (uint32_t w : words) Put32(b, w);
    return b;
}

SeedBytes Table(uint32_t entries, uint32_t entryBytes)
{
    SeedBytes b;
    for (uint32_t i = 0; i < entries; ++i)
        for (uint32_t k = 0; k < entryBytes; ++k) b.push_back(static_cast<uint8_t>(i * 40 + k * 90));
    return b;
}

// Rows of 4-byte-padded pixels with the values of a ramp.
SeedBytes Rows(uint32_t bytesPerPixel)
{
    SeedBytes b;
    uint32_t rowBytes = (6 * bytesPerPixel + 3) / 4 * 4;
    for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t i = 0; i < rowBytes; ++i) b.push_back(static_cast<uint8_t>(y * 37 + i * 13));
    return b;
}

}  // namespace

SeedBytes EmbeddingBmp(const SeedBytes& file, uint32_t compression, uint32_t width, uint32_t height)
{
    return Build({"", width, height, 40, 0, compression, {}, file});
}

void SaveBmpSeeds(const std::string& outDir)
{
    // Runs, an absolute run, a delta, end of line and end of bitmap.
    const SeedBytes rle8 = {6, 1, 0, 0, 0, 3, 2, 3, 4, 0, 3, 5, 0, 0, 0, 2, 1, 1, 2, 7, 0, 1};
    const SeedBytes rle4 = {6, 0x12, 0, 0, 0, 5, 0x34, 0x56, 0x70, 0, 0, 0, 0, 2, 2, 1, 3, 0x89, 0, 1};
    const BmpSeed seeds[] = {
        {"rle8.bmp", 6, 4, 40, 8, 1, Table(256, 4), rle8},
        {"rle4.bmp", 6, 4, 40, 4, 2, Table(16, 4), rle4},
        {"rgb16-555.bmp", 6, 4, 40, 16, 0, {}, Rows(2)},
        {"rgb16-565.bmp", 6, 4, 40, 16, 3, Words({0xF800, 0x07E0, 0x001F}), Rows(2)},
        {"argb16-4444.bmp", 6, 4, 40, 16, 6, Words({0x0F00, 0x00F0, 0x000F, 0xF000}), Rows(2)},
        {"rgb32-bitfields.bmp", 6, 4, 40, 32, 3, Words({0x3FF00000, 0x000FFC00, 0x3FF}), Rows(4)},
        {"argb32-v5.bmp", 6, 4, 124, 32, 3, {}, Rows(4)},
        {"os2-12.bmp", 6, 4, 12, 8, 0, Table(5, 3), Rows(1)},
        {"os2-64.bmp", 6, 4, 64, 4, 0, Table(16, 4), Rows(1)},
        {"os2-16.bmp", 6, 4, 16, 24, 0, {}, Rows(3)},
    };
    for (const BmpSeed& s : seeds) {
        SeedBytes bytes = Build(s);
        if (s.headerSize == 124) {
            SeedBytes masks = Words({0xFF0000, 0xFF00, 0xFF, 0xFF000000});
            std::copy(masks.begin(), masks.end(), bytes.begin() + 54);
        }
        SaveSeed(outDir, "bmp", s.name, bytes);
        SaveSeed(outDir, "imgproc", s.name, bytes);
    }
}
