// Whole-file conversion end to end on bitmap files: the road each kind of
// change takes, identical output with planes in memory and spilled, outside
// decoders reading the results, and the failure paths.
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "platform/CFileFaults.h"
#include "platform/Win32.h"
#include "rastik/rastik.h"
#include "rastik/CWandBIO.h"

namespace {

using testutil::BmpFixture;
using testutil::ReadBytes;

enum class Source { Rgb24, Rgb32, Indexed8, Bitmap1 };

// A deterministic picture: gradients for colour, a few distinct indexes.
BmpFixture MakeFixture(Source kind, int32_t w, int32_t h)
{
    BmpFixture f;
    f.width = w;
    f.height = h;
    f.bitCount = kind == Source::Rgb24 ? 24 : kind == Source::Rgb32 ? 32 : kind == Source::Indexed8 ? 8 : 1;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            if (kind == Source::Rgb24 || kind == Source::Rgb32) {
                f.pixels.push_back(static_cast<uint8_t>(x * 255 / (w - 1)));
                f.pixels.push_back(static_cast<uint8_t>(y * 255 / (h - 1)));
                f.pixels.push_back(static_cast<uint8_t>((x * 7 + y * 13) % 256));
                if (kind == Source::Rgb32) f.pixels.push_back(0);
            } else if (kind == Source::Indexed8) {
                f.pixels.push_back(static_cast<uint8_t>((x / 4 + y / 3) % 5));
            } else {
                f.pixels.push_back(static_cast<uint8_t>((x / 3 + y / 2) % 2));
            }
        }
    if (kind == Source::Indexed8) {
        f.palette = {0, 0, 0, 0, 255, 255, 255, 0, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0};
        f.palette.resize(256 * 4, 0);
    } else if (kind == Source::Bitmap1) {
        f.palette = {0, 0, 0, 0, 255, 255, 255, 0};
    }
    return f;
}

class ImgProcFileTest : public ::testing::Test {
protected:
    void SetUp() override { DrainKeys(); }
    void TearDown() override
    {
        SetProgressCallback(nullptr, nullptr);
        SetProgressRange(0, 1000);
        DrainKeys();
    }
    static void DrainKeys()
    {
        int key = 0;
        while (TakeKeyDown(&key)) {
        }
    }
    std::string Source(Source kind, int32_t w = 47, int32_t h = 31, int32_t pelsPerMeter = 2835)
    {
        BmpFixture f = MakeFixture(kind, w, h);
        f.pelsPerMeter = pelsPerMeter;
        std::string path = dir.File("src.bmp");
        EXPECT_TRUE(testutil::WriteBytes(path, testutil::MakeBmp(f)));
        return path;
    }
    int Convert(const std::string& src, const std::string& dst, int mode, int sizeMode, unsigned w = 0,
                int h = 0, int r = 0)
    {
        width = height = -1;
        return ImgProc(src.c_str(), dst.c_str(), mode, sizeMode, r, w, h, &width, &height, 1);
    }
    // Reads a bitmap back into a codec; false when it does not read.
    static bool ReadBack(CBmpIO& bmp)
    {
        return testutil::OpenAndReadHead(bmp, bmp.Path) && testutil::ReadWholeImage(bmp);
    }
    static uint32_t Le32(const std::vector<uint8_t>& b, size_t at)
    {
        return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
    }
    testutil::TempDir dir;
    int width = -1, height = -1;
};

TEST_F(ImgProcFileTest, WidthModeWritesTheScaledSizeAndResolution)
{
    std::string src = Source(Source::Rgb24, 100, 50);
    std::string dst = dir.File("out.bmp");
    ASSERT_EQ(Convert(src, dst, kModeRgb, 1, 40), 1);
    EXPECT_EQ(width, 40);
    EXPECT_EQ(height, 20);
    std::vector<uint8_t> b = ReadBytes(dst);
    ASSERT_GE(b.size(), 54u);
    EXPECT_EQ(Le32(b, 18), 40u);
    EXPECT_EQ(Le32(b, 22), 20u);
    EXPECT_EQ(Le32(b, 38), 1141u);  // ⌊72 · 0.4 + 0.5⌋ = 29 dots per inch
}

