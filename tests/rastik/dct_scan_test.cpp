// Tests of the DCT encoder's scan: band rules, MCU clipping at the right and
// bottom edges, the forward DCT, byte stuffing in the bit writer and in the
// final flush, and write failures.
#include <gtest/gtest.h>

#include "dct_support.h"

using namespace dcttest;

namespace {

// Exposes the encoder's inner steps.
class ProbeFilter : public CDCTFilter {
public:
    using CDCTFilter::Fast_FDCT;
    using CDCTFilter::WriteBit;
    const int32_t* Area(uint32_t c) { return ComponentArea(c); }
    uint32_t FreeBits() const { return m_dwFreeBits; }
    const uint8_t* Buffer() const { return m_pOutBuffer; }
    uint32_t Buffered() const { return BufferedBytes(); }
};

DCTINFO Info(uint32_t width, uint32_t height, uint32_t components, double scale = 0.3, uint32_t transform = 0)
{
    DCTINFO info = Params(scale, transform);
    info.dwWidth = width;
    info.dwHeight = height;
    info.dwComponents = components;
    return info;
}

// Reference forward DCT of the same flow graph in 64-bit arithmetic.
void ReferenceFdct(int64_t* d, int stride, int step)
{
    for (int k = 0; k < 8; ++k) {
        int64_t* p = d + k * step;
        auto m = [](int64_t x, int64_t c) { return (x * c) >> 9; };
        int64_t t0 = p[0] + p[7 * stride], t7 = p[0] - p[7 * stride];
        int64_t t1 = p[stride] + p[6 * stride], t6 = p[stride] - p[6 * stride];
        int64_t t2 = p[2 * stride] + p[5 * stride], t5 = p[2 * stride] - p[5 * stride];
        int64_t t3 = p[3 * stride] + p[4 * stride], t4 = p[3 * stride] - p[4 * stride];
        p[0] = t0 + t3 + t1 + t2;
        p[4 * stride] = t0 + t3 - t1 - t2;
        int64_t z1 = m(t1 - t2 + t0 - t3, 362);
        p[2 * stride] = t0 - t3 + z1;
        p[6 * stride] = t0 - t3 - z1;
        int64_t z10 = t4 + t5, z12 = t6 + t7;
        int64_t z5 = m(z10 - z12, 196);
        int64_t z2 = z5 + m(z10, 277), z4 = z5 + m(z12, 669), z3 = m(t5 + t6, 362);
        int64_t z11 = t7 + z3, z13 = t7 - z3;
        p[5 * stride] = z13 + z2;
        p[3 * stride] = z13 - z2;
        p[stride] = z11 + z4;
        p[7 * stride] = z11 - z4;
    }
}

}  // namespace

TEST(DctScan, BandRules)
{
    CDCTFilter filter;
    DCTINFO info = Info(10, 20, 3);
    ASSERT_EQ(filter.Encode_Header(0, &info), 10u * 8 * 3);
    std::vector<uint8_t> band(10 * 20 * 3, 100);
    EXPECT_EQ(filter.Encoder(band.data(), 0), 0xFFFFFFFEu);
    EXPECT_EQ(filter.Encoder(band.data(), -30), 0xFFFFFFFEu);
    EXPECT_EQ(filter.Encoder(band.data(), 31), 0xFFFFFFFEu);         // not whole rows
    EXPECT_EQ(filter.Encoder(nullptr, 30), 0xFFFFFFFEu);
    EXPECT_EQ(filter.Encoder(band.data(), 30 * 5), 0xFFFFFFFEu);     // 5 rows, not the last band
    EXPECT_EQ(filter.Encoder(band.data(), 30 * 21), 0xFFFFFFFFu);    // more rows than the image
    EXPECT_EQ(filter.Encoder(band.data(), 30 * 16), 4u);             // two MCU rows at once
    EXPECT_EQ(filter.Encoder(band.data(), 30 * 4), 0u);              // the short last band
    EXPECT_EQ(filter.Encoder(band.data(), 30 * 8), 0xFFFFFFFFu);     // after the last row
    EXPECT_EQ(filter.Encode_EOD(), 0u);
    EXPECT_EQ(filter.Encode_EOD(), 0xFFFFFFFFu);                     // no image under way
}

