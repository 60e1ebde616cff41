// Bitmap reading: headers and their refusals, every bit count into planes,
// both row orders, reduced reads and previews, Esc; each case once with the
// planes in memory and once spilled to the temporary file in tiny chunks.
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "platform/KeyQueue.h"
#include "rastik/CBmpIO.h"
#include "rastik/General.h"
#include "rastik/Messages.h"

using testutil::BmpFixture;
using testutil::MakeBmp;
using testutil::MessageCapture;

namespace {

// Grants of a few rows at most, so chunked staging runs through many chunks.
constexpr uint32_t kTinyLargeBuffer = 200;

std::vector<uint8_t> GreyPalette(uint32_t n)
{
    std::vector<uint8_t> p;
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t v = static_cast<uint8_t>(n > 1 ? i * 255 / (n - 1) : 0);
        p.insert(p.end(), {v, static_cast<uint8_t>(255 - v), static_cast<uint8_t>(i), 0});
    }
    return p;
}

std::vector<uint8_t> Pattern(size_t n, uint32_t modulo, uint32_t seed = 7)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((i * 31 + seed + i / 7) % modulo);
    return v;
}

class BmpReadTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { settings = std::make_unique<testutil::MemorySettings>(GetParam(), kTinyLargeBuffer); }
    void TearDown() override
    {
        int key;
        while (TakeKeyDown(&key)) {
        }
        settings.reset();
    }
    // Writes the fixture and opens a codec on it with its header read.
    std::unique_ptr<CBmpIO> Open(const std::vector<uint8_t>& bytes, int* head, bool show = true)
    {
        path = dir.File("in" + std::to_string(count++) + ".bmp");
        paths.push_back(std::make_unique<std::string>(path));
        testutil::WriteBytes(path, bytes);
        auto codec = std::make_unique<CBmpIO>(paths.back()->c_str());
        codec->ShowMessages = show ? 1 : 0;
        *head = testutil::OpenAndReadHead(*codec, paths.back()->c_str());
        return codec;
    }
    std::unique_ptr<CBmpIO> OpenRead(const BmpFixture& f)
    {
        int head = 0;
        auto codec = Open(MakeBmp(f), &head);
        EXPECT_EQ(head, 1);
        if (head) {
            EXPECT_EQ(testutil::ReadWholeImage(*codec), 1);
            EXPECT_EQ(codec->ChannelKind[0], GetParam() ? kChannelTemp : kChannelHeap);
        }
        return codec;
    }
    int HeadResult(const std::vector<uint8_t>& bytes)
    {
        int head = 0;
        Open(bytes, &head);
        return head;
    }

    testutil::TempDir dir;
    std::unique_ptr<testutil::MemorySettings> settings;
    std::vector<std::unique_ptr<std::string>> paths;
    std::string path;
    int count = 0;
};

BmpFixture Fixture(int32_t w, int32_t h, uint16_t bits)
{
    BmpFixture f;
    f.width = w;
    f.height = h;
    f.bitCount = bits;
    uint32_t per = bits >= 24 ? 3 : 1;
    if (bits <= 8) {
        uint32_t entries = 1u << bits;
        f.palette = GreyPalette(entries);
        f.pixels = Pattern(static_cast<size_t>(w) * h, entries);
    } else {
        f.pixels = Pattern(static_cast<size_t>(w) * h * per, 256);
    }
    return f;
}

TEST_P(BmpReadTest, TypeOtherThanBmIsRefused)
{
    std::vector<uint8_t> bytes = MakeBmp(Fixture(4, 4, 24));
    bytes[0] = 'X';
    MessageCapture quiet;
    int head = 0;
    Open(bytes, &head, false);
    EXPECT_EQ(head, 0);
    EXPECT_TRUE(quiet.Ids().empty());
    MessageCapture shown;
    EXPECT_EQ(HeadResult(bytes), 0);
    EXPECT_EQ(shown.Ids(), std::vector<int>{kMsgBadHeader});
}

