// Tests of the black-and-white writer: packed row layout, bitmap white
// index, error diffusion, threshold, header messages, chunked writing with
// spilled planes, Esc and a full disk.
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rastik/rastik.h"

namespace {

class WandBTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* base = getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/rastikwandbXXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        ASSERT_NE(mkdtemp(buf.data()), nullptr);
        dir = buf.data();
        SetMessageSink([](int id, const char*, void* user) { static_cast<std::vector<int>*>(user)->push_back(id); },
                       &messages);
        int key = 0;
        while (TakeKeyDown(&key)) {
        }
    }
    void TearDown() override
    {
        SetMessageSink(nullptr, nullptr);
        SetPlaneHeapCap(0);
        SetLargeBufferCap(0);
        std::system(("rm -rf '" + dir + "'").c_str());
    }
    std::string Path(const std::string& name) const { return dir + "/" + name; }
    std::vector<uint8_t> ReadBytes(const std::string& name) const
    {
        std::ifstream in(Path(name), std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }
    // Opens the writer's file for creating, runs WriteFile, closes.
    int WriteTo(CWandBIO& w, const std::string& name)
    {
        path = Path(name);
        w.Path = path.c_str();
        if (!w.File.Open(w.Path, CFile::modeCreate | CFile::modeWrite | CFile::typeBinary)) return -1;
        int r = w.WriteFile();
        w.File.Close();
        return r;
    }
    std::string dir, path;
    std::vector<int> messages;
};

// A one-channel image of the mode whose sample at (x, y) is f(x, y).
template <typename F>
void Fill(CWandBIO& w, uint32_t mode, uint32_t width, uint32_t height, F f)
{
    w.SetMode(mode);
    w.ChannelCount = w.ColorChannels = 1;
    w.Width = width;
    w.Height = height;
    w.BytesPerLine = BytesPerRow(width * 8);
    ASSERT_EQ(w.AllocChannelSpace(), 1);
    std::vector<uint8_t> row(w.BytesPerLine, 0);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) row[x] = static_cast<uint8_t>(f(x, y));
        ASSERT_EQ(w.WritePlaneRow(0, y, row.data()), 1);
    }
}

void SetBitmapPalette(CWandBIO& w, bool zeroIsWhite)
{
    const uint8_t black[4] = {0, 0, 0, 0}, white[4] = {255, 255, 255, 0};
    uint8_t pal[8];
    for (int i = 0; i < 4; ++i) {
        pal[i] = zeroIsWhite ? white[i] : black[i];
        pal[4 + i] = zeroIsWhite ? black[i] : white[i];
    }
    w.PaletteSize = 2;
    ASSERT_EQ(w.SetPalette(pal, 2), 1);
}

// Bit of pixel x in a packed row: 1 = white.
int Bit(const uint8_t* row, uint32_t x)
{
    return (row[x / 8] >> (7 - x % 8)) & 1;
}

// A grey image with a bit of everything: ramps, a flat band and noise.
int Pattern(uint32_t x, uint32_t y)
{
    if (y % 7 == 3) return 127;
    return static_cast<int>((x * 11 + y * 5 + ((x * y) % 13) * 9) % 256);
}