TEST_F(ImgProcFileTest, UnchangedImageIsRewrittenAsItIs)
{
    std::string src = Source(Source::Rgb24);
    std::string once = dir.File("once.bmp"), twice = dir.File("twice.bmp");
    ASSERT_EQ(Convert(src, once, kModeRgb, 0), 1);
    ASSERT_EQ(Convert(once, twice, kModeRgb, 0), 1);
    EXPECT_EQ(width, 47);
    EXPECT_EQ(ReadBytes(once), ReadBytes(twice));
    CBmpIO a(src.c_str()), b(once.c_str());
    ASSERT_TRUE(ReadBack(a));
    ASSERT_TRUE(ReadBack(b));
    EXPECT_EQ(testutil::PlanesToRgb(a).rgb, testutil::PlanesToRgb(b).rgb);
    EXPECT_EQ(Le32(ReadBytes(once), 38), 2835u);
}

TEST_F(ImgProcFileTest, ResolutionOnlyChangeKeepsThePixels)
{
    std::string src = Source(Source::Rgb24);
    std::string dst = dir.File("out.bmp");
    ASSERT_EQ(Convert(src, dst, kModeRgb, 8, 0, 0, 300), 1);
    std::vector<uint8_t> b = ReadBytes(dst);
    EXPECT_EQ(Le32(b, 38), 11811u);  // 300 dots per inch, unit inch
    EXPECT_EQ(Le32(b, 42), 11811u);
    CBmpIO a(src.c_str()), out(dst.c_str());
    ASSERT_TRUE(ReadBack(a));
    ASSERT_TRUE(ReadBack(out));
    EXPECT_EQ(testutil::PlanesToRgb(a).rgb, testutil::PlanesToRgb(out).rgb);
}

TEST_F(ImgProcFileTest, BitmapSourceGoesToTheBlackAndWhiteWriterWithItsOwnPlane)
{
    // A 10 x 3 bitmap: only the type changes, so the writer borrows the
    // source plane. Any requested mode is overruled.
    BmpFixture f;
    f.width = 10;
    f.height = 3;
    f.bitCount = 1;
    f.palette = {0, 0, 0, 0, 255, 255, 255, 0};  // 0 black, 1 white
    f.pixels = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    std::string src = dir.File("bits.bmp");
    ASSERT_TRUE(testutil::WriteBytes(src, testutil::MakeBmp(f)));
    for (int mode : {kModeRgb, kModeIndexed, kModeBlackWhite}) {
        std::string dst = dir.File("bits-out.bmp");
        ASSERT_EQ(Convert(src, dst, mode, 0), 1) << mode;
        // Bottom row first, two bytes a row, 1 = white (the unused bits too), no header.
        EXPECT_EQ(ReadBytes(dst), (std::vector<uint8_t>{0x00, 0x7F, 0x55, 0x7F, 0xFF, 0xFF})) << mode;
    }
}

TEST_F(ImgProcFileTest, BlackAndWhiteTargetIsWrittenFromTheGreyImage)
{
    // A flat RGB image of 100, 200, 50 becomes grey 155 first.
    BmpFixture f;
    f.width = 20;
    f.height = 6;
    for (int i = 0; i < 20 * 6; ++i) f.pixels.insert(f.pixels.end(), {100, 200, 50});
    std::string src = dir.File("flat.bmp");
    ASSERT_TRUE(testutil::WriteBytes(src, testutil::MakeBmp(f)));
    std::string dst = dir.File("flat.bw");
    ASSERT_EQ(Convert(src, dst, kModeBlackWhite, 0), 1);

    std::string ref = dir.File("ref.bw");
    CWandBIO w(ref.c_str());
    w.Width = 20;
    w.Height = 6;
    w.SetMode(static_cast<uint32_t>(kModeGrey));
    w.BytesPerLine = BytesPerRow(20 * 8);
    ASSERT_TRUE(w.AllocChannelSpace());
    std::vector<uint8_t> row(w.BytesPerLine, 155);
    for (uint32_t y = 0; y < 6; ++y) ASSERT_TRUE(w.WritePlaneRow(0, y, row.data()));
    ASSERT_TRUE(w.File.Open(ref.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary));
    ASSERT_TRUE(w.WriteFile());
    w.File.Close();
    EXPECT_EQ(ReadBytes(dst), ReadBytes(ref));
    EXPECT_EQ(ReadBytes(dst).size(), 6u * 3u);
}

