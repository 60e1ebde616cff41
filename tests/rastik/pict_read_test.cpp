// Picture reading from files built as the format is documented: one file per
// row decoder (whole, reduced and preview, planes in memory and spilled),
// PackBits counts, resolutions, the opcodes stepped over before the bitmap,
// refusals, the two 1-bit formats and their detection, and hostile input.
#include <unistd.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "PictFixture.h"
#include "TestUtil.h"
#include "rastik/CPicIO.h"
#include "rastik/Exports.h"
#include "rastik/General.h"
#include "rastik/Messages.h"
#include "rastik/core/CReducedSampler.h"
#include "rastik/formats/PictOpcodeTable.h"

using pictfix::PictFixture;
using testutil::MessageCapture;

namespace {

constexpr uint32_t kTinyLargeBuffer = 300;

enum class Table { kNone, kGrey, kColour, kShortColour, kBlackWhite };

struct DecodeCase {
    const char* name;
    int version;
    uint16_t opcode;
    uint16_t pixelSize, cmpCount, packType;
    uint32_t width, height;
    uint16_t rowBytes;
    Table table;
    uint32_t mode;
};

const DecodeCase kDecodeCases[] = {
    {"v1 bitmap, unpacked rows", 1, 0x90, 1, 1, 0, 13, 4, 0, Table::kNone, kModeBitmap},
    {"v1 packed bitmap", 1, 0x98, 1, 1, 0, 100, 3, 0, Table::kNone, kModeBitmap},
    {"v1 packed bitmap, region", 1, 0x99, 1, 1, 0, 70, 3, 0, Table::kNone, kModeBitmap},
    {"1-bit pixel map", 2, 0x98, 1, 1, 0, 70, 3, 0, Table::kBlackWhite, kModeBitmap},
    {"2-bit, short colour table", 2, 0x98, 2, 1, 0, 37, 3, 0, Table::kShortColour, kModeIndexed},
    {"4-bit grey, region", 2, 0x99, 4, 1, 0, 21, 5, 0, Table::kGrey, kModeGrey},
    {"8-bit colour, word counts", 2, 0x98, 8, 1, 0, 300, 3, 0, Table::kColour, kModeIndexed},
    {"8-bit unpacked", 2, 0x90, 8, 1, 0, 5, 4, 0, Table::kColour, kModeIndexed},
    {"8-bit grey, padded rows", 2, 0x91, 8, 1, 0, 20, 3, 32, Table::kGrey, kModeGrey},
    {"16-bit", 2, 0x9A, 16, 3, 3, 9, 4, 0, Table::kNone, kModeRgb},
    {"16-bit unpacked", 2, 0x9A, 16, 3, 0, 3, 4, 0, Table::kNone, kModeRgb},
    {"32-bit, word counts", 2, 0x9A, 32, 3, 4, 70, 3, 0, Table::kNone, kModeRgb},
    {"32-bit with alpha, region", 2, 0x9B, 32, 4, 4, 20, 3, 0, Table::kNone, kModeRgb},
    {"32-bit unpacked", 2, 0x9A, 32, 3, 1, 5, 2, 0, Table::kNone, kModeRgb},
    {"32-bit without pad byte", 2, 0x9A, 32, 3, 2, 10, 2, 0, Table::kNone, kModeRgb},
    {"32-bit one pixel wide", 2, 0x9A, 32, 3, 4, 1, 3, 0, Table::kNone, kModeRgb},
};

// Runs in the left half of a row (for PackBits repeats), a changing pattern
// in the right half.
uint32_t Sample(uint32_t x, uint32_t y, uint32_t width, uint32_t levels)
{
    return (x < width / 2 ? (x / 4) * 5 + y : x * 7 + y * 3 + x / 5) % levels;
}

// A file of a case and the RGB pixels it must read as.
struct Built {
    PictFixture fixture;
    std::vector<uint8_t> rgb;
};

std::vector<std::array<uint16_t, 4>> MakeTable(Table t, uint32_t levels)
{
    std::vector<std::array<uint16_t, 4>> table;
    if (t == Table::kBlackWhite) return {{0, 0xFFFF, 0xFFFF, 0xFFFF}, {1, 0, 0, 0}};
    uint32_t n = t == Table::kShortColour ? levels - 1 : levels;
    // Listed backwards: entries land by their value. Low bytes differ from
    // high bytes, so only the high byte gives the intended colour.
    for (uint32_t j = 0; j < n; ++j) {
        uint32_t i = n - 1 - j;
        if (t == Table::kGrey) {
            uint16_t g = static_cast<uint16_t>((i * 255 / (levels - 1)) << 8 | 0x11);
            table.push_back({static_cast<uint16_t>(i), g, g, g});
        } else {
            table.push_back({static_cast<uint16_t>(i), static_cast<uint16_t>(((i * 37 + 11) & 255) << 8 | 0x28),
                             static_cast<uint16_t>(((i * 91) & 255) << 8 | 0x28),
                             static_cast<uint16_t>(((255 - i) & 255) << 8 | 0x28)});
        }
    }
    return table;
}

void PutRgb(std::vector<uint8_t>& rgb, uint8_t r, uint8_t g, uint8_t b)
{
    rgb.insert(rgb.end(), {r, g, b});
}

Built Build(const DecodeCase& c)
{
    Built b;
    PictFixture& f = b.fixture;
    f.version = c.version;
    f.opcode = c.opcode;
    f.width = c.width;
    f.height = c.height;
    f.pixmap = c.table != Table::kNone || c.pixelSize >= 16;
    f.pixelSize = c.pixelSize;
    f.cmpCount = c.cmpCount;
    f.packType = c.packType;
    f.rowBytes = c.rowBytes;
    uint32_t levels = c.pixelSize <= 8 ? 1u << c.pixelSize : 256;
    if (c.pixelSize <= 8 && c.table != Table::kNone) f.table = MakeTable(c.table, levels);
    uint16_t rowBytes = pictfix::RowBytesOf(f);
    for (uint32_t y = 0; y < c.height; ++y) {
        std::vector<uint8_t> row(rowBytes, 0);
        if (c.pixelSize == 32 && c.packType != 1 && rowBytes >= 8)
            row.assign(static_cast<size_t>(c.width) * (c.packType == 2 ? 3 : c.cmpCount), 0);
        for (uint32_t x = 0; x < c.width; ++x) {
            uint32_t v = Sample(x, y, c.width, levels);
            if (c.pixelSize <= 8) {
                uint32_t bit = x * c.pixelSize;
                row[bit / 8] |= static_cast<uint8_t>(v << (8 - c.pixelSize - bit % 8));
                const std::array<uint16_t, 4>* e = nullptr;
                for (const auto& t : f.table)
                    if (t[0] == v) e = &t;
                if (c.pixelSize == 1) {
                    uint8_t w = v ? 0 : 255;
                    PutRgb(b.rgb, w, w, w);
                } else if (!e) {
                    // Beyond the table: black.
                    PutRgb(b.rgb, 0, 0, 0);
                } else {
                    PutRgb(b.rgb, (*e)[1] >> 8, (*e)[2] >> 8, (*e)[3] >> 8);
                }
            } else if (c.pixelSize == 16) {
                uint32_t p = x == 0 && y == 0 ? 0x7FFF : ((x + y) % 32) << 10 | ((x / 3) % 32) << 5 | (y * 7) % 32;
                row[2 * x] = static_cast<uint8_t>(p >> 8);
                row[2 * x + 1] = static_cast<uint8_t>(p);
                PutRgb(b.rgb, ((p >> 10) & 31) << 3, ((p >> 5) & 31) << 3, (p & 31) << 3);
            } else {
                uint8_t rgb[3] = {static_cast<uint8_t>(x * 9 + y * 31), static_cast<uint8_t>(x / 6 * 40),
                                  static_cast<uint8_t>(y * 50)};
                PutRgb(b.rgb, rgb[0], rgb[1], rgb[2]);
                for (int k = 0; k < 3; ++k) {
                    if (c.packType == 2 && rowBytes >= 8)
                        row[3 * x + k] = rgb[k];
                    else if (c.packType == 1 || rowBytes < 8)
                        row[4 * x + 1 + k] = rgb[k];
                    else
                        row[(c.cmpCount - 3 + k) * c.width + x] = rgb[k];
                }
                if (c.cmpCount == 4 && c.packType == 4 && rowBytes >= 8) row[x] = 0x5A;
            }
        }
        f.rows.push_back(row);
    }
    return b;
}

// RGB of a pixel of planes (stride apart) in the codec's colour mode.
void RgbAt(const CRastik& c, uint8_t* const* planes, size_t at, uint8_t* rgb)
{
    uint8_t v = planes[0][at];
    if (c.ColorMode == kModeRgb) {
        for (int k = 0; k < 3; ++k) rgb[k] = planes[k][at];
    } else if (c.ColorMode == kModeGrey) {
        rgb[0] = rgb[1] = rgb[2] = v;
    } else {
        for (int k = 0; k < 3; ++k) rgb[k] = v < c.PaletteSize ? c.Palette[4 * v + 2 - k] : 0;
    }
}

class PictTest : public ::testing::Test {
protected:
    // Writes bytes and opens a codec on them with its header read.
    std::unique_ptr<CPicIO> Open(const std::vector<uint8_t>& bytes, int* head, bool show = true,
                                 const std::string& name = "in.pict")
    {
        paths.push_back(std::make_unique<std::string>(dir.File(std::to_string(paths.size()) + name)));
        testutil::WriteBytes(*paths.back(), bytes);
        auto codec = std::make_unique<CPicIO>(paths.back()->c_str());
        codec->ShowMessages = show ? 1 : 0;
        *head = testutil::OpenAndReadHead(*codec, paths.back()->c_str());
        return codec;
    }

