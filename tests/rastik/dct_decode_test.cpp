// Tests of the DCT decoder on whole streams: everything the library's encoder
// writes and the corpus JPEGs against libjpeg, refused and skipped header
// segments, what the header reports, sampling factors, restart markers and
// the band protocol.
#include <gtest/gtest.h>

#include <functional>

#include "TestUtil.h"
#include "dct_decode_support.h"

using namespace dcttest;

namespace {

// Whether the decoder's samples are libjpeg's inverted: four components
// always, one component when delivered interleaved.
bool InvertedAgainstLibjpeg(uint32_t components, bool planar)
{
    return components == 4 || (components == 1 && !planar);
}

void ExpectLikeLibjpeg(const std::vector<uint8_t>& bytes, const TempDir& dir, double minPsnr)
{
    for (bool planar : {false, true}) {
        SCOPED_TRACE(planar ? "L_Decoder" : "Decoder");
        OwnDecoded own = DecodeOwn(bytes, dir, planar);
        ASSERT_NE(own.header, kFailed);
        ASSERT_EQ(own.last, 0u);
        Decoded lib = Reference(bytes, own);
        ASSERT_TRUE(lib.ok) << lib.message;
        EXPECT_GE(PsnrBytes(own.pixels, lib.samples, InvertedAgainstLibjpeg(own.info.dwComponents, planar)), minPsnr);
    }
}

}  // namespace

TEST(DctDecode, EverythingTheEncoderWritesDecodesLikeLibjpeg)
{
    TempDir dir;
    struct Kind {
        uint32_t components, transform;
        bool large;
    } kinds[] = {{1, 0, false}, {3, 1, false}, {3, 1, true}, {3, 0, false}, {3, 0, true},
                 {4, 1, false}, {4, 1, true},  {4, 0, false}, {4, 0, true}};
    for (const Kind& k : kinds) {
        Image img = PhotoImage(61, 43, k.components, k.components + k.transform);
        for (int quality : {0, 50, 70, 75, 76, 100}) {
            SCOPED_TRACE(std::to_string(k.components) + " components, transform " + std::to_string(k.transform) +
                         (k.large ? ", 16x16" : ", 8x8") + ", quality " + std::to_string(quality));
            ExpectLikeLibjpeg(Encode(img, dir, k.transform, k.large, 1.0 - quality / 100.0), dir, 45.0);
        }
    }
}

TEST(DctDecode, CorpusBaselineLikeLibjpegProgressiveRefused)
{
    std::string corpus = testutil::CorpusDir("jpeg");
    if (corpus.empty()) GTEST_SKIP() << "../shared/corpus/jpeg is absent";
    TempDir dir;
    int baseline = 0;
    for (const std::string& name : testutil::ListFiles(corpus, "", ".jpg")) {
        SCOPED_TRACE(name);
        std::vector<uint8_t> bytes = ReadAll(name);
        bool progressive = false;
        for (const Segment& s : HeaderSegments(bytes)) progressive = progressive || s.marker == 0xFFC2;
        if (progressive) {
            EXPECT_EQ(DecodeOwn(bytes, dir).header, kFailed);
            continue;
        }
        ExpectLikeLibjpeg(bytes, dir, 38.0);
        ++baseline;
    }
    EXPECT_GT(baseline, 0);
}

