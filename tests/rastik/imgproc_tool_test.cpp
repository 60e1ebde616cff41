// End-to-end tests of `rastik convert`: output line, exit statuses, usage
// errors, defaults taken from the source and the files left behind.
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "platform/Win32.h"

namespace {

using RunResult = testutil::ToolRun;

class ImgProcTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        testutil::BmpFixture f;
        f.width = 60;
        f.height = 40;
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 60; ++x)
                f.pixels.insert(f.pixels.end(), {static_cast<uint8_t>(x * 4), static_cast<uint8_t>(y * 6), 99});
        source = dir.File("src.bmp");
        ASSERT_TRUE(testutil::WriteBytes(source, testutil::MakeBmp(f)));
    }
    static std::string Slurp(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    RunResult Run(const std::string& args) const { return testutil::RunTool("convert " + args, dir.Path()); }
    std::string Q(const std::string& path) const { return testutil::Quote(path); }
    testutil::TempDir dir;
    std::string source;
};

TEST_F(ImgProcTool, ConvertsAndPrintsTheSizeWritten)
{
    std::string dst = dir.File("small.bmp");
    RunResult r = Run("--mode indexed --width 30 " + Q(source) + " " + Q(dst));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "wrote " + dst + ": 30 x 20\n");
    EXPECT_EQ(r.err, "");  // no progress bar when stderr is not a terminal
    std::string bytes = Slurp(dst);
    ASSERT_GE(bytes.size(), 54u);
    EXPECT_EQ(bytes[28], 8);  // 8 bits per pixel: a palette image

    RunResult fit = Run("--width=10 --height=10 " + Q(source) + " " + Q(dir.File("fit.bmp")));
    EXPECT_EQ(fit.status, 0) << fit.err;
    EXPECT_EQ(fit.out, "wrote " + dir.File("fit.bmp") + ": 10 x 7\n");
}

TEST_F(ImgProcTool, DefaultsComeFromTheSource)
{
    // No mode: RGB stays RGB (24 bits); --dpi alone rewrites the resolution.
    std::string dst = dir.File("dpi.bmp");
    RunResult r = Run("--dpi 300 " + Q(source) + " " + Q(dst));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "wrote " + dst + ": 60 x 40\n");
    std::string bytes = Slurp(dst);
    ASSERT_GE(bytes.size(), 54u);
    EXPECT_EQ(bytes[28], 24);
    EXPECT_EQ(static_cast<uint8_t>(bytes[38]) | (static_cast<uint8_t>(bytes[39]) << 8), 11811);
    // Size mode 7 without --dpi takes the source's own resolution: same size.
    RunResult same = Run("--size-mode 7 " + Q(source) + " " + Q(dir.File("same.bmp")));
    EXPECT_EQ(same.out, "wrote " + dir.File("same.bmp") + ": 60 x 40\n");
}

TEST_F(ImgProcTool, BlackAndWhiteWithThePlaneCap)
{
    std::string dst = dir.File("out.bw");
    RunResult r = Run("--mode bw --plane-cap 1K --height 20 " + Q(source) + " " + Q(dst));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "wrote " + dst + ": 30 x 20\n");
    EXPECT_EQ(Slurp(dst).size(), 20u * 4u);
}

TEST_F(ImgProcTool, UsageErrors)
{
    std::string dst = Q(dir.File("x.bmp"));
    for (const std::string& args :
         {std::string(""), Q(source), "--mode purple " + Q(source) + " " + dst, "--width " + Q(source) + " " + dst,
          "--width 0 " + Q(source) + " " + dst, "--width -5 " + Q(source) + " " + dst,
          "--size-mode 1 " + Q(source) + " " + dst, "--size-mode 10 --width 5 " + Q(source) + " " + dst,
          "--colour red " + Q(source) + " " + dst, "--plane-cap lots " + Q(source) + " " + dst,
          Q(source) + " " + dst + " extra"}) {
        RunResult r = Run(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err.find("usage: rastik convert"), std::string::npos) << args;
        EXPECT_EQ(r.out, "") << args;
    }
    EXPECT_FALSE(FileExists(dir.File("x.bmp").c_str()));
    RunResult help = Run("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--size-mode"), std::string::npos);
}

TEST_F(ImgProcTool, FailuresExitWithOneAndLeaveNoFile)
{
    RunResult missing = Run(Q(dir.File("none.bmp")) + " " + Q(dir.File("a.bmp")));
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("none.bmp"), std::string::npos);
    RunResult unknown = Run(Q(source) + " " + Q(dir.File("a.xyz")));
    EXPECT_EQ(unknown.status, 1);
    EXPECT_NE(unknown.err.find("no format can be written for '.xyz'"), std::string::npos) << unknown.err;
    EXPECT_FALSE(FileExists(dir.File("a.xyz").c_str()));
    EXPECT_FALSE(FileExists(dir.File("a.bmp").c_str()));
}

}  // namespace
