// Tests of the encoder's inner helpers: division through reciprocals and
// the zig-zag reordering of non-zero masks.
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "rastik/jpeg/DctCoder.h"

TEST(DctCoder, ReciprocalsDivideExactly)
{
    // Every divisor a quantisation table can produce, against values up to
    // well beyond the largest transform output (2^22) and their neighbours.
    std::vector<bool> seen(255 * 31521 / 4 + 1);
    for (uint32_t v = 1; v <= 255; ++v) {
        for (uint32_t scale : CDCTFilter::COSINEXY) {
            uint32_t d = (v * scale) >> 2;
            if (seen[d]) continue;
            seen[d] = true;
            uint32_t multiplier = 0;
            uint8_t shift = 0;
            DctCoder::Reciprocal(d, &multiplier, &shift);
            for (int64_t k : {int64_t(0), int64_t(1), int64_t(2), int64_t(3), int64_t(7), (int64_t(1) << 23) / d,
                              (int64_t(1) << 31) / d - 1}) {
                for (int64_t delta = -1; delta <= 1; ++delta) {
                    int64_t n = k * d + delta;
                    if (n < 0 || n > INT32_MAX) continue;
                    int32_t x = int32_t(n);
                    ASSERT_EQ(DctCoder::Divide(x, multiplier, shift), x / int32_t(d)) << x << " / " << d;
                    ASSERT_EQ(DctCoder::Divide(-x, multiplier, shift), -x / int32_t(d)) << -x << " / " << d;
                }
            }
        }
    }
}

TEST(DctCoder, NonZeroMaskFollowsZigZagOrder)
{
    for (uint32_t i = 0; i < 64; ++i)
        EXPECT_EQ(DctCoder::ToZigZag(uint64_t(1) << CDCTFilter::ZigZagToNormal[i]), uint64_t(1) << i) << i;
    int32_t block[64], divisor[64];
    for (int k = 0; k < 64; ++k) {
        divisor[k] = 100 + k;
        block[k] = (k % 3 == 0) ? divisor[k] : (k % 3 == 1 ? -divisor[k] + 1 : -divisor[k] - 5);
    }
    uint64_t mask = DctCoder::NonZeroNatural(block, divisor);
    for (int k = 0; k < 64; ++k) EXPECT_EQ((mask >> k) & 1, k % 3 != 1 ? 1u : 0u) << k;
}

TEST(DctCoder, StaticTables)
{
    EXPECT_EQ(CDCTFilter::COSINEXY[0], 16384u);
    EXPECT_EQ(CDCTFilter::COSINEXY[7], 4520u);
    EXPECT_EQ(CDCTFilter::COSINEXY[63], 1247u);
    for (int u = 0; u < 8; ++u) {
        for (int v = 0; v < 8; ++v) {
            auto s = [](int k) { return k == 0 ? 1.0 : std::sqrt(2.0) * std::cos(k * 3.14159265358979323846 / 16); };
            EXPECT_EQ(CDCTFilter::COSINEXY[8 * u + v], uint32_t(std::lround(16384 * s(u) * s(v))));
        }
    }
    for (int i = 64; i < 80; ++i) EXPECT_EQ(CDCTFilter::ZigZagToNormal[i], 63u);
    CDCTFilter filter;  // fills the size table
    EXPECT_EQ(CDCTFilter::dwSizeIsInitial, 1u);
    EXPECT_EQ(CDCTFilter::CSizeZZ[0], 0u);
    EXPECT_EQ(CDCTFilter::CSizeZZ[1], 1u);
    EXPECT_EQ(CDCTFilter::CSizeZZ[3], 2u);
    EXPECT_EQ(CDCTFilter::CSizeZZ[1023], 10u);
    EXPECT_EQ(CDCTFilter::CSizeZZ[1024], 11u);
    EXPECT_EQ(CDCTFilter::CSizeZZ[2047], 11u);
    // The built-in Huffman tables hold 12 and 162 symbols.
    for (int t = 0; t < 4; ++t) {
        uint32_t dc = 0, ac = 0;
        for (int i = 0; i < 16; ++i) dc += CDCTFilter::Default_Huff_DC_Table[t][i], ac += CDCTFilter::Default_Huff_AC_Table[t][i];
        EXPECT_EQ(dc, 12u) << t;
        EXPECT_EQ(ac, 162u) << t;
    }
}
