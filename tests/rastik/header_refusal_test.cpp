// Refusals met in the header read, before a host allocates planes: the
// pixel limit of untrusted input for every reader, and files too short to
// hold the pixels they declare.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "PictFixture.h"
#include "TestUtil.h"

#include "rastik/rastik.h"

namespace {

constexpr uint32_t kWidth = 24, kHeight = 11;

struct Sample {
    const char* name;
    unsigned type;
    uint32_t mode;
};

// A sample of every reader (the picture reader's built byte by byte).
const Sample kSamples[] = {
    {"s.bmp", kTypeBmp, kModeRgb},   {"s.gif", kTypeGif, kModeIndexed}, {"s.jpg", kTypeJpeg, kModeRgb},
    {"s.png", kTypePng, kModeRgb},   {"s.tif", kTypeTiff, kModeCmyk},   {"s.pct", kTypePict, kModeGrey},
    {"m.pct", kTypePict, kModeBitmap},
};

class HeaderRefusalTest : public ::testing::Test {
protected:
    void TearDown() override { SetMaxPixels(0); }

    std::string Make(const Sample& s)
    {
        std::string path = tmp.File(s.name);
        bool made = s.type == kTypePict ? testutil::WriteBytes(path, pictfix::SamplePicture(s.mode, kWidth, kHeight))
                                        : testutil::WriteSampleImage(s.type, s.mode, kWidth, kHeight, path);
        EXPECT_TRUE(made) << s.name;
        return path;
    }
    testutil::TempDir tmp;
};

TEST_F(HeaderRefusalTest, PixelLimitRefusesLargerImagesInEveryHeaderRead)
{
    testutil::MessageCapture shown;
    for (const Sample& s : kSamples) {
        std::string path = Make(s);
        for (uint64_t limit : {uint64_t{0}, uint64_t{kWidth} * kHeight, uint64_t{kWidth} * kHeight - 1}) {
            SetMaxPixels(limit);
            EXPECT_EQ(GetMaxPixels(), limit);
            std::unique_ptr<CRastik> codec(NewRastikInstance(s.type, path.c_str()));
            codec->SetWarningMsg(1);
            shown.Clear();
            bool over = limit && limit < uint64_t{kWidth} * kHeight;
            EXPECT_EQ(testutil::OpenAndReadHead(*codec, path.c_str()), over ? 0 : 1) << s.name << " " << limit;
            EXPECT_EQ(codec->GetLastMessage(), over ? kMsgTooManyPixels : 0) << s.name << " " << limit;
            EXPECT_EQ(shown.Saw(kMsgTooManyPixels), over) << s.name;
        }
    }
    // The text names the limit where it is shown.
    EXPECT_STREQ(GetRastikMessageText(kMsgTooManyPixels), "图象的像素数超过上限，不能读取。");
    EXPECT_EQ(RastikMessageText(kMsgTooManyPixels, 263, 0), "图象的像素数超过上限 263，不能读取。");
}

}  // namespace