TEST_F(WandBTest, TenPixelRowsPackIntoTwoBytesBottomRowFirstAfterWhatTheFileHolds)
{
    CWandBIO w("unused");
    Fill(w, kModeBitmap, 10, 3, [](uint32_t x, uint32_t y) { return (x + 2 * y) % 3 == 0 ? 1 : 0; });
    SetBitmapPalette(w, false);  // index 1 is white
    {
        std::ofstream(Path("out.raw"), std::ios::binary) << "QOR";
    }
    path = Path("out.raw");
    w.Path = path.c_str();
    ASSERT_TRUE(w.File.Open(w.Path, CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite | CFile::typeBinary));
    struct Seen {
        int calls = 0;
        int32_t last = 0;
    } seen;
    SetProgressRange(0, 300);
    SetProgressCallback([](int32_t pos, int32_t, int32_t, void* u) {
        auto* s = static_cast<Seen*>(u);
        ++s->calls;
        s->last = pos;
    }, &seen);
    int r = w.WriteFile();
    SetProgressCallback(nullptr, nullptr);
    SetProgressRange(0, 1000);
    w.File.Close();
    ASSERT_EQ(r, 1);
    EXPECT_EQ(seen.calls, 3);
    EXPECT_EQ(seen.last, 300);

    std::vector<uint8_t> bytes = ReadBytes("out.raw");
    ASSERT_EQ(bytes.size(), 3u + 3 * 2);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 3), "QOR");
    for (uint32_t n = 0; n < 3; ++n) {
        const uint8_t* row = bytes.data() + 3 + 2 * n;
        uint32_t y = 2 - n;
        for (uint32_t x = 0; x < 10; ++x) EXPECT_EQ(Bit(row, x), (x + 2 * y) % 3 == 0 ? 1 : 0) << x << "," << y;
        for (uint32_t x = 10; x < 16; ++x) EXPECT_EQ(Bit(row, x), 1);  // unused bits stay white
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(WandBTest, BitmapWhiteIsTheFirstPureWhiteEntry)
{
    auto firstByte = [&](bool zeroIsWhite, bool palette) {
        CWandBIO w("unused");
        Fill(w, kModeBitmap, 8, 1, [](uint32_t x, uint32_t) { return x < 4 ? 0 : 1; });
        if (palette) SetBitmapPalette(w, zeroIsWhite);
        EXPECT_EQ(WriteTo(w, "bitmap.raw"), 1);
        std::vector<uint8_t> b = ReadBytes("bitmap.raw");
        return b.size() == 1 ? b[0] : -1;
    };
    EXPECT_EQ(firstByte(true, true), 0xF0);    // index 0 white
    EXPECT_EQ(firstByte(false, true), 0x0F);   // index 1 white
    EXPECT_EQ(firstByte(false, false), 0x0F);  // no palette: index 1
}

TEST(WandBDiffusion, UniformMidGreyIsHalfBlack)
{
    CWandBIO w("unused");
    const uint32_t width = 64, rows = 64;
    std::vector<uint8_t> grey(BytesPerRow(width * 8) * rows, 127);
    uint32_t size = 0;
    uint8_t* packed = w.ChtoW_and_B(grey.data(), rows, width, &size);
    ASSERT_NE(packed, nullptr);
    ASSERT_EQ(size, rows * width / 8);
    int black = 0;
    for (uint32_t i = 0; i < size; ++i)
        for (int b = 0; b < 8; ++b) black += !((packed[i] >> b) & 1);
    free(packed);
    double share = black / static_cast<double>(width * rows);
    EXPECT_NEAR(share, 0.5, 0.03);
}

// Packs the rows of the given width (stride BytesPerRow) and returns the bits.
std::vector<int> PackedBits(CWandBIO& w, const std::vector<std::vector<uint8_t>>& rows)
{
    uint32_t width = static_cast<uint32_t>(rows[0].size());
    uint32_t stride = BytesPerRow(width * 8);
    std::vector<uint8_t> in(stride * rows.size(), 0);
    for (size_t y = 0; y < rows.size(); ++y) std::copy(rows[y].begin(), rows[y].end(), in.begin() + y * stride);
    uint32_t size = 0;
    uint8_t* packed = w.ChtoW_and_B(in.data(), static_cast<uint32_t>(rows.size()), width, &size);
    std::vector<int> bits;
    if (!packed) return bits;
    EXPECT_EQ(size, rows.size() * ((width + 7) / 8));
    for (size_t y = 0; y < rows.size(); ++y)
        for (uint32_t x = 0; x < width; ++x) bits.push_back(Bit(packed + y * ((width + 7) / 8), x));
    free(packed);
    return bits;
}

TEST(WandBDiffusion, ErrorsSpreadRightAndDownTruncatedTowardZero)
{
    CWandBIO w("unused");
    // 128 stays white with error -127; 7 x -127 / 16 is -55 (not -56), so
    // 183 becomes 128 (white) and 182 becomes 127 (black).
    EXPECT_EQ(PackedBits(w, {{128, 183}}), (std::vector<int>{1, 1}));
    EXPECT_EQ(PackedBits(w, {{128, 182}}), (std::vector<int>{1, 0}));
    // Below: 5 x -127 / 16 is -39.
    EXPECT_EQ(PackedBits(w, {{128}, {167}}), (std::vector<int>{1, 1}));
    EXPECT_EQ(PackedBits(w, {{128}, {166}}), (std::vector<int>{1, 0}));
    // Below left 3/16 of -127 is -23: 151 becomes 128 (white), 150 becomes 127.
    EXPECT_EQ(PackedBits(w, {{255, 128}, {151, 255}}), (std::vector<int>{1, 1, 1, 1}));
    EXPECT_EQ(PackedBits(w, {{255, 128}, {150, 255}}), (std::vector<int>{1, 1, 0, 1}));
    // Below right 1/16 of -127 is -7 (55 and 39 turn black without error).
    EXPECT_EQ(PackedBits(w, {{128, 55}, {39, 135}}), (std::vector<int>{1, 0, 0, 1}));
    EXPECT_EQ(PackedBits(w, {{128, 55}, {39, 134}}), (std::vector<int>{1, 0, 0, 0}));
    // A black pixel passes its positive error on: 100 then 60 -> 60 + 43 = 103, black.
    EXPECT_EQ(PackedBits(w, {{100, 60}}), (std::vector<int>{0, 0}));
    EXPECT_EQ(PackedBits(w, {{100, 85}}), (std::vector<int>{0, 1}));
}

TEST(WandBDiffusion, NothingToPackGivesNoBuffer)
{
    CWandBIO w("unused");
    uint8_t px[4] = {};
    uint32_t size = 7;
    EXPECT_EQ(w.ChtoW_and_B(nullptr, 1, 4, &size), nullptr);
    EXPECT_EQ(w.ChtoW_and_B(px, 0, 4, &size), nullptr);
    EXPECT_EQ(w.ChtoW_and_B(px, 1, 0, &size), nullptr);
    EXPECT_EQ(size, 7u);
}

TEST(WandBThreshold, HistogramShareWithLaterLevelWinningAndBounds)
{
    CWandBIO w("unused");
    EXPECT_FLOAT_EQ(w.BlackPer, 0.5f);
    std::vector<uint8_t> spread(256 * 3);
    for (size_t i = 0; i < spread.size(); ++i) spread[i] = static_cast<uint8_t>(i % 256);
    EXPECT_EQ(w.GetThresholdValue(spread.data(), 3, 256), 127);
    w.SetBlackPer(0.25f);
    EXPECT_EQ(w.GetThresholdValue(spread.data(), 3, 256), 63);

    std::vector<uint8_t> single(100, 10);
    w.SetBlackPer(0.5f);
    EXPECT_EQ(w.GetThresholdValue(single.data(), 10, 10), 235);  // every share ties
    w.SetBlackPer(0.0f);
    EXPECT_EQ(w.GetThresholdValue(single.data(), 10, 10), 55);  // 9 is the last exact level
}

TEST(WandBThreshold, BlackShareIsKeptWithinZeroToOne)
{
    CWandBIO w("unused");
    w.SetBlackPer(0.3f);
    EXPECT_FLOAT_EQ(w.BlackPer, 0.3f);
    w.SetBlackPer(1.5f);
    EXPECT_FLOAT_EQ(w.BlackPer, 0.5f);
    w.SetBlackPer(0.0f);
    EXPECT_FLOAT_EQ(w.BlackPer, 0.0f);
    w.SetBlackPer(-0.1f);
    EXPECT_FLOAT_EQ(w.BlackPer, 0.5f);
    w.SetBlackPer(1.0f);
    EXPECT_FLOAT_EQ(w.BlackPer, 1.0f);
    w.SetBlackPer(std::nanf(""));
    EXPECT_FLOAT_EQ(w.BlackPer, 0.5f);
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

TEST_F(WandBTest, HeaderOfAGreyImageCarriesTheGreyRamp)
{
    CWandBIO w("unused");
    Fill(w, kModeGrey, 5, 4, [](uint32_t, uint32_t) { return 0; });
    w.ResolutionUnit = 1;
    w.XResolution = w.YResolution = 72.0f;
    path = Path("head.bmp");
    ASSERT_TRUE(w.File.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary));
    ASSERT_EQ(w.WriteHeader(), 1);
    w.File.Close();
    EXPECT_EQ(w.Palette, nullptr);  // released after writing
    std::vector<uint8_t> b = ReadBytes("head.bmp");
    ASSERT_EQ(b.size(), 54u + 1024);
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(Le32(b, 10), 54u + 1024);        // pixel data offset
    EXPECT_EQ(Le32(b, 2), 54u + 1024 + 32 + 2);  // rows of 8 bytes, size rounded to 4
    EXPECT_EQ(Le32(b, 14), 40u);
    EXPECT_EQ(Le32(b, 18), 5u);
    EXPECT_EQ(Le32(b, 22), 4u);
    EXPECT_EQ(b[26] | (b[27] << 8), 1);
    EXPECT_EQ(b[28] | (b[29] << 8), 8);
    EXPECT_EQ(Le32(b, 38), 2834u);
    EXPECT_EQ(Le32(b, 42), 2834u);
    EXPECT_EQ(Le32(b, 46), 256u);
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(b[54 + 4 * i], i);
        EXPECT_EQ(b[54 + 4 * i + 2], i);
        EXPECT_EQ(b[54 + 4 * i + 3], 0);
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(WandBTest, HeaderRefusesManyChannelsAndUnconvertibleUnits)
{
    path = Path("refused.bmp");
    {
        CWandBIO w(path.c_str());
        w.SetMode(5u);  // CMYK: four colour channels
        w.Width = w.Height = 2;
        ASSERT_TRUE(w.File.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary));
        EXPECT_EQ(w.WriteHeader(), 0);
        w.File.Close();
    }
    {
        CWandBIO w(path.c_str());
        w.SetMode(3u);
        w.Width = w.Height = 2;
        w.ResolutionUnit = 2;  // millimetres
        ASSERT_TRUE(w.File.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary));
        EXPECT_EQ(w.WriteHeader(), 0);
        w.File.Close();
    }
    EXPECT_EQ(messages, (std::vector<int>{27607, 27608}));
    EXPECT_TRUE(ReadBytes("refused.bmp").empty());
}

