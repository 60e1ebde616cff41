// Picture and 1-bit seeds. Pictures are big-endian: a 512-byte preamble,
// the picture size word, the frame rectangle (top, left, bottom, right),
// the version opcode, then opcodes up to the first bitmap opcode, whose
// rows are PackBits-packed, each led by its packed length (a byte while
// pixel size x width is below 2008, else a word).
#include "PictSeeds.h"

#include <cstdint>
#include <vector>

#include "SeedFiles.h"

namespace {

class PictBytes {
public:
    void Byte(uint32_t v) { m_bytes.push_back(static_cast<uint8_t>(v)); }
    void Word(uint32_t v)
    {
        Byte(v >> 8);
        Byte(v);
    }
    void Long(uint32_t v)
    {
        Word(v >> 16);
        Word(v & 0xFFFF);
    }
    void Rect(uint32_t width, uint32_t height)
    {
        Word(0);
        Word(0);
        Word(height);
        Word(width);
    }
    void Zeros(size_t n) { m_bytes.insert(m_bytes.end(), n, 0); }
    void Append(const std::vector<uint8_t>& b) { m_bytes.insert(m_bytes.end(), b.begin(), b.end()); }
    // One row: its packed length, then literal runs of at most 128 units
    // (unitBytes each), with one repeat run where the row starts with three equal units.
    void PackedRow(const std::vector<uint8_t>& row, uint32_t unitBytes, bool wordLength)
    {
        std::vector<uint8_t> packed;
        size_t units = row.size() / unitBytes, at = 0;
        if (units >= 3 && unitBytes == 1 && row[0] == row[1] && row[1] == row[2]) {
            packed.push_back(static_cast<uint8_t>(257 - 3));
            packed.push_back(row[0]);
            at = 3;
        }
        while (at < units) {
            size_t n = units - at < 128 ? units - at : 128;
            packed.push_back(static_cast<uint8_t>(n - 1));
            packed.insert(packed.end(), row.begin() + at * unitBytes, row.begin() + (at + n) * unitBytes);
            at += n;
        }
        if (wordLength) Word(static_cast<uint32_t>(packed.size()));
        else Byte(static_cast<uint32_t>(packed.size()));
        Append(packed);
    }
    const std::vector<uint8_t>& Bytes() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
};

struct PixelMap {
    uint32_t width, height;
    uint32_t pixelSize, cmpCount;
    bool grey;  // colour table of grey entries
};

// Preamble, size, frame and the version-2 header with a few drawing
// opcodes before the image.
void Version2Start(PictBytes& p, const PixelMap& m)
{
    p.Zeros(512);
    p.Word(0);
    p.Rect(m.width, m.height);
    p.Word(0x0011);
    p.Word(0x02FF);
    p.Word(0x0C00);  // header: 24 bytes
    p.Long(0xFFFE0000);
    p.Long(0x00480000);
    p.Long(0x00480000);
    p.Rect(m.width, m.height);
    p.Long(0);
    p.Word(0x001E);  // DefHilite, no data
    p.Word(0x0001);  // Clip: region of 10 bytes
    p.Word(10);
    p.Rect(m.width, m.height);
    p.Word(0x00A1);  // LongComment: kind, size, data
    p.Word(100);
    p.Word(4);
    p.Long(0x01020304);
}

void PixMapRecord(PictBytes& p, const PixelMap& m, uint32_t packType)
{
    p.Word(0);         // version
    p.Word(packType);
    p.Long(0);         // pack size
    p.Long(0x00480000);
    p.Long(0x00480000);
    p.Word(m.cmpCount == 3 ? 16 : 0);
    p.Word(m.pixelSize);
    p.Word(m.cmpCount);
    p.Word(m.cmpCount == 3 ? 8 : m.pixelSize);
    p.Long(0);
    p.Long(0);
    p.Long(0);
}

uint8_t Sample(uint32_t x, uint32_t y, uint32_t c)
{
    return static_cast<uint8_t>(x * 9 + y * 5 + c * 80);
}

// PackBitsRect with an indexed pixel map (8, 4 or 2 bits) and its colour table.
std::vector<uint8_t> IndexedPicture(const PixelMap& m)
{
    PictBytes p;
    Version2Start(p, m);
    const uint32_t entries = 1u << m.pixelSize;
    const uint32_t rowBytes = (m.width * m.pixelSize + 7) / 8;
    p.Word(0x0098);
    p.Word(rowBytes | 0x8000);
    p.Rect(m.width, m.height);
    PixMapRecord(p, m, 0);
    p.Long(0);  // seed
    p.Word(0);  // flags
    p.Word(entries - 1);
    for (uint32_t i = 0; i < entries; ++i) {
        uint32_t v = i * 255 / (entries - 1);
        p.Word(i);
        p.Word(v * 257);
        p.Word((m.grey ? v : 255 - v) * 257);
        p.Word((m.grey ? v : (v * 3) & 255) * 257);
    }
    p.Rect(m.width, m.height);
    p.Rect(m.width, m.height);
    p.Word(0);  // source copy
    const uint32_t perByte = 8 / m.pixelSize;
    for (uint32_t y = 0; y < m.height; ++y) {
        std::vector<uint8_t> row(rowBytes, 0);
        for (uint32_t x = 0; x < m.width; ++x) {
            uint32_t index = Sample(x, y, 0) % entries;
            row[x / perByte] |= static_cast<uint8_t>(index << (8 - m.pixelSize * (x % perByte + 1)));
        }
        p.PackedRow(row, 1, m.pixelSize * m.width >= 2008);
    }
    p.Word(0x00FF);
    return p.Bytes();
}

// DirectBitsRect with a 32-bit (rows of all red, then green, then blue
// bytes) or 16-bit (x RRRRR GGGGG BBBBB words) pixel map.
std::vector<uint8_t> DirectPicture(const PixelMap& m)
{
    PictBytes p;
    Version2Start(p, m);
    p.Word(0x009A);
    p.Long(0x000000FF);  // base address
    p.Word((m.width * m.pixelSize / 8) | 0x8000);
    p.Rect(m.width, m.height);
    PixMapRecord(p, m, m.pixelSize == 32 ? 4 : 3);
    p.Rect(m.width, m.height);
    p.Rect(m.width, m.height);
    p.Word(0);
    for (uint32_t y = 0; y < m.height; ++y) {
        std::vector<uint8_t> row;
        if (m.pixelSize == 32) {
            for (uint32_t c = 0; c < 3; ++c)
                for (uint32_t x = 0; x < m.width; ++x) row.push_back(Sample(x, y, c));
            p.PackedRow(row, 1, m.pixelSize * m.width >= 2008);
        } else {
            for (uint32_t x = 0; x < m.width; ++x) {
                uint32_t v = (Sample(x, y, 0) >> 3) << 10 | (Sample(x, y, 1) >> 3) << 5 | Sample(x, y, 2) >> 3;
                row.push_back(static_cast<uint8_t>(v >> 8));
                row.push_back(static_cast<uint8_t>(v));
            }
            p.PackedRow(row, 2, m.pixelSize * m.width >= 2008);
        }
    }
    p.Word(0x00FF);
    return p.Bytes();
}

// Version 1: byte opcodes, an 8-bit indexed PackBitsRect.
std::vector<uint8_t> Version1Picture(uint32_t width, uint32_t height)
{
    PictBytes p;
    p.Zeros(512);
    p.Word(0);
    p.Rect(width, height);
    p.Byte(0x11);
    p.Byte(0x01);
    p.Byte(0x01);  // Clip
    p.Word(10);
    p.Rect(width, height);
    p.Byte(0xA0);  // ShortComment
    p.Word(7);
    p.Byte(0x98);
    p.Word(width | 0x8000);
    p.Rect(width, height);
    PixMapRecord(p, PixelMap{width, height, 8, 1, false}, 0);
    p.Long(0);
    p.Word(0);
    p.Word(255);
    for (uint32_t i = 0; i < 256; ++i) {
        p.Word(i);
        p.Word(i * 257);
        p.Word((255 - i) * 257);
        p.Word(((i * 7) & 255) * 257);
    }
    p.Rect(width, height);
    p.Rect(width, height);
    p.Word(0);
    for (uint32_t y = 0; y < height; ++y) {
        std::vector<uint8_t> row(width);
        for (uint32_t x = 0; x < width; ++x) row[x] = Sample(x, y, 0);
        p.PackedRow(row, 1, 8 * width >= 2008);
    }
    p.Byte(0xFF);
    return p.Bytes();
}

// The 1-bit formats: "DanM" (32-byte header) or first word 0xC004 (16- or
// 24-byte header), little-endian width and height, rows of width / 8 bytes.
std::vector<uint8_t> OneBitFile(bool danM, uint32_t width, uint32_t height, bool longHeader)
{
    std::vector<uint8_t> b(danM ? 32 : (longHeader ? 24 : 16), 0);
    if (danM) {
        b[0] = 'D', b[1] = 'a', b[2] = 'n', b[3] = 'M';
        b[8] = 0x60, b[9] = 0x80;  // resolution given: 0x8060
        b[10] = 150;
    } else {
        b[0] = 0x04, b[1] = 0xC0;
        if (longHeader) b[22] = 24;
    }
    b[4] = static_cast<uint8_t>(width), b[5] = static_cast<uint8_t>(width >> 8);
    b[6] = static_cast<uint8_t>(height), b[7] = static_cast<uint8_t>(height >> 8);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < (width + 7) / 8; ++x) b.push_back(static_cast<uint8_t>(x * 29 + y * 3));
    return b;
}

}  // namespace

