// Bitmap writing: header fields, resolution units, refusals, every writer
// (whole file, header + image data, RGB blocks, single channels) for grey,
// indexed, RGB and 1-bit images, read back identically; RGB with alpha as
// 32-bit pixels other decoders read alike; disk full and Esc.
// Each case once with planes in memory and once spilled in tiny chunks.
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

using testutil::MessageCapture;

namespace {

constexpr uint32_t kTinyLargeBuffer = 200;

uint32_t Le32(const std::vector<uint8_t>& b, size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

uint16_t Le16(const std::vector<uint8_t>& b, size_t at)
{
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

// An image description with planes filled from a fixed pattern.
struct Source {
    uint32_t mode;
    uint32_t width;
    uint32_t height;
};

class BmpWriteTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { settings = std::make_unique<testutil::MemorySettings>(GetParam(), kTinyLargeBuffer); }
    void TearDown() override
    {
        int key;
        while (TakeKeyDown(&key)) {
        }
        settings.reset();
    }

    std::string NewPath(const std::string& stem)
    {
        paths.push_back(std::make_unique<std::string>(dir.File(stem + std::to_string(count++) + ".bmp")));
        return *paths.back();
    }
    // A codec for a new file with the image described and its planes filled.
    std::unique_ptr<CBmpIO> Make(const Source& s, bool open = true)
    {
        std::string path = NewPath("out");
        auto bmp = std::make_unique<CBmpIO>(paths.back()->c_str());
        bmp->Width = s.width;
        bmp->Height = s.height;
        bmp->ResolutionUnit = 1;
        if (s.mode == kModeBitmap) {
            bmp->SetMode(static_cast<uint32_t>(kModeGrey));
            bmp->ColorMode = kModeBitmap;
            bmp->PaletteSize = 2;
            const uint8_t bw[8] = {0, 0, 0, 0, 255, 255, 255, 0};
            bmp->SetPalette(bw, 2);
        } else {
            bmp->SetMode(s.mode);
        }
        if (s.mode == kModeIndexed) {
            std::vector<uint8_t> pal(1024);
            for (uint32_t i = 0; i < 256; ++i) {
                pal[i * 4] = static_cast<uint8_t>(i * 7);
                pal[i * 4 + 1] = static_cast<uint8_t>(255 - i);
                pal[i * 4 + 2] = static_cast<uint8_t>(i * 3 + 1);
            }
            bmp->SetPalette(pal.data(), 256);
        }
        bmp->BytesPerLine = BytesPerRow(s.width * 8);
        EXPECT_EQ(bmp->AllocChannelSpace(), 1);
        EXPECT_EQ(bmp->ChannelKind[0], GetParam() ? kChannelTemp : kChannelHeap);
        std::vector<uint8_t> row(bmp->BytesPerLine);
        for (uint32_t c = 0; c < bmp->ChannelCount; ++c)
            for (uint32_t y = 0; y < s.height; ++y) {
                for (uint32_t x = 0; x < s.width; ++x) {
                    uint32_t v = x * 13 + y * 29 + c * 101 + (x * y) % 17;
                    row[x] = static_cast<uint8_t>(s.mode == kModeBitmap ? v % 2 : v);
                }
                bmp->WritePlaneRow(c, y, row.data());
            }
        if (open) {
            EXPECT_TRUE(bmp->File.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary));
        }
        return bmp;
    }
    std::vector<uint8_t> Written(CBmpIO& bmp)
    {
        bmp.File.Close();
        return testutil::ReadBytes(bmp.Path);
    }
    // Reads a written file back and compares planes and palette with the source.
    void ExpectReadsBack(CBmpIO& source, const std::string& path)
    {
        CBmpIO back(path.c_str());
        back.ShowMessages = 1;
        ASSERT_EQ(testutil::OpenAndReadHead(back, path.c_str()), 1);
        ASSERT_EQ(testutil::ReadWholeImage(back), 1);
        EXPECT_EQ(back.Width, source.Width);
        EXPECT_EQ(back.Height, source.Height);
        uint32_t planes = source.ColorMode == kModeRgb ? 3 : 1;
        for (uint32_t c = 0; c < planes; ++c)
            EXPECT_EQ(testutil::PlaneBytes(back, c), testutil::PlaneBytes(source, c)) << c;
        if (source.PaletteSize) {
            ASSERT_EQ(back.PaletteSize, source.ColorMode == kModeBitmap ? 2u : 256u);
            EXPECT_EQ(0, memcmp(back.Palette, source.Palette, 4 * std::min(back.PaletteSize, source.PaletteSize)));
        }
    }

    testutil::TempDir dir;
    std::unique_ptr<testutil::MemorySettings> settings;
    std::vector<std::unique_ptr<std::string>> paths;
    int count = 0;
};

TEST_P(BmpWriteTest, FiveWideRgbHasSixteenByteRows)
{
    auto bmp = Make({kModeRgb, 5, 5});
    ASSERT_EQ(bmp->WriteFile(), 1);
    std::vector<uint8_t> b = Written(*bmp);
    EXPECT_EQ(Le16(b, 0), 0x4D42);
    EXPECT_EQ(Le32(b, 2), 54u + 80 + 2);
    EXPECT_EQ(b.size(), 54u + 80 + 2);  // the file ends where its size field says
    EXPECT_EQ(Le32(b, 10), 54u);
    EXPECT_EQ(Le32(b, 14), 40u);
    EXPECT_EQ(Le32(b, 18), 5u);
    EXPECT_EQ(Le32(b, 22), 5u);
    EXPECT_EQ(Le16(b, 26), 1);
    EXPECT_EQ(Le16(b, 28), 24);
    EXPECT_EQ(Le32(b, 30), 0u);
    EXPECT_EQ(Le32(b, 38), 2834u);
    EXPECT_EQ(Le32(b, 46), 0u);
    for (int r = 0; r < 5; ++r) EXPECT_EQ(b[54 + r * 16 + 15], 0) << r;  // padding
    // First stored row is the bottom plane row, blue first.
    std::vector<uint8_t> blue = testutil::PlaneBytes(*bmp, 2);
    EXPECT_EQ(b[54], blue[4 * 5]);
    ExpectReadsBack(*bmp, bmp->Path);
}

TEST_P(BmpWriteTest, ResolutionUnits)
{
    MessageCapture messages;
    auto bmp = Make({kModeRgb, 3, 2});
    bmp->ResolutionUnit = 2;
    EXPECT_EQ(bmp->WriteFile(), 0);
    EXPECT_EQ(messages.Ids(), std::vector<int>{kMsgResolutionUnit});  // shown without ShowMessages

    struct Case { uint32_t unit; float res; uint32_t ppm; };
    for (Case c : {Case{1, 72.0f, 2834}, Case{0, 300.0f, 11811}, Case{3, 118.11f, 11811}}) {
        auto ok = Make({kModeRgb, 3, 2});
        ok->ResolutionUnit = c.unit;
        ok->XResolution = ok->YResolution = c.res;
        ASSERT_EQ(ok->WriteFile(), 1);
        std::vector<uint8_t> b = Written(*ok);
        EXPECT_EQ(Le32(b, 38), c.ppm) << c.unit;
        EXPECT_EQ(Le32(b, 42), c.ppm) << c.unit;
    }
}

TEST_P(BmpWriteTest, ChannelCountsABitmapCannotHold)
{
    MessageCapture messages;
    auto cmyk = Make({kModeCmyk, 4, 4});
    EXPECT_EQ(cmyk->WriteFile(), 0);
    EXPECT_EQ(messages.Ids(), std::vector<int>{kMsgBmpChannels});
}

TEST_P(BmpWriteTest, WholeFileReadsBackInEveryMode)
{
    for (uint32_t mode : {kModeGrey, kModeIndexed, kModeRgb, kModeBitmap}) {
        SCOPED_TRACE(mode);
        auto bmp = Make({mode, 37, 23});
        ASSERT_EQ(bmp->WriteFile(), 1);
        std::vector<uint8_t> b = Written(*bmp);
        uint32_t bits = mode == kModeRgb ? 24 : mode == kModeBitmap ? 1 : 8;
        uint32_t palette = mode == kModeRgb ? 0 : mode == kModeBitmap ? 2 : 256;
        uint32_t row = (bits * 37 + 31) / 32 * 4;
        EXPECT_EQ(Le16(b, 28), bits);
        EXPECT_EQ(Le32(b, 46), palette);
        EXPECT_EQ(Le32(b, 10), 54 + 4 * palette);
        EXPECT_EQ(Le32(b, 2), 54 + 4 * palette + row * 23 + 2);
        EXPECT_EQ(b.size(), Le32(b, 2));
        if (mode == kModeGrey) {
            for (uint32_t i = 0; i < 256; ++i) ASSERT_EQ(b[54 + i * 4 + 1], i);
        }
        ExpectReadsBack(*bmp, bmp->Path);
    }
}

TEST_P(BmpWriteTest, OneBitRowsArePackedWithZeroPadding)
{
    auto bmp = Make({kModeBitmap, 10, 3});
    std::vector<uint8_t> ones(bmp->BytesPerLine, 1);
    for (uint32_t y = 0; y < 3; ++y) bmp->WritePlaneRow(0, y, ones.data());
    ASSERT_EQ(bmp->WriteFile(), 1);
    std::vector<uint8_t> b = Written(*bmp);
    ASSERT_EQ(b.size(), 62u + 3 * 4 + 2);
    for (int r = 0; r < 3; ++r) {
        EXPECT_EQ(b[62 + r * 4], 0xFF);
        EXPECT_EQ(b[62 + r * 4 + 1], 0xC0);
        EXPECT_EQ(b[62 + r * 4 + 2], 0);
        EXPECT_EQ(b[62 + r * 4 + 3], 0);
    }
}

TEST_P(BmpWriteTest, HeaderAndImageDataMatchWholeFile)
{
    for (uint32_t mode : {kModeIndexed, kModeRgb, kModeBitmap}) {
        auto whole = Make({mode, 19, 17});
        ASSERT_EQ(whole->WriteFile(), 1);
        auto parts = Make({mode, 19, 17});
        ASSERT_EQ(parts->WriteHeader(), 1);
        ASSERT_EQ(parts->WriteImageData(), 1);
        ASSERT_EQ(parts->WriteTail(), 1);
        EXPECT_EQ(Written(*parts), Written(*whole)) << mode;
    }
}

TEST_P(BmpWriteTest, RgbBlocksFromTheTopMatchWholeFile)
{
    const uint32_t w = 7, h = 9;
    auto whole = Make({kModeRgb, w, h});
    ASSERT_EQ(whole->WriteFile(), 1);
    auto blocks = Make({kModeRgb, w, h});
    ASSERT_EQ(blocks->WriteHeader(), 1);
    std::vector<uint8_t> planes[3];
    for (uint32_t c = 0; c < 3; ++c) planes[c] = testutil::PlaneBytes(*blocks, c);
    uint32_t row = 0;
    for (uint32_t n : {2u, 4u, 3u}) {
        ASSERT_EQ(blocks->WriteRgbDataImage(&planes[0][row * w], &planes[1][row * w], &planes[2][row * w], n), 1);
        row += n;
    }
    EXPECT_EQ(blocks->RowsWritten[0], h);
    EXPECT_EQ(blocks->WriteRgbDataImage(planes[0].data(), planes[1].data(), planes[2].data(), 1), 0);  // past the end
    ASSERT_EQ(blocks->WriteTail(), 1);
    EXPECT_EQ(Written(*blocks), Written(*whole));
}

TEST_P(BmpWriteTest, ChannelBlocksFromTheBottomMatchWholeFile)
{
    const uint32_t w = 6, h = 5;
    auto whole = Make({kModeRgb, w, h});
    ASSERT_EQ(whole->WriteFile(), 1);
    auto blocks = Make({kModeRgb, w, h});
    ASSERT_EQ(blocks->WriteHeader(), 1);
    // Channel c is byte c of a stored pixel (blue, green, red); blocks are
    // placed from the bottom of the image upwards.
    for (uint32_t c = 0; c < 3; ++c) {
        std::vector<uint8_t> plane = testutil::PlaneBytes(*blocks, 2 - c);
        ASSERT_EQ(blocks->WriteBlockData(&plane[3 * w], c, 2), 1);  // rows 3, 4
        ASSERT_EQ(blocks->WriteBlockData(&plane[0], c, 3), 1);      // rows 0 .. 2
        EXPECT_EQ(blocks->RowsWritten[c], w * h);
    }
    std::vector<uint8_t> extra(w);
    EXPECT_EQ(blocks->WriteBlockData(extra.data(), 3, 1), 0);  // no fourth byte in a pixel
    ASSERT_EQ(blocks->WriteTail(), 1);
    EXPECT_EQ(Written(*blocks), Written(*whole));
}

TEST_P(BmpWriteTest, MissingPaletteIsWrittenAsGrey)
{
    auto bmp = Make({kModeIndexed, 8, 4});
    FreeBuffer(&bmp->Palette);
    ASSERT_EQ(bmp->WriteFile(), 1);
    std::vector<uint8_t> b = Written(*bmp);
    EXPECT_EQ(Le32(b, 46), 256u);
    for (uint32_t i = 0; i < 256; ++i) ASSERT_EQ(b[54 + i * 4], i);

    auto none = Make({kModeIndexed, 8, 4});
    FreeBuffer(&none->Palette);
    none->PaletteSize = 0;  // an 8-bit bitmap still gets its colour table
    ASSERT_EQ(none->WriteFile(), 1);
    EXPECT_EQ(Le32(Written(*none), 10), 54u + 1024);
}

TEST_P(BmpWriteTest, FourBitImageIsWrittenWithEightBitRows)
{
    testutil::BmpFixture f;
    f.width = 9;
    f.height = 4;
    f.bitCount = 4;
    for (uint32_t i = 0; i < 16; ++i) f.palette.insert(f.palette.end(), {static_cast<uint8_t>(i * 16), 1, 2, 0});
    for (uint32_t i = 0; i < 36; ++i) f.pixels.push_back(static_cast<uint8_t>(i % 16));
    std::string in = NewPath("four");
    testutil::WriteBytes(in, testutil::MakeBmp(f));
    CBmpIO src(paths.back()->c_str());
    ASSERT_EQ(testutil::OpenAndReadHead(src, in.c_str()), 1);
    ASSERT_EQ(testutil::ReadWholeImage(src), 1);
    std::string out = NewPath("eight");
    src.Path = paths.back()->c_str();
    src.File.Close();
    ASSERT_TRUE(src.File.Open(out.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary));
    ASSERT_EQ(src.WriteFile(), 1);
    src.File.Close();
    CBmpIO back(out.c_str());
    ASSERT_EQ(testutil::OpenAndReadHead(back, out.c_str()), 1);
    EXPECT_EQ(back.FileBitCount, 8u);
    ASSERT_EQ(testutil::ReadWholeImage(back), 1);
    EXPECT_EQ(testutil::PlaneBytes(back, 0), f.pixels);
    EXPECT_EQ(0, memcmp(back.Palette, f.palette.data(), 64));
}

TEST_P(BmpWriteTest, DiskFullShowsItsMessage)
{
    MessageCapture messages;
    auto bmp = Make({kModeRgb, 64, 64}, false);
    if (!bmp->File.Open("/dev/full", CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite | CFile::typeBinary))
        GTEST_SKIP() << "/dev/full is not available";
    EXPECT_EQ(bmp->WriteFile(), 0);
    EXPECT_EQ(messages.Ids(), std::vector<int>{kMsgDiskFull});
    messages.Clear();
    std::vector<uint8_t> row(64 * 4);
    EXPECT_EQ(bmp->WriteRgbDataImage(row.data(), row.data(), row.data(), 4), 0);
    EXPECT_EQ(messages.Ids(), std::vector<int>{kMsgDiskFull});
    bmp->File.Abort();
}

TEST_P(BmpWriteTest, EscStopsWriting)
{
    auto bmp = Make({kModeRgb, 16, 30});
    PostKeyDown(VK_ESCAPE);
    EXPECT_EQ(bmp->WriteFile(), 0);
    auto blocks = Make({kModeRgb, 16, 30});
    ASSERT_EQ(blocks->WriteHeader(), 1);
    std::vector<uint8_t> row(16 * 30);
    PostKeyDown(VK_ESCAPE);
    EXPECT_EQ(blocks->WriteRgbDataImage(row.data(), row.data(), row.data(), 30), 0);
}

// Red, green, blue and alpha bytes of a file's pixels, top row first, by
// ImageMagick or PIL; empty when the tool refuses it.
std::vector<uint8_t> RgbaOf(const std::string& path, bool pil)
{
    std::string command =
        pil ? std::string(testutil::kSystemPython) + " -c \"import sys; from PIL import Image; "
                                                     "sys.stdout.buffer.write(Image.open(sys.argv[1]).convert('RGBA')"
                                                     ".tobytes())\" " + testutil::Quote(path)
            : std::string(testutil::kConvert) + " " + testutil::Quote(path) + " -depth 8 rgba:-";
    std::vector<uint8_t> out;
    return testutil::RunCommand(command + " 2>/dev/null", &out) == 0 ? out : std::vector<uint8_t>();
}

// An RGB image with an alpha plane writes as 32-bit pixels that other
// decoders show with the same colours and alpha; an alpha plane of nothing
// but opaque pixels writes today's 24-bit file.
TEST_P(BmpWriteTest, AlphaPlaneIsWrittenAsThirtyTwoBitPixels)
{
    bool convert = testutil::HasConvert(), pil = testutil::HasPil();
    for (bool opaque : {false, true}) {
        SCOPED_TRACE(opaque ? "opaque" : "transparent");
        std::string path = dir.File(opaque ? "opaque.bmp" : "alpha.bmp");
        CBmpIO bmp(path.c_str());
        bmp.Width = 13;
        bmp.Height = 6;
        bmp.ResolutionUnit = 1;
        bmp.SetMode(kModeRgb);
        bmp.ChannelCount = 4;
        bmp.BytesPerLine = BytesPerRow(bmp.Width * 8);
        ASSERT_EQ(bmp.AllocChannelSpace(), 1);
        std::vector<uint8_t> row(bmp.BytesPerLine), rgba;
        for (uint32_t y = 0; y < bmp.Height; ++y)
            for (uint32_t c = 0; c < 4; ++c) {
                for (uint32_t x = 0; x < bmp.Width; ++x)
                    row[x] = static_cast<uint8_t>(c == 3 && opaque ? 255 : x * 19 + y * 41 + c * 67);
                ASSERT_EQ(bmp.WritePlaneRow(c, y, row.data()), 1);
            }
        for (uint32_t y = 0; y < bmp.Height; ++y)
            for (uint32_t x = 0; x < bmp.Width; ++x)
                for (uint32_t c = 0; c < 4; ++c)
                    rgba.push_back(static_cast<uint8_t>(c == 3 && opaque ? 255 : x * 19 + y * 41 + c * 67));
        ASSERT_TRUE(bmp.File.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary));
        ASSERT_EQ(bmp.WriteFile(), 1);
        bmp.File.Close();
        std::vector<uint8_t> bytes = testutil::ReadBytes(path);
        ASSERT_GT(bytes.size(), 54u);
        EXPECT_EQ(Le16(bytes, 28), opaque ? 24 : 32);
        EXPECT_EQ(Le32(bytes, 14), opaque ? 40u : 124u);
        if (!opaque) {
            EXPECT_EQ(Le32(bytes, 30), 3u);  // bit fields
            EXPECT_EQ(Le32(bytes, 10), 138u);
            const uint32_t masks[4] = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
            for (int m = 0; m < 4; ++m) EXPECT_EQ(Le32(bytes, 54 + 4 * m), masks[m]);
        }

        CBmpIO back(path.c_str());
        ASSERT_EQ(testutil::OpenAndReadHead(back, path.c_str()), 1);
        ASSERT_EQ(testutil::ReadWholeImage(back), 1);
        ASSERT_EQ(back.ChannelCount, opaque ? 3u : 4u);
        for (uint32_t c = 0; c < back.ChannelCount; ++c)
            EXPECT_EQ(testutil::PlaneBytes(back, c), testutil::PlaneBytes(bmp, c)) << c;
        if (convert) {
            EXPECT_TRUE(RgbaOf(path, false) == rgba) << "ImageMagick";
        }
        if (pil) {
            EXPECT_TRUE(RgbaOf(path, true) == rgba) << "PIL";
        }
    }
}

