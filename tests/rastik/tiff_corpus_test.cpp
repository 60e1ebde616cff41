// TIFF files of other software: every corpus file either reads as libtiff
// decodes it or is refused cleanly; files made with ImageMagick and libtiff's
// tiffcp in every compression, byte order and layout the reader takes decode
// as libtiff does. Two oracles per file: libtiff's RGBA rendering
// (tiff2rgba), and its samples (tiffcp to an uncompressed interleaved copy),
// which must equal the planes exactly.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <map>

#include "TestUtil.h"
#include "rastik/CTiffIO.h"
#include "rastik/General.h"
#include "rastik/core/CReducedSampler.h"
#include "tiff_util.h"

using namespace testutil;

namespace {

// Corpus files the reader takes, with the largest difference allowed from
// libtiff's rendering: 16-bit samples are rounded by libtiff and cut to
// their high byte here; -1: associated alpha, which libtiff renders divided
// out, so only the samples are compared. Every other corpus file must be
// refused.
const std::map<std::string, int> kReadable = {
    {"32bpp-None-jpeg.tiff", 0},        {"32bpp-None.tiff", -1},         {"deflate-last-strip-extra-data.tiff", 0},
    {"webp_lossless_rgba_alpha_fully_opaque.tif", 0},         {"custom_dir_EXIF_GPS.tiff", 0},
    {"lzw-single-strip.tiff", 0},       {"minisblack-1c-16b.tiff", 1},   {"minisblack-1c-8b.tiff", 0},
    {"minisblack-2c-8b-alpha.tiff", -1}, {"miniswhite-1c-1b.tiff", 0},   {"palette-1c-1b.tiff", 0},
    {"palette-1c-4b.tiff", 0},          {"palette-1c-8b.tiff", 0},       {"quad-lzw-compat.tiff", 0},
    {"rgb-3c-16b.tiff", 1},             {"rgb-3c-8b.tiff", 0},           {"test_ifd_loop_subifd.tif", 0},
    {"test_ifd_loop_to_first.tif", 0},  {"test_ifd_loop_to_self.tif", 0}, {"test_two_ifds.tif", 0},
    {"testfax4.tiff", 0},               {"quad-tile.jpg.tiff", 0},      {"tiff_with_subifd_chain.tif", 0},
};

// Damaged fax files libtiff gives up on (a strip that stops at a fault,
// rows whose runs pass the width) and that this reader decodes as far as
// their codes go, with the CRC-32 of the planes it reads (a page checked by
// eye once).
const std::map<std::string, uint32_t> kDecodedPastFaults = {
    {"testfax3_bug54_1dnoEOL.tif", 3294419019u},
    {"testfax3_bug_513.tiff", 3396171831u},
};

// Corpus files libtiff's tools cannot render (floating point samples),
// compared with ImageMagick's reading.
const char* const kAsImageMagick[] = {"test_float64_predictor2_be_lzw.tif", "test_float64_predictor2_le_lzw.tif",
                                      "logluv-3c-16b.tiff"};
// Old-style JPEG files (strips, and a tile), which PIL shows as libtiff
// converts them (ImageMagick shows two with their YCbCr samples as RGB and
// cannot read the third).
const char* const kAsPil[] = {"ojpeg_chewey_subsamp21_multi_strip.tiff", "ojpeg_single_strip_no_rowsperstrip.tiff",
                              "ojpeg_zackthecat_subsamp22_single_strip.tiff"};

uint32_t PlanesCrc(CTiffIO& codec)
{
    uLong crc = crc32(0, nullptr, 0);
    for (uint32_t c = 0; c < codec.ChannelCount; ++c) {
        std::vector<uint8_t> plane = PlaneBytes(codec, c);
        crc = crc32(crc, plane.data(), static_cast<uInt>(plane.size()));
    }
    return static_cast<uint32_t>(crc);
}

bool SamePlanes(CTiffIO& a, CTiffIO& b)
{
    if (a.Width != b.Width || a.Height != b.Height || a.ChannelCount != b.ChannelCount) return false;
    for (uint32_t c = 0; c < a.ChannelCount; ++c)
        if (PlaneBytes(a, c) != PlaneBytes(b, c)) return false;
    return true;
}

// A reduced read takes the samples of the whole image at the rows and
// columns the sampler picks.
void ExpectReducedAsWhole(const std::string& path, CTiffIO& whole, const std::string& what)
{
    uint32_t w = whole.Width / 2 + 1, h = whole.Height / 3 + 1;
    CTiffIO codec(path.c_str());
    ASSERT_EQ(OpenAndReadHead(codec, path.c_str()), 1) << what;
    uint32_t stride = BytesPerRow(w * 8);
    std::vector<std::vector<uint8_t>> planes(codec.ChannelCount, std::vector<uint8_t>(size_t(stride) * h));
    std::vector<uint8_t*> pointers;
    for (auto& p : planes) pointers.push_back(p.data());
    ASSERT_EQ(codec.ReadReducedData(w, h, pointers.data()), 1) << what;
    bool colour = codec.ColorMode == kModeRgb || codec.ColorMode == kModeCmyk;
    std::vector<uint32_t> rows = CReducedSampler::Positions(whole.Height, h);
    std::vector<uint32_t> columns = CReducedSampler::Positions(whole.Width, w);
    for (uint32_t k = 0; k < (colour ? codec.ColorChannels : 1); ++k) {
        std::vector<uint8_t> full = PlaneBytes(whole, k);
        for (size_t i = 0; i < rows.size(); ++i)
            for (size_t j = 0; j < columns.size(); ++j)
                ASSERT_EQ(planes[k][i * stride + j], full[size_t(rows[i]) * whole.Width + columns[j]])
                    << what << " plane " << k << " at " << i << "," << j;
    }
}

// Checks a file against both oracles; tolerance as in kReadable. The
// samples oracle keeps the file's plane layout (libtiff cannot interleave
// planes of compressed data) in strips; libtiff renders that copy, as its
// rendering of 16-bit grey tiles differs from the same samples in strips.
void ExpectAsLibtiff(const std::string& path, int tolerance, const std::string& what)
{
    CTiffIO codec(path.c_str());
    ASSERT_EQ(ReadTiff(codec, path), 1) << what;
    ExpectReducedAsWhole(path, codec, what);
    TempDir dir;
    std::string plain = dir.File("plain.tif");
    ASSERT_EQ(RunCommand("/usr/bin/tiffcp -c none -s " + Quote(path) + " " + Quote(plain) + " 2>/dev/null", nullptr), 0)
        << what;
    CTiffIO reference(plain.c_str());
    ASSERT_EQ(ReadTiff(reference, plain), 1) << what;
    EXPECT_TRUE(SamePlanes(codec, reference)) << what;
    if (tolerance < 0 || codec.ColorMode == kModeCmyk) return;
    RgbImage theirs;
    ASSERT_TRUE(DecodeWithTiff2Rgba(plain, &theirs)) << what;
    int diff = MaxDifference(PlanesToRgb(codec), theirs);
    EXPECT_GE(diff, 0) << what;
    EXPECT_LE(diff, tolerance) << what;
}

// The planes of a file as ImageMagick shows it (its conversion to BMP,
// which rounds through its 16-bit quantum), whole and reduced.
void ExpectAsImageMagick(const std::string& path, const std::string& what)
{
    CTiffIO codec(path.c_str());
    ASSERT_EQ(ReadTiff(codec, path), 1) << what;
    ExpectReducedAsWhole(path, codec, what);
    TempDir dir;
    std::string bmp = dir.File("im.bmp");
    ASSERT_EQ(RunCommand(std::string(kConvert) + " " + Quote(path) + " " + Quote(bmp) + " 2>/dev/null", nullptr), 0);
    RgbImage theirs;
    ASSERT_TRUE(DecodeWithConvert(bmp, &theirs)) << what;
    EXPECT_EQ(MaxDifference(PlanesToRgb(codec), theirs), 0) << what;
}

// The planes of a file as PIL shows it, whole and reduced.
void ExpectAsPil(const std::string& path, const std::string& what)
{
    CTiffIO codec(path.c_str());
    ASSERT_EQ(ReadTiff(codec, path), 1) << what;
    ExpectReducedAsWhole(path, codec, what);
    RgbImage theirs;
    ASSERT_TRUE(DecodeWithPil(path, &theirs)) << what;
    EXPECT_EQ(MaxDifference(PlanesToRgb(codec), theirs), 0) << what;
}

TEST(TiffCorpus, ReadsAsLibtiffOrRefuses)
{
    std::string dir = CorpusDir("tiff");
    if (dir.empty()) GTEST_SKIP() << "no ../shared/corpus/tiff";
    if (!HasTiffTools()) GTEST_SKIP() << "libtiff tools missing";
    for (const std::string& path : ListFiles(dir, "", "")) {
        std::string name = path.substr(path.rfind('/') + 1);
        if (auto damaged = kDecodedPastFaults.find(name); damaged != kDecodedPastFaults.end()) {
            CTiffIO codec(path.c_str());
            ASSERT_EQ(ReadTiff(codec, path), 1) << name;
            EXPECT_EQ(PlanesCrc(codec), damaged->second) << name;
            continue;
        }
        if (std::find(std::begin(kAsImageMagick), std::end(kAsImageMagick), name) != std::end(kAsImageMagick)) {
            ExpectAsImageMagick(path, name);
            continue;
        }
        if (std::find(std::begin(kAsPil), std::end(kAsPil), name) != std::end(kAsPil)) {
            if (HasPil()) ExpectAsPil(path, name);
            continue;
        }
        auto known = kReadable.find(name);
        if (known != kReadable.end()) {
            ExpectAsLibtiff(path, known->second, name);
            continue;
        }
        CTiffIO codec(path.c_str());
        EXPECT_EQ(ReadTiff(codec, path), 0) << name;
    }
}

// Source images (ImageMagick options; 61 x 37 so that 1- and 4-bit rows
// end inside a byte), and libtiff's rewrites of them.
struct Source {
    const char* name;
    const char* options;
    bool whiteIsZero;  // negated, then marked white-is-zero
    bool wide;         // 8 or 16 bits: horizontal differencing applies
    int tolerance;     // as in kReadable; -1: alpha, which libtiff composes
};

const Source kSources[] = {
    {"rgb8", "-depth 8", false, true, 0},
    {"rgb16", "-depth 16", false, true, 1},
    {"grey8", "-colorspace gray -depth 8", false, true, 0},
    {"grey16", "-colorspace gray -depth 16", false, true, 1},
    {"grey4", "-colorspace gray -depth 4", false, false, 0},
    {"bilevel", "-monochrome -depth 1", false, false, 0},
    {"palette8", "-colors 200 -type palette -depth 8", false, true, 0},
    {"palette4", "-colors 16 -type palette -depth 4", false, false, 0},
    {"white8", "-colorspace gray -negate -depth 8", true, true, 0},
    {"white4", "-colorspace gray -negate -depth 4", true, false, 0},
    {"white1", "-monochrome -negate -depth 1", true, false, 0},
    {"rgba", "-alpha set -channel A -fx 'i/w' +channel -depth 8", false, true, -1},
    {"cmyk", "-colorspace cmyk -depth 8", false, true, 0},
};

// The source itself is uncompressed, interleaved, in the host's byte order.
const char* const kRewrites[] = {
    "-c lzw",         "-L -c packbits -r 1",   "-B -c lzw:2 -r 7", "-f lsb2msb -c packbits -r 3",
    "-p separate -c none -r 4", "-p separate -B -c lzw:2", "-c zip -r 5", "-B -c zip:2 -r 3",
    // Fax codings, for bilevel images only.
    "-c g3 -r 5", "-c g3:2d -r 9", "-c g3:fill -f lsb2msb", "-c g3:2d:fill", "-c g4 -r 4", "-f lsb2msb -c g4",
    // JPEG (YCbCr subsampled 2 x 2, and RGB), for 8-bit grey, RGB and CMYK.
    "-c jpeg -r 16", "-B -c jpeg:r:60 -r 8",
    "-c lzma:2 -r 6", "-B -c zstd:2 -r 4", "-c zstd -r 9",
    // WebP, for 8-bit RGB and RGBA.
    "-c webp -r 16",
    // Tiles, cut at the right and bottom edges.
    "-t -w 16 -l 16 -c lzw", "-B -t -w 32 -l 16 -c zip:2", "-p separate -t -w 16 -l 32 -c packbits",
    "-t -w 16 -l 16 -c g4", "-t -w 32 -l 16 -c jpeg",
    // JPEG planes, each a grey stream.
    "-p separate -c jpeg:r -r 8", "-p separate -t -w 16 -l 16 -c jpeg:r",
};

bool Takes(const Source& s, const std::string& rewrite)
{
    if (rewrite.find(":2") != std::string::npos && !s.wide) return false;
    if (rewrite.find("-c g") != std::string::npos) return std::string(s.options).ends_with("-depth 1");
    const std::string name = s.name;
    if (rewrite.find("jpeg") != std::string::npos) return name == "rgb8" || name == "grey8" || name == "cmyk";
    if (rewrite.find("webp") != std::string::npos) return name == "rgb8" || name == "rgba";
    return true;
}

TEST(TiffCorpus, LibtiffRewritesReadAsLibtiff)
{
    if (!HasTiffTools() || !HasConvert()) GTEST_SKIP() << "libtiff tools or ImageMagick missing";
    TempDir dir;
    for (const Source& s : kSources) {
        std::string source = dir.File(std::string(s.name) + ".tif");
        std::string make = std::string(kConvert) + " -size 61x37 -seed 3 plasma: " + s.options + " -compress none " +
                           Quote(source) + (s.whiteIsZero ? " && /usr/bin/tiffset -s 262 0 " + Quote(source) : "");
        ASSERT_EQ(RunCommand(make + " 2>/dev/null", nullptr), 0) << s.name;
        ExpectAsLibtiff(source, s.tolerance, s.name);
        for (const char* rewrite : kRewrites) {
            std::string options(rewrite);
            if (!Takes(s, options)) continue;
            std::string out = dir.File("out.tif");
            // libtiff separates planes of 8-bit samples only.
            bool separate = options.find("separate") != std::string::npos;
            int made = RunCommand("/usr/bin/tiffcp " + options + " " + Quote(source) + " " + Quote(out) + " 2>/dev/null",
                                  nullptr);
            if (separate && made != 0) continue;
            ASSERT_EQ(made, 0) << s.name << " " << options;
            ExpectAsLibtiff(out, s.tolerance, std::string(s.name) + " " + options);
        }
    }
}

// Modified Huffman files (compression 2), written through libtiff by PIL,
// in both photometric senses and both fill orders.
TEST(TiffCorpus, ModifiedHuffmanReadsAsLibtiff)
{
    if (!HasTiffTools() || !HasConvert() || !HasPil()) GTEST_SKIP() << "libtiff tools, ImageMagick or PIL missing";
    TempDir dir;
    std::string source = dir.File("page.png");
    ASSERT_EQ(RunCommand(std::string(kConvert) + " -size 1811x45 -seed 5 plasma: -monochrome " + Quote(source), nullptr), 0);
    std::string file = dir.File("mh.tif");
    std::string save = std::string(kSystemPython) +
                       " -c \"import sys; from PIL import Image; Image.open(sys.argv[1]).convert('1')"
                       ".save(sys.argv[2], compression='tiff_ccitt')\" " +
                       Quote(source) + " " + Quote(file);
    const std::string kThen[] = {"", " && /usr/bin/tiffset -s 262 0 " + Quote(file),
                                 " && /usr/bin/tiffcp -f lsb2msb " + Quote(file) + " " + Quote(file + "2") + " && mv " +
                                     Quote(file + "2") + " " + Quote(file)};
    for (const std::string& then : kThen) {
        ASSERT_EQ(RunCommand(save + then + " 2>/dev/null", nullptr), 0) << then;
        ExpectAsLibtiff(file, 0, "MH" + then);
    }
}

}  // namespace

