// Builders of small TIFF files, clip-path resources and LZW strips, for the
// TIFF tests and the fuzz seeds (see TiffFixture.h).
#include "TiffFixture.h"

#include <algorithm>

namespace testutil {

namespace {

class Writer {
public:
    explicit Writer(bool little) : m_little(little) {}
    void U8(uint8_t v) { bytes.push_back(v); }
    void U16(uint16_t v)
    {
        if (m_little) U8(v & 0xFF), U8(v >> 8);
        else U8(v >> 8), U8(v & 0xFF);
    }
    void U32(uint32_t v)
    {
        if (m_little) U16(v & 0xFFFF), U16(v >> 16);
        else U16(v >> 16), U16(v & 0xFFFF);
    }
    void Item(uint16_t type, uint32_t v)
    {
        if (type == 3) U16(static_cast<uint16_t>(v));
        else if (type == 1 || type == 7) U8(static_cast<uint8_t>(v));
        else if (type == 16) m_little ? (U32(v), U32(0)) : (U32(0), U32(v));
        else U32(v);
    }
    void Align() { if (bytes.size() & 1) U8(0); }
    bool little() const { return m_little; }
    std::vector<uint8_t> bytes;

private:
    bool m_little;
};

}  // namespace

uint32_t ItemBytes(uint16_t type)
{
    return type == 3 ? 2 : (type == 1 || type == 7) ? 1 : (type == 5 || type == 10 || type == 16) ? 8 : 4;
}

namespace {

// The offset field and count of an entry, and the offsets, of a classic or
// a BigTIFF file.
struct Widths {
    bool big;
    uint32_t Field() const { return big ? 8 : 4; }
    void Offset(Writer& w, uint64_t v) const
    {
        if (big) {
            if (w.little()) w.U32(static_cast<uint32_t>(v)), w.U32(static_cast<uint32_t>(v >> 32));
            else w.U32(static_cast<uint32_t>(v >> 32)), w.U32(static_cast<uint32_t>(v));
        } else {
            w.U32(static_cast<uint32_t>(v));
        }
    }
};

// Where an appended image's directory lies and where its next-directory
// offset stands.
struct Appended {
    size_t directory, next;
};

// Appends one image: its strips, the values that do not fit into their
// entries and its directory.
Appended AppendImage(Writer& w, const TiffFixture& f, Widths wd)
{
    // Strips first (optionally last to first), then values that do not fit.
    std::vector<uint32_t> offsets(f.strips.size()), counts(f.strips.size());
    for (size_t k = 0; k < f.strips.size(); ++k) {
        size_t i = f.stripsReversed ? f.strips.size() - 1 - k : k;
        offsets[i] = static_cast<uint32_t>(w.bytes.size());
        counts[i] = static_cast<uint32_t>(f.strips[i].size());
        w.bytes.insert(w.bytes.end(), f.strips[i].begin(), f.strips[i].end());
        w.Align();
    }
    std::vector<TiffEntry> entries = f.entries;
    uint16_t stripType = f.shortStripArrays ? 3 : wd.big ? 16 : 4;
    entries.push_back({uint16_t(f.tiles ? 324 : 273), stripType, offsets, {}});
    if (f.withByteCounts) entries.push_back({uint16_t(f.tiles ? 325 : 279), stripType, counts, {}});
    std::stable_sort(entries.begin(), entries.end(), [](const TiffEntry& a, const TiffEntry& b) { return a.tag < b.tag; });
    auto itemsOf = [](const TiffEntry& e) {
        uint64_t n = e.bytes.empty() ? e.values.size() : e.bytes.size();
        return e.type == 5 || e.type == 10 ? n / 2 : n;
    };
    std::vector<uint64_t> at(entries.size(), 0);
    for (size_t i = 0; i < entries.size(); ++i) {
        const TiffEntry& e = entries[i];
        if (itemsOf(e) * ItemBytes(e.type) <= wd.Field()) continue;
        w.Align();
        at[i] = w.bytes.size();
        if (!e.bytes.empty()) w.bytes.insert(w.bytes.end(), e.bytes.begin(), e.bytes.end());
        else for (uint32_t v : e.values) w.Item(e.type == 5 || e.type == 10 ? 4 : e.type, v);
    }
    w.Align();
    size_t directory = w.bytes.size();
    wd.big ? wd.Offset(w, entries.size()) : w.U16(static_cast<uint16_t>(entries.size()));
    for (size_t i = 0; i < entries.size(); ++i) {
        const TiffEntry& e = entries[i];
        uint64_t n = itemsOf(e);
        w.U16(e.tag);
        w.U16(e.type);
        wd.big ? wd.Offset(w, n) : w.U32(static_cast<uint32_t>(n));
        if (n * ItemBytes(e.type) > wd.Field()) {
            wd.Offset(w, at[i]);
            continue;
        }
        size_t start = w.bytes.size();
        if (!e.bytes.empty()) w.bytes.insert(w.bytes.end(), e.bytes.begin(), e.bytes.end());
        else for (uint32_t v : e.values) w.Item(e.type, v);
        while (w.bytes.size() < start + wd.Field()) w.U8(0);
    }
    size_t next = w.bytes.size();
    wd.Offset(w, 0);
    return {directory, next};
}

// Writes v as an offset of widths wd at byte at of bytes.
void PatchOffset(std::vector<uint8_t>& bytes, size_t at, uint64_t v, bool little, Widths wd)
{
    Writer o(little);
    wd.Offset(o, v);
    std::copy(o.bytes.begin(), o.bytes.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

// Points the SubIFDs entry of the directory at at to the directories subs.
void PatchSubIfds(std::vector<uint8_t>& bytes, size_t at, const std::vector<size_t>& subs, bool little, Widths wd)
{
    auto get = [&](size_t p, uint32_t n) {
        uint64_t v = 0;
        for (uint32_t i = 0; i < n; ++i) v |= uint64_t{bytes[p + (little ? i : n - 1 - i)]} << (8 * i);
        return v;
    };
    uint64_t entries = wd.big ? get(at, 8) : get(at, 2);
    size_t first = at + (wd.big ? 8 : 2), size = wd.big ? 20 : 12;
    for (uint64_t e = 0; e < entries; ++e) {
        size_t entry = first + e * size;
        if (get(entry, 2) != 330) continue;
        size_t field = entry + (wd.big ? 12 : 8);
        size_t items = subs.size() * 4 <= wd.Field() ? field : static_cast<size_t>(get(field, wd.Field()));
        for (size_t i = 0; i < subs.size(); ++i) {
            Writer o(little);
            o.U32(static_cast<uint32_t>(subs[i]));
            std::copy(o.bytes.begin(), o.bytes.end(), bytes.begin() + static_cast<std::ptrdiff_t>(items + 4 * i));
        }
    }
}

}  // namespace

std::vector<uint8_t> MakeTiff(const TiffFixture& f)
{
    return MakeTiffPages({f});
}

std::vector<uint8_t> MakeTiffPages(const std::vector<TiffFixture>& pages, int loopTo,
                                   const std::vector<TiffFixture>& subIfds)
{
    bool little = pages.at(0).littleEndian;
    Widths wd{pages[0].bigTiff};
    Writer w(little);
    w.U8(little ? 'I' : 'M');
    w.U8(little ? 'I' : 'M');
    w.U16(wd.big ? 43 : 42);
    if (wd.big) w.U16(8), w.U16(0);
    size_t link = w.bytes.size();
    wd.Offset(w, 0);
    std::vector<Appended> made;
    for (size_t i = 0; i < pages.size(); ++i) {
        TiffFixture page = pages[i];
        if (i == 0 && !subIfds.empty()) page.entries.push_back({330, 13, std::vector<uint32_t>(subIfds.size(), 0), {}});
        made.push_back(AppendImage(w, page, wd));
        PatchOffset(w.bytes, link, made.back().directory, little, wd);
        link = made.back().next;
    }
    if (loopTo >= 0) PatchOffset(w.bytes, link, made.at(static_cast<size_t>(loopTo)).directory, little, wd);
    std::vector<size_t> subs;
    for (const TiffFixture& sub : subIfds) subs.push_back(AppendImage(w, sub, wd).directory);
    if (!subs.empty()) PatchSubIfds(w.bytes, made[0].directory, subs, little, wd);
    return w.bytes;
}

TiffFixture PlainTiff(uint32_t width, uint32_t height, uint16_t bits, uint16_t samples, uint16_t photometric,
                      const std::vector<uint8_t>& data, uint32_t rowsPerStrip, bool littleEndian)
{
    TiffFixture f;
    f.littleEndian = littleEndian;
    std::vector<uint32_t> bps(samples, bits);
    f.entries = {{256, 4, {width}, {}}, {257, 4, {height}, {}}, {258, 3, bps, {}},     {259, 3, {1}, {}},
                 {262, 3, {photometric}, {}}, {277, 3, {samples}, {}}, {278, 4, {rowsPerStrip}, {}}};
    size_t rowBytes = (static_cast<size_t>(width) * bits * samples + 7) / 8;
    for (uint32_t y = 0; y < height; y += rowsPerStrip) {
        size_t from = y * rowBytes, to = std::min<size_t>(height, y + rowsPerStrip) * rowBytes;
        f.strips.emplace_back(data.begin() + std::min(from, data.size()), data.begin() + std::min(to, data.size()));
    }
    return f;
}

namespace {

// Bit i of packed rows, most significant first.
uint8_t BitAt(const std::vector<uint8_t>& data, uint64_t i)
{
    return (i >> 3) < data.size() ? (data[i >> 3] >> (7 - (i & 7))) & 1 : 0;
}

}  // namespace

TiffFixture TiledTiff(uint32_t width, uint32_t height, uint16_t bits, uint16_t samples, uint16_t photometric,
                      const std::vector<uint8_t>& data, uint32_t tileWidth, uint32_t tileLength, bool planar,
                      bool littleEndian)
{
    TiffFixture f = PlainTiff(width, height, bits, samples, photometric, {}, height, littleEndian);
    f.entries.pop_back();  // RowsPerStrip
    f.entries.push_back({322, 4, {tileWidth}, {}});
    f.entries.push_back({323, 4, {tileLength}, {}});
    if (planar) f.entries.push_back({284, 3, {2}, {}});
    f.tiles = true;
    f.strips.clear();
    const uint64_t pixelBits = uint64_t(bits) * (planar ? 1 : samples);
    const uint64_t rowBytes = (width * pixelBits + 7) / 8, tileRowBytes = (tileWidth * pixelBits + 7) / 8;
    for (uint32_t p = 0; p < (planar ? samples : 1); ++p)
        for (uint32_t ty = 0; ty < height; ty += tileLength)
            for (uint32_t tx = 0; tx < width; tx += tileWidth) {
                std::vector<uint8_t> tile(tileRowBytes * tileLength, 0);
                for (uint32_t y = 0; y < tileLength && ty + y < height; ++y)
                    for (uint64_t b = 0; b < pixelBits * std::min(tileWidth, width - tx); ++b) {
                        uint64_t from = ((uint64_t(p) * height + ty + y) * rowBytes) * 8 + tx * pixelBits + b;
                        if (BitAt(data, from)) tile[y * tileRowBytes + b / 8] |= uint8_t(0x80 >> (b % 8));
                    }
                f.strips.push_back(tile);
            }
    return f;
}

namespace {

// A point as stored: vertical then horizontal, each a sign byte and a
// 24-bit fraction.
void PutPoint(std::vector<uint8_t>& b, double x, double y)
{
    for (double v : {y, x}) {
        uint8_t sign = v < 0 ? 0xFF : v >= 1 ? 0x01 : 0x00;
        double f = v < 0 ? v + 1 : v >= 1 ? v - 1 : v;
        uint32_t q = static_cast<uint32_t>(f * 16777215.0 + 0.5);
        b.insert(b.end(), {sign, uint8_t(q >> 16), uint8_t(q >> 8), uint8_t(q)});
    }
}

}  // namespace

std::vector<uint8_t> PathResource(uint16_t id, const std::vector<PathSubpath>& subpaths, uint32_t extraBytes)
{
    std::vector<uint8_t> data(26, 0);
    data[1] = 6;  // fill rule record
    for (const PathSubpath& s : subpaths) {
        std::vector<uint8_t> length(26, 0);
        length[1] = s.closed ? 0 : 3;
        length[3] = static_cast<uint8_t>(s.knots.size());
        data.insert(data.end(), length.begin(), length.end());
        for (const PathKnot& k : s.knots) {
            data.insert(data.end(), {0, static_cast<uint8_t>(s.closed ? 1 : 4)});
            PutPoint(data, k.x - 0.01, k.y + 0.02);
            PutPoint(data, k.x, k.y);
            PutPoint(data, k.x + 0.02, k.y - 0.01);
        }
    }
    for (uint32_t i = 0; i < extraBytes; ++i) data.push_back(0);
    std::vector<uint8_t> r = {'8', 'B', 'I', 'M', uint8_t(id >> 8), uint8_t(id), 0, 0};
    uint32_t n = static_cast<uint32_t>(data.size());
    r.insert(r.end(), {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)});
    r.insert(r.end(), data.begin(), data.end());
    if (r.size() & 1) r.push_back(0);
    return r;
}

std::vector<uint8_t> LzwCodes(const std::vector<uint32_t>& codes)
{
    std::vector<uint8_t> out;
    uint64_t acc = 0;
    int bits = 0, width = 9;
    uint32_t next = 258;
    bool afterClear = true;
    for (uint32_t c : codes) {
        acc = (acc << width) | c;
        for (bits += width; bits >= 8; bits -= 8) out.push_back(static_cast<uint8_t>(acc >> (bits - 8)));
        if (c == 256) {
            width = 9, next = 258, afterClear = true;
        } else if (c != 257) {
            if (!afterClear && next < 4096 && ++next + 1 == (1u << width) && width < 12) ++width;
            afterClear = false;
        }
    }
    if (bits) out.push_back(static_cast<uint8_t>(acc << (8 - bits)));
    return out;
}

}  // namespace testutil