TEST(DctScan, MissingRowsFailTheEnd)
{
    TempDir dir;
    CDCTFilter filter;
    DCTINFO info = Info(8, 16, 1);
    std::string path = dir.File("short.jpg");
    CFile file;
    ASSERT_TRUE(file.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary));
    g_pEncodedDataFile = &file;
    ASSERT_EQ(filter.Encode_Header(1, &info), 64u);
    std::vector<uint8_t> band(64, 7);
    EXPECT_EQ(filter.Encoder(band.data(), 64), 8u);
    EXPECT_EQ(filter.Encode_EOD(), 0xFFFFFFFFu);
    g_pEncodedDataFile = nullptr;
    file.Close();
    // What was encoded reached the file, without the end-of-image marker.
    std::vector<uint8_t> bytes = ReadAll(path);
    ASSERT_GT(bytes.size(), filter.GetHeaderLength());
    EXPECT_FALSE(bytes[bytes.size() - 2] == 0xFF && bytes.back() == 0xD9);
}

TEST(DctScan, SeventeenColumnsGiveThreeClippedMcus)
{
    ProbeFilter filter;
    DCTINFO info = Info(17, 8, 1);
    ASSERT_EQ(filter.Encode_Header(0, &info), 17u * 8);
    EXPECT_EQ(filter.GetMcusPerRow(), 3u);
    std::vector<uint8_t> band(17 * 8);
    for (uint32_t y = 0; y < 8; ++y)
        for (uint32_t x = 0; x < 17; ++x) band[y * 17 + x] = uint8_t(x == 16 ? 100 + y : 250);
    ASSERT_EQ(filter.Encoder(band.data(), int(band.size())), 0u);
    // The work area holds the last MCU: one column read, seven filled with 0.
    const int32_t* area = filter.Area(0);
    for (uint32_t y = 0; y < 8; ++y) {
        EXPECT_EQ(area[8 * y], (100 + int32_t(y) - 128) * 512) << y;
        for (uint32_t x = 1; x < 8; ++x) EXPECT_EQ(area[8 * y + x], 0) << x << "," << y;
    }
    EXPECT_EQ(filter.Encode_EOD(), 0u);
}

TEST(DctScan, ShortLastBandIsFilledWithZeroRows)
{
    ProbeFilter filter;
    DCTINFO info = Info(20, 19, 3, 0.3, 1);
    const uint8_t sampling[3] = {2, 1, 1};
    info.pHSampling = sampling;
    ASSERT_EQ(filter.Encode_Header(0, &info), 20u * 16 * 3);
    EXPECT_EQ(filter.GetMcusPerRow(), 2u);
    std::vector<uint8_t> band(20 * 16 * 3, 128);
    ASSERT_EQ(filter.Encoder(band.data(), int(band.size())), 3u);
    std::vector<uint8_t> last(20 * 3 * 3, 200);
    ASSERT_EQ(filter.Encoder(last.data(), int(last.size())), 0u);
    // The last MCU holds columns 16..19 of the band's three rows; grey 200 has
    // Y = 512 x 200 - 65536 and no colour difference; the rest is 0.
    const int32_t* y = filter.Area(0);
    for (uint32_t row = 0; row < 16; ++row)
        for (uint32_t x = 0; x < 16; ++x)
            EXPECT_EQ(y[16 * row + x], (row < 3 && x < 4) ? 512 * 200 - 65536 : 0) << x << "," << row;
    for (uint32_t i = 0; i < 256; ++i) {
        EXPECT_EQ(filter.Area(1)[i], 0);
        EXPECT_EQ(filter.Area(2)[i], 0);
    }
    EXPECT_EQ(filter.Encode_EOD(), 0u);
}

