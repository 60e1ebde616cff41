// Tests of JPEG reading: header and density rules, component counts, CMYK
// inversion, reduced reads, spilled planes, Esc, the corpus against djpeg,
// hostile copies of the corpus, previews from Photoshop thumbnails, and data that
// ends early.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "jpeg_util.h"
#include "rastik/core/CReducedSampler.h"
#include "rastik/jpeg/CJpgIORun.h"
#include "rastik/rastik.h"

using jpegtest::Decoded;
using jpegtest::Fixture;
using testutil::TempDir;

namespace {

struct Head {
    int ok = 0;
    float x = 0, y = 0;
    uint32_t mode = 0, channels = 0, bpl = 0, unit = 0;
};

Head ReadHead(const std::string& path)
{
    CJpgIO codec(path.c_str());
    Head h;
    h.ok = testutil::OpenAndReadHead(codec, path.c_str());
    h.x = codec.XResolution;
    h.y = codec.YResolution;
    h.mode = codec.ColorMode;
    h.channels = codec.ChannelCount;
    h.bpl = codec.BytesPerLine;
    h.unit = codec.ResolutionUnit;
    return h;
}

TEST(JpegRead, DensityRules)
{
    TempDir dir;
    Fixture f;
    f.unit = 0;
    f.xDensity = 300;
    f.yDensity = 200;
    ASSERT_TRUE(jpegtest::WriteFixture(dir.File("u0.jpg"), f));
    Head h = ReadHead(dir.File("u0.jpg"));
    ASSERT_EQ(h.ok, 1);
    EXPECT_FLOAT_EQ(h.x, 72.0f);  // aspect ratio only
    EXPECT_FLOAT_EQ(h.y, 72.0f);
    EXPECT_EQ(h.unit, 1u);

    f.unit = 2;
    f.xDensity = f.yDensity = 100;
    ASSERT_TRUE(jpegtest::WriteFixture(dir.File("u2.jpg"), f));
    h = ReadHead(dir.File("u2.jpg"));
    EXPECT_FLOAT_EQ(h.x, 254.0f);
    EXPECT_FLOAT_EQ(h.y, 254.0f);

    f.unit = 1;
    f.xDensity = 0;
    f.yDensity = 150;
    ASSERT_TRUE(jpegtest::WriteFixture(dir.File("u1.jpg"), f));
    h = ReadHead(dir.File("u1.jpg"));
    EXPECT_FLOAT_EQ(h.x, 72.0f);
    EXPECT_FLOAT_EQ(h.y, 150.0f);

    f.jfif = false;  // no JFIF segment: libjpeg reports unit 0
    ASSERT_TRUE(jpegtest::WriteFixture(dir.File("nojfif.jpg"), f));
    h = ReadHead(dir.File("nojfif.jpg"));
    EXPECT_FLOAT_EQ(h.x, 72.0f);
    EXPECT_FLOAT_EQ(h.y, 72.0f);
}

TEST(JpegRead, ComponentsModesAndStride)
{
    TempDir dir;
    Fixture f;
    f.width = 13;
    f.height = 5;
    ASSERT_TRUE(jpegtest::WriteFixture(dir.File("g.jpg"), f));
    Head h = ReadHead(dir.File("g.jpg"));
    ASSERT_EQ(h.ok, 1);
    EXPECT_EQ(h.mode, kModeGrey);
    EXPECT_EQ(h.channels, 1u);
    EXPECT_EQ(h.bpl, 16u);  // 4-byte rows

    f.components = 3;
    f.space = JCS_RGB;
    ASSERT_TRUE(jpegtest::WriteFixture(dir.File("rgb.jpg"), f));
    h = ReadHead(dir.File("rgb.jpg"));
    EXPECT_EQ(h.mode, kModeRgb);
    EXPECT_EQ(h.channels, 3u);

    f.components = 4;
    f.space = JCS_CMYK;
    ASSERT_TRUE(jpegtest::WriteFixture(dir.File("cmyk.jpg"), f));
    h = ReadHead(dir.File("cmyk.jpg"));
    EXPECT_EQ(h.mode, kModeCmyk);
    EXPECT_EQ(h.channels, 4u);

    f.components = 2;
    f.space = JCS_UNKNOWN;
    ASSERT_TRUE(jpegtest::WriteFixture(dir.File("two.jpg"), f));
    EXPECT_EQ(ReadHead(dir.File("two.jpg")).ok, 0);

    testutil::WriteBytes(dir.File("junk.jpg"), {0xFF, 0xD8, 0xFF, 0xE0, 0, 2, 1, 2, 3});
    EXPECT_EQ(ReadHead(dir.File("junk.jpg")).ok, 0);
    EXPECT_EQ(ReadHead(dir.File("missing.jpg")).ok, 0);
}

TEST(JpegRead, FileIsReopenedReadOnlyAfterEachRun)
{
    TempDir dir;
    ASSERT_TRUE(jpegtest::WriteFixture(dir.File("g.jpg"), Fixture()));
    std::string path = dir.File("g.jpg");  // the codec keeps the pointer
    CJpgIO codec(path.c_str());
    ASSERT_EQ(testutil::OpenAndReadHead(codec, path.c_str()), 1);
    EXPECT_TRUE(codec.File.IsOpen());
    EXPECT_EQ(codec.File.GetPosition(), 0u);
    ASSERT_EQ(testutil::ReadWholeImage(codec), 1);
    EXPECT_TRUE(codec.File.IsOpen());
    EXPECT_EQ(codec.ReadImageData(), 1);  // runs may repeat
}

TEST(JpegRead, CmykIsInvertedByReadImageDataAndReducedRead)
{
    TempDir dir;
    Fixture f;
    f.width = f.height = 8;
    f.components = 4;
    f.space = JCS_CMYK;
    f.quality = 100;
    std::string path = dir.File("cmyk.jpg");
    ASSERT_TRUE(jpegtest::WriteFixture(path, f));
    Decoded stored;
    ASSERT_TRUE(jpegtest::DecodeLibjpeg(path, &stored));

    CJpgIO codec(path.c_str());
    ASSERT_EQ(testutil::OpenAndReadHead(codec, path.c_str()), 1);
    ASSERT_EQ(testutil::ReadWholeImage(codec), 1);
    for (uint32_t c = 0; c < 4; ++c) {
        std::vector<uint8_t> plane = testutil::PlaneBytes(codec, c);
        for (size_t i = 0; i < plane.size(); ++i) ASSERT_EQ(plane[i], 255 - stored.samples[i * 4 + c]);
    }

    std::vector<std::vector<uint8_t>> reduced(4, std::vector<uint8_t>(BytesPerRow(4 * 8) * 4));
    uint8_t* planes[4] = {reduced[0].data(), reduced[1].data(), reduced[2].data(), reduced[3].data()};
    ASSERT_EQ(codec.ReadReducedData(4, 4, planes), 1);
    EXPECT_EQ(reduced[3][0], 255 - stored.samples[3]);
    EXPECT_EQ(reduced[0][4 + 1], 255 - stored.samples[(2 * 8 + 2) * 4]);

    // Called directly, GetImageData keeps the stored samples.
    CJpgIO direct(path.c_str());
    ASSERT_EQ(testutil::OpenAndReadHead(direct, path.c_str()), 1);
    direct.BytesPerLine = BytesPerRow(8 * 8);
    ASSERT_EQ(direct.AllocChannelSpace(), 1);
    ASSERT_EQ(direct.GetImageData(direct.ChannelKind, direct.TempFileObject, direct.ChannelData,
                                  direct.ChannelOffset),
              1);
    EXPECT_EQ(testutil::PlaneBytes(direct, 2)[5], stored.samples[5 * 4 + 2]);
}

TEST(JpegRead, ReducedHalfTakesEvenRowsAndColumns)
{
    TempDir dir;
    Fixture f;
    f.components = 3;
    f.space = JCS_RGB;
    std::string path = dir.File("rgb.jpg");
    ASSERT_TRUE(jpegtest::WriteFixture(path, f));
    Decoded full;
    ASSERT_TRUE(jpegtest::DecodeLibjpeg(path, &full));
    CJpgIO codec(path.c_str());
    ASSERT_EQ(testutil::OpenAndReadHead(codec, path.c_str()), 1);
    uint32_t stride = BytesPerRow(2 * 8);
    std::vector<std::vector<uint8_t>> out(3, std::vector<uint8_t>(stride * 2, 0xAA));
    uint8_t* planes[3] = {out[0].data(), out[1].data(), out[2].data()};
    ASSERT_EQ(codec.ReadReducedData(2, 2, planes), 1);
    EXPECT_EQ(codec.PrevWidth, 2);
    EXPECT_EQ(codec.PrevHeight, 2);
    for (uint32_t c = 0; c < 3; ++c)
        for (uint32_t i = 0; i < 2; ++i)
            for (uint32_t k = 0; k < 2; ++k)
                EXPECT_EQ(out[c][i * stride + k], full.samples[((2 * i) * 4 + 2 * k) * 3 + c]) << c << i << k;

    // Larger than the image: only the rows and columns that exist are filled.
    uint32_t big = BytesPerRow(8 * 8);
    std::vector<uint8_t> g(big * 8, 0xAA);
    CJpgIO grey(path.c_str());
    ASSERT_EQ(testutil::OpenAndReadHead(grey, path.c_str()), 1);
    std::vector<std::vector<uint8_t>> wide(3, std::vector<uint8_t>(big * 8, 0xAA));
    uint8_t* wp[3] = {wide[0].data(), wide[1].data(), wide[2].data()};
    ASSERT_EQ(grey.ReadReducedData(8, 8, wp), 1);
    EXPECT_EQ(wide[0][0], full.samples[0]);
    EXPECT_EQ(wide[0][7 * big + 7], 0xAA);
    EXPECT_EQ(grey.ReadReducedData(0, 2, wp), 0);
}

TEST(JpegRead, SpilledPlanesMatchHeapPlanes)
{
    TempDir dir;
    std::string path = dir.File("photo.jpg");
    auto src = jpegtest::PhotoPlanes(203, 97, 3);
    ASSERT_EQ(jpegtest::WriteJpeg(path, kModeRgb, 203, 97, src, 80), 1);
    std::vector<std::vector<uint8_t>> heap, spilled;
    ASSERT_EQ(jpegtest::ReadJpeg(path, &heap), 1);
    {
        testutil::MemorySettings spill(true, 3 * 3 * 204);  // a few rows per chunk
        CJpgIO* codec = nullptr;
        ASSERT_EQ(jpegtest::ReadJpeg(path, &spilled, &codec), 1);
        EXPECT_EQ(codec->ChannelKind[0], kChannelTemp);
        delete codec;
    }
    EXPECT_EQ(heap, spilled);
}

TEST(JpegRead, EscStopsReads)
{
    TempDir dir;
    std::string path = dir.File("photo.jpg");
    auto src = jpegtest::PhotoPlanes(64, 64, 1);
    ASSERT_EQ(jpegtest::WriteJpeg(path, kModeGrey, 64, 64, src, 70), 1);
    CJpgIO codec(path.c_str());
    ASSERT_EQ(testutil::OpenAndReadHead(codec, path.c_str()), 1);
    codec.BytesPerLine = BytesPerRow(64 * 8);
    ASSERT_EQ(codec.AllocChannelSpace(), 1);
    PostKeyDown(VK_ESCAPE);
    EXPECT_EQ(codec.ReadImageData(), 0);
    EXPECT_TRUE(codec.File.IsOpen());

    std::vector<uint8_t> plane(BytesPerRow(16 * 8) * 16);
    uint8_t* planes[1] = {plane.data()};
    PostKeyDown(VK_ESCAPE);
    EXPECT_EQ(codec.ReadReducedData(16, 16, planes), 0);
    EXPECT_EQ(codec.EscPressed, 1);
    EXPECT_EQ(codec.ReadImageData(), 1);  // the key was consumed
}

TEST(JpegRead, PreviewOfImageWithoutThumbnail)
{
    TempDir dir;
    std::string path = dir.File("photo.jpg");
    auto src = jpegtest::PhotoPlanes(300, 150, 1);
    ASSERT_EQ(jpegtest::WriteJpeg(path, kModeGrey, 300, 150, src, 90), 1);
    CRastik* codec = NewRastikInstance(kTypeJpeg, path.c_str());
    ASSERT_NE(codec, nullptr);
    ASSERT_EQ(testutil::OpenAndReadHead(*codec, path.c_str()), 1);
    EXPECT_EQ(codec->ResourcePos, 0);
    uint32_t w = 0, h = 0;
    uint8_t* buffer = nullptr;
    ASSERT_EQ(codec->ReadPrevImageData(w, h, buffer), 1);
    EXPECT_EQ(w, 96u);
    EXPECT_EQ(h, 48u);
    ASSERT_NE(buffer, nullptr);
    // Bottom-up rows of blue, green, red: the last buffer row is image row 0.
    uint32_t rowBytes = (96 * 24 + 31) / 32 * 4;
    EXPECT_EQ(buffer[47 * rowBytes], buffer[47 * rowBytes + 2]);
    EXPECT_NEAR(buffer[47 * rowBytes], src[0][0], 6);
    FreeBuffer(&buffer);
    delete codec;
}

// --- corpus -------------------------------------------------------------

// djpeg writes a CMYK file as RGB: each stored sample times black / 255.
std::vector<uint8_t> StoredCmykToDjpegRgb(const std::vector<std::vector<uint8_t>>& inverted)
{
    std::vector<uint8_t> rgb(inverted[0].size() * 3);
    for (size_t i = 0; i < inverted[0].size(); ++i) {
        double k = 255 - inverted[3][i];
        for (int c = 0; c < 3; ++c)
            rgb[i * 3 + c] = static_cast<uint8_t>((255 - inverted[c][i]) * k / 255.0 + 0.5);
    }
    return rgb;
}

TEST(JpegCorpus, EveryFileReadsAsDjpegDecodesIt)
{
    std::string corpus = testutil::CorpusDir("jpeg");
    if (corpus.empty()) GTEST_SKIP() << "corpus folder ../shared/corpus/jpeg is absent";
    if (!jpegtest::HasDjpeg()) GTEST_SKIP() << "djpeg is not installed";
    TempDir dir;
    auto files = testutil::ListFiles(corpus, "", ".jpg");
    ASSERT_FALSE(files.empty());
    for (const std::string& name : files) {
        SCOPED_TRACE(name);
        const std::string& path = name;  // full paths
        Decoded ref;
        std::string warnings;
        ASSERT_GE(jpegtest::RunDjpeg(path, dir.File("err.txt"), &ref, &warnings), 0);
        std::vector<std::vector<uint8_t>> planes;
        CJpgIO* codec = nullptr;
        ASSERT_EQ(jpegtest::ReadJpeg(path, &planes, &codec), 1);
        EXPECT_EQ(codec->Width, ref.width);
        EXPECT_EQ(codec->Height, ref.height);
        std::vector<uint8_t> ours;
        if (codec->ColorMode == kModeCmyk) {
            ours = StoredCmykToDjpegRgb(planes);
        } else {
            ASSERT_EQ(planes.size(), ref.components);
            ours.resize(planes[0].size() * planes.size());
            for (size_t c = 0; c < planes.size(); ++c)
                for (size_t i = 0; i < planes[c].size(); ++i) ours[i * planes.size() + c] = planes[c][i];
        }
        EXPECT_TRUE(ours == ref.samples);
        delete codec;
    }
}

TEST(JpegCorpus, KnownHeaders)
{
    std::string corpus = testutil::CorpusDir("jpeg");
    if (corpus.empty()) GTEST_SKIP() << "corpus folder ../shared/corpus/jpeg is absent";
    Head cm = ReadHead(corpus + "/jfif_unit_cm.jpg");
    ASSERT_EQ(cm.ok, 1);
    EXPECT_FLOAT_EQ(cm.x, 1 * 2.54f);
    EXPECT_FLOAT_EQ(cm.y, 2 * 2.54f);
    Head hopper = ReadHead(corpus + "/hopper.jpg");
    EXPECT_FLOAT_EQ(hopper.x, 96.0f);
    Head cmyk = ReadHead(corpus + "/pil_sample_cmyk.jpg");
    EXPECT_EQ(cmyk.mode, kModeCmyk);
    // A truncated file is decoded as libjpeg does it: a warning and grey fill.
    Head truncated = ReadHead(corpus + "/truncated_jpeg.jpg");
    EXPECT_EQ(truncated.ok, 1);
}

// Photoshop thumbnail (resource 1036) of a file, found by walking APP13.
std::vector<uint8_t> ThumbnailOf(const std::vector<uint8_t>& file)
{
    for (const jpegtest::Segment& s : jpegtest::Segments(file)) {
        if (s.marker != 0xED || s.payload.size() < 14) continue;
        size_t i = 14;
        const auto& p = s.payload;
        while (i + 12 <= p.size() && memcmp(&p[i], "8BIM", 4) == 0) {
            uint16_t id = static_cast<uint16_t>(p[i + 4] << 8 | p[i + 5]);
            size_t n = p[i + 6];
            size_t at = i + 7 + n + ((n + 1) % 2);
            uint32_t size = static_cast<uint32_t>(p[at]) << 24 | p[at + 1] << 16 | p[at + 2] << 8 | p[at + 3];
            if (id == 1036 && at + 32 + 28 <= p.size()) {
                uint32_t len = static_cast<uint32_t>(p[at + 24]) << 24 | p[at + 25] << 16 | p[at + 26] << 8 | p[at + 27];
                if (at + 32 + len > p.size()) return {};
                return std::vector<uint8_t>(p.begin() + static_cast<long>(at + 4 + 28),
                                            p.begin() + static_cast<long>(at + 4 + 28 + len));
            }
            i = at + 4 + size + (size & 1);
        }
    }
    return {};
}

TEST(JpegCorpus, PhotoshopThumbnailGivesThePreview)
{
    std::string corpus = testutil::CorpusDir("jpeg");
    if (corpus.empty()) GTEST_SKIP() << "corpus folder ../shared/corpus/jpeg is absent";
    TempDir dir;
    for (const char* name : {"photoshop-200dpi.jpg", "pil_sample_cmyk.jpg"}) {
        SCOPED_TRACE(name);
        std::string path = corpus + "/" + name;
        std::vector<uint8_t> thumb = ThumbnailOf(testutil::ReadBytes(path));
        ASSERT_FALSE(thumb.empty());
        std::string thumbPath = dir.File("thumb.jpg");
        testutil::WriteBytes(thumbPath, thumb);

        CJpgIO expected(thumbPath.c_str());
        ASSERT_EQ(testutil::OpenAndReadHead(expected, thumbPath.c_str()), 1);
        expected.ResourcePos = 0;
        uint32_t ew = 0, eh = 0;
        uint8_t* ebuf = nullptr;
        ASSERT_EQ(expected.ReadPrevImageData(ew, eh, ebuf), 1);

        CJpgIO codec(path.c_str());
        ASSERT_EQ(testutil::OpenAndReadHead(codec, path.c_str()), 1);
        EXPECT_GT(codec.ResourcePos, 0);
        EXPECT_GT(codec.GetPosOfPrevData(), codec.ResourcePos);
        uint32_t w = 0, h = 0;
        uint8_t* buf = nullptr;
        ASSERT_EQ(codec.ReadPrevImageData(w, h, buf), 1);
        EXPECT_EQ(w, ew);
        EXPECT_EQ(h, eh);
        uint32_t bytes = (w * 24 + 31) / 32 * 4 * h;
        EXPECT_EQ(memcmp(buf, ebuf, bytes), 0);
        FreeBuffer(&buf);
        FreeBuffer(&ebuf);
    }
}

// Truncated and mutated copies of every corpus file: each read either works
// or fails, and nothing else happens (the sanitizer run checks the rest).
TEST(JpegCorpus, HostileCopiesFailCleanly)
{
    std::string corpus = testutil::CorpusDir("jpeg");
    if (corpus.empty()) GTEST_SKIP() << "corpus folder ../shared/corpus/jpeg is absent";
    TempDir dir;
    std::mt19937 random(20240601);
    std::string path = dir.File("hostile.jpg");
    auto exercise = [&](const std::vector<uint8_t>& bytes) {
        testutil::WriteBytes(path, bytes);
        CJpgIO codec(path.c_str());
        testutil::ReadDamagedFile(codec, path.c_str());
    };
    for (const std::string& name : testutil::ListFiles(corpus, "", ".jpg")) {
        SCOPED_TRACE(name);
        std::vector<uint8_t> original = testutil::ReadBytes(name);
        ASSERT_GT(original.size(), 2u);
        for (size_t cut : {size_t(0), size_t(1), size_t(3), size_t(20), original.size() / 8, original.size() / 3,
                           original.size() / 2, original.size() - 2})
            exercise(std::vector<uint8_t>(original.begin(), original.begin() + static_cast<long>(cut)));
        for (int round = 0; round < 12; ++round) {
            std::vector<uint8_t> bytes = original;
            int flips = 1 + static_cast<int>(random() % 8);
            for (int i = 0; i < flips; ++i) bytes[random() % bytes.size()] ^= static_cast<uint8_t>(1u << (random() % 8));
            exercise(bytes);
        }
    }
}

}  // namespace

