// Tests of the DCT encoder's header: the exact segments of a tiny image, the
// quantisation and Huffman table choices, the Adobe segment, the MCU layout,
// the Photoshop preview resource and refused parameters.
#include <gtest/gtest.h>

#include "dct_support.h"

using namespace dcttest;

namespace {

// Scaled quantiser as the encoder writes it.
uint8_t Scaled(uint8_t entry, double scale)
{
    double v = entry * scale + 1.0;
    return v > 255 ? 255 : uint8_t(v);
}

std::vector<uint8_t> TableBytes(const uint8_t* table, size_t symbols)
{
    return std::vector<uint8_t>(table, table + 16 + symbols);
}

class DctHeader : public ::testing::Test {
protected:
    Encoded Encode(const DCTINFO& info, const Image& img) { return EncodeToFile(filter, info, img, dir.File("out.jpg")); }
    TempDir dir;
    CDCTFilter filter;
};

}  // namespace

TEST_F(DctHeader, OneGreyPixelGivesTheMinimalStream)
{
    Image img{1, 1, 1, {128}};
    DCTINFO info = Params(0.3, 1);
    info.dwXDensity = 300;
    info.dwYDensity = 150;
    Encoded e = Encode(info, img);
    ASSERT_EQ(e.header, 1u * 8 * 1);
    EXPECT_EQ(e.lastBand, 0u);
    EXPECT_EQ(e.end, 0u);

    size_t scan = 0;
    std::vector<Segment> segs = HeaderSegments(e.bytes, &scan);
    ASSERT_EQ(segs.size(), 6u);
    EXPECT_EQ(segs[0].marker, 0xFFD8u);
    EXPECT_EQ(segs[1].marker, 0xFFE0u);
    EXPECT_EQ(segs[2].marker, 0xFFDBu);
    EXPECT_EQ(segs[3].marker, 0xFFC4u);
    EXPECT_EQ(segs[4].marker, 0xFFC0u);
    EXPECT_EQ(segs[5].marker, 0xFFDAu);

    EXPECT_EQ(segs[1].payload, (std::vector<uint8_t>{'J', 'F', 'I', 'F', 0, 1, 2, 1, 0x01, 0x2C, 0x00, 0x96, 0, 0}));

    // One quantisation table, number 0, from the luminance table.
    ASSERT_EQ(segs[2].payload.size(), 65u);
    EXPECT_EQ(segs[2].payload[0], 0);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(segs[2].payload[1 + i], Scaled(CDCTFilter::Default_Quant_Table[0][i], 0.3)) << i;

    // One DC and one AC table of set A.
    std::vector<uint8_t> dht{0};
    std::vector<uint8_t> dc = TableBytes(CDCTFilter::Default_Huff_DC_Table[0], 12);
    std::vector<uint8_t> ac = TableBytes(CDCTFilter::Default_Huff_AC_Table[0], 162);
    dht.insert(dht.end(), dc.begin(), dc.end());
    dht.push_back(16);
    dht.insert(dht.end(), ac.begin(), ac.end());
    EXPECT_EQ(segs[3].payload, dht);

    EXPECT_EQ(segs[4].payload, (std::vector<uint8_t>{8, 0, 1, 0, 1, 1, 1, 0x11, 0}));
    EXPECT_EQ(segs[5].payload, (std::vector<uint8_t>{1, 1, 0x00, 0, 63, 0}));

    // One block of level 128: DC size 0 is code 010, end-of-block is 010;
    // the six bits are padded with zeros.
    std::vector<uint8_t> tail(e.bytes.begin() + long(scan), e.bytes.end());
    EXPECT_EQ(tail, (std::vector<uint8_t>{0x48, 0xFF, 0xD9}));
    EXPECT_EQ(filter.GetHeaderLength(), scan);
    EXPECT_EQ(filter.GetFlushState(), 1);
}

