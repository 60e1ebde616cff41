// Picture and 1-bit file builders of the picture reader's tests.
#include "PictFixture.h"

#include <algorithm>

namespace pictfix {

namespace {

void Word(std::vector<uint8_t>& v, uint32_t w)
{
    v.push_back(static_cast<uint8_t>(w >> 8));
    v.push_back(static_cast<uint8_t>(w));
}

void Long(std::vector<uint8_t>& v, uint32_t l)
{
    Word(v, l >> 16);
    Word(v, l & 0xFFFF);
}

void Rect(std::vector<uint8_t>& v, uint32_t w, uint32_t h)
{
    Word(v, 0);
    Word(v, 0);
    Word(v, h);
    Word(v, w);
}

void Opcode(std::vector<uint8_t>& v, int version, uint16_t op)
{
    if (version == 1) {
        v.push_back(static_cast<uint8_t>(op));
    } else {
        if (v.size() & 1) v.push_back(0);
        Word(v, op);
    }
}

bool Direct(const PictFixture& f)
{
    return f.opcode == 0x9A || f.opcode == 0x9B;
}

// Rows below 8 bytes are never packed; direct pixels of pack types 1 and 2
// are stored unpacked.
bool RowsPacked(const PictFixture& f)
{
    if (RowBytesOf(f) < 8) return false;
    return !(f.pixelSize >= 16 && (f.packType == 1 || f.packType == 2));
}

}  // namespace

uint16_t RowBytesOf(const PictFixture& f)
{
    if (f.rowBytes) return f.rowBytes;
    uint32_t bytes = (f.width * f.pixelSize + 7) / 8;
    return static_cast<uint16_t>((bytes + 1) & ~1u);
}

std::vector<uint8_t> PackBits(const std::vector<uint8_t>& row, unsigned unit)
{
    std::vector<uint8_t> out;
    size_t units = row.size() / unit;
    auto same = [&](size_t a, size_t b) { return std::equal(&row[a * unit], &row[a * unit] + unit, &row[b * unit]); };
    size_t i = 0;
    while (i < units) {
        size_t run = 1;
        while (i + run < units && run < 128 && same(i, i + run)) ++run;
        if (run >= 3) {
            out.push_back(static_cast<uint8_t>(257 - run));
            out.insert(out.end(), &row[i * unit], &row[i * unit] + unit);
            i += run;
            continue;
        }
        size_t n = 0;
        while (i + n < units && n < 128 && !(i + n + 2 < units && same(i + n, i + n + 1) && same(i + n, i + n + 2)))
            ++n;
        out.push_back(static_cast<uint8_t>(n - 1));
        out.insert(out.end(), &row[i * unit], &row[(i + n) * unit]);
        i += n;
    }
    return out;
}

std::vector<uint8_t> MakePict(const PictFixture& f)
{
    std::vector<uint8_t> v(512, 0);
    Word(v, 0);  // picture size: the low word of the length, set at the end
    Rect(v, f.width, f.height);
    if (f.version == 1) {
        v.insert(v.end(), {0x11, 0x01});
    } else {
        Word(v, 0x0011);
        Word(v, 0x02FF);
        // Header opcode: version -1, a fixed-point frame, reserved long.
        Word(v, 0x0C00);
        Long(v, 0xFFFFFFFF);
        for (int i = 0; i < 4; ++i) Long(v, i < 2 ? 0 : (i == 2 ? f.width : f.height) << 16);
        Long(v, 0);
    }
    v.insert(v.end(), f.before.begin(), f.before.end());
    Opcode(v, f.version, f.opcode);
    if (Direct(f)) Long(v, 0x000000FF);
    uint16_t rowBytes = RowBytesOf(f);
    Word(v, rowBytes | (f.pixmap ? 0x8000 : 0));
    Rect(v, f.width, f.height);
    if (f.pixmap) {
        Word(v, 0);
        Word(v, f.packType);
        Long(v, 0);
        Long(v, f.hRes);
        Long(v, f.vRes);
        Word(v, f.pixelSize >= 16 ? 16 : 0);
        Word(v, f.pixelSize);
        Word(v, f.cmpCount);
        Word(v, f.pixelSize >= 16 ? 8 : f.pixelSize);
        Long(v, 0);
        Long(v, 0);
        Long(v, 0);
        if (!Direct(f)) {
            Long(v, 0);
            Word(v, f.tableFlags);
            Word(v, static_cast<uint32_t>(f.table.size()) - 1);
            for (const auto& e : f.table)
                for (uint16_t w : e) Word(v, w);
        }
    }
    Rect(v, f.width, f.height);
    Rect(v, f.width, f.height);
    Word(v, 0);
    if (f.opcode == 0x91 || f.opcode == 0x99 || f.opcode == 0x9B) {
        Word(v, 10);
        Rect(v, f.width, f.height);
    }
    if (!f.storedRows.empty()) {
        v.insert(v.end(), f.storedRows.begin(), f.storedRows.end());
    } else {
        for (const auto& row : f.rows) {
            if (!RowsPacked(f)) {
                v.insert(v.end(), row.begin(), row.end());
                continue;
            }
            std::vector<uint8_t> p = PackBits(row, f.pixelSize == 16 ? 2 : 1);
            if (rowBytes > 250)
                Word(v, static_cast<uint32_t>(p.size()));
            else
                v.push_back(static_cast<uint8_t>(p.size()));
            v.insert(v.end(), p.begin(), p.end());
        }
    }
    Opcode(v, f.version, f.version == 1 ? 0xFF : 0x00FF);
    v[512] = static_cast<uint8_t>((v.size() - 512) >> 8);
    v[513] = static_cast<uint8_t>(v.size() - 512);
    return v;
}

std::vector<uint8_t> MakeMsp(int kind, uint16_t width, uint16_t height, const std::vector<uint8_t>& rows,
                             uint16_t resolution, uint8_t byte22)
{
    std::vector<uint8_t> v(32, 0);
    auto le = [&](size_t at, uint16_t w) {
        v[at] = static_cast<uint8_t>(w);
        v[at + 1] = static_cast<uint8_t>(w >> 8);
    };
    if (kind == 1) {
        v[0] = 'D', v[1] = 'a', v[2] = 'n', v[3] = 'M';
    } else {
        le(0, 0xC004);
    }
    le(4, width);
    le(6, height);
    if (resolution) {
        le(8, 0x8060);
        le(10, resolution);
    }
    v[22] = byte22;
    size_t at = kind == 1 ? 32 : (byte22 == 24 ? 24 : 16);
    v.resize(std::max(at + rows.size(), v.size()));
    std::copy(rows.begin(), rows.end(), v.begin() + static_cast<std::ptrdiff_t>(at));
    return v;
}

std::vector<uint8_t> SamplePicture(uint32_t mode, uint16_t width, uint16_t height)
{
    auto sample = [](uint32_t x, uint32_t y, uint32_t c) { return static_cast<uint8_t>(x * 7 + y * 3 + c * 50); };
    if (mode == 2) {
        std::vector<uint8_t> rows;
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t x = 0; x < (width + 7) / 8u; ++x) rows.push_back(sample(x, y, 0));
        return MakeMsp(1, width, height, rows);
    }
    PictFixture f;
    f.width = width;
    f.height = height;
    if (mode == 4) {
        f.opcode = 0x9A;
        f.pixelSize = 32;
        f.cmpCount = 3;
        f.packType = 4;
    } else {
        for (uint16_t i = 0; i < 256; ++i) {
            uint16_t g = static_cast<uint16_t>(i * 257);
            f.table.push_back({i, g, mode == 3 ? g : static_cast<uint16_t>(65535 - g), g});
        }
    }
    for (uint32_t y = 0; y < height; ++y) {
        std::vector<uint8_t> row;
        for (uint32_t c = 0; c < (mode == 4 ? 3u : 1u); ++c)
            for (uint32_t x = 0; x < width; ++x) row.push_back(sample(x, y, c));
        row.resize(std::max<size_t>(row.size(), RowBytesOf(f)));
        f.rows.push_back(row);
    }
    return MakePict(f);
}

}  // namespace pictfix