// A file whose data ends early (cut short, or a marker inside the data that
// ends the scan) decodes to exactly what libjpeg makes of it, though the
// reader stops decoding once the rows left are known to repeat. A marker
// that libjpeg skips to resume at the next restart does not stop it.
TEST(JpegRead, DataThatEndsEarlyReadsAsLibjpegDecodesIt)
{
    TempDir dir;
    struct Case {
        int components;
        J_COLOR_SPACE space;
        double keep;
        uint8_t marker;    // put after the kept part; 0 none
        bool rest;         // the rest of the file follows the marker
        int restartRows;
        bool arithmetic = false;
    };
    const Case cases[] = {{3, JCS_RGB, 0.35, 0, false, 0},   {3, JCS_RGB, 0.6, 0xD9, false, 0},
                          {1, JCS_GRAYSCALE, 0.5, 0, false, 0}, {1, JCS_GRAYSCALE, 0.2, 0xD9, false, 0},
                          {3, JCS_RGB, 0.4, 0xD8, true, 0},  {3, JCS_RGB, 0.3, 0xC4, true, 8},
                          {1, JCS_GRAYSCALE, 0.3, 0x01, true, 8}, {3, JCS_RGB, 0.45, 0xD5, true, 8},
                          {3, JCS_RGB, 0.4, 0, false, 0, true},  {1, JCS_GRAYSCALE, 0.5, 0xD9, false, 0, true}};
    for (const Case& k : cases) {
        SCOPED_TRACE(std::to_string(k.components) + " " + std::to_string(k.keep) + " " + std::to_string(k.marker));
        Fixture f;
        f.width = 61;
        f.height = 203;
        f.components = k.components;
        f.space = k.space;
        f.restartRows = k.restartRows;
        f.arithmetic = k.arithmetic;
        std::string path = dir.File("cut.jpg");
        ASSERT_TRUE(jpegtest::WriteFixture(path, f));
        std::vector<uint8_t> original = testutil::ReadBytes(path);
        size_t cut = static_cast<size_t>(original.size() * k.keep);
        // With restarts the marker goes at the start of an interval, so that
        // a whole interval (8 MCU rows) decodes without coefficients.
        while (k.restartRows && cut + 2 < original.size() &&
               !(original[cut] == 0xFF && original[cut + 1] >= 0xD0 && original[cut + 1] <= 0xD7))
            ++cut;
        if (k.restartRows) cut += 2;
        std::vector<uint8_t> bytes(original.begin(), original.begin() + static_cast<long>(cut));
        if (k.marker) bytes.insert(bytes.end(), {0xFF, k.marker});
        if (k.rest) bytes.insert(bytes.end(), original.begin() + static_cast<long>(cut), original.end());
        ASSERT_TRUE(testutil::WriteBytes(path, bytes));
        Decoded full;
        ASSERT_TRUE(jpegtest::DecodeLibjpeg(path, &full));
        std::vector<std::vector<uint8_t>> planes;
        ASSERT_EQ(jpegtest::ReadJpeg(path, &planes), 1);
        for (size_t c = 0; c < planes.size(); ++c)
            for (size_t i = 0; i < planes[c].size(); ++i)
                ASSERT_EQ(planes[c][i], full.samples[i * planes.size() + c]) << c << " " << i;
        CJpgIO codec(path.c_str());
        ASSERT_EQ(testutil::OpenAndReadHead(codec, path.c_str()), 1);
        uint32_t stride = BytesPerRow(20 * 8);
        std::vector<std::vector<uint8_t>> out(3, std::vector<uint8_t>(stride * 50));
        uint8_t* p[3] = {out[0].data(), out[1].data(), out[2].data()};
        ASSERT_EQ(codec.ReadReducedData(20, 50, p), 1);
        CReducedSampler sampler(61, 203, 20, 50);
        for (uint32_t i = 0; i < 50; ++i)
            for (uint32_t x = 0; x < 20; ++x)
                ASSERT_EQ(out[0][i * stride + x], full.samples[(sampler.Rows()[i] * 61 + sampler.Columns()[x]) *
                                                              planes.size()]);
    }
}

