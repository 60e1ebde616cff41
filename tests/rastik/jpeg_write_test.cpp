// Tests of JPEG writing: quality to quantisation and Huffman tables, round
// trips through djpeg and ImageMagick at every quality, PSNR, CMYK colours,
// spilled planes, streamed writing, Esc, and a failing end of the stream.
#include <signal.h>
#include <sys/resource.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "dct_support.h"
#include "jpeg_util.h"
#include "platform/Win32.h"
#include "rastik/rastik.h"

using jpegtest::Segment;
using testutil::TempDir;
using Planes = std::vector<std::vector<uint8_t>>;

namespace {

std::vector<Segment> SegmentsOf(const std::string& path)
{
    return jpegtest::Segments(testutil::ReadBytes(path));
}

const Segment* Find(const std::vector<Segment>& segments, uint8_t marker)
{
    for (const Segment& s : segments)
        if (s.marker == marker) return &s;
    return nullptr;
}

TEST(JpegWrite, QualityChoosesTables)
{
    TempDir dir;
    auto src = jpegtest::PhotoPlanes(40, 24, 3);
    for (uint32_t quality : {100u, 75u, 76u}) {
        SCOPED_TRACE(quality);
        std::string path = dir.File("q.jpg");
        ASSERT_EQ(jpegtest::WriteJpeg(path, kModeRgb, 40, 24, src, quality), 1);
        auto segments = SegmentsOf(path);
        const Segment* dqt = Find(segments, 0xDB);
        const Segment* dht = Find(segments, 0xC4);
        ASSERT_NE(dqt, nullptr);
        ASSERT_NE(dht, nullptr);
        if (quality == 100) {
            ASSERT_EQ(dqt->payload.size(), 2u * 65);
            for (size_t t = 0; t < 2; ++t)
                for (size_t i = 1; i <= 64; ++i) EXPECT_EQ(dqt->payload[t * 65 + i], 1);
        }
        // The first DC table: set A (table 0) for quality 75, set B (table 2) above.
        int table = quality >= 76 ? 2 : 0;
        ASSERT_GE(dht->payload.size(), 29u);
        EXPECT_EQ(dht->payload[0], 0);
        EXPECT_EQ(memcmp(&dht->payload[1], CDCTFilter::Default_Huff_DC_Table[table], 28), 0);
    }
}

TEST(JpegWrite, HeaderCarriesDensityAndSize)
{
    TempDir dir;
    std::string path = dir.File("d.jpg");
    auto src = jpegtest::PhotoPlanes(21, 9, 1);
    CJpgIO codec(path.c_str());
    ASSERT_TRUE(jpegtest::FillCodec(codec, kModeGrey, 21, 9, src));
    codec.XResolution = 300.9f;
    codec.YResolution = 150.2f;
    ASSERT_TRUE(codec.File.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary));
    ASSERT_EQ(codec.WriteFile(), 1);
    codec.File.Close();
    EXPECT_EQ(g_pEncodedDataFile, nullptr);
    CJpgIO back(path.c_str());
    ASSERT_EQ(testutil::OpenAndReadHead(back, path.c_str()), 1);
    EXPECT_EQ(back.Width, 21u);
    EXPECT_EQ(back.Height, 9u);
    EXPECT_FLOAT_EQ(back.XResolution, 300.0f);
    EXPECT_FLOAT_EQ(back.YResolution, 150.0f);
}

// Decodes path with djpeg and ImageMagick; both must be silent.
void ExpectCleanDecodes(const std::string& path, const TempDir& dir)
{
    if (jpegtest::HasDjpeg()) {
        jpegtest::Decoded d;
        std::string warnings;
        EXPECT_EQ(jpegtest::RunDjpeg(path, dir.File("djpeg.err"), &d, &warnings), 0);
        EXPECT_EQ(warnings, "");
    }
    if (testutil::HasConvert()) {
        std::vector<uint8_t> out;
        std::string err = dir.File("convert.err");
        int status = testutil::RunCommand(std::string(testutil::kConvert) + " " + testutil::Quote(path) +
                                              " -depth 8 ppm:- 2>" + testutil::Quote(err),
                                          &out);
        EXPECT_EQ(status, 0);
        std::vector<uint8_t> text = testutil::ReadBytes(err);
        EXPECT_EQ(std::string(text.begin(), text.end()), "");
        EXPECT_FALSE(out.empty());
    }
}

