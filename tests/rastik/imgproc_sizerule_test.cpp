// Size modes of whole-file conversion: new size and resolution from the
// source size, its resolution and the size arguments.
#include <cmath>

#include <gtest/gtest.h>

#include "rastik/core/CSizeRule.h"

namespace {

struct Outcome {
    uint32_t width;
    uint32_t height;
    int32_t resolution;
};

Outcome Apply(uint32_t W, uint32_t H, int32_t D, int mode, uint32_t w, int32_t h, int32_t r)
{
    CSizeRule rule(W, H, D);
    rule.Apply(mode, w, h, r);
    return {rule.NewWidth, rule.NewHeight, rule.NewResolution};
}

void Expect(const Outcome& got, uint32_t width, uint32_t height, int32_t resolution)
{
    EXPECT_EQ(got.width, width);
    EXPECT_EQ(got.height, height);
    EXPECT_EQ(got.resolution, resolution);
}

TEST(ImgProcSizeRule, WidthModeScalesSmallerWidthsOnly)
{
    Expect(Apply(1000, 500, 72, 1, 400, 0, 0), 400, 200, 29);  // ⌊72 · 0.4 + 0.5⌋
    Expect(Apply(1000, 500, 300, 1, 400, 0, 0), 400, 200, 120);
    Expect(Apply(1000, 500, 72, 1, 2000, 0, 0), 1000, 500, 72);
    Expect(Apply(1000, 500, 72, 1, 1000, 0, 0), 1000, 500, 72);
    Expect(Apply(1000, 333, 72, 1, 500, 0, 0), 500, 167, 36);  // 166.5 rounds up
}

TEST(ImgProcSizeRule, HeightModeScalesSmallerHeightsOnly)
{
    Expect(Apply(1000, 500, 72, 2, 0, 250, 0), 500, 250, 36);
    Expect(Apply(1000, 500, 72, 2, 0, 800, 0), 1000, 500, 72);
    // A negative height takes part as a large unsigned value: no change.
    Expect(Apply(1000, 500, 72, 2, 0, -5, 0), 1000, 500, 72);
}

TEST(ImgProcSizeRule, FitModeChoosesTheTighterSide)
{
    // H / h = 1.25 < W / w = 2.5: scale to the width.
    Expect(Apply(1000, 500, 72, 3, 400, 400, 0), 400, 200, 29);
    // A tall image is scaled to the height.
    Expect(Apply(500, 1000, 72, 3, 400, 400, 0), 200, 400, 29);
    // Equal ratios take the height rule.
    Expect(Apply(1000, 500, 100, 3, 500, 250, 0), 500, 250, 50);
    // A box larger than the image keeps it.
    Expect(Apply(1000, 500, 72, 3, 4000, 4000, 0), 1000, 500, 72);
}

TEST(ImgProcSizeRule, LongestSideMode)
{
    Expect(Apply(300, 600, 72, 4, 200, 0, 0), 100, 200, 24);  // mode 5 with h = 200
    Expect(Apply(600, 300, 72, 4, 200, 0, 0), 200, 100, 24);
    Expect(Apply(300, 600, 72, 4, 600, 0, 0), 300, 600, 72);  // both sides fit
    Expect(Apply(300, 600, 72, 4, 400, 0, 0), 200, 400, 48);  // fits the width only
}

TEST(ImgProcSizeRule, HeightAndExactModesScaleUpToo)
{
    Expect(Apply(1000, 500, 72, 5, 0, 1000, 0), 2000, 1000, 144);
    Expect(Apply(1000, 500, 72, 6, 123, 250, 0), 123, 250, 36);
}

TEST(ImgProcSizeRule, ResolutionModes)
{
    Expect(Apply(1000, 500, 72, 7, 0, 0, 144), 2000, 1000, 144);
    Expect(Apply(1000, 500, 300, 7, 0, 0, 72), 240, 120, 72);
    Expect(Apply(1000, 500, 72, 8, 7, 7, 300), 1000, 500, 300);
    Expect(Apply(1000, 500, 72, 9, 7, 9, 300), 7, 9, 300);
    Expect(Apply(1000, 500, 72, -1, 7, 9, 300), 7, 9, 300);
}

TEST(ImgProcSizeRule, SourceBelowOneDotPerInchCountsAs72)
{
    Expect(Apply(1000, 500, 0, 7, 0, 0, 144), 2000, 1000, 144);
}

TEST(ImgProcSizeRule, ZeroesBecomeOne)
{
    Expect(Apply(1000, 500, 72, 1, 0, 0, 0), 1, 1, 1);
    Expect(Apply(1000, 500, 72, 8, 0, 0, 0), 1000, 500, 1);
    Expect(Apply(1000, 500, 72, 9, 0, 0, -20), 1, 1, 1);
    Expect(Apply(1000, 500, 72, 7, 0, 0, 0), 1, 1, 1);
}

TEST(ImgProcSizeRule, WideProductsDoNotWrap)
{
    // 2,000,000 · 2400 passes 32 bits; the resolution still scales by w / W.
    Expect(Apply(3000000, 100, 2400, 1, 2000000, 0, 0), 2000000, 67, 1600);
}

TEST(ImgProcSizeRule, DotsPerInchOfEachUnit)
{
    EXPECT_EQ(CSizeRule::DotsPerInch(300.0f, 0), 300);
    EXPECT_EQ(CSizeRule::DotsPerInch(300.0f, 1), 300);
    EXPECT_EQ(CSizeRule::DotsPerInch(11.811f, 2), 299);  // 299.99...: truncated
    EXPECT_EQ(CSizeRule::DotsPerInch(118.11f, 3), 299);
    EXPECT_EQ(CSizeRule::DotsPerInch(11811.0f, 4), 299);
    EXPECT_EQ(CSizeRule::DotsPerInch(2.0f, 5), 144);
    EXPECT_EQ(CSizeRule::DotsPerInch(12.0f, 6), 72);
    EXPECT_EQ(CSizeRule::DotsPerInch(0.05f, 7), 72);
    EXPECT_EQ(CSizeRule::DotsPerInch(0.5f, 1), 0);
    EXPECT_EQ(CSizeRule::DotsPerInch(-3.0f, 1), 0);
    EXPECT_EQ(CSizeRule::DotsPerInch(std::nanf(""), 1), 0);
    EXPECT_EQ(CSizeRule::DotsPerInch(1e30f, 1), 0x7FFFFFFF);
    // Size mode 7 takes the nearest whole number: 2834 pixels per metre.
    EXPECT_EQ(CSizeRule::NearestDotsPerInch(71.98f, 1), 72);
    EXPECT_EQ(CSizeRule::NearestDotsPerInch(28.34f, 3), 72);
    EXPECT_EQ(CSizeRule::NearestDotsPerInch(72.49f, 1), 72);
    EXPECT_EQ(CSizeRule::NearestDotsPerInch(0.4f, 1), 0);
    EXPECT_EQ(CSizeRule::NearestDotsPerInch(1e30f, 1), 0x7FFFFFFF);
}

}  // namespace