TEST_P(BmpReadTest, HeaderFieldsAndEveryBitCount)
{
    struct Case { uint16_t bits; uint32_t mode, palette, bitsPer, channels, colors; };
    const Case cases[] = {{1, 2, 2, 1, 1, 1}, {4, 6, 16, 4, 1, 1}, {8, 6, 256, 8, 1, 1}, {24, 4, 0, 8, 3, 3},
                          {32, 4, 0, 8, 4, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        // Odd widths so that every row carries padding (and 1-bit rows a partial byte).
        BmpFixture f = Fixture(13, 6, c.bits);
        auto codec = OpenRead(f);
        EXPECT_EQ(codec->Width, 13u);
        EXPECT_EQ(codec->Height, 6u);
        EXPECT_EQ(codec->ColorMode, c.mode);
        EXPECT_EQ(codec->PaletteSize, c.palette);
        EXPECT_EQ(codec->BitsPerChannel, c.bitsPer);
        EXPECT_EQ(codec->ChannelCount, c.channels);
        EXPECT_EQ(codec->ColorChannels, c.colors);
        EXPECT_EQ(codec->FileBitCount, c.bits);
        EXPECT_EQ(codec->ResolutionUnit, 1u);
        EXPECT_NEAR(codec->XResolution, 72.009f, 0.001f);
        if (c.bits <= 8) {
            EXPECT_EQ(testutil::PlaneBytes(*codec, 0), f.pixels);
            ASSERT_NE(codec->Palette, nullptr);
            EXPECT_EQ(0, memcmp(codec->Palette, f.palette.data(), f.palette.size()));
        } else {
            for (uint32_t k = 0; k < 3; ++k) {
                std::vector<uint8_t> plane = testutil::PlaneBytes(*codec, k);
                for (size_t i = 0; i < plane.size(); ++i) ASSERT_EQ(plane[i], f.pixels[i * 3 + k]) << k << " " << i;
            }
        }
    }
}

TEST_P(BmpReadTest, TopDownReadsLikeBottomUp)
{
    for (uint16_t bits : {8, 24}) {
        BmpFixture f = Fixture(9, 11, bits);
        auto up = OpenRead(f);
        f.topDown = true;
        auto down = OpenRead(f);
        for (uint32_t k = 0; k < up->ChannelCount; ++k)
            EXPECT_EQ(testutil::PlaneBytes(*up, k), testutil::PlaneBytes(*down, k)) << bits;
    }
}

TEST_P(BmpReadTest, OneBitWithColorsUsedZeroHasTwoEntries)
{
    BmpFixture f = Fixture(21, 5, 1);
    f.colorsUsed = 0;
    f.palette = {0, 0, 0, 0, 255, 255, 255, 0};
    auto codec = OpenRead(f);
    EXPECT_EQ(codec->PaletteSize, 2u);
    std::vector<uint8_t> plane = testutil::PlaneBytes(*codec, 0);
    EXPECT_EQ(plane, f.pixels);
    for (uint8_t v : plane) EXPECT_LE(v, 1);
}

// A 32-bit file holds RGB and its fourth bytes as an extra plane; reduced
// reads and previews step over the fourth byte and match the 24-bit file of
// the same colours.
TEST_P(BmpReadTest, ThirtyTwoBitHoldsAnExtraChannelAndPreviews)
{
    BmpFixture f = Fixture(6, 4, 32);
    std::vector<uint8_t> bytes = MakeBmp(f);
    const size_t pixelsAt = bytes.size() - 6 * 4 * 4;
    for (size_t i = 3; i < 6 * 4 * 4; i += 4) bytes[pixelsAt + i] = static_cast<uint8_t>(i);
    int head = 0;
    auto codec = Open(bytes, &head);
    ASSERT_EQ(head, 1);
    ASSERT_EQ(testutil::ReadWholeImage(*codec), 1);
    std::vector<uint8_t> extra = testutil::PlaneBytes(*codec, 3);
    for (uint32_t y = 0; y < 4; ++y)  // file rows are stored bottom-up
        for (uint32_t x = 0; x < 6; ++x) EXPECT_EQ(extra[y * 6 + x], static_cast<uint8_t>(((3 - y) * 6 + x) * 4 + 3));

    // Fourth bytes that are all 0 are unused, not transparency: fully opaque.
    for (size_t i = 3; i < 6 * 4 * 4; i += 4) bytes[pixelsAt + i] = 0;
    auto unused = Open(bytes, &head);
    ASSERT_EQ(testutil::ReadWholeImage(*unused), 1);
    EXPECT_EQ(testutil::PlaneBytes(*unused, 3), std::vector<uint8_t>(6 * 4, 0xFF));

    f.bitCount = 24;
    auto rgb24 = OpenRead(f);
    codec->SetMaxPrevSize(4);
    rgb24->SetMaxPrevSize(4);
    uint32_t w = 0, h = 0, w24 = 0, h24 = 0;
    uint8_t* preview = nullptr;
    uint8_t* preview24 = nullptr;
    ASSERT_EQ(codec->ReadPrevImageData(w, h, preview), 1);
    ASSERT_EQ(rgb24->ReadPrevImageData(w24, h24, preview24), 1);
    ASSERT_EQ(w, 4u);
    ASSERT_EQ(w24, w);
    ASSERT_EQ(h24, h);
    EXPECT_EQ(0, memcmp(preview, preview24, (w * 24 + 31) / 32 * 4 * h));
    FreeBuffer(&preview);
    FreeBuffer(&preview24);
}

TEST_P(BmpReadTest, LongerInformationHeaderMovesThePalette)
{
    for (uint32_t size : {108u, 124u}) {
        BmpFixture f = Fixture(7, 3, 8);
        f.headerSize = size;
        auto codec = OpenRead(f);
        ASSERT_NE(codec->Palette, nullptr);
        EXPECT_EQ(0, memcmp(codec->Palette, f.palette.data(), f.palette.size())) << size;
        EXPECT_EQ(testutil::PlaneBytes(*codec, 0), f.pixels);
    }
}

TEST_P(BmpReadTest, ShortHeadersAndAbsurdSizesAreRefused)
{
    BmpFixture os2 = Fixture(4, 4, 8);
    os2.headerSize = 12;
    std::vector<uint8_t> bytes = MakeBmp(os2);
    MessageCapture messages;
    EXPECT_EQ(HeadResult(bytes), 0);

    auto withSize = [](int32_t w, int32_t h, uint16_t bits) {
        BmpFixture f;
        f.width = 4;
        f.height = 4;
        f.bitCount = bits;
        f.pixels.assign(48, 1);
        std::vector<uint8_t> b = MakeBmp(f);
        for (int i = 0; i < 4; ++i) {
            b[18 + i] = static_cast<uint8_t>(static_cast<uint32_t>(w) >> (8 * i));
            b[22 + i] = static_cast<uint8_t>(static_cast<uint32_t>(h) >> (8 * i));
        }
        return b;
    };
    EXPECT_EQ(HeadResult(withSize(0, 4, 24)), 0);
    EXPECT_EQ(HeadResult(withSize(4, 0, 24)), 0);
    EXPECT_EQ(HeadResult(withSize(-4, 4, 24)), 0);
    EXPECT_EQ(HeadResult(withSize(4, INT32_MIN, 24)), 0);
    EXPECT_EQ(HeadResult(withSize(70000, 70000, 8)), 0);        // planes beyond 4 GiB
    EXPECT_EQ(HeadResult(withSize(0x7FFFFFFF, 1, 24)), 0);
    EXPECT_EQ(HeadResult(withSize(4, 5, 24)), 0);                // rows beyond the end of the file
    EXPECT_EQ(HeadResult(withSize(4, -4, 24)), 1);               // top-down, same rows
    bytes = withSize(4, 4, 2);
    EXPECT_EQ(HeadResult(bytes), 0);
    EXPECT_EQ(messages.Ids(), std::vector<int>(9, kMsgBadHeader));
}

TEST_P(BmpReadTest, PixelOffsetBeyondTheFileIsRefused)
{
    std::vector<uint8_t> bytes = MakeBmp(Fixture(4, 4, 24));
    uint32_t offset = static_cast<uint32_t>(bytes.size());
    memcpy(&bytes[10], &offset, 4);  // little-endian host
    MessageCapture messages;
    EXPECT_EQ(HeadResult(bytes), 0);
    EXPECT_TRUE(messages.Saw(kMsgBadHeader));
}

TEST_P(BmpReadTest, ColorsUsedBeyondThePaletteAndShortPalettes)
{
    // 1-bit with colours-used 300: the two entries of the bit count are read.
    BmpFixture one = Fixture(10, 3, 1);
    one.palette = {1, 2, 3, 0, 4, 5, 6, 0};
    one.colorsUsed = 300;
    auto a = OpenRead(one);
    EXPECT_EQ(a->PaletteSize, 2u);
    EXPECT_EQ(0, memcmp(a->Palette, one.palette.data(), 8));
    EXPECT_EQ(testutil::PlaneBytes(*a, 0), one.pixels);

    // 8-bit with three entries: the rest of the 256 are black, also in the preview.
    BmpFixture eight = Fixture(4, 2, 8);
    eight.palette = {10, 20, 30, 0, 40, 50, 60, 0, 70, 80, 90, 0};
    eight.colorsUsed = 3;
    eight.pixels = {0, 1, 2, 200, 255, 3, 1, 0};
    auto b = OpenRead(eight);
    EXPECT_EQ(b->PaletteSize, 256u);
    EXPECT_EQ(0, memcmp(b->Palette, eight.palette.data(), 12));
    for (uint32_t i = 3; i < 256; ++i) EXPECT_EQ(b->Palette[i * 4] | b->Palette[i * 4 + 1] | b->Palette[i * 4 + 2], 0);
    EXPECT_EQ(testutil::PlaneBytes(*b, 0), eight.pixels);
    uint32_t w = 0, h = 0;
    uint8_t* preview = nullptr;
    ASSERT_EQ(b->ReadPrevImageData(w, h, preview), 1);
    // Bottom preview row = image row 1: indexes 255, 3, 1, 0.
    EXPECT_EQ(preview[0] | preview[1] | preview[2] | preview[3] | preview[4] | preview[5], 0);
    EXPECT_EQ(preview[6], 40);
    FreeBuffer(&preview);
}

TEST_P(BmpReadTest, TruncatedRowsFailCleanly)
{
    // Larger than the file object's read buffer, so the cut is seen.
    BmpFixture f = Fixture(200, 200, 24);
    std::vector<uint8_t> bytes = MakeBmp(f);
    int head = 0;
    auto codec = Open(bytes, &head);
    ASSERT_EQ(head, 1);
    // The file loses its last rows after the header was read.
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(bytes.size() - 1000)), 0);
    EXPECT_EQ(testutil::ReadWholeImage(*codec), 0);
    std::vector<uint8_t> plane(3 * 200 * 200);
    uint8_t* planes[3] = {plane.data(), plane.data() + 40000, plane.data() + 80000};
    EXPECT_EQ(codec->ReadReducedData(200, 200, planes), 0);
    // Cut before the header's rows end: refused at once.
    std::vector<uint8_t> shorter(bytes.begin(), bytes.end() - 1);
    MessageCapture messages;
    EXPECT_EQ(HeadResult(shorter), 0);
    EXPECT_TRUE(messages.Saw(kMsgBadHeader));
}

