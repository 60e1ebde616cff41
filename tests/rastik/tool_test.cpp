// End-to-end tests of the rastik tool's info, preview and decode commands:
// output, exit statuses and messages.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestUtil.h"

namespace {

using RunResult = testutil::ToolRun;

class ToolTest : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return dir + "/" + name; }
    std::string Slurp(const std::string& path) const
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    RunResult Run(const std::string& args) const { return testutil::RunTool(args, dir); }
    // A 24-bit bottom-up bitmap of a horizontal ramp: pixel (x, y) is
    // red = x, green = y, blue = 200.
    void WriteRampBmp(const std::string& name, uint32_t w, uint32_t h) const
    {
        uint32_t row = (w * 3 + 3) / 4 * 4;
        std::vector<uint8_t> f(54 + row * h, 0);
        auto put32 = [&](size_t at, uint32_t v) {
            for (int i = 0; i < 4; ++i) f[at + i] = static_cast<uint8_t>(v >> (8 * i));
        };
        f[0] = 'B';
        f[1] = 'M';
        put32(2, static_cast<uint32_t>(f.size()));
        put32(10, 54);
        put32(14, 40);
        put32(18, w);
        put32(22, h);
        f[26] = 1;
        f[28] = 24;
        put32(38, 2835);
        put32(42, 2835);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                uint8_t* p = &f[54 + (h - 1 - y) * row + 3 * x];
                p[0] = 200;
                p[1] = static_cast<uint8_t>(y);
                p[2] = static_cast<uint8_t>(x);
            }
        std::ofstream(Path(name), std::ios::binary).write(reinterpret_cast<const char*>(f.data()),
                                                           static_cast<std::streamsize>(f.size()));
    }
    testutil::TempDir tmp;
    std::string dir = tmp.Path();
};

TEST_F(ToolTest, InfoPrintsTheDescription)
{
    WriteRampBmp("ramp.bmp", 30, 20);
    RunResult r = Run("info --json '" + Path("ramp.bmp") + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"type\": 1"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"width\": 30"), std::string::npos);
    EXPECT_NE(r.out.find("\"height\": 20"), std::string::npos);
    EXPECT_NE(r.out.find("\"colorMode\": 4"), std::string::npos);
    EXPECT_NE(r.out.find("\"channelCount\": 3"), std::string::npos);
    EXPECT_NE(r.out.find("\"bitsPerChannel\": 8"), std::string::npos);
    EXPECT_NE(r.out.find("\"xResolution\": 72"), std::string::npos);
    EXPECT_NE(r.out.find("\"resolutionUnit\": 1"), std::string::npos);
    EXPECT_NE(r.out.find("\"paletteSize\": 0"), std::string::npos);

    r = Run("info '" + Path("ramp.bmp") + "'");
    ASSERT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("30 x 20"), std::string::npos) << r.out;
}

