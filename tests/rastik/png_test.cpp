// PNG codec on files built here: every colour type and depth, interlaced or
// not, with planes in memory and spilled; palettes of any size, the physical
// pixel size, reduced reads, File open again after every operation, and the
// writer's colour types, refusals and disk-full message, and its image data
// cut into pieces: the same bytes for any thread count.
#include <zlib.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "platform/KeyQueue.h"
#include "rastik/CPngIO.h"
#include "rastik/Exports.h"
#include "rastik/General.h"
#include "rastik/Messages.h"
#include "rastik/formats/CPngImageData.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t ChannelsOf(uint8_t colorType)
{
    switch (colorType) {
    case 2: return 3;
    case 4: return 2;
    case 6: return 4;
    default: return 1;
    }
}

struct PngFixture {
    uint32_t width = 13;
    uint32_t height = 11;
    uint8_t depth = 8;
    uint8_t colorType = 2;
    bool interlaced = false;
    Bytes palette;              // red, green, blue
    int64_t pixelsPerUnit = -1;  // a pHYs chunk when >= 0
    uint8_t unit = 1;            // 1 metre, 0 unknown
    // Sample c of pixel (x, y), within the depth.
    uint32_t Sample(uint32_t x, uint32_t y, uint32_t c) const
    {
        uint32_t v = x * 37 + y * 101 + c * 53 + x * y;
        if (depth == 16) return (v * 257 + x * 3) & 0xFFFF;
        if (colorType == 3) return palette.empty() ? v % 16 : v % (palette.size() / 3);
        return v & ((1u << depth) - 1);
    }
};

void PutChunk(Bytes& out, const char* type, const Bytes& data)
{
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(data.size() >> s));
    Bytes body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    uLong crc = crc32(0, body.data(), static_cast<uInt>(body.size()));
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(crc >> s));
}

void Put32(Bytes& b, uint32_t v)
{
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
}

// Filter byte 0 and the packed samples of columns start, start + step, ...
void PutRow(Bytes& raw, const PngFixture& f, uint32_t y, uint32_t start, uint32_t step)
{
    raw.push_back(0);
    uint32_t channels = ChannelsOf(f.colorType);
    uint32_t acc = 0, bits = 0;
    for (uint32_t x = start; x < f.width; x += step)
        for (uint32_t c = 0; c < channels; ++c) {
            uint32_t v = f.Sample(x, y, c);
            if (f.depth == 16) {
                raw.push_back(static_cast<uint8_t>(v >> 8));
                raw.push_back(static_cast<uint8_t>(v));
                continue;
            }
            acc = (acc << f.depth) | v;
            bits += f.depth;
            if (bits == 8) {
                raw.push_back(static_cast<uint8_t>(acc));
                acc = bits = 0;
            }
        }
    if (bits) raw.push_back(static_cast<uint8_t>(acc << (8 - bits)));
}

Bytes MakePng(const PngFixture& f)
{
    Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    Bytes ihdr;
    Put32(ihdr, f.width);
    Put32(ihdr, f.height);
    ihdr.insert(ihdr.end(), {f.depth, f.colorType, 0, 0, static_cast<uint8_t>(f.interlaced)});
    PutChunk(png, "IHDR", ihdr);
    if (f.pixelsPerUnit >= 0) {
        Bytes phys;
        Put32(phys, static_cast<uint32_t>(f.pixelsPerUnit));
        Put32(phys, static_cast<uint32_t>(f.pixelsPerUnit));
        phys.push_back(f.unit);
        PutChunk(png, "pHYs", phys);
    }
    if (!f.palette.empty()) PutChunk(png, "PLTE", f.palette);
    Bytes raw;
    if (!f.interlaced) {
        for (uint32_t y = 0; y < f.height; ++y) PutRow(raw, f, y, 0, 1);
    } else {
        // Adam7: rows from, columns from, row step, column step of each pass.
        const uint32_t passes[7][4] = {{0, 0, 8, 8}, {0, 4, 8, 8}, {4, 0, 8, 4}, {0, 2, 4, 4},
                                       {2, 0, 4, 2}, {0, 1, 2, 2}, {1, 0, 2, 1}};
        for (const auto& p : passes) {
            if (p[1] >= f.width) continue;
            for (uint32_t y = p[0]; y < f.height; y += p[2]) PutRow(raw, f, y, p[1], p[3]);
        }
    }
    Bytes idat(compressBound(static_cast<uLong>(raw.size())));
    uLongf size = static_cast<uLongf>(idat.size());
    compress2(idat.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 6);
    idat.resize(size);
    PutChunk(png, "IDAT", idat);
    PutChunk(png, "IEND", {});
    return png;
}

