// Bitmap pixel encodings other than plain rows: run-length rows (8 and 4
// bits), bit-field pixels (16 and 32 bits, every mask width, alpha) and
// OS/2 headers. Each is read whole, reduced and as a preview, once with the
// planes in memory and once spilled, and compared with the same image
// stored as plain rows.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "rastik/CBmpIO.h"
#include "rastik/Exports.h"
#include "rastik/General.h"
#include "rastik/Messages.h"

using testutil::BmpFixture;
using testutil::MakeBmp;

namespace {

constexpr uint32_t kTinyLargeBuffer = 200;

std::vector<uint8_t> Palette(uint32_t n)
{
    std::vector<uint8_t> p;
    for (uint32_t i = 0; i < n; ++i)
        p.insert(p.end(), {static_cast<uint8_t>(i * 7), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i * 3), 0});
    return p;
}

// A bitmap whose header describes the fixture and whose pixel data is data.
std::vector<uint8_t> WithData(BmpFixture f, const std::vector<uint8_t>& data)
{
    int32_t h = f.height;
    f.height = 0;
    std::vector<uint8_t> bytes = MakeBmp(f);
    uint32_t height = static_cast<uint32_t>(f.topDown ? -h : h);
    memcpy(&bytes[22], &height, 4);
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

// What the reads of a file gave: header result, whole-read result, planes,
// the reduced planes and the preview.
struct Reads {
    int head = 0;
    int whole = 0;
    std::vector<std::vector<uint8_t>> planes;
    std::vector<uint8_t> reduced;
    std::vector<uint8_t> preview;
    int message = 0;
};

class BmpEncodingsTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { settings = std::make_unique<testutil::MemorySettings>(GetParam(), kTinyLargeBuffer); }
    void TearDown() override { settings.reset(); }

    // The reads of a file by the codec of a type.
    Reads ReadAll(const std::vector<uint8_t>& bytes, unsigned type = kTypeBmp)
    {
        std::string path = dir.File("in" + std::to_string(count++));
        testutil::WriteBytes(path, bytes);
        Reads r;
        {
            std::unique_ptr<CRastik> codec(NewRastikInstance(type, path.c_str()));
            r.head = testutil::OpenAndReadHead(*codec, path.c_str());
            r.message = codec->GetLastMessage();
            if (!r.head) return r;
            r.whole = testutil::ReadWholeImage(*codec);
            for (uint32_t c = 0; r.whole && c < codec->ChannelCount; ++c)
                r.planes.push_back(testutil::PlaneBytes(*codec, c));
            uint32_t colours = codec->ColorMode == kModeRgb ? 3 : 1;
            uint32_t w = (codec->Width + 1) / 2, h = (codec->Height + 2) / 3;
            size_t plane = static_cast<size_t>(BytesPerRow(w * 8)) * h;
            r.reduced.assign(colours * plane, 0xEE);
            uint8_t* planes[3] = {r.reduced.data(), r.reduced.data() + plane, r.reduced.data() + 2 * plane};
            if (!codec->ReadReducedData(w, h, planes)) r.reduced.clear();
        }
        std::unique_ptr<CRastik> codec(NewRastikInstance(type, path.c_str()));
        testutil::OpenAndReadHead(*codec, path.c_str());
        codec->SetMaxPrevSize(4);
        uint32_t w = 0, h = 0;
        uint8_t* buffer = nullptr;
        if (codec->ReadPrevImageData(w, h, buffer)) r.preview.assign(buffer, buffer + (w * 24 + 31) / 32 * 4 * h);
        FreeBuffer(&buffer);
        return r;
    }
    // The reads of bytes agree with those of the same image as plain rows.
    void ExpectSameAs(const std::vector<uint8_t>& bytes, const BmpFixture& plain)
    {
        ExpectSameAs(bytes, MakeBmp(plain), kTypeBmp);
    }
    void ExpectSameAs(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& plain, unsigned type)
    {
        Reads got = ReadAll(bytes), want = ReadAll(plain, type);
        ASSERT_EQ(got.head, 1);
        ASSERT_EQ(got.whole, 1);
        EXPECT_EQ(got.planes, want.planes);
        EXPECT_FALSE(got.reduced.empty());
        EXPECT_EQ(got.reduced, want.reduced);
        EXPECT_FALSE(got.preview.empty());
        EXPECT_EQ(got.preview, want.preview);
    }

    testutil::TempDir dir;
    std::unique_ptr<testutil::MemorySettings> settings;
    int count = 0;
};

