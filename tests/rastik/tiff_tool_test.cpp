// TIFF through the rastik tool and whole-file conversion: info fields,
// clip paths as SVG (the outlines ImageMagick reports), and conversions of
// TIFF sources into the other formats.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>

#include "TestUtil.h"
#include "rastik/CBmpIO.h"
#include "rastik/CJpgIO.h"
#include "rastik/CTiffIO.h"
#include "rastik/ClipPath.h"
#include "tiff_util.h"

using namespace testutil;

namespace {

std::string Tool(const std::string& args, int* status = nullptr)
{
    std::vector<uint8_t> out;
    int s = RunCommand(std::string(RASTIK_TOOL_PATH) + " " + args + " 2>/dev/null", &out);
    if (status) *status = s;
    return std::string(out.begin(), out.end());
}

std::vector<double> Numbers(const std::string& text)
{
    std::vector<double> v;
    for (const char* p = text.c_str(); *p;) {
        char* end = nullptr;
        bool starts = (*p >= '0' && *p <= '9') || (*p == '-' && p[1] >= '0' && p[1] <= '9');
        double d = starts ? strtod(p, &end) : 0;
        if (starts && end != p) {
            v.push_back(d);
            p = end;
        } else {
            ++p;
        }
    }
    return v;
}

// A 200 x 100 grey TIFF with a closed and an open subpath in resource 2000,
// named as the clipping path by resource 2999.
std::string PathTiff(const TempDir& dir, bool littleEndian = true)
{
    std::vector<uint8_t> block = PathResource(
        2000, {{true, {{0.25, 0.25}, {0.75, 0.25}, {0.75, 0.75}, {0.25, 0.75}}}, {false, {{0.1, 0.9}, {0.5, 0.6}, {0.9, 0.9}}}});
    const std::vector<uint8_t> name = {'8', 'B', 'I', 'M', 0x0B, 0xB7, 0, 0, 0, 0, 0, 6, 5, 'P', 'a', 't', 'h', '1'};
    block.insert(block.end(), name.begin(), name.end());
    std::vector<uint8_t> pixels(200 * 100);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i % 200 + i / 200);
    TiffFixture f = PlainTiff(200, 100, 8, 1, 1, pixels, 30, littleEndian);
    f.entries.push_back({34377, 7, {}, block});
    std::string path = dir.File(littleEndian ? "paths.tif" : "paths-mm.tif");
    WriteBytes(path, MakeTiff(f));
    return path;
}

TEST(TiffTool, InfoGivesTheTiffFields)
{
    TempDir dir;
    std::string path = PathTiff(dir, false);
    int status = -1;
    std::string json = Tool("info --json " + Quote(path), &status);
    EXPECT_EQ(status, 0);
    for (const char* field : {"\"compression\": \"none\"", "\"byteOrder\": \"MM\"", "\"stripCount\": 4",
                              "\"photometricSense\": \"black-is-zero\"", "\"clipPaths\": 2"})
        EXPECT_NE(json.find(field), std::string::npos) << field << "\n" << json;
}

TEST(TiffTool, PathsPrintsTheOutlinesImageMagickReports)
{
    TempDir dir;
    std::string path = PathTiff(dir);
    int status = -1;
    std::string svg = Tool("paths " + Quote(path), &status);
    ASSERT_EQ(status, 0);
    EXPECT_NE(svg.find("viewBox=\"0 0 200 100\""), std::string::npos);
    std::vector<std::string> ours;
    for (size_t at = 0; (at = svg.find(" d=\"", at)) != std::string::npos; at += 4)
        ours.push_back(svg.substr(at + 4, svg.find('"', at + 4) - at - 4));
    ASSERT_EQ(ours.size(), 2u);
    std::string json = Tool("paths --json " + Quote(path));
    EXPECT_NE(json.find("\"closed\": true"), std::string::npos);
    EXPECT_NE(json.find("\"closed\": false"), std::string::npos);

    if (!HasConvert()) GTEST_SKIP() << "ImageMagick missing";
    std::vector<uint8_t> out;
    ASSERT_EQ(RunCommand("/usr/bin/identify -format '%[8BIM:1999,2998:#1]' " + Quote(path), &out), 0);
    std::string theirs(out.begin(), out.end());
    // ImageMagick gives both subpaths in one path and closes the open one;
    // our closed subpath and the segments of the open one are theirs.
    std::vector<double> expected = Numbers(theirs.substr(theirs.find("d=\"")));
    std::vector<double> closed = Numbers(ours[0]), open = Numbers(ours[1]);
    ASSERT_GE(expected.size(), closed.size() + open.size());
    for (size_t i = 0; i < closed.size(); ++i) EXPECT_NEAR(closed[i], expected[i], 0.01) << i;
    for (size_t i = 0; i < open.size(); ++i) EXPECT_NEAR(open[i], expected[closed.size() + i], 0.01) << i;
}

