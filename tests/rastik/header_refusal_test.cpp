// Refusals met in the header read, before a host allocates planes: the
// pixel limit of untrusted input for every reader, what the data reads
// refuse, and files too short to hold the pixels they declare.
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <zlib.h>

#include "PictFixture.h"
#include "TestUtil.h"
#include "TiffFixture.h"

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

// A bitmap of 8-bit indexes, 6 x 4, whose header declares the compression
// and whose pixel data is data (the rows as stored, or run-length codes).
std::vector<uint8_t> IndexedBmp(uint32_t compression, const std::vector<uint8_t>& data, uint16_t bits = 8,
                                uint32_t width = 6, uint32_t height = 4)
{
    testutil::BmpFixture f;
    f.width = 6;
    f.bitCount = bits;
    f.palette.assign(4u << (bits <= 8 ? bits : 0), 0);
    f.compression = compression;
    std::vector<uint8_t> bytes = testutil::MakeBmp(f);
    std::memcpy(&bytes[18], &width, 4);  // little-endian host
    std::memcpy(&bytes[22], &height, 4);
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

std::vector<uint8_t> TiffWith(const std::function<void(testutil::TiffFixture&)>& edit)
{
    testutil::TiffFixture f = testutil::PlainTiff(6, 4, 8, 1, 1, std::vector<uint8_t>(24, 7), 4);
    edit(f);
    return testutil::MakeTiff(f);
}

void SetTiffEntry(testutil::TiffFixture& f, const testutil::TiffEntry& entry)
{
    for (testutil::TiffEntry& e : f.entries)
        if (e.tag == entry.tag) {
            e = entry;
            return;
        }
    f.entries.push_back(entry);
}

std::vector<uint8_t> PictOf(uint16_t pixelSize, uint16_t cmpCount)
{
    pictfix::PictFixture f;
    f.width = 6;
    f.height = 4;
    f.pixelSize = pixelSize;
    f.cmpCount = cmpCount;
    for (uint16_t i = 0; i < 256; ++i) f.table.push_back({i, 0, 0, 0});
    f.rows.assign(4, std::vector<uint8_t>(pictfix::RowBytesOf(f), 1));
    return pictfix::MakePict(f);
}

TEST_F(HeaderRefusalTest, WhatTheDataReadsRefuseTheHeaderReadRefuses)
{
    const std::vector<uint8_t> rows(4 * 8, 1);  // 6 indexes padded to 8, 4 rows
    struct Case {
        const char* what;
        unsigned type;
        std::vector<uint8_t> bytes;
        int message;  // of the header read; 0: read whole
    };
    const Case cases[] = {
        {"bmp rows", kTypeBmp, IndexedBmp(0, rows), 0},
        {"bmp rows one byte short", kTypeBmp, IndexedBmp(0, {rows.begin(), rows.end() - 1}), kMsgBadHeader},
        {"bmp 2-bit indexes", kTypeBmp, IndexedBmp(0, rows, 2), kMsgBadHeader},
        {"bmp bit fields of indexes", kTypeBmp, IndexedBmp(3, rows), kMsgCompressedBmp},
        {"bmp unknown compression", kTypeBmp, IndexedBmp(9, rows), kMsgCompressedBmp},
        {"bmp 4-bit run-length codes of 8-bit indexes", kTypeBmp, IndexedBmp(2, {0, 1}), kMsgCompressedBmp},
        // An end of bitmap alone holds any image; one byte holds none.
        {"bmp run-length end of bitmap", kTypeBmp, IndexedBmp(1, {0, 1}), 0},
        {"bmp run-length single byte", kTypeBmp, IndexedBmp(1, {0}), kMsgBadHeader},
        // Past 64 Mi pixels an image needs codes that could reach them.
        {"bmp 4000 x 4000 run-length rows then an end", kTypeBmp, IndexedBmp(1, {2, 7, 0, 0, 0, 1}, 8, 4000, 4000), 0},
        {"bmp 9000 x 9000 run-length end of bitmap", kTypeBmp, IndexedBmp(1, {0, 1}, 8, 9000, 9000), kMsgBadHeader},
        {"tif 8-bit", kTypeTiff, TiffWith([](testutil::TiffFixture&) {}), 0},
        {"tif 2-bit RGB", kTypeTiff, TiffWith([](testutil::TiffFixture& f) {
             SetTiffEntry(f, {258, 3, {2, 2, 2}, {}});
             SetTiffEntry(f, {262, 3, {2}, {}});
             SetTiffEntry(f, {277, 3, {3}, {}});
         }), kMsgOnly8Bit},
        {"tif unknown compression", kTypeTiff,
         TiffWith([](testutil::TiffFixture& f) { SetTiffEntry(f, {259, 3, {99}, {}}); }), kMsgUnsupported},
        {"tif LZW with a floating-point predictor", kTypeTiff, TiffWith([](testutil::TiffFixture& f) {
             SetTiffEntry(f, {259, 3, {5}, {}});
             SetTiffEntry(f, {317, 3, {3}, {}});
         }), kMsgUnsupported},
        {"pct 8-bit", kTypePict, PictOf(8, 1), 0},
        {"pct 8-bit of two components", kTypePict, PictOf(8, 2), kMsgUnsupported},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = tmp.File("refused");
        ASSERT_TRUE(testutil::WriteBytes(path, c.bytes));
        std::unique_ptr<CRastik> codec(NewRastikInstance(c.type, path.c_str()));
        EXPECT_EQ(testutil::OpenAndReadHead(*codec, path.c_str()), c.message ? 0 : 1);
        EXPECT_EQ(codec->GetLastMessage(), c.message);
        EXPECT_EQ(c.message ? 0 : testutil::ReadWholeImage(*codec), c.message ? 0 : 1);
    }
}

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

// A sample's frame made to declare width x height: the SOF0 segment's
// height and width, big-endian, after its length and precision.
std::vector<uint8_t> Redeclared(std::vector<uint8_t> jpeg, uint16_t width, uint16_t height)
{
    for (size_t i = 0; i + 9 < jpeg.size(); ++i) {
        if (jpeg[i] != 0xFF || jpeg[i + 1] != 0xC0) continue;
        jpeg[i + 5] = static_cast<uint8_t>(height >> 8);
        jpeg[i + 6] = static_cast<uint8_t>(height);
        jpeg[i + 7] = static_cast<uint8_t>(width >> 8);
        jpeg[i + 8] = static_cast<uint8_t>(width);
        break;
    }
    return jpeg;
}

TEST_F(HeaderRefusalTest, FilesTooShortForTheirDeclaredPixelsAreRefusedInTheHeader)
{
    std::vector<uint8_t> jpeg = testutil::ReadBytes(Make(kSamples[2]));
    std::string arithmetic = std::string(getenv("RASTIK_SOURCE_DIR")) +
                             "/tests/fuzz-regressions/jpeg/arithmetic-data-runs-out-65500x65500.jpg";
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;  // empty: the file at path
        std::string path;
        int head;  // ReadImageHead's result
        int message;
    };
    const Case cases[] = {
        // One bit per block of every component: 4000 x 4000 needs some 62 KB.
        {"huffman, declared large", Redeclared(jpeg, 4000, 4000), "", 0, kMsgBadHeader},
        {"huffman, as stored", jpeg, "", 1, 0},
        // Arithmetic-coded data may be tiny: read, bounded later.
        {"arithmetic", {}, arithmetic, 1, 0},
    };
    for (const Case& c : cases) {
        std::string path = c.path.empty() ? tmp.File("case.jpg") : c.path;
        if (!c.bytes.empty()) {
            ASSERT_TRUE(testutil::WriteBytes(path, c.bytes));
        }
        std::unique_ptr<CRastik> codec(NewRastikInstance(kTypeJpeg, path.c_str()));
        EXPECT_EQ(testutil::OpenAndReadHead(*codec, path.c_str()), c.head) << c.what;
        EXPECT_EQ(codec->GetLastMessage(), c.message) << c.what;
    }
}