    testutil::TempDir dir;
    std::vector<std::unique_ptr<std::string>> paths;
};

class PictDecodeTest : public PictTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override { settings = std::make_unique<testutil::MemorySettings>(GetParam(), kTinyLargeBuffer); }
    void TearDown() override { settings.reset(); }
    std::unique_ptr<testutil::MemorySettings> settings;
};

TEST_P(PictDecodeTest, EveryRowDecoderWholeReducedAndPreview)
{
    for (const DecodeCase& c : kDecodeCases) {
        SCOPED_TRACE(c.name);
        Built b = Build(c);
        int head = 0;
        auto codec = Open(pictfix::MakePict(b.fixture), &head);
        ASSERT_EQ(head, 1);
        EXPECT_EQ(codec->Width, c.width);
        EXPECT_EQ(codec->Height, c.height);
        EXPECT_EQ(codec->ColorMode, c.mode);
        EXPECT_EQ(codec->PaletteSize, c.mode == kModeIndexed ? 256u : c.mode == kModeBitmap ? 2u : 0u);
        EXPECT_EQ(codec->PictVersion, static_cast<uint32_t>(c.version));
        ASSERT_EQ(testutil::ReadWholeImage(*codec), 1);
        EXPECT_EQ(codec->ChannelKind[0], GetParam() ? kChannelTemp : kChannelHeap);
        EXPECT_EQ(testutil::PlanesToRgb(*codec).rgb, b.rgb);

        // Reduced to a third of the width and half the height.
        uint32_t w = std::max(1u, c.width / 3), h = std::max(1u, c.height / 2);
        uint32_t stride = BytesPerRow(8 * w);
        std::vector<uint8_t> area(3 * stride * h);
        uint8_t* planes[3] = {area.data(), area.data() + stride * h, area.data() + 2 * stride * h};
        ASSERT_EQ(codec->ReadReducedData(w, h, planes), 1);
        std::vector<uint32_t> rows = CReducedSampler::Positions(c.height, h);
        std::vector<uint32_t> cols = CReducedSampler::Positions(c.width, w);
        for (uint32_t i = 0; i < rows.size(); ++i)
            for (uint32_t j = 0; j < cols.size(); ++j) {
                uint8_t got[3];
                RgbAt(*codec, planes, i * stride + j, got);
                const uint8_t* want = &b.rgb[3 * (rows[i] * c.width + cols[j])];
                ASSERT_EQ(0, memcmp(got, want, 3)) << i << " " << j;
            }

        // Small images preview at their own size.
        uint32_t pw = 0, ph = 0;
        uint8_t* preview = nullptr;
        codec->SetMaxPrevSize(400);
        ASSERT_EQ(codec->ReadPrevImageData(pw, ph, preview), 1);
        EXPECT_TRUE(pw == c.width && ph == c.height);
        FreeBuffer(&preview);
    }
}

