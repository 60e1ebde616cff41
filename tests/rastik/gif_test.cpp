// GIF codec on files built here: signatures, extensions, the transparency
// record and mask, tableless files, interlaced row order, the LZW cases
// (string being defined, growth to 12 bits without a clear, truncated data,
// codes the table cannot hold), and the writer's stream (clear first,
// clears at a full table, 255-byte sub-blocks, table sizes) read back.
#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "rastik/CGifIO.h"
#include "rastik/General.h"
#include "rastik/Messages.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Widths of a code stream as a decoder follows them: m + 1 bits after a
// clear, one more once the table holds 2^width entries, at most 12.
struct CodeWidths {
    explicit CodeWidths(uint32_t m) : m(m) { Clear(); }
    void Clear()
    {
        width = m + 1;
        next = (1u << m) + 2;
        previous = false;
    }
    // Moves past a code (after it was read at the current width).
    void Pass(uint32_t code)
    {
        if (code == (1u << m)) return Clear();
        if (previous && next < 4096) ++next;
        previous = true;
        if (next >= (1u << width) && width < 12) ++width;
    }
    uint32_t m, width, next;
    bool previous;
};

// Packs codes least significant bit first at the widths a decoder expects.
Bytes PackCodes(const std::vector<uint32_t>& codes, uint32_t m)
{
    Bytes out;
    CodeWidths w(m);
    uint64_t bits = 0;
    uint32_t count = 0;
    for (uint32_t code : codes) {
        bits |= static_cast<uint64_t>(code) << count;
        count += w.width;
        while (count >= 8) {
            out.push_back(static_cast<uint8_t>(bits));
            bits >>= 8;
            count -= 8;
        }
        w.Pass(code);
    }
    if (count) out.push_back(static_cast<uint8_t>(bits));
    return out;
}

// Clear, one root code per pixel, end.
std::vector<uint32_t> RootCodes(const Bytes& pixels, uint32_t m)
{
    std::vector<uint32_t> codes{1u << m};
    codes.insert(codes.end(), pixels.begin(), pixels.end());
    codes.push_back((1u << m) + 1);
    return codes;
}

struct GifFixture {
    std::string signature = "GIF89a";
    uint16_t width = 4;
    uint16_t height = 2;
    Bytes table;       // global table, red, green, blue; empty: none
    uint8_t tableBits = 1;
    Bytes extensions;  // raw blocks before the image
    bool interlaced = false;
    uint8_t minCodeSize = 2;
    Bytes data;        // LZW bytes, framed here into sub-blocks
    bool terminated = true;
};

Bytes MakeGif(const GifFixture& f)
{
    Bytes b(f.signature.begin(), f.signature.end());
    uint8_t flags = static_cast<uint8_t>(((f.table.empty() ? 0 : 0x80)) | (f.tableBits - 1));
    Bytes screen = {static_cast<uint8_t>(f.width), static_cast<uint8_t>(f.width >> 8),
                    static_cast<uint8_t>(f.height), static_cast<uint8_t>(f.height >> 8), flags, 0, 0};
    b.insert(b.end(), screen.begin(), screen.end());
    b.insert(b.end(), f.table.begin(), f.table.end());
    b.insert(b.end(), f.extensions.begin(), f.extensions.end());
    Bytes image = {0x2C, 0, 0, 0, 0, static_cast<uint8_t>(f.width), static_cast<uint8_t>(f.width >> 8),
                   static_cast<uint8_t>(f.height), static_cast<uint8_t>(f.height >> 8),
                   static_cast<uint8_t>(f.interlaced ? 0x40 : 0), f.minCodeSize};
    b.insert(b.end(), image.begin(), image.end());
    for (size_t at = 0; at < f.data.size(); at += 255) {
        size_t n = std::min<size_t>(255, f.data.size() - at);
        b.push_back(static_cast<uint8_t>(n));
        b.insert(b.end(), f.data.begin() + static_cast<long>(at), f.data.begin() + static_cast<long>(at + n));
    }
    if (f.terminated) {
        b.push_back(0);
        b.push_back(0x3B);
    }
    return b;
}

Bytes GreyTable(uint32_t entries)
{
    Bytes t;
    for (uint32_t i = 0; i < entries; ++i) t.insert(t.end(), 3, static_cast<uint8_t>(i * 255 / (entries - 1)));
    return t;
}

