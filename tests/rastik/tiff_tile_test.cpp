// Tiled TIFF files: hand-made tiles of any size (odd ones, ones larger than
// the image, rows that end inside a byte) read as the same image in strips,
// whole with heap and spilled planes and on several threads, reduced and as
// a preview; libtiff's tiles in every compression read as ImageMagick reads
// them (JPEG within 45 dB).
#include <gtest/gtest.h>

#include "TestUtil.h"
#include "jpeg_util.h"
#include "rastik/CTiffIO.h"
#include "rastik/Exports.h"
#include "rastik/General.h"
#include "rastik/core/CReducedSampler.h"
#include "tiff_strip_files.h"
#include "tiff_util.h"

using namespace testutil;

namespace {

struct Case {
    const char* what;
    uint32_t width, height;
    uint16_t bits, samples, photometric;
    uint32_t tileWidth, tileLength;
    bool planar, little;
};

const Case kCases[] = {
    {"grey 5 x 4 tiles", 13, 11, 8, 1, 1, 5, 4, false, true},
    {"rgb, one tile past both edges", 13, 11, 8, 3, 2, 16, 16, false, false},
    {"bilevel 10 x 3 tiles", 19, 9, 1, 1, 0, 10, 3, false, true},
    {"grey4 3 x 2 tiles", 17, 5, 4, 1, 1, 3, 2, false, false},
    {"rgb16 4 x 4 tiles", 9, 7, 16, 3, 2, 4, 4, false, false},
    {"rgba planar 4 x 5 tiles", 11, 9, 8, 4, 2, 4, 5, true, true},
    {"grey16 planar, one column of tiles", 6, 23, 16, 1, 1, 8, 2, true, false},
};

std::vector<uint8_t> Pattern(size_t n)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 29 + i / 5);
    return v;
}

// The interleaved rows of a case and the same samples plane after plane.
void Images(const Case& c, std::vector<uint8_t>& interleaved, std::vector<uint8_t>& planes)
{
    const size_t rowBytes = (size_t(c.width) * c.bits * c.samples + 7) / 8;
    interleaved = Pattern(rowBytes * c.height);
    planes.clear();
    const size_t sampleBytes = c.bits / 8;
    for (uint32_t s = 0; s < c.samples && sampleBytes; ++s)
        for (size_t px = 0; px < size_t(c.width) * c.height; ++px)
            for (size_t b = 0; b < sampleBytes; ++b)
                planes.push_back(interleaved[(px * c.samples + s) * sampleBytes + b]);
}

struct Reads {
    std::vector<std::vector<uint8_t>> whole, reduced;
    std::vector<uint8_t> preview;
};

Reads ReadAll(const std::string& path, bool spill, uint32_t threads)
{
    Reads r;
    const uint32_t before = GetRastikThreads();
    SetRastikThreads(threads);
    {
        MemorySettings memory(spill, 700);
        CTiffIO codec(path.c_str());
        EXPECT_EQ(ReadTiff(codec, path), 1);
        for (uint32_t k = 0; k < codec.ChannelCount; ++k) r.whole.push_back(PlaneBytes(codec, k));
    }
    SetRastikThreads(before);
    CTiffIO codec(path.c_str());
    EXPECT_EQ(OpenAndReadHead(codec, path.c_str()), 1);
    const uint32_t w = codec.Width / 2 + 1, h = codec.Height / 3 + 1;
    r.reduced.assign(4, std::vector<uint8_t>(size_t(BytesPerRow(w * 8)) * h));
    uint8_t* p[4] = {r.reduced[0].data(), r.reduced[1].data(), r.reduced[2].data(), r.reduced[3].data()};
    EXPECT_EQ(codec.ReadReducedData(w, h, p), 1);
    CTiffIO again(path.c_str());
    EXPECT_EQ(OpenAndReadHead(again, path.c_str()), 1);
    uint32_t pw = 0, ph = 0;
    uint8_t* preview = nullptr;
    EXPECT_EQ(again.ReadPrevImageData(pw, ph, preview), 1);
    if (preview) r.preview.assign(preview, preview + size_t(BytesPerRow(pw * 24)) * ph);
    FreeBuffer(&preview);
    return r;
}

TEST(TiffTiles, ReadAsTheSameImageInStrips)
{
    for (const Case& c : kCases) {
        std::vector<uint8_t> interleaved, planes;
        Images(c, interleaved, planes);
        TempDir dir;
        const std::string strips = dir.File("strips.tif"), tiles = dir.File("tiles.tif");
        WriteBytes(strips, MakeTiff(PlainTiff(c.width, c.height, c.bits, c.samples, c.photometric, interleaved, 3, c.little)));
        WriteBytes(tiles, MakeTiff(TiledTiff(c.width, c.height, c.bits, c.samples, c.photometric,
                                             c.planar ? planes : interleaved, c.tileWidth, c.tileLength, c.planar,
                                             c.little)));
        const Reads expected = ReadAll(strips, false, 1);
        for (bool spill : {false, true})
            for (uint32_t threads : {1u, 3u}) {
                SCOPED_TRACE(std::string(c.what) + (spill ? " spilled " : " ") + std::to_string(threads));
                Reads got = ReadAll(tiles, spill, threads);
                EXPECT_TRUE(got.whole == expected.whole);
                EXPECT_TRUE(got.reduced == expected.reduced);
                EXPECT_TRUE(got.preview == expected.preview);
            }
    }
}