Bytes Palette(uint32_t entries)
{
    Bytes p;
    for (uint32_t i = 0; i < entries; ++i) p.insert(p.end(), {uint8_t(i * 3), uint8_t(255 - i), uint8_t(i * 7)});
    return p;
}

// The plane value the reader makes of a sample.
uint8_t PlaneValue(const PngFixture& f, uint32_t v)
{
    if (f.depth == 16) return static_cast<uint8_t>(v >> 8);
    if (f.depth < 8 && f.colorType == 0) return static_cast<uint8_t>(v * 255 / ((1u << f.depth) - 1));
    return static_cast<uint8_t>(v);
}

class PngTest : public ::testing::Test {
protected:
    std::unique_ptr<CPngIO> Open(const Bytes& bytes, const char* name = "t.png")
    {
        paths.push_back(dir.File(name));
        EXPECT_TRUE(testutil::WriteBytes(paths.back(), bytes));
        auto codec = std::make_unique<CPngIO>(paths.back().c_str());
        head = testutil::OpenAndReadHead(*codec, paths.back().c_str());
        return codec;
    }
    // A written image of mode and channels with samples (x * 7 + y * 3 + c * 50),
    // or with noise added, so that the rows' filters vary.
    std::unique_ptr<CPngIO> Image(uint32_t mode, uint32_t channels, uint32_t w = 23, uint32_t h = 9,
                                  bool noisy = false)
    {
        paths.push_back(dir.File("w" + std::to_string(paths.size()) + ".png"));
        auto png = std::make_unique<CPngIO>(paths.back().c_str());
        png->Width = w;
        png->Height = h;
        png->SetMode(mode == kModeBitmap || mode == kModeOther ? static_cast<uint32_t>(kModeGrey) : mode);
        png->ColorMode = mode;
        png->ChannelCount = channels;
        if (mode == kModeIndexed) {
            Bytes pal(1024);
            for (size_t i = 0; i < pal.size(); ++i) pal[i] = static_cast<uint8_t>(i % 4 == 3 ? 0 : i * 3);
            png->SetPalette(pal.data(), 256);
        }
        png->BytesPerLine = BytesPerRow(w * 8);
        EXPECT_EQ(png->AllocChannelSpace(), 1);
        Bytes row(png->BytesPerLine);
        for (uint32_t c = 0; c < channels; ++c)
            for (uint32_t y = 0; y < h; ++y) {
                for (uint32_t x = 0; x < w; ++x) {
                    uint32_t noise = noisy ? ((x * 2654435761u) ^ (y * 40503u)) >> 27 : 0;
                    row[x] = static_cast<uint8_t>(x * 7 + y * 3 + c * 50 + noise);
                }
                png->WritePlaneRow(c, y, row.data());
            }
        return png;
    }

    testutil::TempDir dir;
    testutil::MessageCapture messages;
    std::vector<std::string> paths;
    int head = 0;
};

struct ReadCase {
    const char* name;
    uint8_t colorType;
    uint8_t depth;
    uint32_t paletteEntries;
    uint32_t mode;
    uint32_t colors;
};

