// The shared row pipeline: the plane-row stream in every order, access and
// group size with planes in memory and spilled in grants of a few rows, and
// the rows it tells final to a step following the read; the
// reduced sampler's rule; the field and bit readers at their ends.
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "platform/KeyQueue.h"
#include "rastik/CRastik.h"
#include "rastik/General.h"
#include "rastik/core/CPlaneRowStream.h"
#include "rastik/core/CPlaneWindow.h"
#include "rastik/core/CReducedSampler.h"
#include "rastik/support/ByteOrder.h"

namespace {

constexpr uint32_t kWidth = 37;
constexpr uint32_t kHeight = 53;
constexpr uint32_t kPlanes = 3;

uint8_t Sample(uint32_t plane, uint32_t row, uint32_t x)
{
    return static_cast<uint8_t>(plane * 89 + row * 7 + x);
}

struct StreamCase {
    CPlaneRowStream::Direction direction;
    uint32_t group;
    bool spilled;
};

class PlaneRowStreamTest : public ::testing::TestWithParam<StreamCase> {
protected:
    void SetUp() override
    {
        settings = std::make_unique<testutil::MemorySettings>(GetParam().spilled, 3 * 48 * 2);
        image.Width = kWidth;
        image.Height = kHeight;
        image.SetMode(kModeRgb);
        image.BytesPerLine = BytesPerRow(kWidth * 8);
        ASSERT_EQ(image.AllocChannelSpace(), 1);
        ASSERT_EQ(image.ChannelKind[0], GetParam().spilled ? kChannelTemp : kChannelHeap);
    }
    void TearDown() override
    {
        int key;
        while (TakeKeyDown(&key)) {
        }
    }

    // Image rows in the order the stream passes them.
    std::vector<uint32_t> Order() const
    {
        std::vector<uint32_t> rows;
        for (uint32_t i = 0; i < kHeight; ++i)
            rows.push_back(GetParam().direction == CPlaneRowStream::kBottomUp ? kHeight - 1 - i
                           : GetParam().direction == CPlaneRowStream::kAnyOrder ? (i * 17) % kHeight
                                                                                : i);
        return rows;
    }

    // Fills every row through a stream; false as soon as one call fails.
    bool Fill(CReadFollower* follower = nullptr)
    {
        CPlaneRowStream rows(image, CPlaneRowStream::kFill, GetParam().direction, kPlanes, GetParam().group);
        rows.FollowedBy(follower);
        if (!rows.Open()) return false;
        if (GetParam().direction == CPlaneRowStream::kAnyOrder) {
            for (uint32_t row : Order()) {
                for (uint32_t p = 0; p < kPlanes; ++p) {
                    uint8_t* out = rows.RowAt(p, row);
                    if (!out) return false;
                    for (uint32_t x = 0; x < kWidth; ++x) out[x] = Sample(p, row, x);
                }
                if (!rows.Commit(row)) return false;
            }
            return rows.Finish() == CPlaneRowStream::kDone;
        }
        for (uint32_t done = 0; done < kHeight;) {
            uint32_t n = std::min(GetParam().group, kHeight - done);
            for (uint32_t i = 0; i < n; ++i)
                for (uint32_t p = 0; p < kPlanes; ++p) {
                    uint8_t* out = rows.Row(p, i);
                    if (!out || rows.RowIndex(i) != Order()[done + i]) return false;
                    for (uint32_t x = 0; x < kWidth; ++x) out[x] = Sample(p, rows.RowIndex(i), x);
                }
            if (!rows.Advance(n)) return false;
            done += n;
        }
        return rows.Finish() == CPlaneRowStream::kDone;
    }