TEST_F(WandBTest, ChunkedWritingWithSpilledPlanesGivesTheSameBytes)
{
    const uint32_t width = 37, height = 23;
    CWandBIO memory("unused");
    Fill(memory, kModeGrey, width, height, Pattern);
    ASSERT_EQ(memory.ChannelKind[0], kChannelHeap);
    ASSERT_EQ(WriteTo(memory, "memory.raw"), 1);
    std::vector<uint8_t> whole = ReadBytes("memory.raw");
    ASSERT_EQ(whole.size(), height * ((width + 7) / 8));

    // The same as one conversion of all rows, bottom row first.
    uint32_t stride = memory.BytesPerLine;
    std::vector<uint8_t> bottomUp(stride * height);
    for (uint32_t y = 0; y < height; ++y) memory.ReadPlaneRow(0, height - 1 - y, bottomUp.data() + y * stride);
    uint32_t size = 0;
    uint8_t* packed = memory.ChtoW_and_B(bottomUp.data(), height, width, &size);
    ASSERT_NE(packed, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(packed, packed + size), whole);
    free(packed);

    // Planes in the temporary file and a staging buffer of a few rows.
    SetPlaneHeapCap(1);
    SetLargeBufferCap(5 * 2 * stride + 3);
    CWandBIO spilled("unused");
    Fill(spilled, kModeGrey, width, height, Pattern);
    ASSERT_EQ(spilled.ChannelKind[0], kChannelTemp);
    ASSERT_EQ(WriteTo(spilled, "spilled.raw"), 1);
    EXPECT_EQ(ReadBytes("spilled.raw"), whole);

    // One row per chunk, planes on the heap.
    SetPlaneHeapCap(0);
    SetLargeBufferCap(1);
    CWandBIO rowwise("unused");
    Fill(rowwise, kModeGrey, width, height, Pattern);
    ASSERT_EQ(WriteTo(rowwise, "rows.raw"), 1);
    EXPECT_EQ(ReadBytes("rows.raw"), whole);
}