INSTANTIATE_TEST_SUITE_P(HeapAndSpilled, PictDecodeTest, ::testing::Bool());

// Grey 8-bit rows of a given width whose stored rows the test writes itself.
PictFixture GreyFixture(uint32_t width, uint32_t height)
{
    PictFixture f;
    f.width = width;
    f.height = height;
    for (uint16_t i = 0; i < 256; ++i) {
        uint16_t g = static_cast<uint16_t>(i << 8 | i);
        f.table.push_back({i, g, g, g});
    }
    for (uint32_t y = 0; y < height; ++y) {
        std::vector<uint8_t> row(pictfix::RowBytesOf(f));
        for (uint32_t x = 0; x < width; ++x) row[x] = static_cast<uint8_t>(x * 3 + y);
        f.rows.push_back(row);
    }
    return f;
}

TEST_F(PictTest, PackBitsRepeatAndNoOpCounts)
{
    PictFixture f = GreyFixture(8, 1);
    // Count 9, then: no-op 0x80, 0xFE repeats 7 three times, 0x04 five literals.
    f.storedRows = {9, 0x80, 0xFE, 7, 0x04, 1, 2, 3, 4, 5};
    int head = 0;
    auto codec = Open(pictfix::MakePict(f), &head);
    ASSERT_EQ(head, 1);
    EXPECT_EQ(codec->ColorMode, kModeGrey);
    ASSERT_EQ(testutil::ReadWholeImage(*codec), 1);
    EXPECT_EQ(testutil::PlaneBytes(*codec, 0), (std::vector<uint8_t>{7, 7, 7, 1, 2, 3, 4, 5}));
}