TEST_F(DctHeader, QuantisationScaleZeroAndThree)
{
    Image img = PhotoImage(8, 8, 1);
    Encoded zero = Encode(Params(0.0, 0), img);
    std::vector<Segment> segs = HeaderSegments(zero.bytes);
    const Segment* dqt = FindSegment(segs, 0xFFDB);
    ASSERT_NE(dqt, nullptr);
    ASSERT_EQ(dqt->payload.size(), 65u);
    for (int i = 1; i < 65; ++i) EXPECT_EQ(dqt->payload[i], 1) << i;

    Encoded three = Encode(Params(3.0, 0), img);
    segs = HeaderSegments(three.bytes);
    dqt = FindSegment(segs, 0xFFDB);
    ASSERT_NE(dqt, nullptr);
    ASSERT_EQ(CDCTFilter::Default_Quant_Table[0][1], 12);
    EXPECT_EQ(dqt->payload[1 + 1], 37);
    for (int i = 0; i < 64; ++i) {
        uint8_t source = CDCTFilter::Default_Quant_Table[0][i];
        EXPECT_EQ(dqt->payload[1 + i], source >= 85 ? 255 : source * 3 + 1) << i;
    }
}

TEST_F(DctHeader, HuffmanSetFollowsTheScale)
{
    Image img = PhotoImage(16, 8, 3);
    struct Case {
        double scale;
        int first;
    } cases[] = {{0.25, 0}, {0.2499, 2}, {1.0, 0}, {0.0, 2}};
    for (const Case& k : cases) {
        Encoded e = Encode(Params(k.scale, 1), img);
        std::vector<Segment> segs = HeaderSegments(e.bytes);
        const Segment* dht = FindSegment(segs, 0xFFC4);
        ASSERT_NE(dht, nullptr) << k.scale;
        std::vector<uint8_t> expected;
        for (int t = 0; t < 2; ++t) {
            expected.push_back(uint8_t(t));
            std::vector<uint8_t> dc = TableBytes(CDCTFilter::Default_Huff_DC_Table[k.first + t], 12);
            expected.insert(expected.end(), dc.begin(), dc.end());
        }
        for (int t = 0; t < 2; ++t) {
            expected.push_back(uint8_t(16 + t));
            std::vector<uint8_t> ac = TableBytes(CDCTFilter::Default_Huff_AC_Table[k.first + t], 162);
            expected.insert(expected.end(), ac.begin(), ac.end());
        }
        EXPECT_EQ(dht->payload, expected) << k.scale;
        EXPECT_EQ(e.end, 0u);
    }
}

TEST_F(DctHeader, AdobeSegmentRules)
{
    struct Case {
        uint32_t components, transform;
        int transformByte;  // -1: no segment
    } cases[] = {{3, 0, 0}, {3, 1, -1}, {4, 1, 2}, {4, 0, -1}, {1, 1, -1}, {2, 0, -1}};
    for (const Case& k : cases) {
        Encoded e = Encode(Params(0.3, k.transform), PhotoImage(8, 8, k.components));
        std::vector<Segment> segs = HeaderSegments(e.bytes);
        ASSERT_FALSE(segs.empty());
        const Segment* adobe = FindSegment(segs, 0xFFEE);
        if (k.transformByte < 0) {
            EXPECT_EQ(adobe, nullptr) << k.components << " " << k.transform;
            continue;
        }
        ASSERT_NE(adobe, nullptr) << k.components << " " << k.transform;
        EXPECT_EQ(adobe->payload, (std::vector<uint8_t>{'A', 'd', 'o', 'b', 'e', 0, 0x64, 0x80, 0, 0, 0,
                                                         uint8_t(k.transformByte)}));
    }
}

