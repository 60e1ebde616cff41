// Helpers of the TIFF tests (see tiff_util.h).
#include "tiff_util.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "rastik/CTiffIO.h"
#include "rastik/General.h"

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
        else U32(v);
    }
    void Align() { if (bytes.size() & 1) U8(0); }
    std::vector<uint8_t> bytes;

private:
    bool m_little;
};

uint32_t ItemBytes(uint16_t type)
{
    return type == 3 ? 2 : (type == 1 || type == 7) ? 1 : type == 5 ? 8 : 4;
}

}  // namespace

std::vector<uint8_t> MakeTiff(const TiffFixture& f)
{
    Writer w(f.littleEndian);
    w.U8(f.littleEndian ? 'I' : 'M');
    w.U8(f.littleEndian ? 'I' : 'M');
    w.U16(42);
    w.U32(0);
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
    uint16_t stripType = f.shortStripArrays ? 3 : 4;
    entries.push_back({273, stripType, offsets, {}});
    if (f.withByteCounts) entries.push_back({279, stripType, counts, {}});
    std::stable_sort(entries.begin(), entries.end(), [](const TiffEntry& a, const TiffEntry& b) { return a.tag < b.tag; });
    std::vector<uint32_t> at(entries.size(), 0);
    for (size_t i = 0; i < entries.size(); ++i) {
        const TiffEntry& e = entries[i];
        uint32_t n = e.bytes.empty() ? static_cast<uint32_t>(e.values.size()) : static_cast<uint32_t>(e.bytes.size());
        if (e.type == 5) n /= 2;
        if (n * ItemBytes(e.type) <= 4) continue;
        w.Align();
        at[i] = static_cast<uint32_t>(w.bytes.size());
        if (!e.bytes.empty()) w.bytes.insert(w.bytes.end(), e.bytes.begin(), e.bytes.end());
        else for (uint32_t v : e.values) w.Item(e.type == 5 ? 4 : e.type, v);
    }
    w.Align();
    uint32_t ifd = static_cast<uint32_t>(w.bytes.size());
    w.U16(static_cast<uint16_t>(entries.size()));
    for (size_t i = 0; i < entries.size(); ++i) {
        const TiffEntry& e = entries[i];
        uint32_t n = e.bytes.empty() ? static_cast<uint32_t>(e.values.size()) : static_cast<uint32_t>(e.bytes.size());
        if (e.type == 5) n /= 2;
        w.U16(e.tag);
        w.U16(e.type);
        w.U32(n);
        if (n * ItemBytes(e.type) > 4) {
            w.U32(at[i]);
            continue;
        }
        size_t start = w.bytes.size();
        if (!e.bytes.empty()) w.bytes.insert(w.bytes.end(), e.bytes.begin(), e.bytes.end());
        else for (uint32_t v : e.values) w.Item(e.type, v);
        while (w.bytes.size() < start + 4) w.U8(0);
    }
    w.U32(0);
    Writer head(f.littleEndian);
    head.U32(ifd);
    std::copy(head.bytes.begin(), head.bytes.end(), w.bytes.begin() + 4);
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

bool HasTiffTools()
{
    return access("/usr/bin/tiff2rgba", X_OK) == 0 && access("/usr/bin/tiffcp", X_OK) == 0;
}

// libtiff's output is an uncompressed interleaved 8-bit RGBA file, which
// the reader's plainest path takes.
bool DecodeWithTiff2Rgba(const std::string& path, RgbImage* image)
{
    TempDir dir;
    std::string out = dir.File("rgba.tif");
    if (RunCommand("/usr/bin/tiff2rgba -c none " + Quote(path) + " " + Quote(out) + " 2>/dev/null", nullptr) != 0)
        return false;
    CTiffIO rgba(out.c_str());
    if (!ReadTiff(rgba, out)) return false;
    *image = PlanesToRgb(rgba);
    return true;
}

int ReadTiff(CTiffIO& codec, const std::string& path)
{
    if (!OpenAndReadHead(codec, path.c_str())) return 0;
    return ReadWholeImage(codec);
}

int MaxDifference(const RgbImage& a, const RgbImage& b)
{
    if (a.width != b.width || a.height != b.height || a.rgb.size() != b.rgb.size()) return -1;
    int worst = 0;
    for (size_t i = 0; i < a.rgb.size(); ++i) worst = std::max(worst, std::abs(int(a.rgb[i]) - int(b.rgb[i])));
    return worst;
}

namespace {

uint32_t Get(const std::vector<uint8_t>& b, size_t at, uint32_t size, bool little)
{
    uint32_t v = 0;
    for (uint32_t i = 0; i < size; ++i) {
        uint32_t byte = at + i < b.size() ? b[at + i] : 0;
        v |= little ? byte << (8 * i) : byte << (8 * (size - 1 - i));
    }
    return v;
}

}  // namespace

bool ParseTiffDirectory(const std::vector<uint8_t>& b, TiffDirectory* dir)
{
    if (b.size() < 8 || b[0] != b[1] || (b[0] != 'I' && b[0] != 'M')) return false;
    bool little = b[0] == 'I';
    dir->little = little;
    dir->offset = Get(b, 4, 4, little);
    if (Get(b, 2, 2, little) != 42 || dir->offset + 2ull > b.size()) return false;
    uint32_t count = Get(b, dir->offset, 2, little);
    if (dir->offset + 2ull + 12ull * count + 4 > b.size()) return false;
    for (uint32_t i = 0; i < count; ++i) {
        size_t at = dir->offset + 2 + 12 * i;
        uint16_t tag = static_cast<uint16_t>(Get(b, at, 2, little));
        TiffField f;
        f.type = static_cast<uint16_t>(Get(b, at + 2, 2, little));
        f.count = Get(b, at + 4, 4, little);
        f.valueField = Get(b, at + 8, 4, little);
        uint32_t size = f.type == 5 ? 4 : ItemBytes(f.type);
        uint64_t items = f.type == 5 ? 2ull * f.count : f.count;
        size_t from = items * size <= 4 ? at + 8 : f.valueField;
        if (from + items * size > b.size()) return false;
        for (uint64_t k = 0; k < items; ++k) f.items.push_back(Get(b, from + k * size, size, little));
        dir->tags.push_back(tag);
        dir->fields[tag] = f;
    }
    return true;
}

std::unique_ptr<CTiffIO> MakeTiffImage(const std::string& path, uint32_t mode, uint32_t width, uint32_t height,
                                       uint32_t extra)
{
    auto image = std::make_unique<CTiffIO>(path.c_str());
    image->Width = width;
    image->Height = height;
    image->SetMode(mode);
    if (mode == kModeBitmap) image->ChannelCount = image->ColorChannels = 1;
    image->ChannelCount += extra;
    image->BytesPerLine = BytesPerRow(width * 8);
    image->XResolution = 300.7f;
    image->YResolution = 150.0f;
    image->ResolutionUnit = 1;
    if (mode == kModeIndexed || mode == kModeBitmap) {
        uint32_t entries = mode == kModeBitmap ? 2 : 256;
        std::vector<uint8_t> palette(entries * 4);
        for (uint32_t i = 0; i < entries; ++i) {
            uint8_t v = static_cast<uint8_t>(mode == kModeBitmap ? i * 255 : i);
            palette[i * 4] = static_cast<uint8_t>(mode == kModeBitmap ? v : 255 - v);
            palette[i * 4 + 1] = static_cast<uint8_t>(mode == kModeBitmap ? v : v * 3);
            palette[i * 4 + 2] = v;
        }
        image->SetPalette(palette.data(), entries);
        image->PaletteSize = entries;
    }
    if (!image->AllocChannelSpace()) return nullptr;
    std::vector<uint8_t> row(image->BytesPerLine);
    uint32_t seed = 12345;
    for (uint32_t c = 0; c < image->ChannelCount; ++c) {
        for (uint32_t y = 0; y < height; ++y) {
            for (uint32_t x = 0; x < width; ++x) {
                seed = seed * 1103515245u + 12345u;
                // Flat stretches, ramps and noise, so every coder has runs and literals.
                uint32_t v = x < width / 3 ? 40 * c + y / 4 : x < 2 * width / 3 ? x * 3 + y + c * 50 : seed >> 24;
                row[x] = static_cast<uint8_t>(mode == kModeBitmap ? (v >> 3) & 1 : v);
            }
            image->WritePlaneRow(c, y, row.data());
        }
    }
    return image;
}

int WriteTiffFile(CTiffIO& codec, const std::string& path)
{
    if (!codec.File.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary)) return 0;
    int ok = codec.WriteFile();
    codec.File.Abort();
    return ok;
}

std::string ImageMismatch(CRastik& a, CRastik& b)
{
    if (a.Width != b.Width || a.Height != b.Height) return "size";
    if (a.ColorMode != b.ColorMode) return "mode " + std::to_string(a.ColorMode) + " " + std::to_string(b.ColorMode);
    if (a.ChannelCount != b.ChannelCount) return "channels";
    for (uint32_t c = 0; c < a.ChannelCount; ++c)
        if (PlaneBytes(a, c) != PlaneBytes(b, c)) return "plane " + std::to_string(c);
    if (a.ColorMode == kModeIndexed || a.ColorMode == kModeBitmap) {
        if (a.PaletteSize != b.PaletteSize || !a.Palette || !b.Palette) return "palette size";
        if (memcmp(a.Palette, b.Palette, a.PaletteSize * 4) != 0) return "palette";
    }
    return "";
}

}  // namespace testutil
