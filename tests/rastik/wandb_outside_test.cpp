// The black-and-white output of a whole-file conversion, read by an outside
// decoder through its documented layout: packed 1-bit rows of (width + 7) / 8
// bytes, bit 7 - x mod 8 first, 1 = white, bottom row first, no header.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "rastik/rastik.h"

namespace {

TEST(WandBOutside, PilReadsTheRowsByTheirLayout)
{
    if (!testutil::HasPil()) GTEST_SKIP() << "PIL (/usr/bin/python3 with PIL) is not installed";
    testutil::TempDir dir;
    // 21 x 10: black where x < 3 or y < 2 (the two top rows), white elsewhere;
    // pure black and white pass the error diffusion unchanged.
    const int w = 21, h = 10;
    testutil::BmpFixture f;
    f.width = w;
    f.height = h;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t v = (x < 3 || y < 2) ? 0 : 255;
            f.pixels.insert(f.pixels.end(), {v, v, v});
        }
    ASSERT_TRUE(testutil::WriteBytes(dir.File("in.bmp"), testutil::MakeBmp(f)));
    int outW = 0, outH = 0;
    ASSERT_EQ(ImgProc(dir.File("in.bmp").c_str(), dir.File("out.bmp").c_str(), 10, 0, 72, 0, 0, &outW, &outH, 1), 1);
    EXPECT_EQ(testutil::ReadBytes(dir.File("out.bmp")).size(), static_cast<size_t>((w + 7) / 8 * h));

    // PIL's packed 1-bit raw mode has exactly this row layout; the rows are
    // flipped to put the top first. Prints one line of 0/1 per row.
    std::string script =
        "import sys\nfrom PIL import Image\n"
        "d = open(sys.argv[1], 'rb').read()\n"
        "im = Image.frombytes('1', (21, 10), d).transpose(Image.FLIP_TOP_BOTTOM)\n"
        "for y in range(10): print(''.join('1' if im.getpixel((x, y)) else '0' for x in range(21)))\n";
    ASSERT_TRUE(testutil::WriteBytes(dir.File("read.py"), std::vector<uint8_t>(script.begin(), script.end())));
    std::vector<uint8_t> out;
    ASSERT_EQ(testutil::RunCommand("/usr/bin/python3 " + testutil::Quote(dir.File("read.py")) + " " +
                                       testutil::Quote(dir.File("out.bmp")),
                                   &out),
              0);
    std::string expected;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) expected += (x < 3 || y < 2) ? '0' : '1';
        expected += '\n';
    }
    EXPECT_EQ(std::string(out.begin(), out.end()), expected);
}

}  // namespace