// Conversions keep size and pixels; extra samples stay out of the target.
TEST(TiffTool, ConvertsToOtherFormats)
{
    if (!HasConvert()) GTEST_SKIP() << "ImageMagick missing";
    TempDir dir;
    struct Case {
        const char* source;  // ImageMagick options
        const char* target;
        int tolerance;       // largest difference from the TIFF's own pixels
    };
    const Case kCases[] = {
        {"-depth 8 -compress lzw", "out.bmp", 0},
        {"-colors 16 -type palette -depth 4", "out.bmp", 0},
        {"-colorspace gray -depth 4", "out.bmp", 0},
        {"-alpha set -channel A -fx 'i/w' +channel -depth 8", "out.bmp", 0},
        {"-alpha set -channel A -fx 'i/w' +channel -depth 8 -compress lzw", "out.jpg", 12},
        {"-colorspace gray -alpha set -depth 8", "out.jpg", 12},
        {"", "paths.jpg", 12},
    };
    for (const Case& c : kCases) {
        std::string source = dir.File("in.tif");
        if (*c.source) {
            ASSERT_EQ(RunCommand(std::string(kConvert) + " -size 61x37 -seed 3 plasma: " + c.source + " " +
                                     Quote(source), nullptr), 0) << c.source;
        } else {
            source = PathTiff(dir);
        }
        std::string target = dir.File(c.target);
        int status = -1;
        Tool("convert --quality 100 " + Quote(source) + " " + Quote(target), &status);
        ASSERT_EQ(status, 0) << c.source << " " << c.target;
        CTiffIO tiff(source.c_str());
        ASSERT_EQ(ReadTiff(tiff, source), 1);
        RgbImage expected = PlanesToRgb(tiff), written;
        ASSERT_TRUE(DecodeWithPil(target, &written)) << c.source;
        EXPECT_EQ(written.width, tiff.Width);
        EXPECT_EQ(written.height, tiff.Height);
        EXPECT_LE(MaxDifference(written, expected), c.tolerance) << c.source << " " << c.target;
        std::vector<uint8_t> mode;
        RunCommand("/usr/bin/identify -format '%[channels]' " + Quote(target), &mode);
        EXPECT_EQ(std::string(mode.begin(), mode.end()).find("cmyk"), std::string::npos) << c.source;
    }
}

