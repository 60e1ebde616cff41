// Every row loop of every codec ends the same way: Esc stops it, the call
// returns 0, EscPressed is set and no message is shown; a full disk during a
// write shows 27708 once whatever ShowMessages says; a reader shows nothing
// while ShowMessages is off. Each loop runs with planes in memory and with
// planes spilled in grants of a few rows.
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "PictFixture.h"
#include "TestUtil.h"
#include "platform/KeyQueue.h"
#include "rastik/rastik.h"

using testutil::MessageCapture;

namespace {

constexpr uint32_t kWidth = 40;
constexpr uint32_t kHeight = 30;
constexpr uint32_t kTinyLargeBuffer = 300;

enum class Op { ReadWhole, ReadReduced, Preview, WriteFile, StreamRgb };

struct RowLoop {
    const char* name;
    unsigned type;
    const char* ext;
    uint32_t mode;  // colour mode of the image read or written
    Op op;
};

// A sample image of the given type and mode, written by the library's own
// writer for that type (pictures, which have none, are built).
bool WriteSample(unsigned type, uint32_t mode, const std::string& path)
{
    if (type == kTypePict) return testutil::WriteBytes(path, pictfix::SamplePicture(mode, kWidth, kHeight));
    return testutil::WriteSampleImage(type, mode, kWidth, kHeight, path);
}

class RowLoopTest : public ::testing::TestWithParam<std::tuple<RowLoop, bool>> {
protected:
    void SetUp() override
    {
        loop = std::get<0>(GetParam());
        settings = std::make_unique<testutil::MemorySettings>(std::get<1>(GetParam()), kTinyLargeBuffer);
        source = dir.File(std::string("in") + loop.ext);
        target = dir.File(std::string("out") + loop.ext);
        bool writer = loop.op == Op::WriteFile || loop.op == Op::StreamRgb;
        if (!writer) ASSERT_TRUE(WriteSample(loop.type, loop.mode, source));
        else ASSERT_TRUE(WriteSample(kTypeBmp, loop.mode, source));
    }
    void TearDown() override
    {
        int key;
        while (TakeKeyDown(&key)) {
        }
    }

    // Runs the loop's operation on a fresh codec; the codec stays for checks.
    int Run(bool showMessages, const char* outPath)
    {
        bool writer = loop.op == Op::WriteFile || loop.op == Op::StreamRgb;
        codec.reset(NewRastikInstance(writer ? static_cast<unsigned>(kTypeBmp) : loop.type, source.c_str()));
        codec->ShowMessages = showMessages;
        if (testutil::OpenAndReadHead(*codec, source.c_str()) != 1) return -1;
        uint32_t w = 0, h = 0;
        uint8_t* buffer = nullptr;
        std::vector<uint8_t> planes(4 * 16 * 8);
        uint8_t* p[4] = {&planes[0], &planes[128], &planes[256], &planes[384]};
        if (loop.op != Op::WriteFile && loop.op != Op::StreamRgb) Arm();
        switch (loop.op) {
        case Op::ReadWhole: return testutil::ReadWholeImage(*codec);
        case Op::ReadReduced: return codec->ReadReducedData(13, 7, p);
        case Op::Preview: {
            codec->SetMaxPrevSize(13);
            int ok = codec->ReadPrevImageData(w, h, buffer);
            FreeBuffer(&buffer);
            return ok;
        }
        case Op::WriteFile:
        case Op::StreamRgb: return Write(showMessages, outPath);
        }
        return -1;
    }

