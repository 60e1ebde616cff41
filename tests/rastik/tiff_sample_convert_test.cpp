// Sample conversions to bytes against ImageMagick's BMP output: every value
// of the small depths, sweeps and special values of the large ones, both
// byte orders; the predictors on files ImageMagick, libtiff and PIL wrote
// (floating-point predictor of 16, 24, 32 and 64 bits, horizontal
// differencing of 32- and 64-bit samples) and on the corpus files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "TestUtil.h"
#include "TiffFixture.h"
#include "rastik/tiff/TiffSampleConvert.h"
#include "tiff_strip_files.h"
#include "tiff_util.h"

using namespace testutil;

namespace {

constexpr uint32_t kWidth = 256;

// Samples of size bytes each in one byte order.
std::vector<uint8_t> Store(const std::vector<uint64_t>& values, uint32_t size, bool little)
{
    std::vector<uint8_t> out;
    for (uint64_t v : values)
        for (uint32_t i = 0; i < size; ++i) out.push_back(uint8_t(v >> (8 * (little ? i : size - 1 - i))));
    return out;
}

std::vector<uint64_t> Every(uint32_t count)
{
    std::vector<uint64_t> v(count);
    for (uint32_t i = 0; i < count; ++i) v[i] = i;
    return v;
}

// Samples of bits bits (2, 12) packed most significant bit first.
std::vector<uint8_t> Pack(const std::vector<uint64_t>& values, uint32_t bits)
{
    std::vector<uint8_t> out((values.size() * bits + 7) / 8);
    for (size_t i = 0; i < values.size(); ++i)
        for (uint32_t k = 0; k < bits; ++k)
            if ((values[i] >> (bits - 1 - k)) & 1) out[(i * bits + k) / 8] |= uint8_t(0x80 >> ((i * bits + k) % 8));
    return out;
}

uint64_t BitsOf(double v, uint32_t bits)
{
    if (bits == 64) {
        uint64_t b;
        memcpy(&b, &v, 8);
        return b;
    }
    float f = static_cast<float>(v);
    uint32_t b;
    memcpy(&b, &f, 4);
    return b;
}

// Values around every step of the 8-bit and 16-bit scales, and the
// special ones.
std::vector<uint64_t> FloatSweep(uint32_t bits)
{
    std::vector<double> v;
    for (int k = 0; k <= 8192; ++k) v.push_back(k / 8192.0);
    for (int k = 0; k < 256; ++k)
        for (double d : {-1e-7, -1e-9, 0.0, 1e-9, 1e-7}) v.insert(v.end(), {k / 255.0 + d, (k + 0.5) / 255.0 + d});
    for (int k = 0; k < 65535; k += 13)
        for (double d : {-1e-9, 0.0, 1e-9}) v.push_back((k + 0.5) / 65535.0 + d);
    double inf = std::numeric_limits<double>::infinity();
    v.insert(v.end(), {-1.0, -0.0, 1.0, 1.5, 255.0, 1e30, -1e30, inf, -inf, std::nan(""), 1e-40});
    std::vector<uint64_t> out;
    for (double d : v) out.push_back(BitsOf(d, bits));
    return out;
}

// 24-bit floating point: every exponent with fractions at both ends, both
// signs.
std::vector<uint64_t> Float24Patterns()
{
    std::vector<uint64_t> out;
    for (uint32_t sign = 0; sign < 2; ++sign)
        for (uint32_t e = 0; e < 128; ++e)
            for (uint32_t m : {0u, 1u, 0x7FFFu, 0x8000u, 0xFFFFu, 0x1234u, 0xC000u})
                out.push_back((sign << 23) | (e << 16) | m);
    return out;
}

// Unsigned 32-bit values around the steps of the quantum and the bytes.
std::vector<uint64_t> U32Sweep()
{
    std::vector<uint64_t> out = {0, 1, 0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, 0x01000000u, 0x00FFFFFFu};
    for (uint64_t k = 0; k < 256; ++k)
        for (int64_t d : {-8421505, -8421504, 0, 8421504, 8421505}) {
            int64_t v = int64_t(k * 16843009u) + d;
            if (v >= 0 && v <= 0xFFFFFFFFll) out.push_back(uint64_t(v));
        }
    for (uint64_t q = 0; q < 65536; q += 97) out.insert(out.end(), {q * 65537, q * 65537 + 65536});
    return out;
}

struct Case {
    const char* what;
    uint16_t bits, format;
    bool little;
    std::vector<uint64_t> values;
};

// A grey file of the values (padded to whole rows) and ImageMagick's view
// of it, against the conversion.
void ExpectAsImageMagick(const Case& c, const TempDir& dir)
{
    std::vector<uint64_t> values = c.values;
    values.resize((values.size() + kWidth - 1) / kWidth * kWidth, 0);
    uint32_t height = uint32_t(values.size() / kWidth);
    std::vector<uint8_t> data = c.bits % 8 ? Pack(values, c.bits) : Store(values, c.bits / 8, c.little);
    TiffFixture f = PlainTiff(kWidth, height, c.bits, 1, 1, data, height, c.little);
    f.entries.push_back({339, 3, {c.format}, {}});
    std::string path = dir.File("samples.tif");
    ASSERT_TRUE(WriteBytes(path, MakeTiff(f)));
    RgbImage theirs;
    ASSERT_TRUE(DecodeWithConvertBmp(path, &theirs)) << c.what;
    ASSERT_EQ(theirs.rgb.size(), values.size() * 3) << c.what;
    std::vector<uint8_t> mine(values.size()), expected(values.size());
    ASSERT_TRUE(tiff::SamplesToBytes(data.data(), mine.data(), values.size(), c.bits, c.format, c.little, true));
    for (size_t i = 0; i < values.size(); ++i) expected[i] = theirs.rgb[3 * i];
    EXPECT_EQ(FirstDifference(mine, expected, 1), "") << c.what;
}

TEST(TiffSampleConvert, MatchesImageMagick)
{
    if (!HasConvert() || !HasPil()) GTEST_SKIP() << "ImageMagick or PIL missing";
    const Case kCases[] = {
        {"2-bit grey", 2, 1, true, Every(4)},
        {"12-bit", 12, 1, true, Every(4096)},
        {"12-bit, big-endian file", 12, 1, false, Every(4096)},
        {"32-bit unsigned", 32, 1, true, U32Sweep()},
        {"32-bit unsigned, big-endian", 32, 1, false, U32Sweep()},
        {"32-bit signed", 32, 2, true, U32Sweep()},
        {"8-bit signed", 8, 2, true, Every(256)},
        {"16-bit signed", 16, 2, true, Every(65536)},
        {"16-bit signed, big-endian", 16, 2, false, Every(65536)},
        {"16-bit float", 16, 3, true, Every(65536)},
        {"16-bit float, big-endian", 16, 3, false, Every(65536)},
        {"24-bit float", 24, 3, true, Float24Patterns()},
        {"24-bit float, big-endian", 24, 3, false, Float24Patterns()},
        {"32-bit float", 32, 3, true, FloatSweep(32)},
        {"32-bit float, big-endian", 32, 3, false, FloatSweep(32)},
        {"64-bit float", 64, 3, true, FloatSweep(64)},
        {"64-bit float, big-endian", 64, 3, false, FloatSweep(64)},
    };
    TempDir dir;
    for (const Case& c : kCases) ExpectAsImageMagick(c, dir);
}

// The rules ImageMagick does not decide: 16-bit samples as their high
// byte, 2-bit palette indices as they are.
TEST(TiffSampleConvert, ReaderRules)
{
    const uint8_t kSixteen[] = {0x34, 0x12, 0xFF, 0x00, 0x00, 0xFF};
    uint8_t out[4] = {};
    tiff::Samples16ToBytes(kSixteen, out, 3, true);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 3), (std::vector<uint8_t>{0x12, 0x00, 0xFF}));
    tiff::Samples16ToBytes(kSixteen, out, 3, false);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 3), (std::vector<uint8_t>{0x34, 0xFF, 0x00}));
    const uint8_t kTwo[] = {0x1B};
    tiff::Samples2ToBytes(kTwo, out, 4, false);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 4), (std::vector<uint8_t>{0, 1, 2, 3}));
    EXPECT_FALSE(tiff::ConvertsSamples(8, 1));
    EXPECT_FALSE(tiff::ConvertsSamples(48, 3));
    EXPECT_TRUE(tiff::ConvertsSamples(16, 4));
}