// An image of width x height pixels of the given bits with a grey global
// table, coded as root codes (or as the codes given).
GifFixture Image(uint16_t width, uint16_t height, uint32_t bits, const Bytes& pixels,
                 const std::vector<uint32_t>& codes = {})
{
    GifFixture f;
    f.width = width;
    f.height = height;
    f.table = GreyTable(1u << bits);
    f.tableBits = static_cast<uint8_t>(bits);
    f.minCodeSize = static_cast<uint8_t>(bits < 2 ? 2 : bits);
    f.data = PackCodes(codes.empty() ? RootCodes(pixels, f.minCodeSize) : codes, f.minCodeSize);
    return f;
}

const Bytes kTwoColours = {0, 1, 1, 0, 1, 0, 0, 1};

class GifTest : public ::testing::Test {
protected:
    // Writes the fixture and reads its header; the codec stays for more.
    int Head(const Bytes& bytes)
    {
        path = dir.File("t.gif");
        EXPECT_TRUE(testutil::WriteBytes(path, bytes));
        codec = std::make_unique<CGifIO>(path.c_str());
        codec->ShowMessages = 1;
        return testutil::OpenAndReadHead(*codec, path.c_str());
    }
    // Header and whole image; the index plane, or nothing when a step fails.
    Bytes Decode(const Bytes& bytes)
    {
        if (!Head(bytes) || !testutil::ReadWholeImage(*codec)) return {};
        return testutil::PlaneBytes(*codec, 0);
    }

    testutil::TempDir dir;
    testutil::MessageCapture messages;
    std::string path;
    std::unique_ptr<CGifIO> codec;
};

TEST_F(GifTest, SignaturesAreComparedWithoutCase)
{
    const struct {
        const char* signature;
        int head;
    } cases[] = {{"GIF87a", 1}, {"gif89A", 1}, {"GiF87A", 1}, {"GIF88a", 0}, {"PNG89a", 0}};
    for (const auto& c : cases) {
        GifFixture f = Image(4, 2, 1, kTwoColours);
        f.signature = c.signature;
        messages.Clear();
        EXPECT_EQ(Head(MakeGif(f)), c.head) << c.signature;
        EXPECT_TRUE(messages.Ids().empty()) << "a file that is no GIF is refused without a message";
    }
}

TEST_F(GifTest, TransparentIndexFillsTheMaskTheHostGave)
{
    Bytes pixels = {5, 1, 5, 2, 3, 5, 5, 0};
    GifFixture f = Image(4, 2, 3, pixels);
    // Comment and application extensions around the graphic control block.
    f.extensions = {0x21, 0xFE, 3, 'a', 'b', 'c', 0, 0x21, 0xF9, 4, 0x01, 0, 0, 5, 0,
                    0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3, 1, 0, 0, 0};
    ASSERT_EQ(Head(MakeGif(f)), 1);
    EXPECT_EQ(codec->TransparentIndex, 5);
    EXPECT_EQ(codec->FormatCount, 1);
    EXPECT_EQ(memcmp(codec->ApplicationHeader, "\x0bNETSCAPE2.0", 12), 0);
    uint32_t layer[60];
    memcpy(layer, codec->FormatBuffers[0], sizeof layer);
    const uint32_t want[] = {0, 0, 4, 2, BytesPerRow(32), 0, 0, 4, 2, 6};
    for (size_t i = 0; i < 10; ++i) EXPECT_EQ(layer[i], want[i]) << "field " << i + 1;
    EXPECT_EQ(layer[15], 100u);
    EXPECT_EQ(layer[25] + layer[26] + layer[27], 3u);

    Bytes mask(BytesPerRow(32) * 2, 7);
    uint8_t* address = mask.data();
    memcpy(codec->FormatBuffers[1], &address, sizeof address);
    ASSERT_EQ(testutil::ReadWholeImage(*codec), 1);
    EXPECT_EQ(testutil::PlaneBytes(*codec, 0), pixels);
    for (size_t i = 0; i < pixels.size(); ++i)
        EXPECT_EQ(mask[(i / 4) * BytesPerRow(32) + i % 4], pixels[i] == 5 ? 0 : 255) << i;

    // A host that stored no address gets its image without a mask.
    ASSERT_EQ(Head(MakeGif(f)), 1);
    EXPECT_EQ(Decode(MakeGif(f)), pixels);
}