    int Write(bool showMessages, const char* outPath)
    {
        if (testutil::ReadWholeImage(*codec) != 1) return -1;
        codec->File.Close();
        writer.reset(NewRastikInstance(loop.type, outPath));
        writer->ShowMessages = showMessages;
        writer->SetSize(codec.get());
        writer->SetMode(codec.get());
        if (!writer->AllocChannelSpace()) return -1;
        std::vector<uint8_t> row(codec->BytesPerLine);
        for (uint32_t c = 0; c < codec->ChannelCount; ++c)
            for (uint32_t r = 0; r < kHeight; ++r)
                if (!codec->ReadPlaneRow(c, r, row.data()) || !writer->WritePlaneRow(c, r, row.data())) return -1;
        unsigned flags = CFile::modeCreate | CFile::modeWrite | CFile::typeBinary;
        if (std::string(outPath) == "/dev/full") flags |= CFile::modeNoTruncate;
        if (!writer->File.Open(outPath, flags)) return -1;
        Arm();
        if (loop.op == Op::WriteFile) return writer->WriteFile();
        std::vector<uint8_t> r(kWidth * kHeight), g(r), b(r);
        for (uint32_t y = 0; y < kHeight; ++y) {
            codec->ReadPlaneRow(0, y, r.data() + y * kWidth);
            codec->ReadPlaneRow(1, y, g.data() + y * kWidth);
            codec->ReadPlaneRow(2, y, b.data() + y * kWidth);
        }
        if (!writer->WriteHeader()) return 0;
        int ok = writer->WriteRgbDataImage(r.data(), g.data(), b.data(), kHeight);
        return ok ? writer->WriteTail() : 0;
    }

    CRastik& Looped() { return writer ? *writer : *codec; }
    // Posts Esc right before the loop runs when the test asks for it.
    void Arm()
    {
        if (escBeforeLoop) PostKeyDown(VK_ESCAPE);
    }
    bool escBeforeLoop = false;
    // Esc before the loop stops it with 0, sets EscPressed, shows nothing.
    void CheckEsc();

