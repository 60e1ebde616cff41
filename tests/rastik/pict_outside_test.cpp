// Pictures written by ImageMagick (8-bit indexed and grey, 32-bit direct) and
// by netpbm's ppmtopict read pixel for pixel as their source images, and the
// tool's info, convert and preview on them. Skipped when the tools are absent.
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "rastik/CPicIO.h"

namespace {

constexpr const char* kPpmToPict = "/usr/bin/ppmtopict";

class PictOutsideTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testutil::HasConvert()) GTEST_SKIP() << "ImageMagick convert is not installed";
        // Odd width above 250 bytes a row: packed lengths are words.
        source = dir.File("src.png");
        ASSERT_EQ(Run(std::string(testutil::kConvert) + " -size 301x40 -seed 11 plasma:fractal -depth 8 " +
                      testutil::Quote(source)),
                  0);
    }
    int Run(const std::string& command) { return testutil::RunCommand(command + " 2>/dev/null", nullptr); }
    // ImageMagick's file of a PNG made from the source with options.
    std::string Picture(const std::string& name, const std::string& options, std::string* png)
    {
        *png = dir.File(name + ".png");
        std::string pict = dir.File(name + ".pict");
        std::string c = testutil::kConvert;
        EXPECT_EQ(Run(c + " " + testutil::Quote(source) + " " + options + " " + testutil::Quote(*png)), 0);
        EXPECT_EQ(Run(c + " " + testutil::Quote(*png) + " PICT:" + testutil::Quote(pict)), 0);
        return pict;
    }
    void ExpectReadsAs(const std::string& pict, const std::string& png, uint32_t mode)
    {
        testutil::RgbImage want, oracle;
        ASSERT_TRUE(testutil::DecodeWithConvert(png, &want));
        ASSERT_TRUE(testutil::DecodeWithConvert(pict, &oracle));
        EXPECT_EQ(oracle.rgb, want.rgb) << "ImageMagick reads its picture differently";
        CPicIO codec(pict.c_str());
        ASSERT_EQ(testutil::OpenAndReadHead(codec, pict.c_str()), 1);
        EXPECT_EQ(codec.ColorMode, mode);
        ASSERT_EQ(testutil::ReadWholeImage(codec), 1);
        testutil::RgbImage got = testutil::PlanesToRgb(codec);
        EXPECT_EQ(got.width, want.width);
        EXPECT_EQ(got.height, want.height);
        EXPECT_EQ(got.rgb, want.rgb);
    }

    testutil::TempDir dir;
    std::string source;
};

TEST_F(PictOutsideTest, ImageMagickPicturesReadAsTheirSources)
{
    struct Case { const char* name; const char* options; uint32_t mode; };
    const Case cases[] = {
        {"direct", "", kModeRgb},
        {"indexed", "-colors 200", kModeIndexed},
        {"grey", "-colorspace gray -colors 40", kModeGrey},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string png;
        std::string pict = Picture(c.name, c.options, &png);
        ExpectReadsAs(pict, png, c.mode);
    }
}

TEST_F(PictOutsideTest, PpmToPictPicturesReadAsTheirSources)
{
    if (access(kPpmToPict, X_OK) != 0) GTEST_SKIP() << "netpbm's ppmtopict is not installed";
    std::string png;
    Picture("quantized", "-colors 220", &png);
    std::string ppm = dir.File("q.ppm"), pict = dir.File("netpbm.pict");
    ASSERT_EQ(Run(std::string(testutil::kConvert) + " " + testutil::Quote(png) + " " + testutil::Quote(ppm)), 0);
    ASSERT_EQ(Run(std::string(kPpmToPict) + " " + testutil::Quote(ppm) + " >" + testutil::Quote(pict)), 0);
    ExpectReadsAs(pict, png, kModeIndexed);
}

TEST_F(PictOutsideTest, ToolInfoConvertAndPreview)
{
    std::string png;
    std::string pict = Picture("tool", "", &png);
    std::string tool = RASTIK_TOOL_PATH;
    std::vector<uint8_t> out;
    ASSERT_EQ(testutil::RunCommand(tool + " info --json " + testutil::Quote(pict), &out), 0);
    std::string json(out.begin(), out.end());
    EXPECT_NE(json.find("\"pictVersion\": 2"), std::string::npos) << json;
    EXPECT_NE(json.find("\"pixelSize\": 32"), std::string::npos) << json;
    std::string bmp = dir.File("out.bmp"), preview = dir.File("prev.bmp");
    ASSERT_EQ(Run(tool + " convert " + testutil::Quote(pict) + " " + testutil::Quote(bmp) + " >/dev/null"), 0);
    testutil::RgbImage want, got;
    ASSERT_TRUE(testutil::DecodeWithConvert(png, &want));
    ASSERT_TRUE(testutil::DecodeWithConvert(bmp, &got));
    EXPECT_EQ(got.rgb, want.rgb);
    ASSERT_EQ(Run(tool + " preview " + testutil::Quote(pict) + " " + testutil::Quote(preview) + " >/dev/null"), 0);
    ASSERT_TRUE(testutil::DecodeWithConvert(preview, &got));
    EXPECT_TRUE(got.width > 0 && got.width <= 96 && got.height > 0 && got.height <= 96);
}

}  // namespace