TEST(DctScan, InvertedSamplesInTheLargeLayout)
{
    ProbeFilter filter;
    DCTINFO info = Info(16, 16, 4);
    const uint8_t sampling[4] = {2, 1, 1, 2};
    info.pHSampling = sampling;
    info.pVSampling = sampling;
    ASSERT_EQ(filter.Encode_Header(0, &info), 16u * 16 * 4);
    std::vector<uint8_t> band(16 * 16 * 4);
    for (size_t i = 0; i < band.size(); ++i) band[i] = uint8_t(i / 256 * 60 + i % 7);
    ASSERT_EQ(filter.Encoder(band.data(), int(band.size())), 0u);
    for (uint32_t c = 0; c < 4; ++c)
        for (uint32_t i = 0; i < 256; ++i) EXPECT_EQ(filter.Area(c)[i], (127 - band[c * 256 + i]) * 512);
    EXPECT_EQ(filter.Encode_EOD(), 0u);
}

TEST(DctScan, ForwardDctMatchesItsFlowGraph)
{
    ProbeFilter filter;
    uint32_t state = 99;
    for (int round = 0; round < 50; ++round) {
        int32_t block[64];
        int64_t reference[64];
        for (int i = 0; i < 64; ++i) {
            state = state * 1664525u + 1013904223u;
            // Extremes of the sample range every few rounds.
            int32_t v = round % 5 == 0 ? ((state >> 31) ? 65024 : -65536) : int32_t(state >> 15) - 65536;
            block[i] = v;
            reference[i] = v;
        }
        filter.Fast_FDCT(block);
        ReferenceFdct(reference, 1, 8);
        ReferenceFdct(reference, 8, 1);
        for (int i = 0; i < 64; ++i) ASSERT_EQ(block[i], reference[i]) << round << " " << i;
    }
    // A flat block has only its DC term: 64 x the sample.
    int32_t flat[64];
    for (int32_t& v : flat) v = -512;
    filter.Fast_FDCT(flat);
    EXPECT_EQ(flat[0], -512 * 64);
    for (int i = 1; i < 64; ++i) EXPECT_EQ(flat[i], 0);
}

TEST(DctScan, BitWriterStuffsEveryFFByte)
{
    ProbeFilter filter;
    DCTINFO info = Info(8, 8, 1);
    ASSERT_NE(filter.Encode_Header(0, &info), 0xFFFFFFFFu);
    uint32_t header = filter.Buffered();
    // A whole word of ones is stored when the next bits arrive.
    filter.WriteBit(0xFFFF, 16);
    filter.WriteBit(0xFFFF, 16);
    EXPECT_EQ(filter.Buffered(), header);
    EXPECT_EQ(filter.FreeBits(), 0u);
    filter.WriteBit(0x5, 3);
    ASSERT_EQ(filter.Buffered(), header + 8);
    EXPECT_EQ(std::vector<uint8_t>(filter.Buffer() + header, filter.Buffer() + header + 8),
              (std::vector<uint8_t>{0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0}));
    // 101 and 29 more bits make B2 34 FF 56.
    filter.WriteBit(0x1234FF56, 29);
    filter.WriteBit(1, 1);
    ASSERT_EQ(filter.Buffered(), header + 13);
    EXPECT_EQ(std::vector<uint8_t>(filter.Buffer() + header + 8, filter.Buffer() + header + 13),
              (std::vector<uint8_t>{0xB2, 0x34, 0xFF, 0x00, 0x56}));
    EXPECT_EQ(filter.FreeBits(), 31u);
}

namespace {

// Encoder writing to a file of its own in a temporary directory.
class FileProbe {
public:
    explicit FileProbe(const DCTINFO& info) : path(dir.File("out.jpg"))
    {
        ok = file.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary);
        g_pEncodedDataFile = &file;
        header = filter.Encode_Header(1, &info);
    }
    ~FileProbe() { g_pEncodedDataFile = nullptr; }
    std::vector<uint8_t> Close()
    {
        g_pEncodedDataFile = nullptr;
        file.Close();
        return ReadAll(path);
    }
    TempDir dir;
    std::string path;
    CFile file;
    ProbeFilter filter;
    bool ok = false;
    uint32_t header = 0;
};

}  // namespace