// Some writers size a row's length field by the row they pack rather than
// by the row bytes: a word for 8-bit rows of 201 to 250 bytes, a byte for
// 32-bit rows packed from at most 200 component bytes.
TEST_F(PictTest, LengthFieldsSizedByThePackedRow)
{
    struct Case {
        const char* what;
        uint32_t width;
        uint16_t pixelSize;
        bool wordCounts;
    } const kCases[] = {
        {"8-bit, 220 row bytes, word counts", 220, 8, true},
        {"32-bit, 256 row bytes, byte counts", 64, 32, false},
    };
    for (const Case& c : kCases) {
        PictFixture f = GreyFixture(c.width, 3);
        std::vector<std::vector<uint8_t>> planes(c.pixelSize == 32 ? 3 : 1);
        if (c.pixelSize == 32) {
            f.opcode = 0x9A, f.pixelSize = 32, f.cmpCount = 3, f.packType = 4, f.table.clear();
            f.rows.clear();
            for (uint32_t y = 0; y < 3; ++y) {
                std::vector<uint8_t> row;
                for (uint32_t k = 0; k < 3; ++k)
                    for (uint32_t x = 0; x < c.width; ++x) row.push_back(static_cast<uint8_t>(x * 5 + y * 40 + k * 90));
                f.rows.push_back(row);
            }
        }
        for (const auto& row : f.rows) {
            std::vector<uint8_t> stored(row.begin(), row.begin() + planes.size() * c.width);
            std::vector<uint8_t> packed = pictfix::PackBits(stored, 1);
            if (c.wordCounts) f.storedRows.push_back(static_cast<uint8_t>(packed.size() >> 8));
            f.storedRows.push_back(static_cast<uint8_t>(packed.size()));
            f.storedRows.insert(f.storedRows.end(), packed.begin(), packed.end());
            for (size_t k = 0; k < planes.size(); ++k)
                planes[k].insert(planes[k].end(), row.begin() + k * c.width, row.begin() + (k + 1) * c.width);
        }
        int head = 0;
        auto codec = Open(pictfix::MakePict(f), &head);
        ASSERT_EQ(head, 1) << c.what;
        ASSERT_EQ(testutil::ReadWholeImage(*codec), 1) << c.what;
        for (size_t k = 0; k < planes.size(); ++k) EXPECT_EQ(testutil::PlaneBytes(*codec, k), planes[k]) << c.what;
    }
}

