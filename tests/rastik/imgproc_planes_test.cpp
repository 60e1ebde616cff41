// Colour-mode conversion and bilinear resampling between channel planes,
// each run with planes on the heap and spilled to the temporary file.
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "rastik/CRastik.h"
#include "rastik/General.h"
#include "rastik/core/CColorConverter.h"
#include "rastik/core/CResampler.h"

namespace {

using Rows = std::vector<std::vector<uint8_t>>;  // one plane, top row first

// A plain image of the mode with the given planes (all of one size).
void MakeImage(CRastik& image, uint32_t mode, const std::vector<Rows>& planes)
{
    image.Height = static_cast<uint32_t>(planes[0].size());
    image.Width = static_cast<uint32_t>(planes[0][0].size());
    image.SetMode(mode);
    image.ChannelCount = static_cast<uint32_t>(planes.size());
    image.BytesPerLine = BytesPerRow(image.Width * 8);
    ASSERT_TRUE(image.AllocChannelSpace());
    std::vector<uint8_t> row(image.BytesPerLine, 0xEE);
    for (uint32_t c = 0; c < planes.size(); ++c) {
        for (uint32_t y = 0; y < image.Height; ++y) {
            std::memcpy(row.data(), planes[c][y].data(), image.Width);
            ASSERT_TRUE(image.WritePlaneRow(c, y, row.data()));
        }
    }
}

Rows PlaneOf(CRastik& image, uint32_t c)
{
    std::vector<uint8_t> bytes = testutil::PlaneBytes(image, c);
    Rows rows(image.Height);
    for (uint32_t y = 0; y < image.Height; ++y)
        rows[y].assign(bytes.begin() + y * image.Width, bytes.begin() + (y + 1) * image.Width);
    return rows;
}

// Pixels of a single-row image, one plane per channel.
std::vector<Rows> Pixels(const std::vector<std::vector<uint8_t>>& channels)
{
    std::vector<Rows> planes;
    for (const auto& c : channels) planes.push_back(Rows{c});
    return planes;
}

void SetPalette(CRastik& image, const std::vector<uint8_t>& bgr0)
{
    image.SetPalette(bgr0.data(), static_cast<uint32_t>(bgr0.size() / 4));
    image.PaletteSize = static_cast<uint32_t>(bgr0.size() / 4);
}

class ImgProcPlanes : public ::testing::TestWithParam<bool> {
protected:
    ImgProcPlanes() : memory(GetParam(), 64) {}
    testutil::MemorySettings memory;
};

INSTANTIATE_TEST_SUITE_P(Storage, ImgProcPlanes, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Spilled" : "InMemory"; });

TEST_P(ImgProcPlanes, RgbToGreyTruncatesTheWeightedSum)
{
    CRastik s, t;
    MakeImage(s, kModeRgb, Pixels({{100, 255, 0, 0, 255, 1}, {200, 255, 255, 0, 0, 1}, {50, 255, 0, 255, 0, 1}}));
    ASSERT_TRUE(CColorConverter(s, t).Convert(kModeGrey));
    EXPECT_EQ(t.ColorMode, static_cast<uint32_t>(kModeGrey));
    EXPECT_EQ(t.ChannelCount, 1u);
    // 0.6·G + 0.3·R + 0.1·B; 1, 1, 1 sums to just under 1.
    EXPECT_EQ(PlaneOf(t, 0)[0], (std::vector<uint8_t>{155, 255, 153, 25, 76, 0}));
}

TEST_P(ImgProcPlanes, CmykToGreyGoesThroughRgb)
{
    // With K = 0 the conversion gives R = 255 − C and so on: 9, 1, 2 has the
    // grey 0.3·9 + 0.6·1 + 0.1·2 = 3.5, truncated; K = 55 alone is 200 grey.
    CRastik s, t;
    MakeImage(s, kModeCmyk, Pixels({{246, 0, 0}, {254, 0, 0}, {253, 0, 0}, {0, 255, 55}}));
    ASSERT_TRUE(CColorConverter(s, t).Convert(kModeGrey));
    EXPECT_EQ(PlaneOf(t, 0)[0], (std::vector<uint8_t>{3, 0, 200}));
}

TEST_P(ImgProcPlanes, RgbAndCmykBothWays)
{
    CRastik s, cmyk, back;
    MakeImage(s, kModeRgb, Pixels({{255, 0, 128, 255}, {0, 0, 128, 255}, {0, 0, 128, 255}}));
    ASSERT_TRUE(CColorConverter(s, cmyk).Convert(kModeCmyk));
    ASSERT_EQ(cmyk.ChannelCount, 4u);
    EXPECT_EQ(PlaneOf(cmyk, 0)[0], (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(PlaneOf(cmyk, 1)[0], (std::vector<uint8_t>{255, 0, 0, 0}));
    EXPECT_EQ(PlaneOf(cmyk, 3)[0], (std::vector<uint8_t>{0, 255, 127, 0}));
    ASSERT_TRUE(CColorConverter(cmyk, back).Convert(kModeRgb));
    for (uint32_t c = 0; c < 3; ++c) {
        Rows want = PlaneOf(s, c), got = PlaneOf(back, c);
        for (size_t x = 0; x < 4; ++x) {
            EXPECT_NEAR(got[0][x], want[0][x], 1) << c << " " << x;
        }
    }
}

TEST_P(ImgProcPlanes, IndexedSourcesGoThroughThePalette)
{
    // Entry 0 black, entry 1 blue 50, green 200, red 100; index 7 lies past
    // the two-entry palette and reads as black.
    std::vector<uint8_t> palette = {0, 0, 0, 0, 50, 200, 100, 0};
    for (uint32_t mode : {kModeGrey, kModeRgb, kModeCmyk}) {
        CRastik s, t;
        MakeImage(s, kModeIndexed, Pixels({{1, 0, 7}}));
        SetPalette(s, palette);
        ASSERT_TRUE(CColorConverter(s, t).Convert(mode)) << mode;
        if (mode == kModeGrey) {
            EXPECT_EQ(PlaneOf(t, 0)[0], (std::vector<uint8_t>{155, 0, 0}));
        }
        if (mode == kModeRgb) {
            EXPECT_EQ(PlaneOf(t, 0)[0], (std::vector<uint8_t>{100, 0, 0}));
            EXPECT_EQ(PlaneOf(t, 1)[0], (std::vector<uint8_t>{200, 0, 0}));
            EXPECT_EQ(PlaneOf(t, 2)[0], (std::vector<uint8_t>{50, 0, 0}));
        }
        if (mode == kModeCmyk) {
            EXPECT_EQ(PlaneOf(t, 3)[0], (std::vector<uint8_t>{55, 255, 255}));  // K = 255 − max
            EXPECT_EQ(PlaneOf(t, 0)[0][0], 128);                                 // (200 − 100) · 255 / 200
        }
    }
}

TEST_P(ImgProcPlanes, RgbAndCmykToIndexedGiveTheExactColours)
{
    CRastik s, t;
    MakeImage(s, kModeRgb, {Rows{{10, 10, 250}, {250, 90, 10}}, Rows{{20, 20, 0}, {0, 90, 20}},
                           Rows{{30, 30, 5}, {5, 90, 30}}});
    ASSERT_TRUE(CColorConverter(s, t).Convert(kModeIndexed));
    ASSERT_EQ(t.PaletteSize, 3u);
    ASSERT_NE(t.Palette, nullptr);
    Rows idx = PlaneOf(t, 0);
    Rows r = PlaneOf(s, 0), g = PlaneOf(s, 1), b = PlaneOf(s, 2);
    for (uint32_t y = 0; y < 2; ++y)
        for (uint32_t x = 0; x < 3; ++x) {
            const uint8_t* e = t.Palette + 4 * idx[y][x];
            EXPECT_EQ(e[2], r[y][x]);
            EXPECT_EQ(e[1], g[y][x]);
            EXPECT_EQ(e[0], b[y][x]);
        }
    CRastik cmyk, indexed;
    MakeImage(cmyk, kModeCmyk, Pixels({{0, 255}, {0, 255}, {0, 255}, {0, 0}}));  // white, black
    ASSERT_TRUE(CColorConverter(cmyk, indexed).Convert(kModeIndexed));
    ASSERT_EQ(indexed.PaletteSize, 2u);
    Rows i2 = PlaneOf(indexed, 0);
    EXPECT_EQ(indexed.Palette[4 * i2[0][0]], 255);
    EXPECT_EQ(indexed.Palette[4 * i2[0][1]], 0);
}

// Bitmap and grey images into the modes formats without theirs hold: a
// bitmap's two colours as greys or a two-entry palette, grey as a grey ramp.
TEST_P(ImgProcPlanes, BitmapAndGreyIntoGreyAndIndexed)
{
    CRastik bits, grey, indexed, plain, plainGrey, ramp;
    MakeImage(bits, kModeBitmap, Pixels({{0, 1, 1, 0}}));
    SetPalette(bits, {200, 0, 0, 0, 0, 255, 255, 0});  // blue, yellow
    ASSERT_TRUE(CColorConverter(bits, grey).Convert(kModeGrey));
    EXPECT_EQ(PlaneOf(grey, 0)[0], (std::vector<uint8_t>{20, 229, 229, 20}));
    ASSERT_TRUE(CColorConverter(bits, indexed).Convert(kModeIndexed));
    EXPECT_EQ(PlaneOf(indexed, 0)[0], (std::vector<uint8_t>{0, 1, 1, 0}));
    ASSERT_EQ(indexed.PaletteSize, 2u);
    EXPECT_EQ(0, memcmp(indexed.Palette, bits.Palette, 8));
    // Without a palette a bitmap is black and white.
    MakeImage(plain, kModeBitmap, Pixels({{1, 0}}));
    ASSERT_TRUE(CColorConverter(plain, plainGrey).Convert(kModeGrey));
    EXPECT_EQ(PlaneOf(plainGrey, 0)[0], (std::vector<uint8_t>{255, 0}));
    CRastik greySource;
    MakeImage(greySource, kModeGrey, Pixels({{7, 250}}));
    ASSERT_TRUE(CColorConverter(greySource, ramp).Convert(kModeIndexed));
    EXPECT_EQ(PlaneOf(ramp, 0)[0], (std::vector<uint8_t>{7, 250}));
    ASSERT_EQ(ramp.PaletteSize, 256u);
    EXPECT_EQ(ramp.Palette[250 * 4], 250);
    EXPECT_EQ(ramp.Palette[250 * 4 + 2], 250);
}

TEST(ImgProcPlanesRules, PairsWithoutARuleConvertNothing)
{
    EXPECT_FALSE(CColorConverter::HasRule(kModeRgb, kModeBitmap));
    EXPECT_FALSE(CColorConverter::HasRule(kModeCmyk, kModeBitmap));
    EXPECT_FALSE(CColorConverter::HasRule(kModeOther, kModeGrey));
    EXPECT_FALSE(CColorConverter::HasRule(kModeGrey, kModeRgb));
    EXPECT_FALSE(CColorConverter::HasRule(kModeBitmap, kModeRgb));
    EXPECT_TRUE(CColorConverter::HasRule(kModeIndexed, kModeCmyk));
    CRastik s, t;
    MakeImage(s, kModeRgb, Pixels({{1}, {2}, {3}}));
    EXPECT_EQ(CColorConverter(s, t).Convert(kModeBitmap), 0);
    // An RGB image without its three planes is refused, not read past.
    CRastik thin, t2;
    MakeImage(thin, kModeRgb, Pixels({{1}}));
    EXPECT_EQ(CColorConverter(thin, t2).Convert(kModeGrey), 0);
}

// Source value 30·x + 90·y: bilinear samples of a linear ramp are exact.
std::vector<Rows> Ramp3x3()
{
    return {Rows{{0, 30, 60}, {90, 120, 150}, {180, 210, 240}}};
}

TEST_P(ImgProcPlanes, ResamplerBlendsAKnownRamp)
{
    CRastik s, t;
    MakeImage(s, kModeGrey, Ramp3x3());
    ASSERT_TRUE(CResampler(s, t).Resample(5, 5));
    EXPECT_EQ(t.Width, 5u);
    EXPECT_EQ(t.BytesPerLine, 8u);
    Rows got = PlaneOf(t, 0);
    for (uint32_t j = 0; j < 5; ++j)
        for (uint32_t k = 0; k < 5; ++k) {
            EXPECT_EQ(got[j][k], 15 * k + 45 * j) << j << " " << k;
        }
    CRastik corners;
    ASSERT_TRUE(CResampler(s, corners).Resample(2, 2));
    EXPECT_EQ(PlaneOf(corners, 0), (Rows{{0, 60}, {180, 240}}));
}

TEST_P(ImgProcPlanes, ResamplerTruncatesAndHandlesOneRowOrColumn)
{
    CRastik s, row, column, wide;
    MakeImage(s, kModeGrey, Ramp3x3());
    ASSERT_TRUE(CResampler(s, row).Resample(3, 1));
    EXPECT_EQ(PlaneOf(row, 0), (Rows{{0, 30, 60}}));
    ASSERT_TRUE(CResampler(s, column).Resample(1, 3));
    EXPECT_EQ(PlaneOf(column, 0), (Rows{{0}, {90}, {180}}));
    // One source row [0, 10]: x = k / 3 gives 3.33 and 6.67, truncated.
    CRastik one;
    MakeImage(one, kModeGrey, {Rows{{0, 10}}});
    ASSERT_TRUE(CResampler(one, wide).Resample(4, 2));
    EXPECT_EQ(PlaneOf(wide, 0), (Rows{{0, 3, 6, 10}, {0, 3, 6, 10}}));
}

TEST_P(ImgProcPlanes, ResamplerKeepsEveryPlaneAndTheModeFields)
{
    CRastik s, t;
    MakeImage(s, kModeRgb, {Ramp3x3()[0], Rows{{9, 9, 9}, {9, 9, 9}, {9, 9, 9}}, Ramp3x3()[0]});
    s.Compression = 5;
    s.JpegQuality = 90;
    ASSERT_TRUE(CResampler(s, t).Resample(2, 2));
    EXPECT_EQ(t.ColorMode, static_cast<uint32_t>(kModeRgb));
    EXPECT_EQ(t.ChannelCount, 3u);
    EXPECT_EQ(t.Compression, 5);
    EXPECT_EQ(t.JpegQuality, 90u);
    EXPECT_EQ(PlaneOf(t, 1), (Rows{{9, 9}, {9, 9}}));
    EXPECT_EQ(PlaneOf(t, 2), (Rows{{0, 60}, {180, 240}}));
}

TEST_P(ImgProcPlanes, ResamplerTakesTheNearestPaletteIndex)
{
    // Blending indexes 3 and 7 would give 5, an unrelated colour.
    CRastik s, t;
    MakeImage(s, kModeIndexed, {Rows{{3, 7}, {3, 7}}});
    std::vector<uint8_t> palette(8 * 4);
    palette[4 * 7] = 200;
    SetPalette(s, palette);
    ASSERT_TRUE(CResampler(s, t).Resample(3, 3));
    EXPECT_EQ(PlaneOf(t, 0), (Rows{{3, 7, 7}, {3, 7, 7}, {3, 7, 7}}));
    ASSERT_EQ(t.PaletteSize, 8u);
    ASSERT_NE(t.Palette, nullptr);
    EXPECT_EQ(t.Palette[4 * 7], 200);
    EXPECT_NE(t.Palette, s.Palette);
}

}  // namespace