TEST(JpegWrite, EveryKindAndQualityDecodesCleanly)
{
    if (!jpegtest::HasDjpeg() && !testutil::HasConvert()) GTEST_SKIP() << "neither djpeg nor ImageMagick is installed";
    TempDir dir;
    const uint32_t w = 83, h = 45;  // partial MCUs on both edges
    for (uint32_t quality : {0u, 50u, 70u, 75u, 76u, 100u}) {
        for (uint32_t mode : {kModeGrey, kModeRgb, kModeCmyk}) {
            SCOPED_TRACE("quality " + std::to_string(quality) + " mode " + std::to_string(mode));
            uint32_t channels = mode == kModeGrey ? 1 : mode == kModeRgb ? 3 : 4;
            auto src = jpegtest::PhotoPlanes(w, h, channels);
            std::string path = dir.File("k.jpg");
            ASSERT_EQ(jpegtest::WriteJpeg(path, mode, w, h, src, quality), 1);
            ExpectCleanDecodes(path, dir);
            Planes back;
            ASSERT_EQ(jpegtest::ReadJpeg(path, &back), 1);
            EXPECT_GT(jpegtest::PsnrPlanes(src, back), quality >= 70 ? 30.0 : 24.0);
        }
        // RGB in the 16 x 16 layout (luminance 2 x 2), through the encoder directly.
        SCOPED_TRACE("quality " + std::to_string(quality) + " RGB 16 x 16");
        CDCTFilter filter;
        DCTINFO info = dcttest::Params(1.0 - quality / 100.0, 1);
        const uint8_t sampling[3] = {2, 1, 1};
        info.pHSampling = sampling;
        info.pVSampling = sampling;
        std::string path = dir.File("mcu16.jpg");
        dcttest::Encoded e = dcttest::EncodeToFile(filter, info, dcttest::PhotoImage(w, h, 3), path);
        ASSERT_EQ(e.end, 0u);
        EXPECT_EQ(filter.GetMcuWidth(), 16u);
        ExpectCleanDecodes(path, dir);
    }
}

TEST(JpegWrite, PhotoSizedImageAtQuality70)
{
    TempDir dir;
    const uint32_t w = 1024, h = 768;
    for (uint32_t mode : {kModeRgb, kModeCmyk}) {
        SCOPED_TRACE(mode);
        uint32_t channels = mode == kModeRgb ? 3 : 4;
        auto src = jpegtest::PhotoPlanes(w, h, channels);
        std::string path = dir.File("photo.jpg");
        ASSERT_EQ(jpegtest::WriteJpeg(path, mode, w, h, src, 70), 1);
        Planes back;
        ASSERT_EQ(jpegtest::ReadJpeg(path, &back), 1);
        double psnr = jpegtest::PsnrPlanes(src, back);
        EXPECT_GE(psnr, 32.0);
        RecordProperty("psnr", std::to_string(psnr));
        if (mode != kModeCmyk || !testutil::HasConvert()) continue;
        // ImageMagick shows the same colours: both sides converted to RGB.
        testutil::RgbImage im;
        ASSERT_TRUE(testutil::DecodeWithConvert(path, &im));
        ASSERT_EQ(im.width, w);
        ASSERT_EQ(im.height, h);
        int worst = 0;
        for (size_t i = 0; i < back[0].size(); ++i) {
            for (int c = 0; c < 3; ++c) {
                int expected = static_cast<int>((255 - back[c][i]) * (255 - back[3][i]) / 255.0 + 0.5);
                worst = std::max(worst, std::abs(expected - im.rgb[i * 3 + c]));
            }
        }
        EXPECT_LE(worst, 2);
    }
}

TEST(JpegWrite, SpilledPlanesWriteTheSameFile)
{
    TempDir dir;
    auto src = jpegtest::PhotoPlanes(130, 70, 4);
    ASSERT_EQ(jpegtest::WriteJpeg(dir.File("heap.jpg"), kModeCmyk, 130, 70, src, 70), 1);
    {
        testutil::MemorySettings spill(true, 4 * 132 * 8 * 2);  // two bands per chunk
        ASSERT_EQ(jpegtest::WriteJpeg(dir.File("spill.jpg"), kModeCmyk, 130, 70, src, 70), 1);
    }
    EXPECT_EQ(testutil::ReadBytes(dir.File("heap.jpg")), testutil::ReadBytes(dir.File("spill.jpg")));
}