TEST_F(ToolTest, FailuresAndUsageErrorsHaveTheirStatuses)
{
    EXPECT_EQ(Run("").status, 2);
    EXPECT_EQ(Run("nosuchcommand").status, 2);
    EXPECT_EQ(Run("info").status, 2);
    EXPECT_EQ(Run("info --bogus x").status, 2);
    EXPECT_EQ(Run("preview --max 0 a b").status, 2);
    EXPECT_EQ(Run("--help").status, 0);
    EXPECT_EQ(Run("info --help").status, 0);
    RunResult version = Run("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("rastik 1.", 0), 0u) << version.out;

    RunResult r = Run("info '" + Path("missing.bmp") + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("missing.bmp"), std::string::npos);

    // A bitmap whose header is damaged: the library's message appears with its id.
    std::ofstream(Path("bad.bmp"), std::ios::binary) << "BM" << std::string(60, '\0');
    r = Run("info '" + Path("bad.bmp") + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("27601"), std::string::npos) << r.err;
}

TEST_F(ToolTest, MaxPixelsRefusesLargerImagesInEveryReadingCommand)
{
    WriteRampBmp("ramp.bmp", 20, 10);
    std::string src = "'" + Path("ramp.bmp") + "' ";
    struct Case {
        std::string args;  // the command up to --max-pixels
        std::string after;  // what follows the limit
    };
    const Case cases[] = {{"info", src}, {"preview", src + "'" + Path("p.bmp") + "'"},
                          {"convert", src + "'" + Path("c.png") + "'"}};
    for (const Case& c : cases) {
        RunResult over = Run(c.args + " --max-pixels 199 " + c.after);
        EXPECT_EQ(over.status, 1) << c.args;
        EXPECT_NE(over.err.find("27710"), std::string::npos) << c.args << ": " << over.err;
        EXPECT_NE(over.err.find("199"), std::string::npos) << c.args << ": " << over.err;
        EXPECT_EQ(Run(c.args + " --max-pixels 200 " + c.after).status, 0) << c.args;
        EXPECT_EQ(Run(c.args + " --max-pixels 0 " + c.after).status, 2) << c.args;
    }
}

TEST_F(ToolTest, PreviewSavesABitmapOfThePreviewSize)
{
    WriteRampBmp("ramp.bmp", 200, 100);
    RunResult r = Run("preview --max 50 '" + Path("ramp.bmp") + "' '" + Path("prev.bmp") + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("50 x 25"), std::string::npos) << r.out;
    r = Run("info --json '" + Path("prev.bmp") + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"width\": 50"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"height\": 25"), std::string::npos);

    // Pixel (x, y) of the preview samples source column 4x; rows are taken
    // in file order, which for a bottom-up file keeps image rows 4y + 3.
    std::string f = Slurp(Path("prev.bmp"));
    ASSERT_GE(f.size(), 54u + 152u * 25u);
    const uint32_t row = (50 * 3 + 3) / 4 * 4;
    auto px = [&](uint32_t x, uint32_t y) { return reinterpret_cast<const uint8_t*>(f.data()) + 54 + (24 - y) * row + 3 * x; };
    EXPECT_EQ(px(0, 0)[0], 200);
    EXPECT_EQ(px(10, 0)[2], 40);
    EXPECT_EQ(px(0, 5)[1], 23);
    EXPECT_EQ(px(0, 24)[1], 99);
}

TEST_F(ToolTest, DecodeWritesTheJpegAsABitmap)
{
    WriteRampBmp("ramp.bmp", 30, 20);
    ASSERT_EQ(Run("convert --quality 100 '" + Path("ramp.bmp") + "' '" + Path("ramp.jpg") + "'").status, 0);
    RunResult r = Run("decode '" + Path("ramp.jpg") + "' '" + Path("back.bmp") + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("30 x 20"), std::string::npos) << r.out;
    std::string f = Slurp(Path("back.bmp"));
    const uint32_t row = (30 * 3 + 3) / 4 * 4;
    ASSERT_GE(f.size(), 54u + row * 20u);
    for (uint32_t y : {0u, 7u, 19u}) {
        for (uint32_t x : {0u, 13u, 29u}) {
            const uint8_t* p = reinterpret_cast<const uint8_t*>(f.data()) + 54 + (19 - y) * row + 3 * x;
            EXPECT_NEAR(p[0], 200, 3) << x << "," << y;
            EXPECT_NEAR(p[1], int(y), 3) << x << "," << y;
            EXPECT_NEAR(p[2], int(x), 3) << x << "," << y;
        }
    }
    EXPECT_EQ(Run("decode '" + Path("ramp.bmp") + "' '" + Path("x.bmp") + "'").status, 1);
    EXPECT_EQ(access(Path("x.bmp").c_str(), F_OK), -1);
    EXPECT_EQ(Run("decode '" + Path("ramp.jpg") + "'").status, 2);
}

}  // namespace
