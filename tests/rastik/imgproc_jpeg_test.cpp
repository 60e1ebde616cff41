// Whole-file conversion through the JPEG codec: a type-only change writes
// the borrowed source planes, CMYK files convert to RGB, grey and indexed
// bitmaps, and every step gives the same file with planes spilled.
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "rastik/rastik.h"

namespace {

class ImgProcJpeg : public ::testing::Test {
protected:
    void SetUp() override
    {
        testutil::BmpFixture f;
        f.width = 64;
        f.height = 40;
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 64; ++x)
                f.pixels.insert(f.pixels.end(), {static_cast<uint8_t>(40 + x * 3), static_cast<uint8_t>(30 + y * 4),
                                                 static_cast<uint8_t>(200 - x - y)});
        source = dir.File("src.bmp");
        ASSERT_TRUE(testutil::WriteBytes(source, testutil::MakeBmp(f)));
    }
    // Converts with planes in memory and spilled; both files must be equal.
    // Returns the path of the first.
    std::string Convert(const std::string& from, const std::string& name, int mode, int sizeMode = 0,
                        unsigned w = 0)
    {
        std::vector<uint8_t> first;
        for (bool spill : {false, true}) {
            testutil::MemorySettings memory(spill, 300);
            std::string path = dir.File((spill ? "s-" : "m-") + name);
            int width = 0, height = 0;
            EXPECT_EQ(ImgProc(from.c_str(), path.c_str(), mode, sizeMode, 0, w, 0, &width, &height, 1), 1)
                << name << (spill ? " spilled" : "");
            std::vector<uint8_t> bytes = testutil::ReadBytes(path);
            if (!spill) first = bytes;
            else EXPECT_EQ(bytes, first) << name;
        }
        return dir.File("m-" + name);
    }
    // Mean absolute difference of a bitmap's pixels from the source's.
    double Distance(const std::string& bmpPath)
    {
        CBmpIO a(source.c_str()), b(bmpPath.c_str());
        EXPECT_TRUE(testutil::OpenAndReadHead(a, a.Path) && testutil::ReadWholeImage(a));
        EXPECT_TRUE(testutil::OpenAndReadHead(b, b.Path) && testutil::ReadWholeImage(b));
        testutil::RgbImage x = testutil::PlanesToRgb(a), y = testutil::PlanesToRgb(b);
        if (x.rgb.size() != y.rgb.size() || x.rgb.empty()) return 1e9;
        double sum = 0;
        for (size_t i = 0; i < x.rgb.size(); ++i) sum += std::abs(x.rgb[i] - y.rgb[i]);
        return sum / x.rgb.size();
    }
    testutil::TempDir dir;
    std::string source;
};

TEST_F(ImgProcJpeg, SameSizeJpegFromBorrowedPlanes)
{
    std::string jpg = Convert(source, "out.jpg", kModeRgb);
    std::string back = Convert(jpg, "back.bmp", kModeRgb);
    EXPECT_LT(Distance(back), 4.0);
    if (testutil::HasPil()) {
        testutil::RgbImage pil;
        ASSERT_TRUE(testutil::DecodeWithPil(jpg, &pil));
        EXPECT_EQ(pil.width, 64u);
        EXPECT_EQ(pil.height, 40u);
    }
}

TEST_F(ImgProcJpeg, CmykFileToRgbGreyAndIndexed)
{
    std::string cmyk = Convert(source, "cmyk.jpg", kModeCmyk);
    {
        CRastik* codec = NewRastikInstance(kTypeJpeg, cmyk.c_str());
        ASSERT_NE(codec, nullptr);
        ASSERT_TRUE(testutil::OpenAndReadHead(*codec, cmyk.c_str()));
        EXPECT_EQ(codec->ColorMode, static_cast<uint32_t>(kModeCmyk));
        delete codec;
    }
    EXPECT_LT(Distance(Convert(cmyk, "rgb.bmp", kModeRgb)), 6.0);
    EXPECT_LT(Distance(Convert(cmyk, "indexed.bmp", kModeIndexed)), 10.0);
    std::string grey = Convert(cmyk, "grey.bmp", kModeGrey, 1, 32);
    CBmpIO g(grey.c_str());
    ASSERT_TRUE(testutil::OpenAndReadHead(g, g.Path));
    EXPECT_EQ(g.Width, 32u);
    EXPECT_EQ(g.Height, 20u);
    EXPECT_EQ(g.BitsPerChannel, 8u);
}

}  // namespace