TEST(JpegWrite, StreamedRgbIsEncodedOnTheCallThatCompletesTheHeight)
{
    TempDir dir;
    const uint32_t w = 50, h = 30;
    auto src = jpegtest::PhotoPlanes(w, h, 3);
    ASSERT_EQ(jpegtest::WriteJpeg(dir.File("whole.jpg"), kModeRgb, w, h, src, 70), 1);

    std::string path = dir.File("stream.jpg");
    CJpgIO codec(path.c_str());
    codec.Width = w;
    codec.Height = h;
    codec.SetMode(kModeRgb);
    ASSERT_TRUE(codec.File.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary));
    ASSERT_EQ(codec.WriteHeader(), 1);
    uint32_t done = 0;
    for (uint32_t rows : {8u, 8u, 14u}) {
        std::vector<uint8_t> r(src[0].data() + done * w, src[0].data() + (done + rows) * w);
        std::vector<uint8_t> g(src[1].data() + done * w, src[1].data() + (done + rows) * w);
        std::vector<uint8_t> b(src[2].data() + done * w, src[2].data() + (done + rows) * w);
        EXPECT_EQ(codec.File.GetLength(), 0u);
        ASSERT_EQ(codec.WriteRgbDataImage(r.data(), g.data(), b.data(), rows), 1);
        done += rows;
    }
    EXPECT_GT(codec.File.GetLength(), 0u);
    EXPECT_EQ(codec.StreamFile, nullptr);  // the temporary file is gone
    ASSERT_EQ(codec.WriteTail(), 1);
    codec.File.Close();
    EXPECT_EQ(testutil::ReadBytes(path), testutil::ReadBytes(dir.File("whole.jpg")));
    std::vector<uint8_t> more(w, 0);
    EXPECT_EQ(codec.WriteRgbDataImage(more.data(), more.data(), more.data(), 1), 0);
}

TEST(JpegWrite, StreamedCmykIsEncodedWhenTheBlackChannelCompletes)
{
    TempDir dir;
    const uint32_t w = 40, h = 20;
    auto src = jpegtest::PhotoPlanes(w, h, 4);
    ASSERT_EQ(jpegtest::WriteJpeg(dir.File("whole.jpg"), kModeCmyk, w, h, src, 70), 1);
    std::string path = dir.File("stream.jpg");
    CJpgIO codec(path.c_str());
    codec.Width = w;
    codec.Height = h;
    codec.SetMode(kModeCmyk);
    ASSERT_TRUE(codec.File.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary));
    EXPECT_EQ(codec.WriteKDataImage(src[3].data(), h), 0);  // black comes after the colours
    ASSERT_EQ(codec.WriteRgbDataImage(src[0].data(), src[1].data(), src[2].data(), h), 1);
    EXPECT_EQ(codec.File.GetLength(), 0u);
    EXPECT_EQ(codec.RowsWritten[0], 0u);
    ASSERT_EQ(codec.WriteKDataImage(src[3].data(), 12), 1);
    EXPECT_EQ(codec.File.GetLength(), 0u);
    EXPECT_EQ(codec.WriteKDataImage(src[3].data() + 12 * w, 9), 0);  // more rows than remain
    ASSERT_EQ(codec.WriteKDataImage(src[3].data() + 12 * w, 8), 1);
    codec.File.Close();
    EXPECT_EQ(testutil::ReadBytes(path), testutil::ReadBytes(dir.File("whole.jpg")));
}

TEST(JpegWrite, StreamedWritingRefusesGreyAndStopsOnEsc)
{
    TempDir dir;
    std::string path = dir.File("s.jpg");
    CJpgIO grey(path.c_str());
    grey.Width = grey.Height = 4;
    grey.SetMode(kModeGrey);
    std::vector<uint8_t> rows(16, 0);
    EXPECT_EQ(grey.WriteRgbDataImage(rows.data(), rows.data(), rows.data(), 4), 0);

    CJpgIO rgb(path.c_str());
    rgb.Width = rgb.Height = 4;
    rgb.SetMode(kModeRgb);
    ASSERT_TRUE(rgb.File.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary));
    ASSERT_EQ(rgb.WriteRgbDataImage(rows.data(), rows.data(), rows.data(), 2), 1);
    std::string temp = rgb.StreamFilePath;
    EXPECT_TRUE(FileExists(temp.c_str()));
    PostKeyDown(VK_ESCAPE);
    EXPECT_EQ(rgb.WriteRgbDataImage(rows.data(), rows.data(), rows.data(), 2), 0);
    EXPECT_FALSE(FileExists(temp.c_str()));
    EXPECT_EQ(rgb.File.GetLength(), 0u);
}

TEST(JpegWrite, EscInWriteFileLeavesThePartialOutput)
{
    TempDir dir;
    std::string path = dir.File("esc.jpg");
    auto src = jpegtest::PhotoPlanes(64, 64, 3);
    CJpgIO codec(path.c_str());
    ASSERT_TRUE(jpegtest::FillCodec(codec, kModeRgb, 64, 64, src));
    ASSERT_TRUE(codec.File.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary));
    PostKeyDown(VK_ESCAPE);
    EXPECT_EQ(codec.WriteFile(), 0);
    codec.File.Close();
    EXPECT_TRUE(FileExists(path.c_str()));
}