TEST_F(PictTest, ResolutionIsTheFixedPointValueOver65535)
{
    struct Case { uint32_t hRes; float dpi; };
    for (const Case& c : {Case{0x00480000, 72.0011f}, Case{0x012C0000, 300.0046f}, Case{0, 72.0f}}) {
        PictFixture f = GreyFixture(4, 2);
        f.hRes = f.vRes = c.hRes;
        int head = 0;
        auto codec = Open(pictfix::MakePict(f), &head);
        ASSERT_EQ(head, 1);
        EXPECT_NEAR(codec->XResolution, c.dpi, 1e-4) << c.hRes;
        EXPECT_NEAR(codec->YResolution, c.dpi, 1e-4);
        EXPECT_EQ(codec->ResolutionUnit, 1u);
    }
}

// Opcodes and their data, each put before the bitmap of a small picture.
struct Skipped {
    const char* name;
    int version;
    std::vector<uint8_t> bytes;
};

std::vector<uint8_t> FullPixPat()
{
    // BkPixPat of type 1: old pattern, an 8 x 8 pixel map of 8 bits (rows of
    // 8 bytes: packed), a two-entry colour table, eight packed rows.
    std::vector<uint8_t> v = {0x00, 0x12, 0x00, 0x01, 1, 2, 3, 4, 5, 6, 7, 8, 0x80, 0x08, 0, 0, 0, 0, 0, 8, 0, 8};
    v.resize(v.size() + 36, 0);
    v[v.size() - 36 + 19] = 8;  // pixelSize
    v[v.size() - 36 + 21] = 1;  // cmpCount
    std::vector<uint8_t> table = {0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 1, 0, 0, 0, 0, 0, 0};
    v.insert(v.end(), table.begin(), table.end());
    for (int r = 0; r < 8; ++r) v.insert(v.end(), {2, 0xF9, static_cast<uint8_t>(r & 1)});
    return v;
}