// The tool keeps a PNG's transparency in a bitmap, and writes 24-bit pixels
// when a mode is given.
TEST_P(BmpWriteTest, ConvertKeepsTransparencyUnlessAModeIsGiven)
{
    if (!testutil::HasConvert()) GTEST_SKIP() << "no /usr/bin/convert to make a PNG with alpha";
    std::string png = dir.File("alpha.png");
    ASSERT_EQ(testutil::RunCommand(std::string(testutil::kConvert) + " -size 9x5 gradient:red-blue -alpha set " +
                                       "-channel A -fx 'i/w' " + testutil::Quote("PNG32:" + png) + " 2>/dev/null",
                                   nullptr),
              0);
    std::vector<uint8_t> want = RgbaOf(png, false);
    for (const char* mode : {"", "--mode rgb "}) {
        SCOPED_TRACE(mode);
        std::string bmp = dir.File("out.bmp");
        testutil::ToolRun run = testutil::RunTool(std::string("convert ") + mode + testutil::Quote(png) + " " +
                                                      testutil::Quote(bmp),
                                                  dir.Path());
        ASSERT_EQ(run.status, 0) << run.err;
        std::vector<uint8_t> bytes = testutil::ReadBytes(bmp);
        ASSERT_GT(bytes.size(), 54u);
        EXPECT_EQ(bytes[28], *mode ? 24 : 32);
        std::vector<uint8_t> got = RgbaOf(bmp, false);
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < got.size(); ++i)
            EXPECT_EQ(got[i], i % 4 == 3 && *mode ? 255 : want[i]) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Bmp, BmpWriteTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("Spilled") : std::string("Memory");
                         });

}  // namespace