TEST_P(BmpReadTest, CompressionsAndBitCountsNotRead)
{
    // Bit fields of 8-bit pixels.
    BmpFixture rle = Fixture(4, 4, 8);
    rle.compression = 3;
    MessageCapture messages;
    int head = 0;
    auto quiet = Open(MakeBmp(rle), &head, false);
    EXPECT_EQ(head, 0);
    EXPECT_TRUE(messages.Ids().empty());
    EXPECT_EQ(quiet->GetLastMessage(), kMsgCompressedBmp);
    // The whole-image reader refuses it too, by the same rule: shown when
    // ShowMessages is set, kept for the host either way.
    quiet->Width = quiet->Height = 4;
    quiet->ChannelCount = 1;
    EXPECT_EQ(testutil::ReadWholeImage(*quiet), 0);
    EXPECT_EQ(messages.Ids(), std::vector<int>{});
    EXPECT_EQ(quiet->GetLastMessage(), kMsgCompressedBmp);
    quiet->ShowMessages = 1;
    EXPECT_EQ(testutil::ReadWholeImage(*quiet), 0);
    EXPECT_EQ(messages.Ids(), std::vector<int>{kMsgCompressedBmp});
    messages.Clear();
    auto shown = Open(MakeBmp(rle), &head);
    EXPECT_EQ(messages.Ids(), std::vector<int>{kMsgCompressedBmp});

    messages.Clear();
    BmpFixture sixteen = Fixture(4, 4, 8);
    sixteen.bitCount = 64;
    sixteen.palette.clear();
    auto deep = Open(MakeBmp(sixteen), &head, false);
    EXPECT_EQ(head, 0);
    EXPECT_EQ(deep->GetLastMessage(), kMsgBadHeader);
    deep->Width = deep->Height = 4;
    deep->ChannelCount = 1;
    deep->ShowMessages = 1;
    EXPECT_EQ(testutil::ReadWholeImage(*deep), 0);
    EXPECT_EQ(messages.Ids(), std::vector<int>{kMsgUnsupported});
    EXPECT_EQ(deep->GetLastMessage(), kMsgUnsupported);
}