TEST(JpegWrite, RefusesImagesItCannotEncode)
{
    TempDir dir;
    std::string path = dir.File("x.jpg");
    CJpgIO codec(path.c_str());
    EXPECT_EQ(codec.WriteFile(), 0);  // nothing described
    codec.Width = codec.Height = 4;
    codec.ChannelCount = 2;
    codec.BytesPerLine = 4;
    ASSERT_EQ(codec.AllocChannelSpace(), 1);
    ASSERT_TRUE(codec.File.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary));
    EXPECT_EQ(codec.WriteFile(), 0);
    EXPECT_EQ(codec.WriteBlockData(nullptr, 0, 0), 0);
}

// Writes under a file size limit that makes the final writes of the encoder
// fail; exits 0 when WriteFile failed and the half-written output is gone.
// The exit skips destructors, so the test's folder is removed here.
[[noreturn]] void WriteUnderSizeLimit(const TempDir& dir, const Planes& src)
{
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = 20000;
    setrlimit(RLIMIT_FSIZE, &limit);
    std::string path = dir.File("big.jpg");
    int result = jpegtest::WriteJpeg(path, kModeRgb, 400, 400, src, 100);
    bool gone = !FileExists(path.c_str());
    std::error_code ec;
    std::filesystem::remove_all(dir.Path(), ec);
    exit(result == 0 && gone ? 0 : 1);
}

TEST(JpegWriteDeathTest, FailingEndOfStreamDeletesTheOutput)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TempDir dir;
    auto src = jpegtest::PhotoPlanes(400, 400, 3);
    EXPECT_EXIT(WriteUnderSizeLimit(dir, src), ::testing::ExitedWithCode(0), "");
}

TEST(JpegWrite, FactoryMakesTheJpegCodec)
{
    CRastik* codec = NewRastikInstance(kTypeJpeg, "x.jpg");
    ASSERT_NE(codec, nullptr);
    EXPECT_NE(dynamic_cast<CJpgIO*>(codec), nullptr);
    EXPECT_EQ(codec->WriteHeader(), 1);
    EXPECT_EQ(codec->WriteTail(), 1);
    delete codec;
}

}  // namespace

namespace {

TEST(JpegTool, ConvertTakesTheJpegQuality)
{
    TempDir dir;
    testutil::BmpFixture bmp;
    bmp.width = 24;
    bmp.height = 16;
    bmp.pixels.resize(24 * 16 * 3);
    for (size_t i = 0; i < bmp.pixels.size(); ++i) bmp.pixels[i] = static_cast<uint8_t>(i * 7);
    std::string src = dir.File("in.bmp");
    ASSERT_TRUE(testutil::WriteBytes(src, testutil::MakeBmp(bmp)));
    std::string tool = RASTIK_TOOL_PATH;
    std::string q100 = dir.File("q100.jpg"), q0 = dir.File("q0.jpg");
    EXPECT_EQ(testutil::RunCommand(tool + " convert --quality 100 " + src + " " + q100 + " >/dev/null", nullptr), 0);
    std::vector<Segment> segments = SegmentsOf(q100);
    const Segment* dqt = Find(segments, 0xDB);
    ASSERT_NE(dqt, nullptr);
    for (size_t i = 1; i <= 64; ++i) EXPECT_EQ(dqt->payload[i], 1);
    EXPECT_EQ(testutil::RunCommand(tool + " convert --quality=0 " + src + " " + q0 + " >/dev/null", nullptr), 0);
    EXPECT_EQ(Find(SegmentsOf(q0), 0xDB)->payload[1], 19);  // 18 x 1 + 1
    EXPECT_EQ(testutil::RunCommand(tool + " convert --quality 101 " + src + " " + dir.File("x.jpg") + " 2>/dev/null",
                                   nullptr),
              2);

    // The export behind it: ImgProc keeps 70, ImgProcEx sets the quality.
    int w = 0, h = 0;
    std::string viaDefault = dir.File("d.jpg");
    ASSERT_EQ(ImgProc(src.c_str(), viaDefault.c_str(), kModeRgb, 0, 72, 0, 0, &w, &h, 1), 1);
    EXPECT_EQ(Find(SegmentsOf(viaDefault), 0xDB)->payload[1], static_cast<uint8_t>(18 * 0.3 + 1));
    EXPECT_EQ(ImgProcEx(src.c_str(), dir.File("e.jpg").c_str(), kModeRgb, 0, 72, 0, 0, &w, &h, 1, 101, 0), 0);
}

}  // namespace