TEST_F(ImgProcFileTest, PairsWithoutARuleFailWithoutATarget)
{
    std::string src = Source(Source::Rgb24);
    std::string dst = dir.File("out.bmp");
    EXPECT_EQ(Convert(src, dst, kModeBitmap, 0), 0);
    EXPECT_EQ(Convert(src, dst, 99, 1, 10), 0);
    EXPECT_FALSE(FileExists(dst.c_str()));
    EXPECT_EQ(width, -1);
}

TEST_F(ImgProcFileTest, UnusableArgumentsFail)
{
    std::string src = Source(Source::Rgb24);
    EXPECT_EQ(Convert(dir.File("missing.bmp"), dir.File("a.bmp"), kModeRgb, 0), 0);
    EXPECT_EQ(Convert(src, dir.File("a.unknown"), kModeRgb, 0), 0);
    EXPECT_FALSE(FileExists(dir.File("a.unknown").c_str()));
    std::vector<uint8_t> bad = {'B', 'M', 1, 2, 3};
    ASSERT_TRUE(testutil::WriteBytes(dir.File("bad.bmp"), bad));
    EXPECT_EQ(Convert(dir.File("bad.bmp"), dir.File("b.bmp"), kModeRgb, 0), 0);
    EXPECT_FALSE(FileExists(dir.File("b.bmp").c_str()));
    EXPECT_EQ(ImgProc(nullptr, "x.bmp", kModeRgb, 0, 0, 0, 0, nullptr, nullptr, 1), 0);
}

TEST_F(ImgProcFileTest, TooLittleSpaceForThePlanesFails)
{
    std::string src = Source(Source::Rgb24);
    const char* old = getenv("TMPDIR");
    std::string saved = old ? old : "";
    setenv("TMPDIR", dir.File("no-such-dir").c_str(), 1);
    int result = Convert(src, dir.File("out.bmp"), kModeGrey, 0);
    if (old) setenv("TMPDIR", saved.c_str(), 1);
    else unsetenv("TMPDIR");
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(FileExists(dir.File("out.bmp").c_str()));
}

TEST_F(ImgProcFileTest, EveryFailureNamesItsCause)
{
    std::string src = Source(Source::Rgb24);
    std::vector<uint8_t> whole = ReadBytes(src);
    // Rows of 47 x 3 bytes padded to 144, bottom-up: 10 of 31 rows stored.
    std::vector<uint8_t> cut(whole.begin(), whole.begin() + 54 + 10 * 144);
    ASSERT_TRUE(testutil::WriteBytes(dir.File("cut.bmp"), cut));
    std::string png = dir.File("cut.png");
    ASSERT_TRUE(testutil::WriteSampleImage(kTypePng, kModeRgb, 64, 64, png));
    std::vector<uint8_t> p = ReadBytes(png);
    p.resize(p.size() * 2 / 3);
    ASSERT_TRUE(testutil::WriteBytes(png, p));
    SetMaxPixels(100);
    int refused = Convert(src, dir.File("o.bmp"), kModeRgb, 0);
    SetMaxPixels(0);
    EXPECT_EQ(refused, 0);
    const char* text = nullptr;
    EXPECT_EQ(GetImgProcFailure(&text), kMsgTooManyPixels);
    EXPECT_STREQ(text, "图象的像素数超过上限 100，不能读取。");
    struct Case {
        const char* what;
        std::string source;
        int sizeMode;
        unsigned w;
        int h;
        int message;
        const char* figures;  // in the text
    };
    const Case cases[] = {
        // Planes of 5e8 x 1e5 pixels: no disk holds them; refused at once.
        {"costs", src, 9, 500000000u, 100000, kMsgNoTempSpace, "需要 150000000000000 字节"},
        {"short png", png, 0, 0, 0, kMsgDataEnded, "（共 64 行）"},
        // With threads the writer follows the resampling of the read.
        {"short png, resized", png, 1, 16u, 0, kMsgDataEnded, "（共 64 行）"},
        {"no failure", src, 0, 0, 0, 0, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Convert(c.source, dir.File("o.bmp"), kModeRgb, c.sizeMode, c.w, c.h), c.message ? 0 : 1) << c.what;
        EXPECT_EQ(GetImgProcFailure(&text), c.message) << c.what;
        EXPECT_NE(std::string(text).find(c.figures), std::string::npos) << c.what << ": " << text;
        EXPECT_EQ(FileExists(dir.File("o.bmp").c_str()), c.message == 0) << c.what;
        DeleteFile(dir.File("o.bmp").c_str());
    }
    // A cut bitmap is refused in its header: the reader's message is the cause.
    EXPECT_EQ(Convert(dir.File("cut.bmp"), dir.File("o.bmp"), kModeRgb, 0), 0);
    EXPECT_EQ(GetImgProcFailure(nullptr), kMsgBadHeader);
}