TEST_P(BmpReadTest, ReducingHundredRowsToTenTakesEveryTenthRow)
{
    BmpFixture f;
    f.width = 4;
    f.height = 100;
    f.bitCount = 8;
    f.palette = GreyPalette(256);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 4; ++x) f.pixels.push_back(static_cast<uint8_t>(y));
    for (bool topDown : {true, false}) {
        f.topDown = topDown;
        int head = 0;
        auto codec = Open(MakeBmp(f), &head);
        ASSERT_EQ(head, 1);
        std::vector<uint8_t> plane(4 * 10, 0xEE);
        uint8_t* planes[1] = {plane.data()};
        ASSERT_EQ(codec->ReadReducedData(4, 10, planes), 1);
        EXPECT_EQ(codec->PrevWidth, 4);
        EXPECT_EQ(codec->PrevHeight, 10);
        for (int s = 0; s < 10; ++s) {
            // File row 10 s: image row 10 s of a top-down file, 99 - 10 s of a bottom-up one.
            int fileRow = 10 * s;
            int out = topDown ? s : 9 - s;
            int imageRow = topDown ? fileRow : 99 - fileRow;
            EXPECT_EQ(plane[static_cast<size_t>(out) * 4], imageRow) << topDown << " " << s;
        }
    }
}