// A reduced read decodes only the bands holding rows it takes: the tiles
// of every other band are not LZW data, which fails the whole read.
TEST(TiffTiles, ReducedReadsDecodeOnlyTheBandsTheyTake)
{
    const uint32_t w = 9, h = 40, tileWidth = 8, tileLength = 4, reduced = 3;
    std::vector<uint8_t> pixels = Pattern(size_t(w) * h);
    TiffFixture f = TiledTiff(w, h, 8, 1, 1, pixels, tileWidth, tileLength);
    f.entries[3].values = {5};
    std::vector<bool> taken(h / tileLength);
    for (uint32_t row : CReducedSampler::Positions(h, reduced)) taken[row / tileLength] = true;
    for (size_t t = 0; t < f.strips.size(); ++t) {
        std::vector<uint32_t> codes = {256};
        codes.insert(codes.end(), f.strips[t].begin(), f.strips[t].end());
        codes.push_back(257);
        f.strips[t] = taken[t / 2] ? LzwCodes(codes) : std::vector<uint8_t>(8, 0);
    }
    TempDir dir;
    const std::string path = dir.File("t.tif");
    WriteBytes(path, MakeTiff(f));
    CTiffIO whole(path.c_str());
    EXPECT_EQ(ReadTiff(whole, path), 0);
    CTiffIO codec(path.c_str());
    ASSERT_EQ(OpenAndReadHead(codec, path.c_str()), 1);
    std::vector<uint8_t> plane(size_t(BytesPerRow(w * 8)) * reduced);
    uint8_t* planes[1] = {plane.data()};
    ASSERT_EQ(codec.ReadReducedData(w, reduced, planes), 1);
    std::vector<uint32_t> rows = CReducedSampler::Positions(h, reduced);
    for (uint32_t i = 0; i < reduced; ++i) EXPECT_EQ(plane[i * BytesPerRow(w * 8) + 3], pixels[rows[i] * w + 3]);
}

// Sources of odd sizes whose tiles end inside the image on both edges,
// written by libtiff in every compression the reader takes.
class TiffTiledFiles : public MadeFilesTest<TiffTiledFiles> {
public:
    static void MakeFiles(MadeFiles& made)
    {
        const std::vector<std::string> kCodings = {
            "-t -w 64 -l 48 -c none", "-t -w 64 -l 48 -c lzw:2", "-t -w 32 -l 16 -c zip", "-t -w 64 -l 48 -c packbits",
            "-t -w 48 -l 32 -c lzma:2", "-t -w 64 -l 64 -c zstd", "-t -w 64 -l 48 -c jpeg",
            "-t -w 64 -l 48 -c lzw -p separate", "-t -w 16 -l 16 -B -c zip:2 -p separate", "-t -w 64 -l 48 -c jpeg:r -p separate"};
        made.Make({"-size 157x101 -seed 3 plasma:", "-size 101x75 -seed 4 plasma: -colorspace gray"}, "-depth 8",
                  kCodings);
        made.Make({"-size 157x101 -seed 3 plasma: -alpha set -channel A -fx 'j/h' +channel"}, "-depth 8",
                  {"-t -w 64 -l 48 -c webp", "-t -w 32 -l 32 -c lzw"});
        made.Make({"-size 301x77 -seed 5 plasma: -monochrome"}, "-type bilevel -depth 1",
                  {"-t -w 64 -l 48 -c g4", "-t -w 128 -l 16 -c g3:2d:fill -f lsb2msb", "-t -w 16 -l 64 -c none"});
    }
};

TEST_F(TiffTiledFiles, ReadAsImageMagick)
{
    EXPECT_GE(s_made->files.size(), 25u);
    for (const MadeFile& m : s_made->files) {
        CTiffIO codec(m.path.c_str());
        ASSERT_EQ(ReadTiff(codec, m.path), 1) << m.what;
        RgbImage theirs;
        ASSERT_TRUE(DecodeWithConvertBmp(m.path, &theirs)) << m.what;
        RgbImage mine = PlanesToRgb(codec);
        if (m.what.find("jpeg") != std::string::npos) {
            ASSERT_EQ(mine.rgb.size(), theirs.rgb.size()) << m.what;
            EXPECT_GE(jpegtest::Psnr(mine.rgb, theirs.rgb), 45) << m.what;
        } else {
            EXPECT_EQ(MaxDifference(mine, theirs), 0) << m.what;
        }
    }
}

}  // namespace