std::vector<Skipped> SkippedOpcodes()
{
    return {
        {"clip region", 2, {0x00, 0x01, 0x00, 0x0A, 0, 0, 0, 0, 0, 8, 0, 8}},
        {"text font and odd-sized face", 2, {0x00, 0x03, 0x00, 0x04, 0x00, 0x04, 0x01}},
        {"RGB background colour", 2, {0x00, 0x1B, 1, 2, 3, 4, 5, 6}},
        {"dither pixel pattern", 2, {0x00, 0x13, 0x00, 0x02, 1, 2, 3, 4, 5, 6, 7, 8, 0xAA, 0xAA, 0xBB, 0xBB, 0xCC, 0xCC}},
        {"full pixel pattern", 2, FullPixPat()},
        {"long text", 2, {0x00, 0x28, 0, 10, 0, 20, 3, 'a', 'b', 'c'}},
        {"DH text", 2, {0x00, 0x29, 5, 2, 'h', 'i'}},
        {"DHDV text", 2, {0x00, 0x2B, 1, 2, 3, 'x', 'y', 'z'}},
        {"reserved 0x24 with length", 2, {0x00, 0x24, 0x00, 0x04, 9, 9, 9, 9}},
        {"reserved 0x92 with length", 2, {0x00, 0x92, 0x00, 0x02, 9, 9}},
        {"frame polygon", 2, {0x00, 0x70, 0x00, 0x0E, 0, 0, 0, 0, 0, 8, 0, 8, 0, 1, 0, 1}},
        {"paint region", 2, {0x00, 0x81, 0x00, 0x0C, 0, 0, 0, 0, 0, 8, 0, 8, 7, 7}},
        {"short and long comments", 2, {0x00, 0xA0, 0x00, 0x82, 0x00, 0xA1, 0x00, 0x64, 0x00, 0x05, 1, 2, 3, 4, 5}},
        {"0x00A2 with length word", 2, {0x00, 0xA2, 0x00, 0x06, 1, 2, 3, 4, 5, 6}},
        {"0x00B5 without data", 2, {0x00, 0xB5}},
        {"0x00D0 with length long", 2, {0x00, 0xD0, 0, 0, 0, 4, 1, 2, 3, 4}},
        {"0x0100 with two bytes", 2, {0x01, 0x00, 1, 2}},
        {"0x02FF with four bytes", 2, {0x02, 0xFF, 1, 2, 3, 4}},
        {"0x8000 without data", 2, {0x80, 0x00}},
        {"0x8100 with length long", 2, {0x81, 0x00, 0, 0, 0, 2, 1, 2}},
        {"compressed QuickTime", 2, {0x82, 0x00, 0, 0, 0, 6, 1, 2, 3, 4, 5, 6}},
        {"v1 region, face, comment, text", 1,
         {0x01, 0x00, 0x0A, 0, 0, 0, 0, 0, 8, 0, 8, 0x04, 0x01, 0xA0, 0x00, 0x82, 0x28, 0, 1, 0, 2, 1, 'q'}},
        {"v1 long comment and reserved", 1, {0xA1, 0x00, 0x64, 0x00, 0x03, 1, 2, 3, 0x2C, 0x00, 0x01, 0x55}},
    };
}

TEST_F(PictTest, OpcodesBeforeTheBitmapAreSteppedOver)
{
    for (const Skipped& s : SkippedOpcodes()) {
        SCOPED_TRACE(s.name);
        PictFixture f = GreyFixture(12, 2);
        f.version = s.version;
        f.before = s.bytes;
        int head = 0;
        auto codec = Open(pictfix::MakePict(f), &head);
        ASSERT_EQ(head, 1);
        EXPECT_EQ(codec->Width, 12u);
        ASSERT_EQ(testutil::ReadWholeImage(*codec), 1);
        EXPECT_EQ(testutil::PlaneBytes(*codec, 0)[13], 4);
    }
}

TEST_F(PictTest, RefusalsAndTheirMessages)
{
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        std::vector<int> quiet, shown;  // messages without and with ShowMessages
    };
    std::vector<uint8_t> good = pictfix::MakePict(GreyFixture(6, 2));
    std::vector<uint8_t> notPict = good;
    notPict[523] = 0x12;
    PictFixture ended = GreyFixture(6, 2);
    ended.before = {0x00, 0xFF};
    PictFixture pattern = GreyFixture(6, 2);
    pattern.before = {0x00, 0x14, 0x00, 0x03, 1, 2, 3, 4, 5, 6, 7, 8};
    PictFixture deep = GreyFixture(6, 2);
    deep.pixelSize = 24;
    PictFixture tall = GreyFixture(6, 2);
    tall.height = 30000;
    PictFixture narrow = GreyFixture(40, 2);
    narrow.rowBytes = 30;
    PictFixture region = GreyFixture(6, 2);
    region.before = {0x00, 0x01, 0x00, 0x01};
    std::vector<uint8_t> truncated(good.begin(), good.begin() + 600);
    const Case cases[] = {
        {"no version opcode", notPict, {}, {kMsgBadFileData}},
        {"end of picture before a bitmap", pictfix::MakePict(ended), {}, {}},
        {"pixel pattern of type 3", pictfix::MakePict(pattern), {}, {kMsgBadFileData}},
        {"24-bit pixels", pictfix::MakePict(deep), {}, {kMsgUnsupported}},
        {"rows the file cannot hold", pictfix::MakePict(tall), {}, {kMsgBadFileData}},
        {"row bytes short of the width", pictfix::MakePict(narrow), {}, {kMsgBadFileData}},
        {"region smaller than its size word", pictfix::MakePict(region), {}, {kMsgBadFileData}},
        {"cut in the colour table", truncated, {}, {kMsgBadFileData}},
        {"shorter than 32 bytes", {'D', 'a', 'n', 'M', 8, 0, 1, 0}, {}, {kMsgBadFileData}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool show : {false, true}) {
            MessageCapture messages;
            int head = 1;
            auto codec = Open(c.bytes, &head, show);
            EXPECT_EQ(head, 0);
            EXPECT_EQ(messages.Ids(), show ? c.shown : c.quiet) << show;
            // Shown or not, the host learns why.
            EXPECT_EQ(codec->GetLastMessage(), c.shown.empty() ? 0 : c.shown[0]) << show;
        }
    }
}