TEST_F(ImgProcFileTest, TargetTheDiskCannotHoldFailsBeforeTheFirstRow)
{
    const std::string src = Source(Source::Rgb24);
    // The bitmap of 47 x 31 RGB pixels: 31 rows of 144 bytes and the
    // headers' allowance; its planes, spilled, 3 x 31 rows of 48 bytes.
    constexpr uint64_t kTargetBound = (1u << 20) + 31 * 144;
    constexpr uint64_t kSpilled = 3 * 31 * 48;
    struct Case {
        const char* what;
        bool spill;
        uint64_t free;
        size_t oldTarget;  // bytes of a target the conversion replaces
        int message;
    };
    const Case cases[] = {
        {"no room", false, 0, 0, kMsgNoTargetSpace},
        {"room beside planes in memory", false, kTargetBound, 0, 0},
        {"no room beside the spilled planes", true, kTargetBound + kSpilled - 1, 0, kMsgNoTargetSpace},
        {"room beside the spilled planes", true, kTargetBound + kSpilled, 0, 0},
        {"a larger old target", false, 0, kTargetBound, 0},
    };
    const std::string dst = dir.File("out.bmp");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteFile(dst.c_str());
        if (c.oldTarget) {
            ASSERT_TRUE(testutil::WriteBytes(dst, std::vector<uint8_t>(c.oldTarget)));
        }
        testutil::MemorySettings memory(c.spill, 0);
        CFileFaults faults;
        faults.LimitFreeSpace(c.free);
        EXPECT_EQ(Convert(src, dst, kModeRgb, 0), c.message ? 0 : 1);
        const char* text = nullptr;
        EXPECT_EQ(GetImgProcFailure(&text), c.message);
        if (c.message) {
            EXPECT_NE(std::string(text).find("只有 " + std::to_string(c.free) + " 字节可用"), std::string::npos)
                << text;
            EXPECT_EQ(FileExists(dst.c_str()), c.oldTarget != 0);
        }
    }
}

TEST_F(ImgProcFileTest, ResolutionModeWithoutASourceResolutionCountsAs72)
{
    std::string src = Source(Source::Rgb24, 10, 8, 1);  // 1 pixel per metre
    ASSERT_EQ(Convert(src, dir.File("out.bmp"), kModeRgb, 7, 0, 0, 144), 1);
    EXPECT_EQ(width, 20);
    EXPECT_EQ(height, 16);
}