TEST(DctScan, FinalFlushStuffsFFBytes)
{
    FileProbe probe(Info(8, 8, 1));
    ASSERT_TRUE(probe.ok);
    ASSERT_EQ(probe.header, 64u);
    uint32_t header = probe.filter.GetHeaderLength();
    std::vector<uint8_t> band(64, 128);
    ASSERT_EQ(probe.filter.Encoder(band.data(), 64), 0u);  // bits 010 010
    probe.filter.WriteBit(0x3FF, 10);                        // ten ones: 0100 1011 1111 1111
    ASSERT_EQ(probe.filter.Encode_EOD(), 0u);
    std::vector<uint8_t> bytes = probe.Close();
    ASSERT_GE(bytes.size(), header + 5u);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + header, bytes.end()),
              (std::vector<uint8_t>{0x4B, 0xFF, 0x00, 0xFF, 0xD9}));
}

TEST(DctScan, FlushMovesWholeBytesAndKeepsTheRest)
{
    FileProbe probe(Info(8, 8, 1));
    ASSERT_TRUE(probe.ok);
    uint32_t header = probe.filter.GetHeaderLength();
    probe.filter.WriteBit(0xFF, 8);
    probe.filter.WriteBit(0x1, 2);
    EXPECT_EQ(probe.filter.FlushEncodeData(), 0u);
    EXPECT_EQ(probe.filter.FreeBits(), 30u);
    EXPECT_EQ(probe.filter.Buffered(), 0u);
    EXPECT_EQ(probe.filter.GetFlushState(), 1);
    std::vector<uint8_t> bytes = probe.Close();
    ASSERT_EQ(bytes.size(), header + 2u);
    EXPECT_EQ(bytes[header], 0xFF);
    EXPECT_EQ(bytes[header + 1], 0x00);
}

TEST(DctScan, NullStreamSwallowsEverything)
{
    CDCTFilter filter;
    Image img = PhotoImage(64, 48, 3);
    DCTINFO info = Info(64, 48, 3, 0.3, 1);
    ASSERT_EQ(filter.Encode_Header(7, &info), 64u * 8 * 3);
    Encoded out;
    out.header = 64 * 8 * 3;
    EncodeBands(filter, img, out);
    EXPECT_EQ(out.lastBand, 0u);
    EXPECT_EQ(filter.Encode_EOD(), 0u);
}

TEST(DctScan, ShortWritesAreReportedAtTheEnd)
{
    // A large noisy image needs many buffer flushes; none reaches a file.
    Image img = PhotoImage(512, 512, 3, 7);
    for (size_t i = 0; i < img.samples.size(); ++i) img.samples[i] = uint8_t(img.samples[i] ^ (i * 2654435761u >> 13));
    for (int kind = 0; kind < 2; ++kind) {
        TempDir dir;
        std::string path = dir.File("ro.jpg");
        WriteAll(path, {1, 2, 3});
        CFile readOnly;
        ASSERT_TRUE(readOnly.Open(path.c_str(), CFile::modeRead | CFile::typeBinary));
        g_pEncodedDataFile = kind == 0 ? nullptr : &readOnly;
        CDCTFilter filter;
        DCTINFO info = Info(512, 512, 3, 0.0, 0);
        Encoded out;
        out.header = filter.Encode_Header(1, &info);
        ASSERT_EQ(out.header, 512u * 8 * 3);
        EncodeBands(filter, img, out);
        EXPECT_EQ(out.lastBand, 0u);
        EXPECT_EQ(filter.Encode_EOD(), 0xFFFFFFFFu) << kind;
        g_pEncodedDataFile = nullptr;
        readOnly.Close();
        EXPECT_EQ(ReadAll(path).size(), 3u);
    }
}

TEST(DctScan, MissingHuffmanCodeFailsTheBand)
{
    // A caller's AC table without the end-of-block symbol.
    uint8_t ac[16 + 162];
    std::memcpy(ac, CDCTFilter::Default_Huff_AC_Table[0], sizeof ac);
    for (int i = 16; i < 16 + 162; ++i)
        if (ac[i] == 0x00) ac[i] = 0xFB;  // a symbol that never occurs
    const uint8_t* huff[2] = {CDCTFilter::Default_Huff_DC_Table[0], ac};
    DCTINFO info = Info(8, 16, 1);
    info.pHuffTables = huff;
    CDCTFilter filter;
    ASSERT_EQ(filter.Encode_Header(0, &info), 64u);
    std::vector<uint8_t> band(64, 128);
    EXPECT_EQ(filter.Encoder(band.data(), 64), 0xFFFFFFFFu);
    EXPECT_EQ(filter.Encoder(band.data(), 64), 0xFFFFFFFFu);  // the image is abandoned
    EXPECT_EQ(filter.Encode_EOD(), 0xFFFFFFFFu);
}