// Rows of a file with predictors undone and samples converted, against
// ImageMagick's view of it.
void ExpectFileAsImageMagick(const std::string& path, const std::string& what)
{
    StripFile f;
    ASSERT_TRUE(LoadStripFile(path, &f)) << what;
    uint32_t width = f.Width(), height = f.Height(), spp = f.Unsigned(277, 1), bits = f.Unsigned(258);
    uint32_t format = f.Unsigned(339, 1), predictor = f.Unsigned(317, 1), rps = f.RowsPerStrip();
    size_t count = size_t(width) * spp, rowBytes = count * bits / 8;
    std::vector<uint8_t> mine, scratch(rowBytes);
    for (uint32_t top = 0, s = 0; top < height; top += rps, ++s) {
        uint32_t rows = std::min(rps, height - top);
        std::vector<uint8_t> strip = DecodedStrip(f, s, rowBytes, rows);
        ASSERT_EQ(strip.size(), rowBytes * rows) << what << " strip " << s;
        for (uint32_t r = 0; r < rows; ++r) {
            uint8_t* row = strip.data() + r * rowBytes;
            if (predictor == 3) tiff::UndoFloatPredictor(row, scratch.data(), width, spp, bits / 8, f.little);
            if (predictor == 2) tiff::UndoHorizontalDifferencing(row, width, spp, bits / 8, f.little);
            std::vector<uint8_t> bytes(count);
            ASSERT_TRUE(tiff::SamplesToBytes(row, bytes.data(), count, bits, format, f.little, true)) << what;
            mine.insert(mine.end(), bytes.begin(), bytes.end());
        }
    }
    RgbImage theirs;
    ASSERT_TRUE(DecodeWithConvertBmp(path, &theirs)) << what;
    std::vector<uint8_t> expected;
    for (size_t i = 0; i < theirs.rgb.size(); i += 3)
        for (uint32_t k = 0; k < std::min<uint32_t>(spp, 3); ++k) expected.push_back(theirs.rgb[i + k]);
    EXPECT_EQ(FirstDifference(mine, expected, spp), "") << what;
}