// Run-length codes (rows stored bottom-up) and the image they give, top row first.
struct RunLengthCase {
    const char* name;
    uint16_t bits;
    int32_t width;
    int32_t height;
    std::vector<uint8_t> codes;
    std::vector<uint8_t> pixels;
};

const RunLengthCase kRunLengthCases[] = {
    {"runs, end of line, end of bitmap", 8, 5, 3,
     {3, 1, 2, 2, 0, 0, 5, 3, 0, 0, 5, 4, 0, 1},
     {4, 4, 4, 4, 4, 3, 3, 3, 3, 3, 1, 1, 1, 2, 2}},
    {"absolute runs of odd and even length, word-padded", 8, 5, 2,
     {0, 3, 9, 8, 7, 0, 2, 6, 0, 0, 0, 4, 1, 2, 3, 4, 1, 5, 0, 1},
     {1, 2, 3, 4, 5, 9, 8, 7, 6, 6}},
    {"delta right and down leaves index 0", 8, 4, 4,
     {1, 9, 0, 2, 2, 2, 1, 8, 0, 0, 4, 7, 0, 1},
     {7, 7, 7, 7, 0, 0, 0, 8, 0, 0, 0, 0, 9, 0, 0, 0}},
    {"runs and absolute runs past the row's end are clipped", 8, 3, 2,
     {7, 5, 0, 0, 0, 5, 1, 2, 3, 4, 5, 0, 0, 0},
     {1, 2, 3, 5, 5, 5}},
    {"end of bitmap early: the rest is index 0", 8, 3, 3, {3, 4, 0, 1}, {0, 0, 0, 0, 0, 0, 4, 4, 4}},
    {"4-bit runs alternate nibbles, absolute runs pack two a byte", 4, 7, 2,
     {5, 0x12, 0, 0, 0, 7, 0x34, 0x56, 0x78, 0x90, 0, 0},
     {3, 4, 5, 6, 7, 8, 9, 1, 2, 1, 2, 1, 0, 0}},
    {"a delta past the last row ends the image", 8, 2, 2, {2, 3, 0, 2, 0, 9}, {0, 0, 3, 3}},
};

// The header of a width x height image of bits-bit indexes, as plain rows
// or, with compression 1 or 2, run-length rows.
BmpFixture Indexed(uint16_t bits, int32_t width, int32_t height, uint32_t compression)
{
    BmpFixture f;
    f.width = width;
    f.height = height;
    f.bitCount = bits;
    f.palette = Palette(1u << bits);
    f.compression = compression;
    return f;
}

TEST_P(BmpEncodingsTest, RunLengthRowsReadLikePlainRows)
{
    for (const RunLengthCase& c : kRunLengthCases) {
        SCOPED_TRACE(c.name);
        BmpFixture f = Indexed(c.bits, c.width, c.height, 0);
        f.pixels = c.pixels;
        ExpectSameAs(WithData(Indexed(c.bits, c.width, c.height, c.bits == 8 ? 1 : 2), c.codes), f);
    }
}

TEST_P(BmpEncodingsTest, BrokenRunLengthFilesFailCleanly)
{
    BmpFixture f = Indexed(8, 4, 2, 1);
    // Data cut short inside a run, an absolute run and a delta: the whole read fails.
    for (const std::vector<uint8_t>& codes : std::vector<std::vector<uint8_t>>{
             {4, 1, 0, 0, 4}, {4, 1, 0, 0, 0, 4, 1, 2}, {0, 2, 1}, {4, 1, 0, 0, 0, 3, 1, 2, 3}}) {
        Reads r = ReadAll(WithData(f, codes));
        EXPECT_EQ(r.head, 1);
        EXPECT_EQ(r.whole, 0);
    }
    // Top-down run-length rows and run-length codes of other bit counts are refused.
    BmpFixture topDown = f;
    topDown.topDown = true;
    EXPECT_EQ(ReadAll(WithData(topDown, {4, 1, 0, 1})).message, kMsgBadHeader);
    BmpFixture mismatch = f;
    mismatch.compression = 2;
    EXPECT_EQ(ReadAll(WithData(mismatch, {4, 1, 0, 1})).message, kMsgCompressedBmp);
}