// A 72-dpi file stored as 2834 pixels per metre (71.98 dots per inch)
// doubles exactly at 144 dots per inch, as one stored as 2835 does.
TEST_F(ImgProcFileTest, ResolutionModeRoundsTheSourceResolution)
{
    for (int32_t pelsPerMeter : {2834, 2835}) {
        std::string src = Source(Source::Rgb24, 100, 50, pelsPerMeter);
        ASSERT_EQ(Convert(src, dir.File("out.bmp"), kModeRgb, 7, 0, 0, 144), 1);
        EXPECT_EQ(width, 200) << pelsPerMeter;
        EXPECT_EQ(height, 100) << pelsPerMeter;
    }
}

// The bitmap written holds the source's pixels at the bit count given; the
// JPEG reads back in the mode and channel count given.
void ExpectWritten(const std::string& src, const std::string& bmp, int bits, const std::string& jpg, uint32_t mode,
                   uint32_t channels)
{
    EXPECT_EQ(ReadBytes(bmp)[28], bits);
    CBmpIO in(src.c_str()), out(bmp.c_str());
    ASSERT_TRUE(testutil::OpenAndReadHead(in, in.Path) && testutil::ReadWholeImage(in));
    ASSERT_TRUE(testutil::OpenAndReadHead(out, out.Path) && testutil::ReadWholeImage(out));
    EXPECT_EQ(testutil::PlanesToRgb(in).rgb, testutil::PlanesToRgb(out).rgb);
    CJpgIO jpeg(jpg.c_str());
    ASSERT_TRUE(testutil::OpenAndReadHead(jpeg, jpg.c_str()));
    EXPECT_EQ(jpeg.ColorMode, mode);
    EXPECT_EQ(jpeg.ChannelCount, channels);
}

// The fourth bytes of a 32-bit bitmap reach no writer that cannot keep
// them: the bitmap writer stores 24 bits, the JPEG writer three components.
TEST_F(ImgProcFileTest, ThirtyTwoBitSourceWritesItsColourChannels)
{
    std::string src = Source(Source::Rgb32);
    std::string bmp = dir.File("out.bmp"), jpg = dir.File("out.jpg");
    ASSERT_EQ(Convert(src, bmp, kModeRgb, 0), 1);
    ASSERT_EQ(Convert(src, jpg, kModeRgb, 0), 1);
    ExpectWritten(src, bmp, 24, jpg, kModeRgb, 3);
}

// Asked to write the format the target names, a bitmap source becomes a
// 1-bit bitmap or a grey JPEG instead of packed 1-bit rows.
TEST_F(ImgProcFileTest, TargetFormatOptionKeepsABitmapInTheTargetsFormat)
{
    std::string src = Source(Source::Bitmap1);
    std::string bmp = dir.File("out.bmp"), jpg = dir.File("out.jpg");
    for (const std::string& dst : {bmp, jpg})
        ASSERT_EQ(ImgProcEx(src.c_str(), dst.c_str(), kModeRgb, 0, 0, 0, 0, &width, &height, 1, 70,
                            kImgProcTargetFormat), 1);
    ExpectWritten(src, bmp, 1, jpg, kModeGrey, 1);
    // Target mode 10 still writes packed rows, 6 bytes per row of 47 pixels.
    std::string bw = dir.File("out.bw");
    ASSERT_EQ(ImgProcEx(src.c_str(), bw.c_str(), kModeBlackWhite, 0, 0, 0, 0, &width, &height, 1, 70,
                        kImgProcTargetFormat), 1);
    EXPECT_EQ(ReadBytes(bw).size(), 6u * 31u);
}

TEST_F(ImgProcFileTest, StoppedWriteLeavesNoTarget)
{
    // Esc arrives once the writing phase (the last part of the range) runs.
    SetProgressRange(0, 1000);
    SetProgressCallback(
        [](int32_t, int32_t start, int32_t end, void*) {
            if (end == 1000 && start > 0) PostKeyDown(VK_ESCAPE);
        },
        nullptr);
    std::string src = Source(Source::Rgb24);
    for (int sizeMode : {0, 1}) {
        std::string dst = dir.File("out" + std::to_string(sizeMode) + ".bmp");
        EXPECT_EQ(Convert(src, dst, kModeGrey, sizeMode, 20), 0);
        EXPECT_FALSE(FileExists(dst.c_str()));
    }
    int32_t start = -1, end = -1;
    GetProgressRange(&start, &end);
    EXPECT_EQ(start, 0);
    EXPECT_EQ(end, 1000);
}