TEST_F(DctHeader, SamplingChoosesTheLayoutAndChromaTable)
{
    Image img = PhotoImage(40, 24, 3);
    const uint8_t large[3] = {2, 1, 1};
    const uint8_t small[3] = {1, 1, 1};
    struct Case {
        const uint8_t* sampling;
        uint32_t mcu;
        int chromaTable;
        std::vector<uint8_t> factors;
    } cases[] = {{large, 16, 2, {0x22, 0x11, 0x11}}, {small, 8, 1, {0x11, 0x11, 0x11}}, {nullptr, 8, 1, {0x11, 0x11, 0x11}}};
    for (const Case& k : cases) {
        DCTINFO info = Params(0.5, 1);
        info.pHSampling = k.sampling;
        Encoded e = Encode(info, img);
        EXPECT_EQ(e.header, 40u * k.mcu * 3);
        EXPECT_EQ(filter.GetMcuWidth(), k.mcu);
        std::vector<Segment> segs = HeaderSegments(e.bytes);
        const Segment* sof = FindSegment(segs, 0xFFC0);
        ASSERT_NE(sof, nullptr);
        ASSERT_EQ(sof->payload.size(), 6u + 9);
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(sof->payload[6 + 3 * c], c + 1);
            EXPECT_EQ(sof->payload[7 + 3 * c], k.factors[c]);
            EXPECT_EQ(sof->payload[8 + 3 * c], c == 0 ? 0 : 1);
        }
        const Segment* dqt = FindSegment(segs, 0xFFDB);
        ASSERT_NE(dqt, nullptr);
        ASSERT_EQ(dqt->payload.size(), 130u);
        EXPECT_EQ(dqt->payload[65], 1);
        for (int i = 0; i < 64; ++i)
            EXPECT_EQ(dqt->payload[66 + i], Scaled(CDCTFilter::Default_Quant_Table[k.chromaTable][i], 0.5)) << i;
        EXPECT_EQ(e.end, 0u);
    }
    // Vertical sampling alone also selects the large layout.
    DCTINFO info = Params(0.5, 1);
    const uint8_t vertical[3] = {2, 1, 1};
    info.pVSampling = vertical;
    EXPECT_EQ(Encode(info, img).header, 40u * 16 * 3);
}

TEST_F(DctHeader, CallerTablesAreSharedByPointer)
{
    Image img = PhotoImage(8, 8, 3);
    uint8_t q0[64], q1[64];
    for (int i = 0; i < 64; ++i) q0[i] = uint8_t(10 + i), q1[i] = uint8_t(200 - i);
    const uint8_t* quant[3] = {q0, q1, q0};
    const uint8_t* huff[6] = {CDCTFilter::Default_Huff_DC_Table[1], CDCTFilter::Default_Huff_AC_Table[1],
                              CDCTFilter::Default_Huff_DC_Table[0], CDCTFilter::Default_Huff_AC_Table[0],
                              CDCTFilter::Default_Huff_DC_Table[1], CDCTFilter::Default_Huff_AC_Table[1]};
    DCTINFO info = Params(1.0, 0);
    info.ppQuantTables = quant;
    info.pHuffTables = huff;
    Encoded e = Encode(info, img);
    ASSERT_EQ(e.end, 0u);
    std::vector<Segment> segs = HeaderSegments(e.bytes);
    const Segment* dqt = FindSegment(segs, 0xFFDB);
    ASSERT_NE(dqt, nullptr);
    ASSERT_EQ(dqt->payload.size(), 130u);
    EXPECT_EQ(dqt->payload[1], 11);
    EXPECT_EQ(dqt->payload[66], 201);
    const Segment* sof = FindSegment(segs, 0xFFC0);
    EXPECT_EQ(sof->payload[8], 0);
    EXPECT_EQ(sof->payload[11], 1);
    EXPECT_EQ(sof->payload[14], 0);
    const Segment* sos = FindSegment(segs, 0xFFDA);
    EXPECT_EQ(sos->payload, (std::vector<uint8_t>{3, 1, 0x00, 2, 0x11, 3, 0x00, 0, 63, 0}));
    Decoded d = DecodeJpeg(e.bytes);
    EXPECT_TRUE(d.ok) << d.message;
    EXPECT_EQ(d.warnings, 0) << d.message;
}