TEST_F(GifTest, FilesWithoutColourTables)
{
    GifFixture f = Image(4, 2, 1, kTwoColours);
    f.table.clear();
    EXPECT_EQ(Decode(MakeGif(f)), kTwoColours);
    EXPECT_EQ(codec->ColorMode, static_cast<uint32_t>(kModeBitmap));
    EXPECT_EQ(codec->BitsPerChannel, 1u);
    ASSERT_EQ(codec->PaletteSize, 2u);
    EXPECT_EQ(Bytes(codec->Palette, codec->Palette + 8), (Bytes{0, 0, 0, 0, 255, 255, 255, 0}));

    // More colours take the default palette: the VGA colours, then black.
    f = Image(4, 2, 5, {1, 4, 15, 20, 0, 0, 0, 0});
    f.table.clear();
    ASSERT_EQ(Decode(MakeGif(f)).size(), 8u);
    EXPECT_EQ(codec->ColorMode, static_cast<uint32_t>(kModeIndexed));
    ASSERT_EQ(codec->PaletteSize, 32u);
    EXPECT_EQ(Bytes(codec->Palette + 4, codec->Palette + 8), (Bytes{170, 0, 0, 0}));
    EXPECT_EQ(Bytes(codec->Palette + 16, codec->Palette + 20), (Bytes{0, 0, 170, 0}));
    EXPECT_EQ(Bytes(codec->Palette + 60, codec->Palette + 64), (Bytes{255, 255, 255, 0}));
    EXPECT_EQ(Bytes(codec->Palette + 80, codec->Palette + 84), (Bytes{0, 0, 0, 0}));
}

TEST_F(GifTest, BrokenBlocksAreRefusedWithTheHeaderMessage)
{
    GifFixture good = Image(4, 2, 1, kTwoColours);
    const struct {
        const char* name;
        Bytes extensions;
        uint8_t minCodeSize;
        size_t cut;  // bytes kept, 0: all
    } cases[] = {
        {"stray byte between blocks", {0x00}, 2, 0},
        {"extension sub-block past the end", {0x21, 0x01, 12, 1, 2}, 2, 24},
        {"trailer before any image", {0x3B}, 2, 0},
        {"minimum code size 0", {}, 0, 0},
        {"minimum code size 9", {}, 9, 0},
        {"screen descriptor cut", {}, 2, 9},
        {"colour table cut", {}, 2, 15},
        {"image descriptor cut", {}, 2, 24},
    };
    for (const auto& c : cases) {
        GifFixture f = good;
        f.extensions = c.extensions;
        f.minCodeSize = c.minCodeSize;
        Bytes bytes = MakeGif(f);
        if (c.cut) bytes.resize(c.cut);
        messages.Clear();
        EXPECT_EQ(Head(bytes), 0) << c.name;
        EXPECT_EQ(messages.Ids(), std::vector<int>{kMsgBadHeader}) << c.name;
        EXPECT_EQ(codec->FormatBuffers[0], nullptr);
    }
}

TEST_F(GifTest, DataFarTooShortForTheImageIsRefused)
{
    // The 33 bytes after the code size (a length byte, 30 bytes of data, the
    // terminator and the trailer) can hold at most 90,123 pixels.
    GifFixture f = Image(300, 300, 1, {});
    f.data = Bytes(30, 0);
    EXPECT_EQ(Head(MakeGif(f)), 1);
    f.height = 301;
    EXPECT_EQ(Head(MakeGif(f)), 0);
    f.width = f.height = 65535;
    EXPECT_EQ(Head(MakeGif(f)), 0);
}

TEST_F(GifTest, InterlacedRowsComeInFourPasses)
{
    // Row r holds the value r; the file stores rows 0, 8, 4, 2, 6, 1, 3, 5, 7, 9.
    const uint8_t order[] = {0, 8, 4, 2, 6, 1, 3, 5, 7, 9};
    Bytes pixels, want;
    for (uint8_t r : order) pixels.insert(pixels.end(), 3, r);
    for (uint8_t r = 0; r < 10; ++r) want.insert(want.end(), 3, r);
    GifFixture f = Image(3, 10, 4, pixels);
    f.interlaced = true;
    for (bool spill : {false, true}) {
        testutil::MemorySettings memory(spill, 64);
        EXPECT_EQ(Decode(MakeGif(f)), want) << spill;
        EXPECT_EQ(codec->InterlaceFlag, 1);
    }
    // Half the height and one column: rows 0, 2, 4, 6, 8 of column 0.
    ASSERT_EQ(Head(MakeGif(f)), 1);
    Bytes reduced(BytesPerRow(8) * 5, 99);
    uint8_t* planes[1] = {reduced.data()};
    ASSERT_EQ(codec->ReadReducedData(1, 5, planes), 1);
    for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(reduced[i * BytesPerRow(8)], 2 * i);
}