// Bit-field pixels: the header (size, compression, masks), pixels, and the
// samples they give (R, G, B and A where the masks give alpha).
struct BitFieldCase {
    const char* name;
    uint16_t bits;
    uint32_t compression;
    uint32_t headerSize;
    std::vector<uint32_t> masks;  // written after a 40-byte header, in a longer one
    std::vector<uint32_t> pixels;
    std::vector<uint8_t> samples;
};

const BitFieldCase kBitFieldCases[] = {
    {"16-bit without masks is 5-5-5", 16, 0, 40, {}, {0x7FFF, 0x0421, 0x1084}, {255, 255, 255, 8, 8, 8, 32, 32, 32}},
    {"5-6-5 masks, as PIL scales them", 16, 3, 40, {0xF800, 0x07E0, 0x001F}, {0xFFFF, 0x0821, 0xF800},
     {255, 255, 255, 8, 4, 8, 255, 0, 0}},
    {"4-4-4-4 with alpha", 16, 6, 40, {0x0F00, 0x00F0, 0x000F, 0xF000}, {0xF123, 0x0FFF},
     {17, 34, 51, 255, 255, 255, 255, 0}},
    {"8-8-8 masks ignore the fourth byte", 32, 3, 40, {0xFF0000, 0xFF00, 0xFF}, {0x11223344, 0xAABBCCDD},
     {0x22, 0x33, 0x44, 0xBB, 0xCC, 0xDD}},
    {"masks in a V5 header with alpha", 32, 3, 124, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}, {0x80010203, 0x7F040506},
     {3, 2, 1, 0x80, 6, 5, 4, 0x7F}},
    {"alpha of nothing but zeros is opaque", 32, 6, 40, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, {0x010203, 0x040506},
     {1, 2, 3, 255, 4, 5, 6, 255}},
    {"wide and narrow masks reach 255", 32, 3, 56, {0x3FF00000, 0x000FFC00, 0x1, 0}, {0x3FF00001, 0x20000000},
     {255, 0, 255, 128, 0, 0}},
    {"a 20-bit mask keeps its top 16 bits", 32, 3, 52, {0x000FFFFF, 0xFFF00000u, 0},
     {0x000FFFFF, 0x00080000, 0xFFF00000u}, {255, 0, 0, 128, 0, 0, 0, 255, 0}},
    {"16-bit masks", 32, 3, 52, {0xFFFF, 0xFFFF0000u, 0}, {0x8000FFFFu}, {255, 128, 0}},
};

std::vector<uint8_t> BitFieldFile(const BitFieldCase& c, int32_t width, int32_t height)
{
    BmpFixture f;
    f.width = width;
    f.height = height;
    f.bitCount = c.bits;
    f.compression = c.compression;
    f.headerSize = c.headerSize;
    std::vector<uint8_t> maskBytes;
    for (uint32_t m : c.masks)
        for (int i = 0; i < 4; ++i) maskBytes.push_back(static_cast<uint8_t>(m >> (8 * i)));
    if (c.headerSize == 40) f.palette = maskBytes;
    uint32_t bytes = c.bits / 8;
    uint32_t rowBytes = (bytes * width + 3) / 4 * 4;
    std::vector<uint8_t> data;
    for (int32_t y = height - 1; y >= 0; --y) {
        std::vector<uint8_t> row(rowBytes, 0);
        for (int32_t x = 0; x < width; ++x) {
            uint32_t p = c.pixels[(static_cast<size_t>(y) * width + x) % c.pixels.size()];
            for (uint32_t i = 0; i < bytes; ++i) row[x * bytes + i] = static_cast<uint8_t>(p >> (8 * i));
        }
        data.insert(data.end(), row.begin(), row.end());
    }
    std::vector<uint8_t> file = WithData(f, data);
    if (c.headerSize > 40) std::copy(maskBytes.begin(), maskBytes.end(), file.begin() + 54);
    return file;
}