const ReadCase kReadCases[] = {
    {"grey 1", 0, 1, 0, kModeGrey, 1},          {"grey 2", 0, 2, 0, kModeGrey, 1},
    {"grey 4", 0, 4, 0, kModeGrey, 1},          {"grey 8", 0, 8, 0, kModeGrey, 1},
    {"grey 16", 0, 16, 0, kModeGrey, 1},        {"RGB 8", 2, 8, 0, kModeRgb, 3},
    {"RGB 16", 2, 16, 0, kModeRgb, 3},          {"palette 1", 3, 1, 2, kModeIndexed, 1},
    {"palette 2", 3, 2, 3, kModeIndexed, 1},    {"palette 4", 3, 4, 16, kModeIndexed, 1},
    {"palette 8", 3, 8, 256, kModeIndexed, 1},  {"grey alpha 8", 4, 8, 0, kModeGrey, 1},
    {"grey alpha 16", 4, 16, 0, kModeGrey, 1},  {"RGBA 8", 6, 8, 0, kModeRgb, 3},
    {"RGBA 16", 6, 16, 0, kModeRgb, 3},
};

TEST_F(PngTest, EveryColourTypeAndDepth)
{
    for (const ReadCase& c : kReadCases)
        for (bool interlaced : {false, true})
            for (bool spill : {false, true}) {
                SCOPED_TRACE(std::string(c.name) + (interlaced ? " interlaced" : "") + (spill ? " spilled" : ""));
                testutil::MemorySettings memory(spill, 64);
                PngFixture f;
                f.colorType = c.colorType;
                f.depth = c.depth;
                f.interlaced = interlaced;
                f.palette = Palette(c.paletteEntries);
                auto png = Open(MakePng(f));
                ASSERT_EQ(head, 1);
                EXPECT_EQ(png->ColorMode, c.mode);
                EXPECT_EQ(png->ColorChannels, c.colors);
                EXPECT_EQ(png->ChannelCount, ChannelsOf(c.colorType));
                EXPECT_EQ(png->InterlaceType, interlaced ? 1 : 0);
                ASSERT_EQ(testutil::ReadWholeImage(*png), 1);
                for (uint32_t ch = 0; ch < png->ChannelCount; ++ch) {
                    Bytes want;
                    for (uint32_t y = 0; y < f.height; ++y)
                        for (uint32_t x = 0; x < f.width; ++x) want.push_back(PlaneValue(f, f.Sample(x, y, ch)));
                    EXPECT_EQ(testutil::PlaneBytes(*png, ch), want) << "plane " << ch;
                }
            }
}

// A host that keeps the colour channels only (as a conversion into a
// format without alpha does) gets them without the alpha plane.
TEST_F(PngTest, ColourPlanesOnlyWhenTheHostAsks)
{
    for (uint8_t colorType : {4, 6})
        for (bool interlaced : {false, true})
            for (bool spill : {false, true}) {
                SCOPED_TRACE(std::to_string(colorType) + (interlaced ? " interlaced" : "") + (spill ? " spilled" : ""));
                testutil::MemorySettings memory(spill, 64);
                PngFixture f;
                f.colorType = colorType;
                f.interlaced = interlaced;
                auto png = Open(MakePng(f));
                ASSERT_EQ(head, 1);
                png->ChannelCount = png->ColorChannels;
                png->UseColorChannels = 1;
                ASSERT_EQ(testutil::ReadWholeImage(*png), 1);
                for (uint32_t ch = 0; ch < png->ChannelCount; ++ch) {
                    Bytes want;
                    for (uint32_t y = 0; y < f.height; ++y)
                        for (uint32_t x = 0; x < f.width; ++x) want.push_back(PlaneValue(f, f.Sample(x, y, ch)));
                    EXPECT_EQ(testutil::PlaneBytes(*png, ch), want) << "plane " << ch;
                }
            }
}

TEST_F(PngTest, DataFarTooShortForThePixelsIsRefused)
{
    PngFixture f;
    f.width = f.height = 1000;
    f.colorType = 0;
    Bytes png = MakePng(f);
    Open(png);
    EXPECT_EQ(head, 1);
    // The same header with the image data of a single row.
    f.height = 1;
    Bytes small = MakePng(f);
    Bytes claim(png.begin(), png.begin() + 33);
    claim.insert(claim.end(), small.begin() + 33, small.end());
    Open(claim);
    EXPECT_EQ(head, 0);
}