    RowLoop loop{};
    testutil::TempDir dir;
    std::string source;
    std::string target;
    std::unique_ptr<testutil::MemorySettings> settings;
    std::unique_ptr<CRastik> codec;
    std::unique_ptr<CRastik> writer;
};

// A reader's loops: the whole image, the reduced image, the preview.
class ReaderLoopTest : public RowLoopTest {};
// A writer's loops: the whole file, streamed RGB blocks.
class WriterLoopTest : public RowLoopTest {};

void RowLoopTest::CheckEsc()
{
    escBeforeLoop = true;
    for (bool show : {false, true}) {
        MessageCapture messages;
        writer.reset();
        EXPECT_EQ(Run(show, target.c_str()), 0) << "show " << show;
        EXPECT_EQ(Looped().EscPressed, 1) << "show " << show;
        EXPECT_EQ(messages.Ids(), std::vector<int>{}) << "show " << show;
    }
}

TEST_P(ReaderLoopTest, EscStopsTheLoopQuietly)
{
    CheckEsc();
}

TEST_P(WriterLoopTest, EscStopsTheLoopQuietly)
{
    CheckEsc();
}

TEST_P(WriterLoopTest, FullDiskShowsItsMessageOnce)
{
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "/dev/full is not available";
    for (bool show : {false, true}) {
        MessageCapture messages;
        EXPECT_EQ(Run(show, "/dev/full"), 0);
        EXPECT_EQ(messages.Ids(), std::vector<int>{kMsgDiskFull}) << "show " << show;
        writer->File.Abort();
    }
    EXPECT_EQ(access("/dev/full", W_OK), 0);
}

TEST_P(ReaderLoopTest, QuietWithoutShowMessages)
{
    // The file loses its last third: readers that take it read what is there.
    std::vector<uint8_t> bytes = testutil::ReadBytes(source);
    bytes.resize(bytes.size() * 2 / 3);
    ASSERT_TRUE(testutil::WriteBytes(source, bytes));
    MessageCapture messages;
    Run(false, target.c_str());
    EXPECT_EQ(messages.Ids(), std::vector<int>{});
}

std::string LoopName(const ::testing::TestParamInfo<RowLoopTest::ParamType>& info)
{
    return std::string(std::get<0>(info.param).name) + (std::get<1>(info.param) ? "Spilled" : "Memory");
}

const RowLoop kReaders[] = {
    {"BmpReadRgb", kTypeBmp, ".bmp", kModeRgb, Op::ReadWhole},
    {"BmpReadIndexed", kTypeBmp, ".bmp", kModeIndexed, Op::ReadWhole},
    {"BmpReduced", kTypeBmp, ".bmp", kModeRgb, Op::ReadReduced},
    {"BmpPreview", kTypeBmp, ".bmp", kModeGrey, Op::Preview},
    {"JpegRead", kTypeJpeg, ".jpg", kModeRgb, Op::ReadWhole},
    {"JpegReadCmyk", kTypeJpeg, ".jpg", kModeCmyk, Op::ReadWhole},
    {"JpegReduced", kTypeJpeg, ".jpg", kModeGrey, Op::ReadReduced},
    {"JpegPreview", kTypeJpeg, ".jpg", kModeRgb, Op::Preview},
    {"PictRead", kTypePict, ".pict", kModeRgb, Op::ReadWhole},
    {"PictReadIndexed", kTypePict, ".pict", kModeIndexed, Op::ReadWhole},
    {"PictReduced", kTypePict, ".pict", kModeGrey, Op::ReadReduced},
    {"PictPreview", kTypePict, ".pict", kModeRgb, Op::Preview},
    {"OneBitRead", kTypePict, ".msp", kModeBitmap, Op::ReadWhole},
    {"OneBitPreview", kTypePict, ".msp", kModeBitmap, Op::Preview},
    {"GifRead", kTypeGif, ".gif", kModeIndexed, Op::ReadWhole},
    {"GifReduced", kTypeGif, ".gif", kModeIndexed, Op::ReadReduced},
    {"GifPreview", kTypeGif, ".gif", kModeIndexed, Op::Preview},
    {"PngRead", kTypePng, ".png", kModeRgb, Op::ReadWhole},
    {"PngReadIndexed", kTypePng, ".png", kModeIndexed, Op::ReadWhole},
    {"PngReduced", kTypePng, ".png", kModeGrey, Op::ReadReduced},
    {"PngPreview", kTypePng, ".png", kModeRgb, Op::Preview},
    {"TiffRead", kTypeTiff, ".tif", kModeRgb, Op::ReadWhole},
    {"TiffReduced", kTypeTiff, ".tif", kModeGrey, Op::ReadReduced},
};

const RowLoop kWriters[] = {
    {"BmpWrite", kTypeBmp, ".bmp", kModeRgb, Op::WriteFile},
    {"BmpStream", kTypeBmp, ".bmp", kModeRgb, Op::StreamRgb},
    {"JpegWrite", kTypeJpeg, ".jpg", kModeRgb, Op::WriteFile},
    {"JpegStream", kTypeJpeg, ".jpg", kModeRgb, Op::StreamRgb},
    {"BlackWhiteWrite", kTypeBlackWhite, ".raw", kModeGrey, Op::WriteFile},
    {"GifWrite", kTypeGif, ".gif", kModeIndexed, Op::WriteFile},
    {"PngWrite", kTypePng, ".png", kModeRgb, Op::WriteFile},
    {"PngWriteGrey", kTypePng, ".png", kModeGrey, Op::WriteFile},
    {"TiffWrite", kTypeTiff, ".tif", kModeRgb, Op::WriteFile},
    {"TiffWriteIndexed", kTypeTiff, ".tif", kModeIndexed, Op::WriteFile},
    {"TiffStream", kTypeTiff, ".tif", kModeRgb, Op::StreamRgb},
};

INSTANTIATE_TEST_SUITE_P(Codecs, ReaderLoopTest, ::testing::Combine(::testing::ValuesIn(kReaders), ::testing::Bool()),
                         LoopName);
INSTANTIATE_TEST_SUITE_P(Codecs, WriterLoopTest, ::testing::Combine(::testing::ValuesIn(kWriters), ::testing::Bool()),
                         LoopName);

}  // namespace