TEST(DctScan, CopiesFinishTheSameStream)
{
    Image img = PhotoImage(40, 32, 3, 3);
    TempDir dir;
    CDCTFilter original;
    DCTINFO info = Params(0.3, 1);
    Encoded reference = EncodeToFile(original, info, img, dir.File("a.jpg"));
    ASSERT_EQ(reference.end, 0u);

    // The whole stream of this small image stays in the output buffer until
    // the end, so a copy taken after the first band carries all of it.
    info.dwWidth = 40, info.dwHeight = 32, info.dwComponents = 3;
    std::vector<uint8_t> band(40 * 8 * 3);
    auto bandOf = [&](uint32_t row) {
        for (uint32_t c = 0; c < 3; ++c) std::memcpy(&band[c * 8 * 40], &img.samples[(c * 32 + row) * 40], 8 * 40);
        return band.data();
    };
    CDCTFilter first;
    ASSERT_EQ(first.Encode_Header(1, &info), 40u * 8 * 3);
    ASSERT_EQ(first.Encoder(bandOf(0), int(band.size())), 24u);
    CDCTFilter second(first);
    CDCTFilter third;
    third = first;
    third = static_cast<const CDCTFilter&>(third);
    int n = 0;
    for (CDCTFilter* f : {&first, &second, &third}) {
        std::string path = dir.File("copy" + std::to_string(n++) + ".jpg");
        CFile file;
        ASSERT_TRUE(file.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary));
        g_pEncodedDataFile = &file;
        for (uint32_t row = 8; row < 32; row += 8) f->Encoder(bandOf(row), int(band.size()));
        EXPECT_EQ(f->Encode_EOD(), 0u);
        g_pEncodedDataFile = nullptr;
        file.Close();
        EXPECT_EQ(ReadAll(path), reference.bytes) << n;
    }
}

TEST(DctScan, ColourConversionOfWholeAndClippedMcus)
{
    // 16 columns: the last MCU is whole; 12 columns: it holds 4 columns.
    for (uint32_t width : {16u, 12u}) {
        ProbeFilter filter;
        DCTINFO info = Info(width, 8, 4, 0.3, 1);
        ASSERT_EQ(filter.Encode_Header(0, &info), width * 8 * 4);
        std::vector<uint8_t> band(size_t(width) * 8 * 4);
        uint32_t state = width;
        for (uint8_t& v : band) v = uint8_t((state = state * 1664525u + 1013904223u) >> 24);
        ASSERT_EQ(filter.Encoder(band.data(), int(band.size())), 0u);
        auto at = [&](uint32_t c, uint32_t x, uint32_t y) { return int32_t(band[(c * 8 + y) * width + x]); };
        for (uint32_t y = 0; y < 8; ++y) {
            for (uint32_t x = 0; x < 8; ++x) {
                uint32_t column = 8 + x;
                bool inside = column < width;
                int32_t r = inside ? at(0, column, y) : 0, g = inside ? at(1, column, y) : 0;
                int32_t b = inside ? at(2, column, y) : 0, k = inside ? at(3, column, y) : 0;
                uint32_t i = 8 * y + x;
                EXPECT_EQ(filter.Area(0)[i], inside ? 153 * r + 301 * g + 58 * b - 65536 : 0) << width << " " << i;
                EXPECT_EQ(filter.Area(1)[i], inside ? 256 * b - 170 * g - 86 * r : 0) << width << " " << i;
                EXPECT_EQ(filter.Area(2)[i], inside ? 256 * r - 214 * g - 42 * b : 0) << width << " " << i;
                EXPECT_EQ(filter.Area(3)[i], inside ? (127 - k) * 512 : 0) << width << " " << i;
            }
        }
        EXPECT_EQ(filter.Encode_EOD(), 0u);
    }
}