// Interlaced images too small for some passes.
TEST_F(PngTest, TinyInterlacedImages)
{
    for (uint32_t w : {1u, 2u, 3u, 5u, 9u})
        for (uint32_t h : {1u, 2u, 4u, 7u}) {
            PngFixture f;
            f.width = w;
            f.height = h;
            f.interlaced = true;
            auto png = Open(MakePng(f));
            ASSERT_EQ(head, 1);
            ASSERT_EQ(testutil::ReadWholeImage(*png), 1) << w << " x " << h;
            Bytes want;
            for (uint32_t y = 0; y < h; ++y)
                for (uint32_t x = 0; x < w; ++x) want.push_back(static_cast<uint8_t>(f.Sample(x, y, 1)));
            EXPECT_EQ(testutil::PlaneBytes(*png, 1), want) << w << " x " << h;
        }
}

TEST_F(PngTest, PalettesOfAnySizeAreCompletedWithBlack)
{
    PngFixture f;
    f.colorType = 3;
    f.depth = 4;
    f.palette = Palette(16);
    auto png = Open(MakePng(f));
    ASSERT_EQ(head, 1);
    ASSERT_EQ(png->PaletteSize, 256u);
    EXPECT_EQ(Bytes(png->Palette + 4 * 15, png->Palette + 4 * 16), (Bytes{105, 240, 45, 0}));
    EXPECT_EQ(Bytes(png->Palette + 4 * 16, png->Palette + 4 * 256), Bytes(4 * 240, 0));
    f.palette.clear();
    Open(MakePng(f));
    EXPECT_EQ(head, 0) << "a palette image without a palette";
}

TEST_F(PngTest, PhysicalPixelSizeInMetresGivesTheResolution)
{
    const struct {
        int64_t pixelsPerUnit;
        uint8_t unit;
        float dpi;
    } cases[] = {{11811, 1, 300.0f}, {2835, 1, 72.01f}, {3780, 1, 96.01f}, {11811, 0, 72.0f}, {-1, 1, 72.0f}};
    for (const auto& c : cases) {
        PngFixture f;
        f.pixelsPerUnit = c.pixelsPerUnit;
        f.unit = c.unit;
        auto png = Open(MakePng(f));
        ASSERT_EQ(head, 1);
        EXPECT_EQ(png->ResolutionUnit, 1u);
        EXPECT_FLOAT_EQ(png->XResolution, c.dpi) << c.pixelsPerUnit;
        EXPECT_FLOAT_EQ(png->YResolution, c.dpi);
    }
}

TEST_F(PngTest, ReducedReadsTakeEveryOtherRowAndColumn)
{
    for (bool interlaced : {false, true}) {
        PngFixture f;
        f.width = 20;
        f.height = 14;
        f.interlaced = interlaced;
        auto png = Open(MakePng(f));
        ASSERT_EQ(head, 1);
        const uint32_t stride = BytesPerRow(10 * 8);
        Bytes planes[3];
        uint8_t* p[3];
        for (int c = 0; c < 3; ++c) p[c] = (planes[c] = Bytes(stride * 7)).data();
        ASSERT_EQ(png->ReadReducedData(10, 7, p), 1);
        for (uint32_t c = 0; c < 3; ++c)
            for (uint32_t i = 0; i < 7; ++i)
                for (uint32_t k = 0; k < 10; ++k)
                    ASSERT_EQ(planes[c][i * stride + k], f.Sample(2 * k, 2 * i, c)) << c << " " << i << " " << k;
    }
}

