// Every kind of TIFF file the writer makes, checked by outside readers:
// libtiff (tiffinfo -D without a warning, tiffcp -c none read back into the
// same planes), PIL and ImageMagick (the same pixels); JPEG files decoded
// alike by them and by this reader; a 20000-pixel-wide LZW image; clip
// paths as ImageMagick sees them. Skips when a tool is missing.
#include <gtest/gtest.h>

#include <random>

#include "TestUtil.h"
#include "rastik/CTiffIO.h"
#include "rastik/ClipPath.h"
#include "rastik/General.h"
#include "tiff_util.h"

using namespace testutil;

namespace {

constexpr uint32_t kWidth = 45;
constexpr uint32_t kHeight = 31;

struct Kind {
    const char* name;
    uint32_t mode;
    uint32_t extra;
    bool streamed;
};

const Kind kKinds[] = {
    {"grey", kModeGrey, 0, false},     {"bilevel", kModeBitmap, 0, false}, {"indexed", kModeIndexed, 0, false},
    {"rgb", kModeRgb, 0, false},       {"rgba", kModeRgb, 1, false},       {"cmyk", kModeCmyk, 0, false},
    {"rgbStream", kModeRgb, 0, true}, {"cmykStream", kModeCmyk, 0, true},
};

// Streams the planes of image through the block writers in blocks of 8 rows.
int WriteStreamed(CTiffIO& image, const std::string& path)
{
    if (!image.File.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary)) return 0;
    std::vector<std::vector<uint8_t>> p;
    for (uint32_t c = 0; c < image.ChannelCount; ++c) p.push_back(PlaneBytes(image, c));
    int ok = image.WriteHeader();
    size_t w = image.Width;
    for (uint32_t row = 0; ok && row < image.Height; row += 8)
        ok = image.WriteRgbDataImage(&p[0][row * w], &p[1][row * w], &p[2][row * w], std::min(8u, image.Height - row));
    for (uint32_t row = 0; ok && image.ColorMode == kModeCmyk && row < image.Height; row += 8)
        ok = image.WriteKDataImage(&p[3][row * w], std::min(8u, image.Height - row));
    image.File.Abort();
    return ok;
}

struct Output {
    std::string name;
    std::string path;
    std::unique_ptr<CTiffIO> image;
};

// Every kind in every compression, byte order and plane storage.
std::vector<Output> WriteAll(const TempDir& dir)
{
    std::vector<Output> all;
    for (bool spilled : {false, true}) {
        MemorySettings settings(spilled, 700);
        for (const Kind& k : kKinds)
            for (int32_t compression : {1, 5, 32773, 8})
                for (bool little : {true, false}) {
                    if (k.streamed && compression != 1 && compression != 8) continue;
                    Output o;
                    o.name = std::string(k.name) + "-" + std::to_string(compression) + (little ? "-II" : "-MM") +
                             (spilled ? "-spilled" : "");
                    o.path = dir.File(o.name + ".tif");
                    o.image = MakeTiffImage(o.path, k.mode, kWidth, kHeight, k.extra);
                    if (!o.image) continue;
                    o.image->Compression = compression;
                    o.image->IntelByteOrder = little;
                    int ok = k.streamed ? WriteStreamed(*o.image, o.path) : WriteTiffFile(*o.image, o.path);
                    EXPECT_EQ(ok, 1) << o.name;
                    if (ok) all.push_back(std::move(o));
                }
    }
    return all;
}

bool ColourReader(uint32_t mode)
{
    // Outside readers turn CMYK into RGB each their own way.
    return mode != kModeCmyk;
}

TEST(TiffOracle, EveryKindPassesLibtiffPilAndImageMagick)
{
    if (!HasTiffTools()) GTEST_SKIP() << "libtiff tools missing";
    TempDir dir;
    std::vector<Output> all = WriteAll(dir);
    ASSERT_EQ(all.size(), 2u * (6 * 4 * 2 + 2 * 2 * 2));
    std::vector<std::string> paths;
    for (const Output& o : all) {
        std::vector<uint8_t> warnings;
        RunCommand("/usr/bin/tiffinfo -D " + Quote(o.path) + " 2>&1 >/dev/null", &warnings);
        EXPECT_EQ(std::string(warnings.begin(), warnings.end()), "") << o.name;
        std::string plain = o.path + ".none.tif";
        ASSERT_EQ(RunCommand("/usr/bin/tiffcp -c none " + Quote(o.path) + " " + Quote(plain) + " 2>&1", nullptr), 0);
        CTiffIO back(plain.c_str());
        ASSERT_EQ(ReadTiff(back, plain), 1) << o.name;
        EXPECT_EQ(ImageMismatch(*o.image, back), "") << o.name;
        paths.push_back(o.path);
    }
    if (HasPil()) {
        std::vector<RgbImage> decoded = DecodeAllWithPil(paths);
        for (size_t i = 0; i < all.size(); ++i) {
            if (!ColourReader(all[i].image->ColorMode)) continue;
            EXPECT_EQ(MaxDifference(decoded[i], PlanesToRgb(*all[i].image)), 0) << "PIL " << all[i].name;
        }
    }
    if (HasConvert()) {
        for (const Output& o : all) {
            if (!ColourReader(o.image->ColorMode) || o.name.find("-II") == std::string::npos) continue;
            RgbImage im;
            ASSERT_TRUE(DecodeWithConvert(o.path, &im, "TIFF")) << o.name;
            EXPECT_EQ(MaxDifference(im, PlanesToRgb(*o.image)), 0) << "ImageMagick " << o.name;
        }
    }
}