// Streams of codes and the pixels they decode to (or an error).
struct LzwCase {
    const char* name;
    uint32_t minCodeSize;
    std::vector<uint32_t> codes;
    Bytes pixels;  // empty: the read fails
};

std::vector<LzwCase> LzwCases()
{
    std::vector<LzwCase> cases = {
        // Code 6 is the one being defined: "1" + its own first pixel.
        {"string being defined", 2, {4, 1, 6, 6, 0, 5}, {1, 1, 1, 1, 1, 0}},
        {"strings of strings", 2, {4, 1, 2, 6, 7, 5}, {1, 2, 1, 2, 2, 1}},
        {"clear in the middle", 2, {4, 3, 6, 4, 2, 5}, {3, 3, 3, 2, 0, 0}},
        {"end code before the last pixels", 2, {4, 3, 3, 5}, {3, 3, 0, 0, 0, 0}},
        {"code beyond the next free one", 2, {4, 1, 7, 5}, {}},
        {"code being defined without a previous string", 2, {4, 6, 5}, {}},
    };
    // 12-bit codes: roots fill the table to 4,096 entries; decoding goes on
    // at 12 bits without a clear and a string made early still holds.
    LzwCase full{"table full without a clear", 8, {256}, {}};
    for (uint32_t i = 0; i < 3900; ++i) {
        full.codes.push_back(i % 7 * 31);
        full.pixels.push_back(static_cast<uint8_t>(i % 7 * 31));
    }
    full.codes.push_back(258);  // the first entry made: pixels 0, 31
    full.pixels.push_back(0);
    full.pixels.push_back(31);
    full.codes.push_back(257);
    cases.push_back(full);
    return cases;
}

TEST_F(GifTest, LzwStreams)
{
    for (const LzwCase& c : LzwCases()) {
        GifFixture f = Image(static_cast<uint16_t>(c.pixels.empty() ? 6 : c.pixels.size()), 1, c.minCodeSize, {},
                             c.codes);
        EXPECT_EQ(Decode(MakeGif(f)), c.pixels) << c.name;
    }
}

TEST_F(GifTest, TruncatedDataCompletesTheImageWithPixelZero)
{
    Bytes pixels(64 * 40);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(1 + i % 13);
    GifFixture f = Image(64, 40, 4, pixels);
    f.data.resize(f.data.size() / 2);
    for (bool terminated : {true, false}) {
        f.terminated = terminated;
        Bytes got = Decode(MakeGif(f));
        ASSERT_EQ(got.size(), pixels.size());
        size_t same = 0;
        while (same < got.size() && got[same] == pixels[same]) ++same;
        EXPECT_GT(same, pixels.size() / 3);
        for (size_t i = same + 1; i < got.size(); ++i) ASSERT_EQ(got[i], 0) << i;
    }
}

// Code stream of a written file: the codes as a decoder reads them, and the
// sub-block lengths.
struct WrittenStream {
    uint32_t minCodeSize = 0;
    std::vector<uint32_t> codes;
    std::vector<size_t> blocks;
    size_t clearsAtFullTable = 0;
    bool endsWithTrailer = false;
};

WrittenStream ReadStream(const Bytes& file, size_t at)
{
    WrittenStream s;
    s.minCodeSize = file[at++];
    Bytes data;
    while (at < file.size() && file[at] != 0) {
        size_t n = file[at++];
        s.blocks.push_back(n);
        data.insert(data.end(), file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(at + n));
        at += n;
    }
    s.endsWithTrailer = at + 2 == file.size() && file[at] == 0 && file[at + 1] == 0x3B;
    CodeWidths w(s.minCodeSize);
    uint64_t bits = 0;
    uint32_t count = 0;
    size_t next = 0;
    for (;;) {
        while (count < w.width && next < data.size()) {
            bits |= static_cast<uint64_t>(data[next++]) << count;
            count += 8;
        }
        if (count < w.width) break;
        uint32_t code = static_cast<uint32_t>(bits & ((1u << w.width) - 1));
        bits >>= w.width;
        count -= w.width;
        s.codes.push_back(code);
        if (code == (1u << s.minCodeSize) && w.next == 4096) ++s.clearsAtFullTable;
        if (code == (1u << s.minCodeSize) + 1) break;
        w.Pass(code);
    }
    return s;
}