TEST_P(BmpEncodingsTest, BitFieldPixelsScaleEveryMaskToFullRange)
{
    for (const BitFieldCase& c : kBitFieldCases) {
        SCOPED_TRACE(c.name);
        uint32_t n = static_cast<uint32_t>(c.pixels.size());
        uint32_t channels = static_cast<uint32_t>(c.samples.size()) / n;
        Reads r = ReadAll(BitFieldFile(c, static_cast<int32_t>(n), 1));
        ASSERT_EQ(r.whole, 1);
        ASSERT_EQ(r.planes.size(), channels);
        for (uint32_t x = 0; x < n; ++x)
            for (uint32_t s = 0; s < channels; ++s) EXPECT_EQ(r.planes[s][x], c.samples[x * channels + s]) << x << " " << s;

        // A larger image of the same pixels reads like the 24-bit file of its samples.
        const int32_t w = 11, h = 7;
        BmpFixture plain;
        plain.width = w;
        plain.height = h;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                size_t p = (static_cast<size_t>(y) * w + x) % n;
                plain.pixels.insert(plain.pixels.end(), &c.samples[p * channels], &c.samples[p * channels] + 3);
            }
        Reads big = ReadAll(BitFieldFile(c, w, h)), want = ReadAll(MakeBmp(plain));
        ASSERT_EQ(big.whole, 1);
        for (uint32_t s = 0; s < 3; ++s) EXPECT_EQ(big.planes[s], want.planes[s]);
        EXPECT_EQ(big.reduced, want.reduced);
        EXPECT_EQ(big.preview, want.preview);
    }
}

TEST_P(BmpEncodingsTest, MasksThatCannotBeReadAreRefused)
{
    BitFieldCase split{"", 16, 3, 40, {0xF00F, 0x0FF0, 0}, {0}, {}};
    EXPECT_EQ(ReadAll(BitFieldFile(split, 2, 2)).message, kMsgBadHeader);
    BitFieldCase deep{"", 24, 3, 40, {0xFF0000, 0xFF00, 0xFF}, {0}, {}};
    EXPECT_EQ(ReadAll(BitFieldFile(deep, 2, 2)).message, kMsgCompressedBmp);
    // Masks cut off by the file's end.
    std::vector<uint8_t> cut = BitFieldFile(kBitFieldCases[1], 1, 1);
    cut.resize(60);
    EXPECT_EQ(ReadAll(cut).message, kMsgBadHeader);
}

// OS/2 headers: the 12-byte one with 16-bit sizes and 3-byte palette
// entries (a table that may end early, where the pixel data begins), and the
// 16- to 64-byte ones of the 40-byte layout cut short or padded.
TEST_P(BmpEncodingsTest, Os2HeadersReadLikeWindowsOnes)
{
    for (uint32_t entries : {256u, 5u}) {
        SCOPED_TRACE(entries);
        BmpFixture plain;
        plain.width = 9;
        plain.height = 5;
        plain.bitCount = 8;
        plain.palette = Palette(entries);
        plain.colorsUsed = entries;
        for (int i = 0; i < 45; ++i) plain.pixels.push_back(static_cast<uint8_t>(i % entries));
        std::vector<uint8_t> windows = MakeBmp(plain);
        uint32_t rows = 12 * 5;
        std::vector<uint8_t> os2(windows.begin(), windows.begin() + 14);
        const uint8_t info[12] = {12, 0, 0, 0, 9, 0, 5, 0, 1, 0, 8, 0};
        os2.insert(os2.end(), info, info + 12);
        for (uint32_t i = 0; i < entries; ++i) os2.insert(os2.end(), &plain.palette[4 * i], &plain.palette[4 * i] + 3);
        uint32_t offset = static_cast<uint32_t>(os2.size());
        for (int i = 0; i < 4; ++i) os2[10 + i] = static_cast<uint8_t>(offset >> (8 * i));
        os2.insert(os2.end(), windows.end() - rows, windows.end());
        ExpectSameAs(os2, plain);
    }
    for (uint32_t size : {16u, 24u, 64u}) {
        SCOPED_TRACE(size);
        BmpFixture plain;
        plain.width = 7;
        plain.height = 3;
        plain.bitCount = 4;
        plain.palette = Palette(16);
        for (int i = 0; i < 21; ++i) plain.pixels.push_back(static_cast<uint8_t>(i % 16));
        BmpFixture os2 = plain;
        os2.headerSize = size;
        ExpectSameAs(MakeBmp(os2), plain);
    }
    // Their compressions 3 and 4 are Huffman codes and 24-bit runs.
    BmpFixture huffman;
    huffman.width = huffman.height = 2;
    huffman.bitCount = 1;
    huffman.headerSize = 64;
    huffman.compression = 3;
    huffman.palette = Palette(2);
    EXPECT_EQ(ReadAll(MakeBmp(huffman)).message, kMsgCompressedBmp);
}