// TIFF targets take the source's compression and byte order when it is a
// TIFF file, or what the options ask; a TIFF source's clip paths follow,
// scaled with the image.
TEST(TiffTool, ConvertsIntoTiffWithItsOptions)
{
    if (!HasConvert()) GTEST_SKIP() << "ImageMagick missing";
    TempDir dir;
    std::string paths = PathTiff(dir, false);
    std::string lzwMm = dir.File("lzw-mm.tif"), bmp = dir.File("in.bmp");
    ASSERT_EQ(RunCommand(std::string(kConvert) + " -size 61x37 -seed 3 plasma: -depth 8 -compress lzw -define tiff:endian=msb " +
                             Quote(lzwMm), nullptr), 0);
    ASSERT_EQ(RunCommand(std::string(kConvert) + " -size 61x37 -seed 3 plasma: -depth 8 " + Quote(bmp), nullptr), 0);
    // A source's own Deflate and JPEG strips are the target's.
    std::string zip = dir.File("zip.tif"), jpeg = dir.File("jpeg.tif");
    ASSERT_EQ(RunCommand(std::string(kConvert) + " " + Quote(bmp) + " -compress zip " + Quote(zip), nullptr), 0);
    ASSERT_EQ(RunCommand(std::string(kConvert) + " " + Quote(bmp) + " -compress jpeg " + Quote(jpeg), nullptr), 0);
    // The same Deflate strips under the code of older writers, 32946, which
    // the writer stores as 8.
    std::string oldZip = dir.File("old-zip.tif");
    {
        std::vector<uint8_t> bytes = ReadBytes(zip);
        TiffDirectory d;
        ASSERT_TRUE(ParseTiffDirectory(bytes, &d) && d.little);
        size_t entry = d.offset + 2 + 12 * (std::find(d.tags.begin(), d.tags.end(), 259) - d.tags.begin());
        bytes[entry + 8] = 0xB2, bytes[entry + 9] = 0x80;
        WriteBytes(oldZip, bytes);
    }
    struct Case {
        std::string source, options;
        int status;
        int32_t little, compression;
        int paths;  // -1: not checked
        double scale;
        bool thumbnail;
    } const cases[] = {
        {paths, "", 0, 0, 1, 2, 1.0, true},
        {paths, "--compression lzw --byte-order ii --no-thumbnail --width 100", 0, 1, 5, 2, 0.5, false},
        {lzwMm, "--mode cmyk --width 30", 0, 0, 5, -1, 1.0, true},
        {bmp, "", 0, 1, 1, -1, 1.0, true},
        {bmp, "--compression packbits --byte-order mm", 0, 0, 32773, -1, 1.0, true},
        {bmp, "--compression deflate --byte-order mm", 0, 0, 8, -1, 1.0, true},
        {bmp, "--compression jpeg --quality 90", 0, 1, 7, -1, 1.0, true},
        {zip, "--width 40", 0, 1, 8, -1, 1.0, true},
        {jpeg, "", 0, 1, 7, -1, 1.0, true},
        {oldZip, "", 0, 1, 8, -1, 1.0, true},
        {bmp, "--compression zip", 2, 0, 0, -1, 1.0, false},
        {bmp, "--byte-order be", 2, 0, 0, -1, 1.0, false},
    };
    for (const Case& c : cases) {
        std::string target = dir.File("out.tif");
        remove(target.c_str());
        int status = -1;
        Tool("convert " + c.options + " " + Quote(c.source) + " " + Quote(target), &status);
        ASSERT_EQ(status, c.status) << c.options;
        if (c.status) continue;
        EXPECT_EQ(RunCommand("/usr/bin/tiffinfo -D " + Quote(target) + " 2>&1 >/dev/null | grep -q .", nullptr), 1);
        CTiffIO out(target.c_str());
        ASSERT_EQ(ReadTiff(out, target), 1) << c.options;
        EXPECT_EQ(out.IntelByteOrder, c.little) << c.options;
        EXPECT_EQ(out.Compression, c.compression) << c.options;
        static const std::map<int32_t, std::string> kNames = {
            {1, "none"}, {5, "lzw"}, {7, "jpeg"}, {8, "deflate"}, {32773, "packbits"}};
        std::string info = Tool("info --json " + Quote(target), &status);
        EXPECT_NE(info.find("\"compression\": \"" + kNames.at(c.compression) + "\""), std::string::npos) << info;
        EXPECT_EQ(out.GetPosOfPrevData() > 0, c.thumbnail) << c.options;
        if (c.paths < 0) continue;
        CTiffIO in(c.source.c_str());
        ASSERT_EQ(ReadTiff(in, c.source), 1);
        ASSERT_EQ(out.PathCount, c.paths) << c.options;
        for (int p = 0; p < c.paths; ++p)
            for (uint32_t j = 0; j < ClipPathNodeCount(in.Paths[p]); ++j) {
                ClipPathNode a = GetClipPathNode(in.Paths[p], j), b = GetClipPathNode(out.Paths[p], j);
                EXPECT_NEAR(a.X * c.scale, b.X, 0.001) << c.options;
                EXPECT_NEAR(a.C1y * c.scale, b.C1y, 0.001) << c.options;
            }
    }
}

}  // namespace
