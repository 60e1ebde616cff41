// Colour conversions against the outside decoders: CIELab of 8 and 16 bits
// against ImageMagick over sweeps of L*, a*, b*; the ICC and ITU encodings
// against the CIELab path they are defined by; uncompressed YCbCr of every
// subsampling, coefficients and reference range against libtiff's RGBA
// reading; associated alpha against PIL over every colour and alpha; SGI
// LogLuv and LogL strips against libtiff.
#include <gtest/gtest.h>

#include <random>

#include "TestUtil.h"
#include "TiffFixture.h"
#include "rastik/CTiffIO.h"
#include "rastik/tiff/CTiffLogLuvDecoder.h"
#include "rastik/tiff/CTiffYCbCrRows.h"
#include "rastik/tiff/TiffColourConvert.h"
#include "tiff_strip_files.h"
#include "tiff_util.h"

using namespace testutil;

namespace {

constexpr uint32_t kWidth = 512;

// The reader's planes of a file as RGB; empty when it does not read it.
std::vector<uint8_t> ReaderRgb(const std::string& path)
{
    CTiffIO codec(path.c_str());
    return ReadTiff(codec, path) == 1 ? PlanesToRgb(codec).rgb : std::vector<uint8_t>{};
}

// A one-strip file of pixels (spp samples of bits each, as stored) and
// ImageMagick's view of it as RGB.
bool ImageMagickRgb(const TempDir& dir, uint16_t bits, uint16_t spp, uint16_t photometric,
                    const std::vector<uint8_t>& data, bool little, std::vector<TiffEntry> extra, RgbImage* image)
{
    uint32_t height = uint32_t(data.size() / (kWidth * spp * (bits / 8)));
    TiffFixture f = PlainTiff(kWidth, height, bits, spp, photometric, data, height, little);
    for (TiffEntry& e : extra) f.entries.push_back(e);
    std::string path = dir.File("colour.tif");
    return WriteBytes(path, MakeTiff(f)) && DecodeWithConvertBmp(path, image) &&
           image->rgb.size() == size_t(kWidth) * height * 3;
}

void Put(std::vector<uint8_t>& out, uint32_t v, uint16_t bits, bool little)
{
    if (bits == 8) {
        out.push_back(uint8_t(v));
        return;
    }
    out.push_back(uint8_t(little ? v : v >> 8));
    out.push_back(uint8_t(little ? v >> 8 : v));
}

TEST(TiffColourConvert, CieLabAsImageMagick)
{
    if (!HasConvert() || !HasPil()) GTEST_SKIP() << "ImageMagick or PIL missing";
    struct Case {
        const char* what;
        uint16_t bits;
        bool little;
    };
    const Case kCases[] = {{"8-bit", 8, true}, {"16-bit", 16, true}, {"16-bit, big-endian", 16, false}};
    TempDir dir;
    std::mt19937 random(8);
    for (const Case& c : kCases) {
        std::vector<uint8_t> data;
        size_t pixels = 0;
        if (c.bits == 8) {
            for (uint32_t l = 0; l < 256; l += 3)
                for (uint32_t a = 0; a < 256; a += 5)
                    for (uint32_t b = 0; b < 256; b += 5, ++pixels)
                        for (uint32_t v : {l, a, b}) Put(data, v, 8, true);
        } else {
            for (; pixels < 40000; ++pixels)
                for (int k = 0; k < 3; ++k) Put(data, random() & 0xFFFF, 16, c.little);
        }
        for (; pixels % kWidth; ++pixels)
            for (int k = 0; k < 3; ++k) Put(data, 0, c.bits, c.little);
        RgbImage theirs;
        ASSERT_TRUE(ImageMagickRgb(dir, c.bits, 3, 8, data, c.little, {}, &theirs)) << c.what;
        std::vector<uint8_t> mine(pixels * 3);
        ASSERT_TRUE(tiff::LabRowToRgb(data.data(), mine.data(), pixels, 3, 8, c.bits, c.little));
        EXPECT_EQ(FirstDifference(mine, theirs.rgb, 3), "") << c.what;
        EXPECT_EQ(FirstDifference(ReaderRgb(dir.File("colour.tif")), theirs.rgb, 3), "") << c.what;
    }
}

// ImageMagick shows ICCLab and ITULab samples as RGB; they convert through
// the CIELab path from their own encodings.
TEST(TiffColourConvert, IccAndItuLabEncodings)
{
    struct Case {
        const char* what;
        uint32_t photometric, bits;
        uint32_t v[3];
        double lab[3];
    };
    const double kItuA = -85 * 256.0 / 255, kItuB = -75 * 256.0 / 255;
    const Case kCases[] = {
        {"ICC white", 9, 8, {255, 128, 128}, {100, 0, 0}},
        {"ICC colour", 9, 8, {100, 60, 200}, {100 * 100 / 255.0, -68, 72}},
        {"ICC 16-bit", 9, 16, {65280, 0x8000, 0x4080}, {100, 0, 0x4080 / 256.0 - 128}},
        {"ITU black", 10, 8, {0, 0, 0}, {0, kItuA, kItuB}},
        {"ITU colour", 10, 8, {255, 100, 200}, {100, kItuA + 100 * 170 / 255.0, kItuB + 200 * 200 / 255.0}},
        {"ITU 16-bit", 10, 16, {65535, 65535, 0}, {100, -85 * 65536.0 / 65535 + 170, -75 * 65536.0 / 65535}},
    };
    TempDir dir;
    std::string path = dir.File("lab.tif");
    for (const Case& c : kCases) {
        std::vector<uint8_t> data;
        for (uint32_t v : c.v) Put(data, v, uint16_t(c.bits), true);
        uint8_t mine[3], expected[3];
        ASSERT_TRUE(tiff::LabRowToRgb(data.data(), mine, 1, 3, c.photometric, c.bits, true)) << c.what;
        tiff::LabToRgb(c.lab[0], c.lab[1], c.lab[2], expected);
        EXPECT_EQ(std::vector<uint8_t>(mine, mine + 3), std::vector<uint8_t>(expected, expected + 3)) << c.what;
        // A file of the pixel, with an alpha sample after it, reads alike.
        Put(data, 77, uint16_t(c.bits), true);
        ASSERT_TRUE(WriteBytes(path, MakeTiff(PlainTiff(1, 1, uint16_t(c.bits), 4, uint16_t(c.photometric), data, 1))));
        EXPECT_EQ(ReaderRgb(path), std::vector<uint8_t>(expected, expected + 3)) << c.what;
    }
    // Decode ranges of the file replace the defaults.
    const double kDecode[6] = {0, 50, -10, 10, -20, 20};
    const uint8_t kMid[3] = {255, 0, 255};
    uint8_t mine[3], expected[3];
    ASSERT_TRUE(tiff::LabRowToRgb(kMid, mine, 1, 3, 10, 8, true, kDecode));
    tiff::LabToRgb(50, -10, 20, expected);
    EXPECT_EQ(std::vector<uint8_t>(mine, mine + 3), std::vector<uint8_t>(expected, expected + 3));
    TiffFixture f = PlainTiff(1, 1, 8, 3, 10, std::vector<uint8_t>(kMid, kMid + 3), 1);
    f.entries.push_back({433, 10, {0, 1, 50, 1, uint32_t(-10), 1, 10, 1, uint32_t(-20), 1, 20, 1}, {}});
    ASSERT_TRUE(WriteBytes(path, MakeTiff(f)));
    EXPECT_EQ(ReaderRgb(path), std::vector<uint8_t>(expected, expected + 3));
    uint8_t out[3];
    EXPECT_FALSE(tiff::LabRowToRgb(kMid, out, 1, 3, 8, 12, true));
    EXPECT_FALSE(tiff::LabRowToRgb(kMid, out, 1, 3, 2, 8, true));
}

// Uncompressed YCbCr files of random data units against tiff2rgba.
TEST(TiffColourConvert, YCbCrAsLibtiff)
{
    if (!HasTiffTools()) GTEST_SKIP() << "libtiff tools missing";
    struct Case {
        const char* what;
        uint32_t width, height, h, v, rowsPerStrip;
        std::vector<uint32_t> coefficients, blackWhite;  // rationals, pairs
    };
    const std::vector<uint32_t> kStudio = {16, 1, 235, 1, 128, 1, 240, 1, 128, 1, 240, 1};
    const Case kCases[] = {
        {"1x1", 64, 40, 1, 1, 40, {}, {}},
        {"2x1", 61, 37, 2, 1, 37, {}, {}},
        {"2x2, strips of 4 rows", 61, 37, 2, 2, 4, {}, {}},
        {"4x2", 63, 38, 4, 2, 38, {}, {}},
        {"4x4", 61, 37, 4, 4, 8, {}, {}},
        {"1x2", 33, 21, 1, 2, 21, {}, {}},
        {"2x2 studio range", 61, 37, 2, 2, 37, {}, kStudio},
        {"2x2 Rec. 709", 61, 37, 2, 2, 37, {2126, 10000, 7152, 10000, 722, 10000}, kStudio},
        {"odd coefficients and range", 40, 20, 2, 1, 20, {2990, 10000, 5870, 10000, 1140, 10000},
         {33, 2, 501, 2, 100, 1, 2003, 10, 120, 1, 250, 1}},
    };
    TempDir dir;
    std::mt19937 random(4);
    for (const Case& c : kCases) {
        uint32_t unitBytes = c.h * c.v + 2, perRow = (c.width + c.h - 1) / c.h;
        TiffFixture f;
        f.entries = {{256, 4, {c.width}, {}}, {257, 4, {c.height}, {}}, {258, 3, {8, 8, 8}, {}}, {259, 3, {1}, {}},
                     {262, 3, {6}, {}},       {277, 3, {3}, {}},        {278, 4, {c.rowsPerStrip}, {}},
                     {530, 3, {c.h, c.v}, {}}};
        if (!c.coefficients.empty()) f.entries.push_back({529, 5, c.coefficients, {}});
        if (!c.blackWhite.empty()) f.entries.push_back({532, 5, c.blackWhite, {}});
        for (uint32_t top = 0; top < c.height; top += c.rowsPerStrip) {
            uint32_t unitRows = (std::min(c.rowsPerStrip, c.height - top) + c.v - 1) / c.v;
            std::vector<uint8_t> strip(size_t(unitRows) * perRow * unitBytes);
            for (uint8_t& b : strip) b = uint8_t(random());
            f.strips.push_back(strip);
        }
        std::string path = dir.File("ycc.tif");
        ASSERT_TRUE(WriteBytes(path, MakeTiff(f)));
        RgbImage theirs;
        ASSERT_TRUE(DecodeWithTiff2Rgba(path, &theirs)) << c.what;
        std::vector<float> coefficients, blackWhite;
        for (size_t i = 0; i < c.coefficients.size(); i += 2)
            coefficients.push_back(float(double(c.coefficients[i]) / c.coefficients[i + 1]));
        for (size_t i = 0; i < c.blackWhite.size(); i += 2)
            blackWhite.push_back(float(double(c.blackWhite[i]) / c.blackWhite[i + 1]));
        CTiffYCbCrRows rows(c.width, c.h, c.v, coefficients.empty() ? nullptr : coefficients.data(),
                            blackWhite.empty() ? nullptr : blackWhite.data());
        ASSERT_TRUE(rows.Ok());
        std::vector<uint8_t> mine(size_t(c.width) * c.height * 3);
        for (uint32_t r = 0; r < c.height; ++r) {
            if (r % c.rowsPerStrip == 0) rows.Start(f.strips[r / c.rowsPerStrip].data(), f.strips[r / c.rowsPerStrip].size());
            EXPECT_TRUE(rows.DecodeRow(mine.data() + size_t(r) * rows.RowBytes())) << c.what;
        }
        EXPECT_EQ(FirstDifference(mine, theirs.rgb, 3), "") << c.what;
        EXPECT_EQ(FirstDifference(ReaderRgb(path), theirs.rgb, 3), "") << c.what;
        // The same entries at the other places a file may keep them: a LONG
        // subsampling pair (8 bytes, past the value field of a classic file,
        // within a BigTIFF's), BigTIFF offsets, the other byte order.
        for (int layout = 0; layout < 3; ++layout) {
            TiffFixture g = f;
            g.bigTiff = layout > 0;
            g.littleEndian = layout != 2;
            if (layout < 2)
                for (TiffEntry& e : g.entries)
                    if (e.tag == 530) e.type = 4;
            ASSERT_TRUE(WriteBytes(path, MakeTiff(g)));
            EXPECT_EQ(FirstDifference(ReaderRgb(path), theirs.rgb, 3), "") << c.what << ", layout " << layout;
        }
    }
}

// Data that ends inside a row of units: the units held convert, the rest
// of the row and the rows after it are black.
TEST(TiffColourConvert, YCbCrShortStrip)
{
    CTiffYCbCrRows rows(4, 2, 2, nullptr, nullptr);
    ASSERT_EQ(rows.UnitRowBytes(), 12u);
    const uint8_t kData[] = {255, 255, 255, 255, 128, 128, 10, 20};  // one unit of white, then a cut unit
    rows.Start(kData, sizeof kData);
    std::vector<uint8_t> rgb(rows.RowBytes());
    for (int r = 0; r < 3; ++r) {
        EXPECT_FALSE(rows.DecodeRow(rgb.data())) << r;
        uint8_t white = r < 2 ? 255 : 0;
        EXPECT_EQ(rgb, (std::vector<uint8_t>{white, white, white, white, white, white, 0, 0, 0, 0, 0, 0})) << r;
    }
    EXPECT_FALSE(CTiffYCbCrRows(4, 3, 1).Ok());
    EXPECT_FALSE(CTiffYCbCrRows(0, 2, 2).Ok());
}

// PIL's division of the colour of a file with associated alpha, from
// libtiff's RGBA reading (which keeps the colour multiplied; PIL itself
// reads RGB with alpha but not grey with alpha).
bool PilOfLibtiff(const std::string& path, RgbImage* image)
{
    TempDir dir;
    std::string rgba = dir.File("rgba.tif");
    return RunCommand("/usr/bin/tiff2rgba -c none " + Quote(path) + " " + Quote(rgba) + " 2>/dev/null", nullptr) == 0 &&
           DecodeWithPil(rgba, image);
}

// Every colour value over every alpha value, grey and RGB, and the corpus
// file of grey and alpha planes.
TEST(TiffColourConvert, AssociatedAlphaAsPil)
{
    if (!HasTiffTools() || !HasPil()) GTEST_SKIP() << "libtiff tools or PIL missing";
    TempDir dir;
    for (uint16_t spp : {2, 4}) {
        std::vector<uint8_t> data;
        for (uint32_t a = 0; a < 256; ++a)
            for (uint32_t c = 0; c < 256; ++c) {
                if (spp == 2)
                    data.insert(data.end(), {uint8_t(c), uint8_t(a)});
                else
                    data.insert(data.end(), {uint8_t(c), uint8_t(255 - c), uint8_t(c * 7), uint8_t(a)});
            }
        TiffFixture f = PlainTiff(256, 256, 8, spp, spp == 2 ? 1 : 2, data, 256);
        f.entries.push_back({338, 3, {1}, {}});
        std::string path = dir.File("alpha.tif");
        ASSERT_TRUE(WriteBytes(path, MakeTiff(f)));
        std::vector<uint8_t> mine = data;
        tiff::UnassociateAlpha(mine.data(), mine.size() / spp, spp, spp - 1, spp - 1);
        std::vector<uint8_t> colour;
        for (size_t i = 0; i < mine.size() / spp; ++i)
            for (uint32_t k = 0; k < 3; ++k) colour.push_back(mine[i * spp + (spp == 2 ? 0 : k)]);
        RgbImage theirs;
        ASSERT_TRUE(PilOfLibtiff(path, &theirs)) << spp;
        EXPECT_EQ(FirstDifference(colour, theirs.rgb, 3), "") << spp;
        if (spp == 4) {
            ASSERT_TRUE(DecodeWithPil(path, &theirs));
            EXPECT_EQ(FirstDifference(colour, theirs.rgb, 3), "") << "PIL";
        }
    }
    std::string corpus = CorpusDir("tiff");
    StripFile f;
    if (corpus.empty() || !LoadStripFile(corpus + "/minisblack-2c-8b-alpha.tiff", &f)) return;
    ASSERT_EQ(f.RowsPerStrip(), f.Height());
    std::vector<uint8_t> grey = DecodedStrip(f, 0, f.Width(), f.Height()), alpha = DecodedStrip(f, 1, f.Width(), f.Height());
    ASSERT_EQ(grey.size(), size_t(f.Width()) * f.Height());
    ASSERT_EQ(alpha.size(), grey.size());
    std::vector<uint8_t> pixels, colour;
    for (size_t i = 0; i < grey.size(); ++i) pixels.insert(pixels.end(), {grey[i], alpha[i]});
    tiff::UnassociateAlpha(pixels.data(), grey.size(), 2, 1, 1);
    for (size_t i = 0; i < pixels.size(); i += 2) colour.insert(colour.end(), 3, pixels[i]);
    RgbImage theirs;
    ASSERT_TRUE(PilOfLibtiff(f.path, &theirs));
    EXPECT_EQ(FirstDifference(colour, theirs.rgb, 3), "") << f.path;
    // The file stores a plane per sample; the reader divides those too.
    CTiffIO codec(f.path.c_str());
    ASSERT_EQ(ReadTiff(codec, f.path), 1);
    EXPECT_EQ(FirstDifference(PlanesToRgb(codec).rgb, colour, 3), "") << f.path;
}

// A row of pixels of bytes bytes each, run-length coded plane by plane:
// runs of three or more equal bytes repeated, the rest literal.
std::vector<uint8_t> LogRow(const std::vector<uint32_t>& pixels, uint32_t bytes)
{
    std::vector<uint8_t> out;
    for (uint32_t plane = 0; plane < bytes; ++plane) {
        std::vector<uint8_t> b;
        for (uint32_t p : pixels) b.push_back(uint8_t(p >> (8 * (bytes - 1 - plane))));
        for (size_t i = 0; i < b.size();) {
            size_t run = 1;
            while (i + run < b.size() && run < 129 && b[i + run] == b[i]) ++run;
            if (run >= 3) {
                out.insert(out.end(), {uint8_t(run + 126), b[i]});
                i += run;
                continue;
            }
            size_t literal = std::min<size_t>(127, b.size() - i);
            out.push_back(uint8_t(literal));
            out.insert(out.end(), b.begin() + i, b.begin() + i + literal);
            i += literal;
        }
    }
    return out;
}

// Against libtiff's RGBA reading; ImageMagick shows LogLuv alike (LogL
// samples it shows as if they were plain numbers).
TEST(TiffColourConvert, LogLuvAsLibtiff)
{
    if (!HasTiffTools() || !HasConvert() || !HasPil()) GTEST_SKIP() << "libtiff tools, ImageMagick or PIL missing";
    TempDir dir;
    std::mt19937 random(9);
    for (uint32_t photometric : {CTiffLogLuvDecoder::kLogLuv, CTiffLogLuvDecoder::kLogL}) {
        bool luv = photometric == CTiffLogLuvDecoder::kLogLuv;
        const uint32_t width = 256, height = 24;
        std::vector<uint8_t> strip;
        std::vector<uint32_t> all;
        for (uint32_t r = 0; r < height; ++r) {
            std::vector<uint32_t> row;
            for (uint32_t x = 0; x < width; ++x) {
                // Runs of one pixel, luminance sweeps and noise, both signs.
                uint32_t le = r < 8 ? (r * width + x) * 16 : uint32_t(random()) & 0xFFFF;
                uint32_t uv = r < 8 ? 0x82B9 : uint32_t(random()) & 0xFFFF;
                row.push_back(x < 16 ? row.empty() ? 0x3F00A0B0u : row.back() : luv ? (le << 16) | uv : le);
            }
            std::vector<uint8_t> coded = LogRow(row, luv ? 4 : 2);
            strip.insert(strip.end(), coded.begin(), coded.end());
            all.insert(all.end(), row.begin(), row.end());
        }
        TiffFixture f;
        f.entries = {{256, 4, {width}, {}}, {257, 4, {height}, {}}, {258, 3, std::vector<uint32_t>(luv ? 3 : 1, 16), {}},
                     {259, 3, {34676}, {}}, {262, 3, {photometric}, {}}, {277, 3, {luv ? 3u : 1u}, {}},
                     {278, 4, {height}, {}}, {339, 3, std::vector<uint32_t>(luv ? 3 : 1, 2), {}}};
        f.strips = {strip};
        std::string path = dir.File("log.tif");
        ASSERT_TRUE(WriteBytes(path, MakeTiff(f)));
        RgbImage theirs, magick;
        ASSERT_TRUE(DecodeWithTiff2Rgba(path, &theirs)) << photometric;
        ASSERT_TRUE(DecodeWithConvertBmp(path, &magick)) << photometric;
        if (luv) {
            EXPECT_EQ(FirstDifference(magick.rgb, theirs.rgb, 3), "");
        }
        CTiffLogLuvDecoder decoder(width, photometric);
        ASSERT_TRUE(decoder.Ok());
        decoder.Start(strip.data(), strip.size());
        std::vector<uint8_t> mine, row(width * decoder.OutputSamples());
        for (uint32_t r = 0; r < height; ++r) {
            EXPECT_TRUE(decoder.DecodeRow(row.data())) << r;
            for (uint32_t x = 0; x < width; ++x)
                for (uint32_t k = 0; k < 3; ++k) mine.push_back(row[luv ? 3 * x + k : x]);
        }
        EXPECT_EQ(FirstDifference(mine, theirs.rgb, 3), "") << photometric;
        EXPECT_EQ(FirstDifference(ReaderRgb(path), theirs.rgb, 3), "") << photometric;
        // Cut data: the rest black, the rows reported short.
        decoder.Start(strip.data(), strip.size() / 3);
        bool whole = true;
        for (uint32_t r = 0; r < height; ++r) whole &= decoder.DecodeRow(row.data());
        EXPECT_FALSE(whole);
        EXPECT_EQ(row, std::vector<uint8_t>(row.size(), 0));
    }
    // The corpus's one black LogLuv pixel.
    std::string corpus = CorpusDir("tiff");
    StripFile f;
    if (corpus.empty() || !LoadStripFile(corpus + "/logluv-3c-16b.tiff", &f)) return;
    CTiffLogLuvDecoder decoder(f.Width(), f.Unsigned(262));
    decoder.Start(f.strips[0].data(), f.strips[0].size());
    uint8_t rgb[3] = {1, 1, 1};
    EXPECT_TRUE(decoder.DecodeRow(rgb));
    RgbImage theirs;
    ASSERT_TRUE(DecodeWithConvertBmp(f.path, &theirs));
    EXPECT_EQ(std::vector<uint8_t>(rgb, rgb + 3), theirs.rgb);
}

}  // namespace