TEST(TiffSampleConvert, PredictorsAsImageMagick)
{
    if (!HasConvert() || !HasPil() || !HasTiffTools()) GTEST_SKIP() << "ImageMagick, PIL or libtiff tools missing";
    TempDir dir;
    const std::string kFloat = " -define quantum:format=floating-point -define tiff:predictor=3";
    struct Made {
        std::string what, command;
    };
    std::vector<Made> made;
    for (const char* depth : {"16", "24", "32", "64"})
        for (const char* source : {"-size 61x17 -seed 3 plasma:", "-size 37x9 gradient: -colorspace gray"})
            made.push_back({std::string(depth) + "-bit float " + source, std::string(kConvert) + " " + source +
                                                                          " -depth " + depth + kFloat + " -compress zip"});
    made.push_back({"32-bit float, big-endian LZW", std::string(kConvert) + " -size 43x11 -seed 5 plasma: -depth 32" +
                                                        kFloat + " -compress lzw -endian MSB"});
    // libtiff's own predictor writing: big-endian, and horizontal
    // differencing of 32- and 64-bit samples.
    for (size_t source : {4, 6}) {
        std::string base = dir.File("base" + std::to_string(source) + ".tif");
        ASSERT_EQ(RunCommand(made[source].command + " " + Quote(base), nullptr), 0);
        for (const char* options : {"-c zip:3 -B -r 4", "-c lzw:2", "-c zip:2 -B"})
            made.push_back({made[source].what + ", tiffcp " + options,
                            "/usr/bin/tiffcp " + std::string(options) + " " + Quote(base)});
    }
    int n = 0;
    for (const Made& m : made) {
        std::string path = dir.File("made" + std::to_string(n++) + ".tif");
        ASSERT_EQ(RunCommand(m.command + " " + Quote(path) + " 2>/dev/null", nullptr), 0) << m.what;
        ExpectFileAsImageMagick(path, m.what);
    }
    // PIL's floating-point and 32-bit signed images.
    std::string pil = dir.File("pil.tif");
    for (const char* mode : {"F", "I"}) {
        std::string script = std::string("import sys, struct; from PIL import Image; Image.frombytes('") + mode +
                             "', (64, 4), bytes(range(256)) * 4).save(sys.argv[1])";
        ASSERT_EQ(RunCommand(std::string(kSystemPython) + " -c " + Quote(script) + " " + Quote(pil), nullptr), 0);
        ExpectFileAsImageMagick(pil, std::string("PIL ") + mode);
    }
    std::string corpus = CorpusDir("tiff");
    if (corpus.empty()) return;
    for (const char* name : {"test_float64_predictor2_le_lzw.tif", "test_float64_predictor2_be_lzw.tif"})
        ExpectFileAsImageMagick(corpus + "/" + name, name);
}

}  // namespace