namespace {

// Counts the rows a run decodes and the rows it hands on as repeats.
class CountingSink : public JpegRowSink {
public:
    bool Start(const JpegHead&) override { return true; }
    bool Row(const uint8_t*, uint32_t) override
    {
        ++decoded;
        return true;
    }
    bool Repeat(const uint8_t*, uint32_t, uint32_t count) override
    {
        repeated += count;
        return true;
    }
    uint64_t decoded = 0;
    uint64_t repeated = 0;
};

}  // namespace

// Zeros past the end of an arithmetic-coded scan can decode into rows that
// never settle: a few hundred bytes declaring 65500 x 65500 pixels decode a
// bounded number of rows, and the rest repeats the last.
TEST(JpegRead, RowsThatNeverSettleAfterTheDataAreBounded)
{
    std::string path = std::string(getenv("RASTIK_SOURCE_DIR")) +
                       "/tests/fuzz-regressions/jpeg/arithmetic-data-runs-out-65500x65500.jpg";
    CFile file;
    ASSERT_TRUE(file.Open(path.c_str(), CFile::modeRead));
    JpegHead head;
    CountingSink sink;
    ASSERT_EQ(RunJpegDecompress(file, 0, file.GetLength(), &head, &sink, false), kJpegRunDone);
    EXPECT_EQ(sink.decoded + sink.repeated, 65500u);
    EXPECT_LT(sink.decoded, 2048u);
}