TEST_F(WandBTest, EscStopsTheWriteAndOtherKeysDoNot)
{
    CWandBIO w("unused");
    Fill(w, kModeGrey, 16, 8, Pattern);
    PostKeyDown('A');
    EXPECT_EQ(WriteTo(w, "a.raw"), 1);
    EXPECT_EQ(ReadBytes("a.raw").size(), 16u);
    PostKeyDown(VK_ESCAPE);
    EXPECT_EQ(WriteTo(w, "esc.raw"), 0);
    EXPECT_TRUE(ReadBytes("esc.raw").empty());  // stopped before the chunk was written
}

TEST_F(WandBTest, FullDiskShowsItsMessage)
{
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "/dev/full is not available";
    CWandBIO w("/dev/full");
    Fill(w, kModeGrey, 16, 8, Pattern);
    ASSERT_TRUE(w.File.Open("/dev/full", CFile::modeWrite | CFile::typeBinary));
    EXPECT_EQ(w.WriteFile(), 0);
    w.File.Abort();
    EXPECT_EQ(messages, (std::vector<int>{27708}));
}

TEST_F(WandBTest, RefusesImagesItCannotWrite)
{
    CWandBIO rgb("unused");
    rgb.SetMode(4u);
    rgb.Width = rgb.Height = 4;
    rgb.BytesPerLine = BytesPerRow(32);
    ASSERT_EQ(rgb.AllocChannelSpace(), 1);
    EXPECT_EQ(WriteTo(rgb, "rgb.raw"), 0);

    CWandBIO empty("unused");
    empty.SetMode(3u);
    EXPECT_EQ(WriteTo(empty, "empty.raw"), 0);

    CWandBIO noPlanes("unused");
    noPlanes.SetMode(3u);
    noPlanes.Width = noPlanes.Height = 4;
    noPlanes.BytesPerLine = 4;
    EXPECT_EQ(WriteTo(noPlanes, "none.raw"), 0);
    EXPECT_TRUE(messages.empty());
}

TEST(WandBFactory, TypeSeventeenMakesTheWriter)
{
    CRastik* r = NewRastikInstance(17, "x.raw");
    ASSERT_NE(r, nullptr);
    auto* w = dynamic_cast<CWandBIO*>(r);
    ASSERT_NE(w, nullptr);
    EXPECT_STREQ(w->Path, "x.raw");
    EXPECT_FLOAT_EQ(w->BlackPer, 0.5f);
    EXPECT_EQ(w->WriteQorHeader(), 1);
    delete r;
}

}  // namespace