// Every operation, failed ones too, leaves File open.
TEST_F(PngTest, FileIsOpenAfterEveryOperation)
{
    PngFixture f;
    Bytes good = MakePng(f);
    Bytes cut(good.begin(), good.begin() + static_cast<long>(good.size() - 30));
    auto whole = Open(good);
    EXPECT_EQ(testutil::ReadWholeImage(*whole), 1);
    EXPECT_TRUE(whole->File.IsOpen());
    auto truncated = Open(cut, "cut.png");
    ASSERT_EQ(head, 1);
    EXPECT_EQ(testutil::ReadWholeImage(*truncated), 0);
    EXPECT_TRUE(truncated->File.IsOpen());
    uint32_t w = 0, h = 0;
    uint8_t* buffer = nullptr;
    EXPECT_EQ(truncated->ReadPrevImageData(w, h, buffer), 0);
    EXPECT_TRUE(truncated->File.IsOpen());
    auto broken = Open(Bytes(good.begin(), good.begin() + 20), "broken.png");
    EXPECT_EQ(head, 0);
    EXPECT_TRUE(broken->File.IsOpen());
    // A host that closed File finds it open again after a preview.
    whole->File.Close();
    EXPECT_EQ(whole->ReadPrevImageData(w, h, buffer), 1);
    FreeBuffer(&buffer);
    EXPECT_TRUE(whole->File.IsOpen());
    EXPECT_EQ(whole->File.GetPosition(), 0u);
    auto refused = Image(kModeCmyk, 4);
    refused->File.Close();
    EXPECT_EQ(refused->WriteFile(), 0);
    EXPECT_TRUE(refused->File.IsOpen());
}

struct WriteCase {
    uint32_t mode;
    uint32_t channels;
    int colorType;  // -1: refused
};

const WriteCase kWriteCases[] = {
    {kModeRgb, 3, 2},   {kModeRgb, 4, 6},     {kModeGrey, 1, 0},  {kModeGrey, 2, 4},   {kModeIndexed, 1, 3},
    {kModeRgb, 2, -1},  {kModeGrey, 3, -1},   {kModeCmyk, 4, -1}, {kModeBitmap, 1, -1}, {kModeOther, 1, -1},
    {kModeIndexed, 2, -1},
};

TEST_F(PngTest, WrittenColourTypesReadBack)
{
    for (const WriteCase& c : kWriteCases)
        for (bool spill : {false, true}) {
            SCOPED_TRACE(std::to_string(c.mode) + "/" + std::to_string(c.channels) + (spill ? " spilled" : ""));
            testutil::MemorySettings memory(spill, 64);
            auto png = Image(c.mode, c.channels);
            png->XResolution = png->YResolution = 300.0f;
            png->ResolutionUnit = 1;
            png->ShowMessages = 1;
            ASSERT_TRUE(png->File.Open(png->Path, CFile::modeCreate | CFile::modeWrite | CFile::typeBinary));
            messages.Clear();
            EXPECT_EQ(png->WriteFile(), c.colorType >= 0 ? 1 : 0);
            png->File.Close();
            Bytes file = testutil::ReadBytes(png->Path);
            if (c.colorType < 0) {
                EXPECT_TRUE(file.empty());
                EXPECT_EQ(messages.Ids(), std::vector<int>{kMsgImageType});
                continue;
            }
            ASSERT_GT(file.size(), 26u);
            EXPECT_EQ(file[25], c.colorType);
            auto back = Open(file);
            ASSERT_EQ(head, 1);
            EXPECT_FLOAT_EQ(back->XResolution, 300.0f);
            ASSERT_EQ(testutil::ReadWholeImage(*back), 1);
            ASSERT_EQ(back->ChannelCount, c.channels);
            for (uint32_t ch = 0; ch < c.channels; ++ch)
                EXPECT_EQ(testutil::PlaneBytes(*back, ch), testutil::PlaneBytes(*png, ch)) << ch;
            if (c.mode == kModeIndexed) {
                EXPECT_EQ(memcmp(back->Palette, png->Palette, 1024), 0);
            }
        }
}

// The zlib stream of a PNG file's IDAT chunks.
Bytes ImageData(const Bytes& png)
{
    Bytes data;
    for (size_t at = 8; at + 12 <= png.size();) {
        size_t size = (size_t{png[at]} << 24) | (size_t{png[at + 1]} << 16) | (size_t{png[at + 2]} << 8) | png[at + 3];
        if (memcmp(&png[at + 4], "IDAT", 4) == 0) data.insert(data.end(), &png[at + 8], &png[at + 8 + size]);
        at += 12 + size;
    }
    return data;
}

