// Spilled planes far into the temporary file: planes that start or cross
// 2 GiB and 4 GiB (the file skipped forward sparsely, nothing written
// there) are filled by a read, drained by a write, lent to another codec
// and moved row by row, and give back exactly what went in.
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestUtil.h"

#include "rastik/core/CPlaneLoan.h"
#include "rastik/rastik.h"

namespace {

constexpr uint64_t kGiB = uint64_t{1} << 30;

class LargePlaneTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("TMPDIR", tmp.Path().c_str(), 1);
        ASSERT_TRUE(testutil::WriteSampleImage(kTypePng, kModeRgb, kWidth, kHeight, source));
    }
    void TearDown() override { unsetenv("TMPDIR"); }

    // The sample image read into planes that spill from offset skip on.
    std::unique_ptr<CRastik> ReadSpilled(uint64_t skip)
    {
        std::unique_ptr<CRastik> codec(NewRastikInstance(kTypePng, source.c_str()));
        if (!testutil::OpenAndReadHead(*codec, source.c_str()) || !codec->TempFile->SkipOffset(skip)) return nullptr;
        if (!testutil::ReadWholeImage(*codec)) return nullptr;
        codec->File.Close();
        return codec;
    }

    static constexpr uint32_t kWidth = 37, kHeight = 29;
    testutil::TempDir tmp;
    std::string source = tmp.File("sample.png");
};

// Where the first plane starts: at 0, just before 2 GiB, just before
// 4 GiB (planes cross it), past 4 GiB.
const uint64_t kSkips[] = {0, 2 * kGiB - 1500, 4 * kGiB - 1500, 5 * kGiB + 3};

TEST_F(LargePlaneTest, PlanesPastTwoAndFourGiBReadWriteAndLendExactly)
{
    std::vector<std::vector<uint8_t>> want;
    {
        std::unique_ptr<CRastik> heap(NewRastikInstance(kTypePng, source.c_str()));
        ASSERT_TRUE(testutil::OpenAndReadHead(*heap, source.c_str()));
        ASSERT_TRUE(testutil::ReadWholeImage(*heap));
        for (uint32_t c = 0; c < 3; ++c) want.push_back(testutil::PlaneBytes(*heap, c));
    }
    // Every plane spilled, chunks of a few rows.
    testutil::MemorySettings spill(true, 3 * 40 * 4);
    for (uint64_t skip : kSkips) {
        std::unique_ptr<CRastik> codec = ReadSpilled(skip);
        ASSERT_TRUE(codec) << skip;
        uint64_t plane = codec->PlaneBytes64();
        for (uint32_t c = 0; c < 3; ++c) {
            ASSERT_EQ(codec->ChannelKind[c], kChannelTemp);
            EXPECT_EQ(static_cast<uint64_t>(codec->ChannelOffset[c]), skip + c * plane) << skip;
            EXPECT_EQ(testutil::PlaneBytes(*codec, c), want[c]) << skip << " plane " << c;
        }
        // Row writes land where row reads find them.
        std::vector<uint8_t> row(codec->BytesPerLine, 0xA5), back(codec->BytesPerLine);
        ASSERT_TRUE(codec->WritePlaneRow(2, kHeight - 1, row.data()));
        ASSERT_TRUE(codec->ReadPlaneRow(2, kHeight - 1, back.data()));
        EXPECT_EQ(back, row);
        std::copy_n(want[2].data() + (kHeight - 1) * kWidth, kWidth, row.begin());
        ASSERT_TRUE(codec->WritePlaneRow(2, kHeight - 1, row.data()));

        // Drained by a writer that borrows the planes: the file reads back.
        std::string out = tmp.File("out.bmp");
        std::unique_ptr<CRastik> writer(NewRastikInstance(kTypeBmp, out.c_str()));
        writer->SetSize(codec.get());
        writer->SetMode(codec.get());
        {
            CPlaneLoan loan(*codec, *writer);
            ASSERT_TRUE(writer->File.Open(out.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary));
            ASSERT_TRUE(writer->WriteFile()) << skip;
            writer->File.Close();
        }
        std::unique_ptr<CRastik> back2(NewRastikInstance(kTypeBmp, out.c_str()));
        ASSERT_TRUE(testutil::OpenAndReadHead(*back2, out.c_str()));
        ASSERT_TRUE(testutil::ReadWholeImage(*back2));
        for (uint32_t c = 0; c < 3; ++c) EXPECT_EQ(testutil::PlaneBytes(*back2, c), want[c]) << skip << " " << c;
    }
}

TEST_F(LargePlaneTest, TempFileOffsetsKeepTheThirtyTwoBitFormBesideTheWideOne)
{
    CGTempFile t;
    ASSERT_TRUE(t.SkipOffset(2 * kGiB - 200));
    EXPECT_LT(t.GetFreeOffset(300), 0);  // the 32-bit form stays below 2 GiB
    EXPECT_EQ(t.GetFreeOffset(199), static_cast<int32_t>(2 * kGiB - 200));
    EXPECT_LT(t.GetFreeOffset(1), 0);
    EXPECT_EQ(t.GetFreeOffset64(kGiB), static_cast<int64_t>(2 * kGiB - 1));
    EXPECT_EQ(t.UsedBytes(), 3 * kGiB - 1);
    EXPECT_LT(t.GetFreeOffset64(~uint64_t{0}), 0);  // past the file's reach
    EXPECT_EQ(t.UsedBytes(), 3 * kGiB - 1);
}

}  // namespace