void SavePictSeeds(const std::string& outDir)
{
    struct Named {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    const Named pictures[] = {
        {"indexed8-13x7.pct", IndexedPicture({13, 7, 8, 1, false})},
        {"grey8-9x4.pct", IndexedPicture({9, 4, 8, 1, true})},
        {"indexed4-11x5.pct", IndexedPicture({11, 5, 4, 1, false})},
        {"indexed2-10x3.pct", IndexedPicture({10, 3, 2, 1, false})},
        {"direct32-7x6.pct", DirectPicture({7, 6, 32, 3, false})},
        {"direct16-9x5.pct", DirectPicture({9, 5, 16, 3, false})},
        {"wide-direct32-300x2.pct", DirectPicture({300, 2, 32, 3, false})},
        {"version1-12x4.pct", Version1Picture(12, 4)},
    };
    for (const Named& p : pictures) SaveSeed(outDir, "pict", p.name, p.bytes);
    SaveSeed(outDir, "imgproc", pictures[0].name, pictures[0].bytes);
    SaveSeed(outDir, "imgproc", pictures[4].name, pictures[4].bytes);
    const Named oneBit[] = {
        {"danm-24x5.msp", OneBitFile(true, 24, 5, false)},
        {"c004-16x6.msp", OneBitFile(false, 16, 6, false)},
        {"c004-long-header-40x3.msp", OneBitFile(false, 40, 3, true)},
    };
    for (const Named& p : oneBit) SaveSeed(outDir, "onebit", p.name, p.bytes);
    SaveSeed(outDir, "imgproc", oneBit[0].name, oneBit[0].bytes);
}