// The size of the stream's bytes compressed as one zlib stream, at the
// writer's strength and strategy.
size_t OneStreamSize(const Bytes& stream, size_t rawSize, int strategy)
{
    Bytes raw(rawSize);
    uLongf got = static_cast<uLongf>(rawSize);
    if (uncompress(raw.data(), &got, stream.data(), static_cast<uLong>(stream.size())) != Z_OK || got != rawSize)
        return 0;
    z_stream zs{};
    deflateInit2(&zs, 6, Z_DEFLATED, 15, 8, strategy);
    Bytes out(deflateBound(&zs, static_cast<uLong>(rawSize)));
    zs.next_in = raw.data();
    zs.avail_in = static_cast<uInt>(rawSize);
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    size_t size = zs.total_out;
    deflateEnd(&zs);
    return size;
}

// Rows around the pieces the image data is cut into: pieces of whole rows
// (rows from PieceRows) and extra rows; width 0 stands for a row wider than
// a piece.
struct PieceCase {
    uint32_t mode;
    uint32_t channels;
    uint32_t width;
    uint32_t pieces;
    uint32_t extraRows;
};

const PieceCase kPieceCases[] = {
    {kModeRgb, 3, 23, 0, 1},     {kModeRgb, 3, 23, 1, 0},    {kModeRgb, 3, 23, 1, 1},
    {kModeRgb, 3, 23, 11, 3},    {kModeRgb, 4, 31, 1, 1},    {kModeGrey, 1, 1, 0, 1},
    {kModeGrey, 1, 1, 1, 1},     {kModeGrey, 2, 17, 2, 5},   {kModeIndexed, 1, 40, 1, 1},
    {kModeIndexed, 1, 40, 3, 0}, {kModeGrey, 2, 0, 3, 0},
};

TEST_F(PngTest, PiecesOfTheImageDataGiveTheSameFileForAnyThreadCount)
{
    struct KeptThreads {
        uint32_t threads = GetRastikThreads();
        ~KeptThreads() { SetRastikThreads(threads); }
    } kept;
    for (const PieceCase& c : kPieceCases) {
        // PieceRows of a one-byte row: the bytes of a piece.
        const uint32_t width = c.width ? c.width : CPngImageData::PieceRows(1) / c.channels + 1;
        const uint32_t pieceRows = CPngImageData::PieceRows(static_cast<uint64_t>(width) * c.channels + 1);
        const uint32_t height = c.pieces * pieceRows + c.extraRows;
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height) + " x " + std::to_string(c.channels));
        auto png = Image(c.mode, c.channels, width, height, true);
        Bytes first;
        for (uint32_t threads : {1u, 2u, 8u}) {
            SetRastikThreads(threads);
            ASSERT_TRUE(png->File.Open(png->Path, CFile::modeCreate | CFile::modeWrite | CFile::typeBinary));
            ASSERT_EQ(png->WriteFile(), 1) << threads;
            png->File.Close();
            Bytes file = testutil::ReadBytes(png->Path);
            if (first.empty()) first = file;
            EXPECT_TRUE(file == first) << threads << " threads";
        }
        auto back = Open(first);
        ASSERT_EQ(head, 1);
        ASSERT_EQ(testutil::ReadWholeImage(*back), 1);
        for (uint32_t ch = 0; ch < c.channels; ++ch)
            EXPECT_TRUE(testutil::PlaneBytes(*back, ch) == testutil::PlaneBytes(*png, ch)) << ch;
        // The pieces cost at most a percent over one stream.
        Bytes stream = ImageData(first);
        size_t one = OneStreamSize(stream, (static_cast<size_t>(width) * c.channels + 1) * height,
                                   c.mode == kModeIndexed ? Z_DEFAULT_STRATEGY : Z_FILTERED);
        ASSERT_GT(one, 0u);
        EXPECT_LE(stream.size(), one + one / 100 + 16);
    }
}

TEST_F(PngTest, DiskFullShowsItsMessage)
{
    auto png = Image(kModeRgb, 3, 300, 300);
    if (!png->File.Open("/dev/full", CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite | CFile::typeBinary))
        GTEST_SKIP() << "/dev/full is not available";
    EXPECT_EQ(png->WriteFile(), 0);
    EXPECT_EQ(messages.Ids(), std::vector<int>{kMsgDiskFull});
    png->File.Abort();
}

}  // namespace