    std::unique_ptr<testutil::MemorySettings> settings;
    CRastik image;
};

TEST_P(PlaneRowStreamTest, FilledRowsLandInThePlanesAndDrainBack)
{
    ASSERT_TRUE(Fill());
    std::vector<uint8_t> row(image.BytesPerLine);
    for (uint32_t p = 0; p < kPlanes; ++p)
        for (uint32_t r = 0; r < kHeight; ++r) {
            ASSERT_EQ(image.ReadPlaneRow(p, r, row.data()), 1);
            for (uint32_t x = 0; x < kWidth; ++x) ASSERT_EQ(row[x], Sample(p, r, x)) << p << " " << r << " " << x;
        }
    CPlaneRowStream rows(image, CPlaneRowStream::kDrain, GetParam().direction, kPlanes, GetParam().group);
    ASSERT_TRUE(rows.Open());
    for (uint32_t row : Order()) {
        for (uint32_t p = 0; p < kPlanes; ++p) {
            const uint8_t* in = GetParam().direction == CPlaneRowStream::kAnyOrder ? rows.RowAt(p, row) : rows.Row(p);
            ASSERT_NE(in, nullptr);
            for (uint32_t x = 0; x < kWidth; ++x) ASSERT_EQ(in[x], Sample(p, row, x));
        }
        ASSERT_TRUE(GetParam().direction == CPlaneRowStream::kAnyOrder ? rows.Commit(row) : rows.Advance(1));
    }
    EXPECT_EQ(rows.Finish(), CPlaneRowStream::kDone);
}

// Checks, each time it is told, that the rows it is told of hold their samples.
class FinalRowsCheck final : public CReadFollower {
public:
    explicit FinalRowsCheck(const CRastik& image) : m_image(image) {}
    void RowsFinal(uint32_t rows) noexcept override
    {
        if (rows <= last) ++backwards;
        for (uint32_t r = last; r < rows; ++r)
            for (uint32_t p = 0; p < kPlanes; ++p)
                for (uint32_t x = 0; x < kWidth; ++x)
                    if (m_image.ChannelData[p][r * m_image.BytesPerLine + x] != Sample(p, r, x)) ++unfinished;
        last = rows;
        ++calls;
    }
    uint32_t last = 0, calls = 0, backwards = 0, unfinished = 0;

private:
    const CRastik& m_image;
};

TEST_P(PlaneRowStreamTest, OnlyATopDownFillOfHeapPlanesTellsItsRowsFinal)
{
    FinalRowsCheck check(image);
    ASSERT_TRUE(Fill(&check));
    const bool tells = GetParam().direction == CPlaneRowStream::kTopDown && !GetParam().spilled;
    EXPECT_EQ(check.calls, tells ? (kHeight + GetParam().group - 1) / GetParam().group : 0u);
    EXPECT_EQ(check.last, tells ? kHeight : 0u);
    EXPECT_EQ(check.backwards, 0u);
    EXPECT_EQ(check.unfinished, 0u);
}

TEST_P(PlaneRowStreamTest, EscStopsAndMarksTheImage)
{
    PostKeyDown(VK_ESCAPE);
    EXPECT_FALSE(Fill());
    EXPECT_EQ(image.EscPressed, 1);
}

TEST_P(PlaneRowStreamTest, ShortSpilledPlaneFails)
{
    if (!GetParam().spilled) GTEST_SKIP() << "planes in memory";
    ASSERT_TRUE(Fill());
    image.TempFileObject->SetLength(image.BytesPerLine * 5);
    std::vector<uint8_t> row(image.BytesPerLine);
    EXPECT_EQ(image.ReadPlaneRow(2, kHeight - 1, row.data()), 0);
    CPlaneRowStream rows(image, CPlaneRowStream::kDrain, GetParam().direction, kPlanes, GetParam().group);
    ASSERT_TRUE(rows.Open());
    bool failed = false;
    for (uint32_t row : Order()) {
        if (!(GetParam().direction == CPlaneRowStream::kAnyOrder ? rows.RowAt(2, row) : rows.Row(2))) {
            failed = true;
            break;
        }
        if (GetParam().direction == CPlaneRowStream::kAnyOrder ? !rows.Commit(row) : !rows.Advance(1)) break;
    }
    EXPECT_TRUE(failed);
    EXPECT_EQ(rows.Result(), CPlaneRowStream::kFailed);
}

const StreamCase kStreamCases[] = {
    {CPlaneRowStream::kTopDown, 1, false},  {CPlaneRowStream::kTopDown, 1, true},
    {CPlaneRowStream::kTopDown, 8, false},  {CPlaneRowStream::kTopDown, 8, true},
    {CPlaneRowStream::kBottomUp, 1, false}, {CPlaneRowStream::kBottomUp, 1, true},
    {CPlaneRowStream::kAnyOrder, 1, false}, {CPlaneRowStream::kAnyOrder, 1, true},
};

// Planes that hold a window of eight rows, a writer taking and releasing
// four rows at a time behind the read.
TEST(PlaneWindow, RowsPassThroughTheWindowAndNoneLiesOverRowsStillHeld)
{
    constexpr uint32_t kWindow = 8, kTaken = 4;
    auto windowed = [](uint32_t rows) {
        auto image = std::make_unique<CRastik>();
        image->Width = kWidth;
        image->Height = kHeight;
        image->SetMode(kModeRgb);
        image->BytesPerLine = BytesPerRow(kWidth * 8);
        image->WindowPlanes(std::make_shared<CPlaneWindow>(rows));
        EXPECT_EQ(image->AllocChannelSpace(), 1);
        return image;
    };
    // A window of every row is no window.
    EXPECT_EQ(windowed(kHeight)->PlaneWindow(), nullptr);

    std::unique_ptr<CRastik> image = windowed(kWindow);
    ASSERT_NE(image->PlaneWindow(), nullptr);
    CPlaneRowStream fill(*image, CPlaneRowStream::kFill, CPlaneRowStream::kTopDown, kPlanes);
    CPlaneRowStream drain(*image, CPlaneRowStream::kDrain, CPlaneRowStream::kTopDown, kPlanes);
    ASSERT_TRUE(fill.Open() && drain.Open());
    uint32_t taken = 0;
    for (uint32_t row = 0; row < kHeight; ++row) {
        for (uint32_t p = 0; p < kPlanes; ++p) {
            uint8_t* out = fill.Row(p);
            ASSERT_NE(out, nullptr) << row;
            for (uint32_t x = 0; x < kWidth; ++x) out[x] = Sample(p, row, x);
        }
        ASSERT_TRUE(fill.Advance());
        if ((row + 1) % kTaken != 0 && row + 1 < kHeight) continue;
        for (; taken <= row; ++taken) {
            for (uint32_t p = 0; p < kPlanes; ++p)
                for (uint32_t x = 0; x < kWidth; ++x) ASSERT_EQ(drain.Row(p)[x], Sample(p, taken, x)) << taken;
            ASSERT_TRUE(drain.Advance());
        }
        image->ReleasePlaneRows(row + 1);
    }

    // Without the writer's release the read stops at the window's end; rows
    // are not reached another way, nor from the bottom.
    image = windowed(kWindow);
    std::vector<uint8_t> row(image->BytesPerLine);
    EXPECT_EQ(image->ReadPlaneRow(0, 0, row.data()), 0);
    CPlaneRowStream ahead(*image, CPlaneRowStream::kFill, CPlaneRowStream::kTopDown, kPlanes);
    ASSERT_TRUE(ahead.Open());
    for (uint32_t n = 0; n < kWindow; ++n) ASSERT_TRUE(ahead.Row(0) && ahead.Advance());
    EXPECT_EQ(ahead.Row(0), nullptr);
    EXPECT_EQ(ahead.Result(), CPlaneRowStream::kFailed);
    CPlaneRowStream up(*image, CPlaneRowStream::kFill, CPlaneRowStream::kBottomUp, kPlanes);
    ASSERT_TRUE(up.Open());
    EXPECT_EQ(up.Row(0), nullptr);
}

std::string StreamCaseName(const ::testing::TestParamInfo<StreamCase>& info)
{
    const char* names[] = {"TopDown", "BottomUp", "AnyOrder"};
    return std::string(names[info.param.direction]) + "Group" + std::to_string(info.param.group) +
           (info.param.spilled ? "Spilled" : "Memory");
}

INSTANTIATE_TEST_SUITE_P(Orders, PlaneRowStreamTest, ::testing::ValuesIn(kStreamCases), StreamCaseName);

TEST(ReducedSampler, TakesRowsAndColumnsByTheFloatRatio)
{
    // 100 rows to 10: rows 0, 10, 20, ...
    CReducedSampler tenth(100, 100, 10, 10);
    std::vector<uint32_t> taken;
    for (uint32_t r = 0; r < 100; ++r)
        if (tenth.Wants(r)) taken.push_back(r), tenth.Take();
    EXPECT_EQ(taken, (std::vector<uint32_t>{0, 10, 20, 30, 40, 50, 60, 70, 80, 90}));
    EXPECT_EQ(tenth.Rows(), taken);
    EXPECT_TRUE(tenth.Done());
    // A target wider than the source takes only what the rule reaches.
    EXPECT_EQ(CReducedSampler::Positions(3, 10), (std::vector<uint32_t>{0}));
    // Every column of a halving.
    EXPECT_EQ(CReducedSampler::Positions(7, 3), (std::vector<uint32_t>{0, 3, 5}));
}

TEST(ByteOrder, FieldReaderStopsAtItsEnd)
{
    const uint8_t bytes[] = {0x49, 0x49, 0x2A, 0x00, 0x08, 0x00, 0x00};
    rastik::CFieldReader le(bytes, bytes + sizeof bytes, true);
    uint16_t w = 0;
    uint32_t d = 0;
    EXPECT_TRUE(le.U16(w) && w == 0x4949);
    EXPECT_TRUE(le.U16(w) && w == 42);
    EXPECT_FALSE(le.U32(d));  // three bytes left
    EXPECT_FALSE(le.Ok());
    uint8_t b = 0;
    EXPECT_FALSE(le.U8(b));  // a failed reader stays failed
    rastik::CFieldReader be(bytes + 2, bytes + 6, false);
    EXPECT_TRUE(be.U32(d) && d == 0x2A000800u);
}

TEST(ByteOrder, BitReadersInBothOrders)
{
    const uint8_t bytes[] = {0xA0, 0xFF, 0x01};
    rastik::CLsbBitReader lsb(bytes, bytes + 3);
    uint32_t code = 0;
    ASSERT_TRUE(lsb.Read(5, code));
    ASSERT_TRUE(lsb.Read(9, code));
    EXPECT_EQ(code, 509u);  // bits 5 to 13 of 0x01FFA0
    EXPECT_FALSE(lsb.Read(11, code));  // ten bits left
    EXPECT_TRUE(lsb.Read(10, code));
    EXPECT_TRUE(lsb.AtEnd());

    rastik::CMsbBitReader msb(bytes, bytes + 3);
    ASSERT_TRUE(msb.Read(3, code));
    EXPECT_EQ(code, 5u);  // 101
    ASSERT_TRUE(msb.Read(9, code));
    EXPECT_EQ(code, 0x0Fu);  // 0 0000 1111
    EXPECT_EQ(msb.Peek(12), 0xF01u);
    msb.AlignToByte();
    EXPECT_EQ(msb.BitsLeft(), 8u);
    EXPECT_FALSE(msb.Read(9, code));
    EXPECT_EQ(msb.Peek(9), 0x2u);  // 0000 0001 then a zero past the end
}

TEST(ReadCode, BoundedFormKeepsToItsBytes)
{
    CRastik image;
    const uint8_t bytes[] = {0xA0, 0xFF, 0x01};
    int at = 5;
    EXPECT_EQ(image.ReadCode(bytes, &at, 9, 511, sizeof bytes), 509);
    EXPECT_EQ(at, 14);
    EXPECT_EQ(image.ReadCode(bytes, &at, 10, 1023, sizeof bytes), 0x07);  // ten bits at 14..23
    EXPECT_EQ(image.ReadCode(bytes, &at, 1, 1, sizeof bytes), -1);
}

}  // namespace
