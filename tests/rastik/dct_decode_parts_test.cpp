// Tests of the DCT decoder's building blocks: the inverse DCT against the
// flow graph in 64-bit arithmetic, the clamping and inversion of output
// bytes, and the bit reader's byte stuffing and its stop at a marker.
#include <gtest/gtest.h>

#include <random>

#include "dct_decode_support.h"

using namespace dcttest;

namespace {

class ProbeFilter : public CDCTFilter {
public:
    using CDCTFilter::Fast_IDCT;
    using CDCTFilter::ReadBit;
    using CDCTFilter::Write_Char;
    int32_t* Block() { return m_pBlock; }
    void SetComponents(uint32_t n) { m_dwComponents = n; }
};

// The inverse flow graph in 64-bit arithmetic, products x * C >> 14.
void ReferenceIdct(int64_t* d, int stride, int step)
{
    auto m = [](int64_t x, int64_t c) { return (x * c) >> 14; };
    for (int k = 0; k < 8; ++k) {
        int64_t* p = d + k * step;
        int64_t x[8];
        for (int i = 0; i < 8; ++i) x[i] = p[i * stride];
        int64_t t10 = x[0] + x[4], t11 = x[0] - x[4], t13 = x[2] + x[6];
        int64_t t12 = m(x[2] - x[6], 23170) - t13;
        int64_t t0 = t10 + t13, t3 = t10 - t13, t1 = t11 + t12, t2 = t11 - t12;
        int64_t z13 = x[5] + x[3], z10 = x[5] - x[3], z11 = x[1] + x[7], z12 = x[1] - x[7];
        int64_t t7 = z11 + z13, z5 = m(z10 + z12, 30274);
        int64_t t6 = z5 - m(z10, 42813) - t7;
        int64_t t5 = m(z11 - z13, 23170) - t6;
        int64_t t4 = m(z12, 17734) + t5 - z5;
        int64_t out[8] = {t0 + t7, t1 + t6, t2 + t5, t3 - t4, t3 + t4, t2 - t5, t1 - t6, t0 - t7};
        for (int i = 0; i < 8; ++i) p[i * stride] = out[i];
    }
}

}  // namespace

TEST(DctDecodeParts, InverseDctFollowsTheFlowGraph)
{
    std::mt19937 random(7);
    ProbeFilter filter;
    for (int trial = 0; trial < 200; ++trial) {
        int64_t expected[64];
        int32_t* block = filter.Block();
        // Dequantised coefficients of sound streams: up to 2^11 x 255 x
        // scale factor, mostly small, sometimes only the DC value.
        int used = trial % 5 == 0 ? 1 : 64;
        for (int i = 0; i < 64; ++i) {
            int32_t q = int32_t(random() % 60) - 30;
            if (i == 0) q = int32_t(random() % 2048) - 1024;
            block[i] = i < used ? q * int32_t(3 * CDCTFilter::COSINEXY[i]) : 0;
            expected[i] = block[i];
        }
        ReferenceIdct(expected, 8, 1);  // columns first
        ReferenceIdct(expected, 1, 8);  // then rows
        filter.Fast_IDCT();
        for (int i = 0; i < 64; ++i) ASSERT_EQ(block[i], expected[i]) << "trial " << trial << " position " << i;
    }
}

TEST(DctDecodeParts, OutputBytesClampAndInvert)
{
    struct Case {
        int32_t value;
        uint8_t many, one;  // more than one component, one component
    } cases[] = {
        {0, 0, 255},          {(7 << 17) + 5, 7, 248},     {(255 << 17) + 0x1FFFF, 255, 0},
        {-1, 0, 255},         {0x2000000, 255, 0},         {0x7FFFFFFF, 255, 0},
        {INT32_MIN, 0, 255},
    };
    ProbeFilter filter;
    for (const Case& c : cases) {
        uint8_t out[2] = {};
        uint8_t* p = out;
        filter.SetComponents(3);
        filter.Write_Char(p, c.value);
        filter.SetComponents(1);
        filter.Write_Char(p, c.value);
        EXPECT_EQ(p, out + 2);
        EXPECT_EQ(out[0], c.many) << c.value;
        EXPECT_EQ(out[1], c.one) << c.value;
    }
}

TEST(DctDecodeParts, BitReaderDropsStuffedZerosAndStopsAtMarkers)
{
    TempDir dir;
    std::vector<uint8_t> bytes = Encode(PhotoImage(8, 8, 1), dir, 0);
    size_t scan = 0;
    std::vector<Segment> segments = HeaderSegments(bytes, &scan);
    std::vector<uint8_t> data = {0xFF, 0x00, 0xA5, 0x3C, 0xFF, 0x00, 0xFF, 0xD9, 0x12, 0x34};
    std::string path = dir.File("bits.jpg");
    WriteAll(path, Rebuild(segments, data, 0));
    CFile file;
    ASSERT_TRUE(file.Open(path.c_str(), CFile::modeRead | CFile::typeBinary));
    CFile* previous = SetEncodedDataFile(&file);
    ProbeFilter filter;
    ASSERT_NE(filter.Decode_Header(1, nullptr), kFailed);
    EXPECT_EQ(filter.ReadBit(8), 0xFFu);
    EXPECT_EQ(filter.ReadBit(12), 0xA53u);
    EXPECT_EQ(filter.ReadBit(12), 0xCFFu);
    EXPECT_EQ(filter.ReadBit(16), 0u);  // the end-of-image marker stays unread
    SetEncodedDataFile(previous);
}