TEST(DctDecode, HeaderSegmentsRefusedOrSkipped)
{
    TempDir dir;
    std::vector<uint8_t> plain = Encode(PhotoImage(24, 16, 3), dir, 1);
    size_t scan = 0;
    const std::vector<Segment> segments = HeaderSegments(plain, &scan);
    ASSERT_FALSE(segments.empty());
    std::vector<uint8_t> expected = DecodeOwn(plain, dir).pixels;
    using Edit = std::function<void(std::vector<Segment>&)>;
    auto frame = [](std::vector<Segment>& s) { return Find(s, 0xFFC0); };
    struct Case {
        const char* name;
        Edit edit;
        bool refused;
    } cases[] = {
        {"no start of image", [](auto& s) { s.erase(s.begin()); }, true},
        {"progressive frame", [&](auto& s) { frame(s)->marker = 0xFFC2; }, true},
        {"arithmetic-coded frame", [&](auto& s) { frame(s)->marker = 0xFFC9; }, true},
        {"12-bit samples", [&](auto& s) { frame(s)->payload[0] = 12; }, true},
        {"MCU of 32 x 16", [&](auto& s) { frame(s)->payload[7] = 0x42; }, true},
        {"sampling 3, 2, 1", [&](auto& s) { frame(s)->payload[7] = 0x31, frame(s)->payload[10] = 0x21; }, true},
        {"scan uses an undefined table", [](auto& s) { Find(s, 0xFFDA)->payload[2] = 0x33; }, true},
        {"restart segment of 5 bytes", [](auto& s) { s.insert(s.end() - 1, Segment{0xFFDD, {0, 1, 0}}); }, true},
        {"16-bit quantisers", [](auto& s) { Find(s, 0xFFDB)->payload[0] |= 0x10; }, true},
        {"too many codes of length 1", [](auto& s) { Find(s, 0xFFC4)->payload[1] = 3; }, true},
        {"arithmetic conditioning skipped", [](auto& s) { s.insert(s.end() - 1, Segment{0xFFCC, {0x00, 0x11}}); }, false},
        {"unknown application segment skipped", [](auto& s) { s.insert(s.begin() + 1, Segment{0xFFE5, {1, 2, 3}}); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Segment> edited = segments;
        c.edit(edited);
        OwnDecoded own = DecodeOwn(Rebuild(edited, plain, scan), dir);
        if (c.refused) {
            EXPECT_EQ(own.header, kFailed);
        } else {
            EXPECT_EQ(own.last, 0u);
            EXPECT_EQ(own.pixels, expected);
        }
    }
}

TEST(DctDecode, HeaderReportsSizeDensityAndThumbnail)
{
    TempDir dir;
    std::vector<uint8_t> plain = Encode(PhotoImage(24, 16, 1), dir, 0);
    size_t scan = 0;
    const std::vector<Segment> segments = HeaderSegments(plain, &scan);
    std::vector<uint8_t> expected = DecodeOwn(plain, dir).pixels;
    auto jfif = [](uint8_t unit, uint8_t thumbWidth, uint8_t thumbHeight) {
        Segment s{0xFFE0, {'J', 'F', 'I', 'F', 0, 1, 2, unit, 0, 150, 0, 75, thumbWidth, thumbHeight}};
        s.payload.resize(s.payload.size() + 3u * thumbWidth * thumbHeight, 0xFF);
        return s;
    };
    // Photoshop resources: a thumbnail block with a 3-character name, then
    // resolution 300 x 300 (16.16 fixed point) in block 1005.
    Segment photoshop{0xFFED, {'P', 'h', 'o', 't', 'o', 's', 'h', 'o', 'p', ' ', '3', '.', '0', 0}};
    const uint8_t blocks[] = {'8', 'B', 'I', 'M', 0x04, 0x0C, 3, 'a', 'b', 'c', 0, 0, 0, 3, 7, 7, 7, 0,
                              '8', 'B', 'I', 'M', 0x03, 0xED, 0, 0, 0, 0, 0, 16, 0x01, 0x2C, 0, 0, 0, 1, 0, 1,
                              0x01, 0x2C, 0, 0, 0, 1, 0, 1};
    photoshop.payload.insert(photoshop.payload.end(), std::begin(blocks), std::end(blocks));
    struct Case {
        const char* name;
        Segment app;
        int32_t unit;
        uint32_t x, y, thumbnail;
    } cases[] = {
        {"JFIF with a 2 x 3 thumbnail", jfif(2, 2, 3), 2, 150, 75, 1},
        {"JFIF with a thumbnail of width 0", jfif(0, 0, 3), 0, 150, 75, 0},
        {"Photoshop resolution after JFIF", photoshop, 1, 300, 300, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Segment> edited = segments;
        if (c.app.marker == 0xFFE0) *Find(edited, 0xFFE0) = c.app;
        else edited.insert(edited.end() - 1, c.app);
        TempDir caseDir;
        OwnDecoded own = DecodeOwn(Rebuild(edited, plain, scan), caseDir);
        ASSERT_NE(own.header, kFailed);
        EXPECT_EQ(own.info.dwDensityUnit, c.unit);
        EXPECT_EQ(own.info.dwXDensity, c.x);
        EXPECT_EQ(own.info.dwYDensity, c.y);
        EXPECT_EQ(own.info.dwThumbnail, c.thumbnail);
        EXPECT_EQ(own.pixels, expected);
    }

    // Size fields are filled, encoder fields left as the caller set them.
    std::vector<Segment> noJfif = segments;
    noJfif.erase(noJfif.begin() + 1);
    std::string path = dir.File("info.jpg");
    WriteAll(path, Rebuild(noJfif, plain, scan));
    CFile file;
    ASSERT_TRUE(file.Open(path.c_str(), CFile::modeRead | CFile::typeBinary));
    CFile* previous = SetEncodedDataFile(&file);
    CDCTFilter filter;
    const uint8_t sampling[1] = {2};
    DCTINFO info;
    info.pHSampling = sampling;
    info.dQuantScale = 0.5;
    info.dwPreviewWidth = 9;
    EXPECT_EQ(filter.Decode_Header(1, &info), 8u * 24 * 1);
    SetEncodedDataFile(previous);
    EXPECT_EQ(info.dwWidth, 24u);
    EXPECT_EQ(info.dwHeight, 16u);
    EXPECT_EQ(info.dwComponents, 1u);
    EXPECT_EQ(info.dwDensityUnit, -1);
    EXPECT_EQ(info.dwTransform, 1u);
    EXPECT_EQ(info.dQuantScale, 0.0);
    EXPECT_EQ(info.pHSampling, sampling);
    EXPECT_EQ(info.dwPreviewWidth, 9);
}

TEST(DctDecode, SamplingFactorsReducedByTheirCommonDivisor)
{
    // 2 x 2 on every component is the same frame as 1 x 1: an 8 x 8 MCU.
    TempDir dir;
    std::vector<uint8_t> plain = Encode(PhotoImage(27, 19, 3), dir, 1);
    size_t scan = 0;
    std::vector<Segment> segments = HeaderSegments(plain, &scan);
    std::vector<uint8_t>& sof = Find(segments, 0xFFC0)->payload;
    for (size_t c = 0; c < 3; ++c) sof[7 + 3 * c] = 0x22;
    OwnDecoded doubled = DecodeOwn(Rebuild(segments, plain, scan), dir);
    EXPECT_EQ(doubled.header, 8u * 27 * 3);
    EXPECT_EQ(doubled.pixels, DecodeOwn(plain, dir).pixels);
}

TEST(DctDecode, RestartMarkersAfterAStrayFillByte)
{
    // Two images of one MCU row each, with the same tables, become one image
    // of two MCU rows with a restart interval of one row: the first scan, a
    // stray 0xFF, RST0, the second scan, EOI.
    TempDir dir;
    const uint32_t width = 40;
    std::vector<uint8_t> top = Encode(PhotoImage(width, 8, 3, 1), dir, 1);
    std::vector<uint8_t> bottom = Encode(PhotoImage(width, 8, 3, 2), dir, 1);
    size_t topScan = 0, bottomScan = 0;
    std::vector<Segment> segments = HeaderSegments(top, &topScan);
    ASSERT_FALSE(HeaderSegments(bottom, &bottomScan).empty());
    Find(segments, 0xFFC0)->payload[2] = 16;  // height
    segments.insert(segments.end() - 1, Segment{0xFFDD, {0, uint8_t(width / 8)}});
    std::vector<uint8_t> data(top.begin() + long(topScan), top.end() - 2);
    data.insert(data.end(), {0xFF, 0xFF, 0xD0});
    data.insert(data.end(), bottom.begin() + long(bottomScan), bottom.end());
    std::vector<uint8_t> joined = Rebuild(segments, data, 0);

    std::vector<uint8_t> expected = DecodeOwn(top, dir).pixels;
    std::vector<uint8_t> second = DecodeOwn(bottom, dir).pixels;
    expected.insert(expected.end(), second.begin(), second.end());
    for (bool planar : {false, true}) {
        OwnDecoded own = DecodeOwn(joined, dir, planar);
        EXPECT_EQ(own.last, 0u) << planar;
        EXPECT_EQ(own.pixels, expected) << planar;
    }
    Decoded lib = DecodeJpeg(joined, JCS_UNKNOWN, false);
    ASSERT_TRUE(lib.ok) << lib.message;
    EXPECT_GE(PsnrBytes(expected, lib.samples), 45.0);
}

TEST(DctDecode, BandsOfAnySizeAndTheFileLeftBehindTheImage)
{
    TempDir dir;
    for (uint32_t components : {1u, 3u}) {
        SCOPED_TRACE(components);
        std::vector<uint8_t> bytes = Encode(PhotoImage(37, 45, components), dir, 1, true);
        size_t imageBytes = bytes.size();
        bytes.insert(bytes.end(), {'t', 'r', 'a', 'i', 'l'});
        for (bool planar : {false, true}) {
            OwnDecoded one = DecodeOwn(bytes, dir, planar);
            ASSERT_EQ(one.last, 0u);
            EXPECT_EQ(one.pixels.size(), 37u * 45 * components);
            EXPECT_EQ(one.endPosition, imageBytes);
            // Two bands and a bit per call: the last call has spare rows.
            EXPECT_EQ(DecodeOwn(bytes, dir, planar, 2, 100).pixels, one.pixels);
            // A buffer one byte short of a band delivers nothing.
            OwnDecoded none = DecodeOwn(bytes, dir, planar, 0, one.header - 1);
            EXPECT_FALSE(none.progressed);
            EXPECT_EQ(none.last, 45u);
            EXPECT_TRUE(none.pixels.empty());
        }
    }
}