// One conversion of the table below, run with planes in memory and spilled.
struct ConversionCase {
    const char* name;
    enum Source source;
    const char* target;
    int mode;
    int sizeMode;
    unsigned w;
    int h;
    int r;
    int width;
    int height;
};

const ConversionCase kCases[] = {
    {"Unchanged", Source::Rgb24, "out.bmp", kModeRgb, 0, 0, 0, 0, 47, 31},
    {"ResolutionOnly", Source::Rgb24, "out.bmp", kModeRgb, 8, 0, 0, 150, 47, 31},
    {"RgbToGrey", Source::Rgb24, "out.bmp", kModeGrey, 0, 0, 0, 0, 47, 31},
    {"Rgb32ToGrey", Source::Rgb32, "out.bmp", kModeGrey, 0, 0, 0, 0, 47, 31},
    {"Shrink", Source::Rgb24, "out.bmp", kModeRgb, 1, 23, 0, 0, 23, 15},
    {"Enlarge", Source::Rgb24, "out.bmp", kModeRgb, 9, 61, 40, 72, 61, 40},
    {"GreyFit", Source::Rgb24, "out.bmp", kModeGrey, 3, 20, 20, 0, 20, 13},
    {"RgbToIndexed", Source::Rgb24, "out.bmp", kModeIndexed, 0, 0, 0, 0, 47, 31},
    {"RgbToSmallerIndexed", Source::Rgb24, "out.bmp", kModeIndexed, 1, 30, 0, 0, 30, 20},
    {"RgbToBlackAndWhite", Source::Rgb24, "out.bw", kModeBlackWhite, 0, 0, 0, 0, 47, 31},
    {"RgbToSmallerBlackAndWhite", Source::Rgb24, "out.bw", kModeBlackWhite, 2, 0, 10, 0, 15, 10},
    {"IndexedToRgb", Source::Indexed8, "out.bmp", kModeRgb, 0, 0, 0, 0, 47, 31},
    {"IndexedToGrey", Source::Indexed8, "out.bmp", kModeGrey, 4, 24, 0, 0, 24, 16},
    {"SmallerIndexed", Source::Indexed8, "out.bmp", kModeIndexed, 1, 20, 0, 0, 20, 13},
    {"BitmapSame", Source::Bitmap1, "out.bmp", kModeRgb, 0, 0, 0, 0, 47, 31},
    {"BitmapSmaller", Source::Bitmap1, "out.bmp", kModeGrey, 1, 20, 0, 0, 20, 13},
    {"RgbToGif", Source::Rgb24, "out.gif", kModeIndexed, 0, 0, 0, 0, 47, 31},
    {"IndexedToSmallerGif", Source::Indexed8, "out.gif", kModeIndexed, 1, 20, 0, 0, 20, 13},
    {"RgbToPng", Source::Rgb24, "out.png", kModeRgb, 0, 0, 0, 0, 47, 31},
    {"RgbToGreyPng", Source::Rgb24, "out.png", kModeGrey, 1, 30, 0, 0, 30, 20},
    {"IndexedToPng", Source::Indexed8, "out.png", kModeIndexed, 0, 0, 0, 0, 47, 31},
};

class ImgProcConversion : public ImgProcFileTest, public ::testing::WithParamInterface<ConversionCase> {
protected:
    std::vector<uint8_t> Run(bool spill)
    {
        const ConversionCase& c = GetParam();
        testutil::MemorySettings memory(spill, 200);
        std::string dst = dir.File(std::string(spill ? "spilled-" : "memory-") + c.target);
        EXPECT_EQ(Convert(source, dst, c.mode, c.sizeMode, c.w, c.h, c.r), 1);
        EXPECT_EQ(width, c.width);
        EXPECT_EQ(height, c.height);
        last = dst;
        return ReadBytes(dst);
    }
    std::string source, last;
};