TEST_F(DctHeader, RefusedParameters)
{
    Image img = PhotoImage(8, 8, 3);
    const uint8_t three[3] = {3, 1, 1};
    const uint8_t* nullQuant[3] = {CDCTFilter::Default_Quant_Table[0], nullptr, CDCTFilter::Default_Quant_Table[0]};
    uint8_t tooManyCodes[16 + 256] = {};
    tooManyCodes[15] = 20;  // 20 DC symbols do not fit a DC table
    uint8_t notACode[16 + 12] = {};
    notACode[0] = 3;        // three codes of length 1
    const uint8_t* badDc[6] = {tooManyCodes, CDCTFilter::Default_Huff_AC_Table[0], tooManyCodes,
                               CDCTFilter::Default_Huff_AC_Table[0], tooManyCodes, CDCTFilter::Default_Huff_AC_Table[0]};
    const uint8_t* overfull[6] = {notACode, CDCTFilter::Default_Huff_AC_Table[0], notACode,
                                  CDCTFilter::Default_Huff_AC_Table[0], notACode, CDCTFilter::Default_Huff_AC_Table[0]};
    DCTINFO info = Params(0.3, 1);
    info.dwWidth = 8, info.dwHeight = 8, info.dwComponents = 3;
    EXPECT_EQ(filter.Encode_Header(0, nullptr), 0xFFFFFFFFu);
    auto refused = [&](DCTINFO bad) { return filter.Encode_Header(0, &bad) == 0xFFFFFFFFu; };
    DCTINFO bad = info;
    bad.dwWidth = 0;
    EXPECT_TRUE(refused(bad));
    bad = info, bad.dwHeight = 0;
    EXPECT_TRUE(refused(bad));
    bad = info, bad.dwComponents = 5;
    EXPECT_TRUE(refused(bad));
    bad = info, bad.dwWidth = 65536;  // the frame header holds 16 bits
    EXPECT_TRUE(refused(bad));
    bad = info, bad.pHSampling = three;
    EXPECT_TRUE(refused(bad));
    bad = info, bad.ppQuantTables = nullQuant;
    EXPECT_TRUE(refused(bad));
    bad = info, bad.dQuantScale = -0.5;
    EXPECT_TRUE(refused(bad));
    bad = info, bad.dQuantScale = std::nan("");
    EXPECT_TRUE(refused(bad));
    bad = info, bad.pHuffTables = badDc;
    EXPECT_TRUE(refused(bad));
    bad = info, bad.pHuffTables = overfull;
    EXPECT_TRUE(refused(bad));
    // After any refusal there is no image: bands and the end are refused too.
    uint8_t band[8 * 8 * 3] = {};
    EXPECT_EQ(filter.Encoder(band, sizeof band), 0xFFFFFFFFu);
    EXPECT_EQ(filter.Encode_EOD(), 0xFFFFFFFFu);
    // The object starts a new image normally afterwards.
    EXPECT_EQ(filter.Encode_Header(0, &info), 8u * 8 * 3);
    EXPECT_EQ(filter.Encoder(band, sizeof band), 0u);
    EXPECT_EQ(filter.Encode_EOD(), 0u);
}

namespace {

std::vector<uint8_t> PreviewBytes(size_t n)
{
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = uint8_t(i * 7 + 3);
    return bytes;
}

uint32_t Field32(const std::vector<uint8_t>& p, size_t at)
{
    return uint32_t(p[at]) << 24 | uint32_t(p[at + 1]) << 16 | uint32_t(p[at + 2]) << 8 | p[at + 3];
}

}  // namespace