TEST_F(PictTest, WholeReadOfAnUnreadablePixelMapShowsUnsupported)
{
    int head = 0;
    auto codec = Open(pictfix::MakePict(GreyFixture(6, 2)), &head, false);
    ASSERT_EQ(head, 1);
    codec->Pixmap.cmpCount = 2;
    MessageCapture messages;
    EXPECT_EQ(testutil::ReadWholeImage(*codec), 0);
    EXPECT_EQ(messages.Ids(), std::vector<int>{});
    EXPECT_EQ(codec->GetLastMessage(), kMsgUnsupported);
    codec->ShowMessages = 1;
    EXPECT_EQ(testutil::ReadWholeImage(*codec), 0);
    EXPECT_EQ(messages.Ids(), std::vector<int>{kMsgUnsupported});
    uint32_t w = 0, h = 0;
    uint8_t* buffer = nullptr;
    EXPECT_EQ(codec->ReadPrevImageData(w, h, buffer), 0);
    EXPECT_EQ(buffer, nullptr);
}

TEST_F(PictTest, OneBitFormats)
{
    // "DanM" 104 wide: 13-byte rows; a set bit is black (index 0).
    std::vector<uint8_t> rows(13 * 3, 0);
    rows[0] = 0x80;
    rows[13 + 12] = 0x01;
    struct Case { int kind; uint16_t resolution; uint8_t byte22; uint32_t offset; float dpi; };
    for (const Case& c : {Case{1, 300, 0, 32, 300.0f}, Case{1, 0, 0, 32, 72.0f}, Case{2, 0, 24, 24, 72.0f},
                          Case{2, 150, 0, 16, 150.0f}}) {
        SCOPED_TRACE(c.kind * 100 + c.offset);
        int head = 0;
        auto codec = Open(pictfix::MakeMsp(c.kind, 104, 3, rows, c.resolution, c.byte22), &head, true, "in.msp");
        ASSERT_EQ(head, 1);
        EXPECT_EQ(codec->IsMsp, 1);
        EXPECT_EQ(codec->DataOffset, c.offset);
        EXPECT_EQ(codec->ColorMode, kModeBitmap);
        EXPECT_EQ(codec->PaletteSize, 2u);
        EXPECT_EQ(codec->Pixmap.pixelSize, 1u);
        EXPECT_EQ(codec->XResolution, c.dpi);
        ASSERT_EQ(testutil::ReadWholeImage(*codec), 1);
        std::vector<uint8_t> plane = testutil::PlaneBytes(*codec, 0);
        ASSERT_EQ(plane.size(), 104u * 3);
        std::vector<uint8_t> want(104 * 3, 1);
        want[0] = 0;
        want[104 + 103] = 0;
        EXPECT_EQ(plane, want);
    }
    // A "DanM" width that is not a multiple of 8 is not that format.
    int head = 1;
    MessageCapture messages;
    Open(pictfix::MakeMsp(1, 100, 3, rows), &head, false);
    EXPECT_EQ(head, 0);
}