// A PNG of a grey image declaring width x height whose first data chunk
// holds dataBytes bytes (never decoded: the header read ends in it).
std::vector<uint8_t> DeclaredPng(uint32_t width, uint32_t height, size_t dataBytes)
{
    std::vector<uint8_t> f = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    auto chunk = [&f](const char* type, const std::vector<uint8_t>& body) {
        for (int s = 24; s >= 0; s -= 8) f.push_back(static_cast<uint8_t>(body.size() >> s));
        size_t from = f.size();
        f.insert(f.end(), type, type + 4);
        f.insert(f.end(), body.begin(), body.end());
        uint32_t crc = static_cast<uint32_t>(crc32(0, f.data() + from, static_cast<uInt>(f.size() - from)));
        for (int s = 24; s >= 0; s -= 8) f.push_back(static_cast<uint8_t>(crc >> s));
    };
    std::vector<uint8_t> ihdr;
    for (uint32_t v : {width, height})
        for (int s = 24; s >= 0; s -= 8) ihdr.push_back(static_cast<uint8_t>(v >> s));
    ihdr.insert(ihdr.end(), {8, 0, 0, 0, 0});  // 8-bit grey, deflate, no filter change, not interlaced
    chunk("IHDR", ihdr);
    chunk("IDAT", std::vector<uint8_t>(dataBytes, 0x78));
    return f;
}

TEST_F(HeaderRefusalTest, PngPlanesPastFourGiBAreDescribedWhenTheDataCanHoldThem)
{
    struct Case {
        uint32_t width, height;
        size_t dataBytes;
        int head;
    };
    // 70000 x 70000 grey: 4.9 GB of rows, at least some 4.75 MB of deflate data.
    const Case cases[] = {{70000, 70000, 5u << 20, 1}, {70000, 70000, 4u << 20, 0}};
    for (const Case& c : cases) {
        std::string path = tmp.File("big.png");
        ASSERT_TRUE(testutil::WriteBytes(path, DeclaredPng(c.width, c.height, c.dataBytes)));
        CPngIO png(path.c_str());
        EXPECT_EQ(testutil::OpenAndReadHead(png, path.c_str()), c.head) << c.dataBytes;
        EXPECT_EQ(png.PlaneBytes64(), c.head ? uint64_t{70000} * 70000 : 0u);
    }
}

}  // namespace