namespace {

// Sample depths and formats as ImageMagick writes them (with Deflate and
// both predictors), read as ImageMagick reads them.
TEST(TiffCorpus, SampleDepthsReadAsImageMagick)
{
    if (!HasConvert()) GTEST_SKIP() << "ImageMagick missing";
    const char* const kFloat = "-define quantum:format=floating-point ";
    const std::string kCases[] = {
        "-colorspace gray -depth 2",
        "-colors 4 -type palette -depth 2",
        "-colorspace gray -depth 12",
        "-depth 12",
        "-depth 32 -compress zip -define tiff:predictor=2",
        "-colorspace gray -depth 32",
        std::string(kFloat) + "-depth 16",
        std::string(kFloat) + "-depth 24",
        std::string(kFloat) + "-depth 32 -compress lzw -define tiff:predictor=3",
        std::string(kFloat) + "-depth 64",
        std::string(kFloat) + "-colorspace gray -depth 32 -compress zip -define tiff:predictor=3",
        std::string(kFloat) + "-depth 16 -compress zip -define tiff:predictor=3",
        std::string(kFloat) + "-depth 64 -compress zip -define tiff:predictor=3 -endian msb",
        "-colorspace Lab -depth 8",
        "-colorspace Lab -depth 16 -compress lzw -endian msb",
        "-colorspace Lab -depth 8 -compress none -define tiff:rows-per-strip=5",
        // In tiles.
        "-colors 4 -type palette -depth 2 -define tiff:tile-geometry=16x16",
        "-colorspace gray -depth 12 -define tiff:tile-geometry=16x16",
        std::string(kFloat) + "-depth 32 -compress zip -define tiff:predictor=3 -define tiff:tile-geometry=16x16",
    };
    TempDir dir;
    std::string source = dir.File("source.png");
    ASSERT_EQ(RunCommand(std::string(kConvert) + " -size 61x37 -seed 3 plasma: " + Quote(source), nullptr), 0);
    for (const std::string& options : kCases) {
        std::string file = dir.File("s.tif");
        std::string make = std::string(kConvert) + " " + Quote(source) + " " + options + " " + Quote(file);
        ASSERT_EQ(RunCommand(make + " 2>/dev/null", nullptr), 0) << options;
        ExpectAsImageMagick(file, options);
    }
}

}  // namespace

namespace {

// Colour samples stored multiplied by their alpha read divided by it, as
// PIL shows them.
TEST(TiffCorpus, AssociatedAlphaIsDividedOutAsPil)
{
    std::string dir = CorpusDir("tiff");
    if (dir.empty() || !HasPil()) GTEST_SKIP() << "no ../shared/corpus/tiff or PIL";
    for (const char* name : {"32bpp-None.tiff"}) {
        std::string path = dir + "/" + name;
        CTiffIO codec(path.c_str());
        ASSERT_EQ(ReadTiff(codec, path), 1) << name;
        RgbImage theirs;
        ASSERT_TRUE(DecodeWithPil(path, &theirs)) << name;
        EXPECT_EQ(MaxDifference(PlanesToRgb(codec), theirs), 0) << name;
    }
}

}  // namespace