// This reader's planes of a file, as libtiff stores them uncompressed.
std::string LibtiffMismatch(CRastik& ours, const std::string& path)
{
    std::string plain = path + ".none.tif";
    if (RunCommand("/usr/bin/tiffcp -c none " + Quote(path) + " " + Quote(plain) + " 2>&1", nullptr) != 0)
        return "tiffcp failed";
    CTiffIO theirs(plain.c_str());
    if (ReadTiff(theirs, plain) != 1) return "unreadable tiffcp output";
    return ImageMismatch(ours, theirs);
}

TEST(TiffOracle, JpegStripsDecodeAlikeInLibtiffPilAndImageMagick)
{
    if (!HasTiffTools()) GTEST_SKIP() << "libtiff tools missing";
    struct Case {
        uint32_t mode, width, height;
        bool little, streamed;
    } const cases[] = {
        {kModeGrey, 45, 31, true, false}, {kModeRgb, 45, 31, false, false}, {kModeCmyk, 45, 31, true, false},
        {kModeGrey, 2500, 300, false, false}, {kModeRgb, 1200, 300, true, false},  // several strips
        {kModeRgb, 1200, 300, false, true}, {kModeCmyk, 1200, 100, true, true},
    };
    TempDir dir;
    for (const Case& c : cases) {
        std::string name = std::to_string(c.mode) + "-" + std::to_string(c.width) + (c.streamed ? "-streamed" : "");
        std::string path = dir.File(name + ".tif");
        auto image = MakeTiffImage(path, c.mode, c.width, c.height);
        image->Compression = 7;
        image->IntelByteOrder = c.little;
        ASSERT_EQ(c.streamed ? WriteStreamed(*image, path) : WriteTiffFile(*image, path), 1) << name;
        std::vector<uint8_t> warnings;
        RunCommand("/usr/bin/tiffinfo -D " + Quote(path) + " 2>&1 >/dev/null", &warnings);
        EXPECT_EQ(std::string(warnings.begin(), warnings.end()), "") << name;
        CTiffIO ours(path.c_str());
        ASSERT_EQ(ReadTiff(ours, path), 1) << name;
        EXPECT_EQ(LibtiffMismatch(ours, path), "") << name;
        if (!ColourReader(c.mode)) continue;
        RgbImage theirs;
        if (HasPil()) {
            ASSERT_TRUE(DecodeWithPil(path, &theirs)) << name;
            EXPECT_EQ(MaxDifference(theirs, PlanesToRgb(ours)), 0) << "PIL " << name;
        }
        if (HasConvert()) {
            ASSERT_TRUE(DecodeWithConvert(path, &theirs, "TIFF")) << name;
            EXPECT_EQ(MaxDifference(theirs, PlanesToRgb(ours)), 0) << "ImageMagick " << name;
        }
    }
}

TEST(TiffOracle, WideLzwImageIsIntactInLibtiff)
{
    if (!HasTiffTools()) GTEST_SKIP() << "libtiff tools missing";
    TempDir dir;
    std::string path = dir.File("wide.tif");
    // Noise: every strip's code stream is longer than 65,535 bytes.
    auto image = MakeTiffImage(path, kModeRgb, 20000, 6);
    std::mt19937 rng(11);
    std::vector<uint8_t> row(image->BytesPerLine);
    for (uint32_t c = 0; c < 3; ++c)
        for (uint32_t y = 0; y < 6; ++y) {
            for (uint8_t& b : row) b = static_cast<uint8_t>(rng());
            image->WritePlaneRow(c, y, row.data());
        }
    image->Compression = 5;
    ASSERT_EQ(WriteTiffFile(*image, path), 1);
    TiffDirectory d;
    ASSERT_TRUE(ParseTiffDirectory(ReadBytes(path), &d));
    EXPECT_GT(d[279].items[0], 65535u);
    RgbImage rgba;
    ASSERT_TRUE(DecodeWithTiff2Rgba(path, &rgba));
    EXPECT_EQ(MaxDifference(rgba, PlanesToRgb(*image)), 0);
}

TEST(TiffOracle, ImageMagickSeesTheClipPaths)
{
    if (!HasConvert()) GTEST_SKIP() << "ImageMagick missing";
    TempDir dir;
    std::string path = dir.File("p.tif");
    auto image = MakeTiffImage(path, kModeRgb, 300, 200);
    image->AllocPathSpace(1);
    auto* record = static_cast<uint32_t*>(malloc(ClipPathRecordBytes(3)));
    record[0] = 3;
    ClipPathNode n;
    n.X = 30, n.Y = 20;
    SetClipPathNode(record, 0, n);
    n.X = 270, n.Kind = kPathLine;
    SetClipPathNode(record, 1, n);
    n.Y = 180;
    SetClipPathNode(record, 2, n);
    image->AddPath(record);
    ASSERT_EQ(WriteTiffFile(*image, path), 1);
    std::vector<uint8_t> out;
    ASSERT_EQ(RunCommand("/usr/bin/identify -format '%[8BIM:1999,2998:#1]' " + Quote(path) + " 2>/dev/null", &out), 0);
    std::string svg(out.begin(), out.end());
    EXPECT_NE(svg.find("M 30 20"), std::string::npos) << svg;
    EXPECT_NE(svg.find("270 180"), std::string::npos) << svg;
}

}  // namespace