TEST_P(ImgProcConversion, SameFileWithPlanesInMemoryOrSpilled)
{
    source = Source(GetParam().source);
    std::vector<uint8_t> memory = Run(false);
    std::vector<uint8_t> spilled = Run(true);
    ASSERT_FALSE(memory.empty());
    EXPECT_EQ(memory, spilled);
}

TEST_P(ImgProcConversion, OutsideDecodersReadTheTarget)
{
    const ConversionCase& c = GetParam();
    if (std::string(c.target) == "out.bw" || c.source == Source::Bitmap1)
        GTEST_SKIP() << "raw 1-bit rows, no file format";
    if (!testutil::HasConvert() && !testutil::HasPil()) GTEST_SKIP() << "neither ImageMagick nor PIL installed";
    source = Source(c.source);
    Run(false);
    std::unique_ptr<CRastik> ours(NewRastikInstance(DetectFileType(last.c_str()), last.c_str()));
    ASSERT_TRUE(testutil::OpenAndReadHead(*ours, last.c_str()) && testutil::ReadWholeImage(*ours));
    testutil::RgbImage want = testutil::PlanesToRgb(*ours);
    testutil::RgbImage got;
    if (testutil::HasConvert()) {
        ASSERT_TRUE(testutil::DecodeWithConvert(last, &got));
        EXPECT_EQ(got.width, static_cast<uint32_t>(c.width));
        EXPECT_EQ(got.rgb, want.rgb) << "ImageMagick";
    }
    if (testutil::HasPil()) {
        ASSERT_TRUE(testutil::DecodeWithPil(last, &got));
        EXPECT_EQ(got.height, static_cast<uint32_t>(c.height));
        EXPECT_EQ(got.rgb, want.rgb) << "PIL";
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ImgProcConversion, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Every writer, and the roads into it, on an image of several TIFF strips
// and PNG/JPEG bands: planes on the heap or spilled give the same file.
struct WriterCase {
    bool fromTiff;  // else from a bitmap
    const char* target;
    int mode;
    unsigned options;
};

const WriterCase kWriters[] = {
    {false, "out.bmp", kModeRgb, 0},
    {false, "out.gif", kModeIndexed, 0},
    {false, "out.jpg", kModeRgb, 0},
    {false, "out.png", kModeRgb, 0},
    {false, "plain.tif", kModeRgb, kImgProcCompressionNone},
    {false, "grey.tif", kModeGrey, kImgProcCompressionNone},
    {false, "lzw.tif", kModeRgb, kImgProcCompressionLzw},
    {false, "packbits.tif", kModeRgb, kImgProcCompressionPackBits},
    {false, "out.bw", kModeBlackWhite, 0},
    {true, "same.tif", kModeRgb, 0},
    {true, "packbits.tif", kModeRgb, kImgProcCompressionPackBits},
    {true, "out.jpg", kModeRgb, 0},
};

TEST_F(ImgProcFileTest, EveryWriterWritesTheSameFileFromHeapAndSpilledPlanes)
{
    // 3.3 MB of pixels: one uncompressed strip from the heap, more than one
    // if the spilled planes' staging counted against the strip.
    const std::string bmp = Source(Source::Rgb24, 1100, 1000);
    const std::string tif = dir.File("src.tif");
    ASSERT_EQ(Convert(bmp, tif, kModeRgb, 0), 1);
    for (const WriterCase& c : kWriters) {
        const std::string& src = c.fromTiff ? tif : bmp;
        SCOPED_TRACE(src + " -> " + c.target);
        std::vector<uint8_t> files[2];
        for (bool spill : {false, true}) {
            testutil::MemorySettings memory(spill, 0);
            const std::string dst = dir.File(std::string(spill ? "spilled-" : "memory-") + c.target);
            ASSERT_EQ(ImgProcEx(src.c_str(), dst.c_str(), c.mode, 0, 0, 0, 0, &width, &height, 1, 70, c.options), 1);
            files[spill] = ReadBytes(dst);
        }
        EXPECT_FALSE(files[0].empty());
        EXPECT_TRUE(files[0] == files[1]);
    }
}

}  // namespace