struct WriteCase {
    const char* name;
    uint32_t mode;
    uint32_t paletteSize;
    uint32_t width, height;
    uint32_t values;  // pixels take values 0 .. values - 1
    size_t tableBytes;
    uint32_t minCodeSize;
};

const WriteCase kWriteCases[] = {
    {"two colours", kModeBitmap, 2, 45, 21, 2, 6, 2},
    {"sixteen colours", kModeIndexed, 16, 45, 21, 16, 48, 4},
    {"256 colours, noisy enough to fill the table", kModeIndexed, 256, 300, 200, 256, 768, 8},
};

TEST_F(GifTest, WrittenStreams)
{
    std::mt19937 random(7);
    for (const WriteCase& c : kWriteCases) {
        SCOPED_TRACE(c.name);
        std::string out = dir.File("w.gif");
        CGifIO gif(out.c_str());
        gif.Width = c.width;
        gif.Height = c.height;
        gif.SetMode(kModeIndexed);
        gif.ColorMode = c.mode;
        Bytes palette(4 * c.paletteSize);
        for (size_t i = 0; i < palette.size(); ++i) palette[i] = static_cast<uint8_t>(i * 5);
        gif.SetPalette(palette.data(), c.paletteSize);
        gif.PaletteSize = c.paletteSize;
        gif.BytesPerLine = BytesPerRow(c.width * 8);
        ASSERT_EQ(gif.AllocChannelSpace(), 1);
        Bytes pixels(static_cast<size_t>(c.width) * c.height);
        for (uint8_t& p : pixels) p = static_cast<uint8_t>(random() % c.values);
        Bytes row(gif.BytesPerLine);
        for (uint32_t y = 0; y < c.height; ++y) {
            std::copy_n(&pixels[static_cast<size_t>(y) * c.width], c.width, row.begin());
            gif.WritePlaneRow(0, y, row.data());
        }
        ASSERT_TRUE(gif.File.Open(out.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary));
        ASSERT_EQ(gif.WriteFile(), 1);
        gif.File.Close();

        Bytes file = testutil::ReadBytes(out);
        ASSERT_EQ(std::string(file.begin(), file.begin() + 6), "GIF87a");
        size_t data = 13 + c.tableBytes + 10;
        EXPECT_EQ(file[10] & 7u, c.tableBytes / 3 == 2 ? 0u : c.minCodeSize - 1);
        WrittenStream s = ReadStream(file, data);
        EXPECT_EQ(s.minCodeSize, c.minCodeSize);
        ASSERT_FALSE(s.codes.empty());
        EXPECT_EQ(s.codes.front(), 1u << c.minCodeSize) << "a clear code comes first";
        EXPECT_EQ(s.codes.back(), (1u << c.minCodeSize) + 1);
        for (size_t i = 0; i + 1 < s.blocks.size(); ++i) ASSERT_EQ(s.blocks[i], 255u) << i;
        EXPECT_TRUE(s.endsWithTrailer);
        if (c.values == 256) {
            EXPECT_GT(s.clearsAtFullTable, 0u);
        }

        EXPECT_EQ(Decode(file), pixels);
    }
}

TEST_F(GifTest, WriterRefusesImagesWithoutIndexes)
{
    std::string out = dir.File("w.gif");
    CGifIO gif(out.c_str());
    gif.Width = 4;
    gif.Height = 4;
    gif.SetMode(kModeRgb);
    gif.ShowMessages = 1;
    gif.BytesPerLine = BytesPerRow(32);
    ASSERT_EQ(gif.AllocChannelSpace(), 1);
    ASSERT_TRUE(gif.File.Open(out.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary));
    EXPECT_EQ(gif.WriteFile(), 0);
    EXPECT_EQ(messages.Ids(), std::vector<int>{kMsgImageType});
    EXPECT_EQ(gif.File.GetLength(), 0u);
}

}  // namespace