// A JPEG or PNG file as the pixel data reads as that file does, whole,
// reduced and as a preview; one that is not such a file is refused.
TEST_P(BmpEncodingsTest, EmbeddedJpegAndPngReadLikeTheirFiles)
{
    const struct {
        unsigned type;
        uint32_t mode;
        uint32_t compression;
    } kinds[] = {{kTypeJpeg, kModeRgb, 4}, {kTypeJpeg, kModeGrey, 4}, {kTypePng, kModeRgb, 5}, {kTypePng, kModeIndexed, 5}};
    for (const auto& k : kinds) {
        SCOPED_TRACE(k.type * 10 + k.mode);
        std::string inner = dir.File("inner");
        ASSERT_TRUE(testutil::WriteSampleImage(k.type, k.mode, 23, 14, inner));
        std::vector<uint8_t> data = testutil::ReadBytes(inner);
        BmpFixture f;
        f.width = 23;
        f.height = 14;
        f.bitCount = 0;
        f.compression = k.compression;
        ExpectSameAs(WithData(f, data), data, k.type);
        data.resize(data.size() / 3);
        data[1] ^= 0x55;
        EXPECT_EQ(ReadAll(WithData(f, data)).message, kMsgBadHeader);
    }
}

// Every truncation and random byte changes of a file of each kind end
// cleanly; where the header is accepted, rows of a fixed length are there.
TEST_P(BmpEncodingsTest, TruncationsAndMutationsOfEveryKindFailCleanly)
{
    BmpFixture rle = Indexed(8, 5, 3, 1), rle4 = Indexed(4, 5, 3, 2);
    std::string png = dir.File("inner.png");
    ASSERT_TRUE(testutil::WriteSampleImage(kTypePng, kModeRgb, 5, 3, png));
    BmpFixture embedded;
    embedded.width = 5;
    embedded.height = 3;
    embedded.bitCount = 0;
    embedded.compression = 5;
    const std::vector<std::vector<uint8_t>> files = {
        WithData(rle, kRunLengthCases[0].codes), WithData(rle4, kRunLengthCases[5].codes),
        BitFieldFile(kBitFieldCases[2], 5, 3),   BitFieldFile(kBitFieldCases[4], 5, 3),
        BitFieldFile(kBitFieldCases[6], 5, 3),   WithData(embedded, testutil::ReadBytes(png)),
    };
    uint32_t seed = 12345;
    for (const std::vector<uint8_t>& file : files) {
        bool promised = file[30] != 1 && file[30] != 2 && file[30] != 5;
        // Every length through the headers, a spread over the pixel data.
        for (size_t len = 0; len < file.size(); len += len < 80 ? 1 : 9) {
            Reads r = ReadAll(std::vector<uint8_t>(file.begin(), file.begin() + static_cast<long>(len)));
            if (r.head && promised) {
                EXPECT_EQ(r.whole, 1) << len;
            }
        }
        for (int n = 0; n < 30; ++n) {
            std::vector<uint8_t> bytes = file;
            for (int e = 0; e < 3; ++e) {
                seed = seed * 1103515245u + 12345u;
                bytes[(seed >> 8) % (n % 2 ? 70 : bytes.size())] ^= static_cast<uint8_t>(1u << (seed >> 28) % 8);
            }
            ReadAll(bytes);
        }
    }
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Bmp, BmpEncodingsTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("Spilled") : std::string("Memory");
                         });