TEST_P(BmpReadTest, PreviewOfSolidColourImage)
{
    BmpFixture f;
    f.width = 200;
    f.height = 100;
    f.bitCount = 24;
    for (int i = 0; i < 200 * 100; ++i) f.pixels.insert(f.pixels.end(), {200, 100, 50});
    int head = 0;
    auto codec = Open(MakeBmp(f), &head);
    ASSERT_EQ(head, 1);
    uint32_t w = 0, h = 0;
    uint8_t* buffer = nullptr;
    ASSERT_EQ(codec->ReadPrevImageData(w, h, buffer), 1);
    codec->GetPrevDataSize();
    EXPECT_EQ(w, codec->PrevWidth);
    EXPECT_EQ(h, codec->PrevHeight);
    EXPECT_EQ(w, 96u);
    EXPECT_EQ(h, 48u);
    uint32_t row = (w * 24 + 31) / 32 * 4;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const uint8_t* p = buffer + y * row + x * 3;
            ASSERT_EQ(p[0], 50);
            ASSERT_EQ(p[1], 100);
            ASSERT_EQ(p[2], 200);
        }
    FreeBuffer(&buffer);
}

TEST_P(BmpReadTest, PreviewRowsAreBottomUpThroughThePalette)
{
    for (uint16_t bits : {1, 4, 8}) {
        SCOPED_TRACE(bits);
        BmpFixture f;
        f.width = 30;
        f.height = 20;
        f.bitCount = bits;
        f.palette.assign(4u << bits, 0);
        f.palette[0] = 255;                                       // entry 0 blue
        f.palette[4 + 2] = 255;                                   // entry 1 red
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 30; ++x) f.pixels.push_back(y < 10 ? 1 : 0);  // red above blue
        int head = 0;
        auto codec = Open(MakeBmp(f), &head);
        ASSERT_EQ(head, 1);
        uint32_t w = 0, h = 0;
        uint8_t* buffer = nullptr;
        ASSERT_EQ(codec->ReadPrevImageData(w, h, buffer), 1);
        ASSERT_EQ(w, 30u);
        ASSERT_EQ(h, 20u);
        EXPECT_EQ(codec->Palette, nullptr);
        uint32_t row = (w * 24 + 31) / 32 * 4;
        EXPECT_EQ(row, 92u);
        EXPECT_EQ(buffer[0], 255);                // first row is the bottom: blue
        EXPECT_EQ(buffer[2], 0);
        EXPECT_EQ(buffer[19 * row + 2], 255);     // last row is the top: red
        EXPECT_EQ(buffer[19 * row], 0);
        FreeBuffer(&buffer);
    }
}