TEST_F(PictTest, DetectionByContentWhateverTheExtension)
{
    std::vector<uint8_t> rows(13 * 2, 0x55);
    struct Case { const char* name; std::vector<uint8_t> bytes; uint16_t type; };
    const Case cases[] = {
        {"a.msp", pictfix::MakeMsp(1, 104, 2, rows), kTypePict},
        {"b.img", pictfix::MakeMsp(2, 100, 2, rows), kTypePict},
        {"c.bmp", pictfix::MakeMsp(1, 96, 2, rows), kTypePict},
        {"d.dat", pictfix::MakePict(GreyFixture(5, 2)), kTypePict},
        {"e.msp", pictfix::MakeMsp(1, 100, 2, rows), 0},
    };
    for (const Case& c : cases) {
        std::string path = dir.File(c.name);
        testutil::WriteBytes(path, c.bytes);
        EXPECT_EQ(DetectFileType(path.c_str()), c.type) << c.name;
    }
}

void Exercise(const std::string& path, const std::vector<uint8_t>& bytes)
{
    // A new file each time: rewriting a truncated one waits for the disk.
    unlink(path.c_str());
    testutil::WriteBytes(path, bytes);
    CPicIO codec(path.c_str());
    testutil::ReadDamagedFile(codec, path.c_str());
}

TEST_F(PictTest, TruncatedAndMutatedFilesEndCleanly)
{
    std::vector<std::vector<uint8_t>> seeds;
    for (const DecodeCase& c : kDecodeCases) {
        PictFixture f = Build(c).fixture;
        f.before = FullPixPat();
        seeds.push_back(pictfix::MakePict(f));
    }
    seeds.push_back(pictfix::MakeMsp(2, 64, 4, std::vector<uint8_t>(32, 0x3C), 0, 24));
    std::string path = dir.File("hostile.pict");
    MessageCapture quiet;
    for (const auto& s : seeds)
        for (size_t cut = 0; cut < s.size(); cut += 1 + cut / 40)
            Exercise(path, std::vector<uint8_t>(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(cut)));
    std::mt19937 random(20240615);
    for (int i = 0; i < 3000; ++i) {
        std::vector<uint8_t> bytes = seeds[random() % seeds.size()];
        // Most changes fall after the preamble, where the picture is.
        for (uint32_t n = 1 + random() % 4; n > 0; --n) {
            size_t at = bytes.size() > 600 ? 512 + random() % (bytes.size() - 512) : random() % bytes.size();
            bytes[at] = random() % 3 == 0 ? static_cast<uint8_t>(random()) : bytes[at] ^ (1u << (random() % 8));
        }
        Exercise(path, bytes);
    }
}

}  // namespace

TEST(PictOpcodeTable, EveryOpcodeHasItsNameAndLength)
{
    struct Row {
        uint16_t op;
        const char* name;
        int16_t length;
    } const rows[] = {
        {0x00, "NOP", 0},          {0x19, "reserved", 0},      {0x24, "reserved", -1},   {0x2F, "reserved", -1},
        {0x34, "fillRect", 8},     {0x37, "reserved", 8},      {0x44, "fillRRrect", 8},  {0x60, "frameArc", 12},
        {0x6F, "reserved", 4},     {0x8C, "fillSameRgn", 0},   {0x97, "reserved", -1},   {0x9A, "Opcode_9A", 0},
        {0xA0, "ShortComment", 2}, {0xA1, "LongComment", 0},
    };
    for (const Row& r : rows) {
        EXPECT_STREQ(kPictOpcodes[r.op].Name, r.name) << std::hex << r.op;
        EXPECT_EQ(kPictOpcodes[r.op].Length, r.length) << std::hex << r.op;
    }
    for (const PictOpcodeEntry& e : kPictOpcodes) ASSERT_TRUE(e.Name && e.Description);
}