TEST_F(DctHeader, PreviewResourceSegment)
{
    std::vector<uint8_t> preview = PreviewBytes(1001);
    WriteAll(dir.File("prev.jpg"), preview);
    DCTINFO info = Params(0.3, 1);
    info.pszPreviewFile = nullptr;
    std::string path = dir.File("prev.jpg");
    info.pszPreviewFile = path.c_str();
    info.dwPreviewWidth = 70001;  // fields carry their values modulo 65,536
    info.dwPreviewHeight = 48;
    Encoded e = Encode(info, PhotoImage(16, 16, 3));
    ASSERT_EQ(e.end, 0u);
    ASSERT_GT(e.bytes.size(), 26u);
    EXPECT_EQ(e.bytes[20], 0xFF);
    EXPECT_EQ(e.bytes[21], 0xED);  // straight after APP0
    std::vector<Segment> segs = HeaderSegments(e.bytes);
    const Segment* app13 = FindSegment(segs, 0xFFED);
    ASSERT_NE(app13, nullptr);
    const std::vector<uint8_t>& p = app13->payload;
    ASSERT_EQ(p.size() + 2, 1058u);
    EXPECT_EQ(std::string(p.begin(), p.begin() + 14), std::string("Photoshop 3.0\0", 14));
    EXPECT_EQ(std::string(p.begin() + 14, p.begin() + 18), "8BIM");
    EXPECT_EQ(p[18], 0x04);
    EXPECT_EQ(p[19], 0x0C);
    EXPECT_EQ(p[20], 0);
    EXPECT_EQ(p[21], 0);
    EXPECT_EQ(Field32(p, 22), 1001u + 28);
    EXPECT_EQ(Field32(p, 26), 1u);
    uint32_t width = 70001 % 65536;
    uint32_t rowBytes = (3 * 70001 + 3) & ~3u;
    EXPECT_EQ(Field32(p, 30), width);
    EXPECT_EQ(Field32(p, 34), 48u);
    EXPECT_EQ(Field32(p, 38), rowBytes % 65536);
    EXPECT_EQ(Field32(p, 42), (rowBytes * 48) % 65536);
    EXPECT_EQ(Field32(p, 46), 1001u);
    EXPECT_EQ(p[50], 0);
    EXPECT_EQ(p[51], 24);
    EXPECT_EQ(p[52], 0);
    EXPECT_EQ(p[53], 1);
    EXPECT_TRUE(std::equal(preview.begin(), preview.end(), p.begin() + 54));
    EXPECT_EQ(p.back(), 0);  // pad byte after an odd length
    Decoded d = DecodeJpeg(e.bytes);
    EXPECT_TRUE(d.ok) << d.message;
    EXPECT_EQ(d.warnings, 0) << d.message;
}

TEST_F(DctHeader, PreviewMustFitTheHeaderBuffer)
{
    Image img = PhotoImage(24, 20, 1);
    Encode(Params(0.3, 0), img);
    uint32_t plainHeader = filter.GetHeaderLength();
    // The segment takes 58 bytes around the file's bytes (plus a pad byte
    // when the length is odd); the largest preview fills the buffer exactly.
    size_t largest = CCodecFilter::kOutBufferSize - plainHeader - 58;
    ASSERT_EQ(largest % 2, 0u);
    std::string path = dir.File("prev.jpg");
    DCTINFO info = Params(0.3, 0);
    info.pszPreviewFile = path.c_str();

    WriteAll(path, PreviewBytes(largest));
    Encoded fits = Encode(info, img);
    ASSERT_EQ(fits.end, 0u);
    EXPECT_EQ(filter.GetHeaderLength(), CCodecFilter::kOutBufferSize);
    Decoded d = DecodeJpeg(fits.bytes);
    EXPECT_TRUE(d.ok) << d.message;
    EXPECT_EQ(d.warnings, 0) << d.message;

    for (size_t size : {largest + 1, largest + 2, size_t(40000), size_t(65536 + 100)}) {
        WriteAll(path, PreviewBytes(size));
        EXPECT_EQ(Encode(info, img).header, 0xFFFFFFFFu) << size;
    }
    std::string missing = dir.File("missing.jpg");
    info.pszPreviewFile = missing.c_str();
    EXPECT_EQ(Encode(info, img).header, 0xFFFFFFFFu);
}