TEST_P(BmpReadTest, NonsenseDensityReadsAsSeventyTwoAndProgressReachesTheEnd)
{
    BmpFixture f = Fixture(8, 25, 8);
    f.pelsPerMeter = -3780;
    struct Seen {
        int32_t last = -1;
        int calls = 0;
    } seen;
    SetProgressRange(100, 600);
    SetProgressCallback(
        [](int32_t position, int32_t, int32_t, void* user) {
            auto* s = static_cast<Seen*>(user);
            EXPECT_GE(position, s->last);
            s->last = position;
            ++s->calls;
        },
        &seen);
    auto codec = OpenRead(f);
    SetProgressCallback(nullptr, nullptr);
    SetProgressRange(0, 1000);
    EXPECT_FLOAT_EQ(codec->XResolution, 72.0f);
    EXPECT_FLOAT_EQ(codec->YResolution, 72.0f);
    EXPECT_EQ(seen.calls, 25);
    EXPECT_EQ(seen.last, 600);
}

TEST_P(BmpReadTest, PreviewTooLargeForMemoryIsRefused)
{
    // A sparse 1-bit file of 65535 x 65535 pixels; a host allows previews of
    // that size, whose 24-bit buffer would pass 4 GiB.
    BmpFixture f = Fixture(8, 1, 1);
    std::vector<uint8_t> bytes = MakeBmp(f);
    for (int at : {18, 22}) {
        bytes[at] = 0xFF;
        bytes[at + 1] = 0xFF;
    }
    bytes.resize(62);
    std::string big = dir.File("big.bmp");
    ASSERT_TRUE(testutil::WriteBytes(big, bytes));
    ASSERT_EQ(truncate(big.c_str(), 62 + 8192ll * 65535), 0);
    auto codec = std::make_unique<CBmpIO>(big.c_str());
    ASSERT_EQ(testutil::OpenAndReadHead(*codec, big.c_str()), 1);
    codec->SetMaxPrevSize(65535);
    uint32_t w = 0, h = 0;
    uint8_t* buffer = nullptr;
    EXPECT_EQ(codec->ReadPrevImageData(w, h, buffer), 0);
    EXPECT_EQ(buffer, nullptr);
}

TEST_P(BmpReadTest, EscStopsReads)
{
    BmpFixture f = Fixture(12, 40, 24);
    int head = 0;
    auto codec = Open(MakeBmp(f), &head);
    ASSERT_EQ(head, 1);
    PostKeyDown('A');  // any other key is consumed and ignored
    PostKeyDown(VK_ESCAPE);
    EXPECT_EQ(testutil::ReadWholeImage(*codec), 0);
    EXPECT_EQ(testutil::ReadWholeImage(*codec), 1);

    std::vector<uint8_t> plane(3 * 12 * 40);
    uint8_t* planes[3] = {plane.data(), plane.data() + 480, plane.data() + 960};
    PostKeyDown(VK_ESCAPE);
    EXPECT_EQ(codec->ReadReducedData(12, 40, planes), 0);
    EXPECT_EQ(codec->EscPressed, 1);
}

INSTANTIATE_TEST_SUITE_P(Bmp, BmpReadTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("Spilled") : std::string("Memory");
                         });

}  // namespace
