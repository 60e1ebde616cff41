// TIFF reading of small files made here: directory handling in both byte
// orders, defaults and refusals, the strip decoders on hand-made data, the
// reduced read and clip paths.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "TestUtil.h"
#include "platform/KeyQueue.h"
#include "rastik/CTiffIO.h"
#include "rastik/Exports.h"
#include "rastik/ClipPath.h"
#include "rastik/General.h"
#include "rastik/Messages.h"
#include "tiff_util.h"

using namespace testutil;

namespace {

// A fixture written to a file, its header read and (when head succeeds
// and data is asked for) read whole.
struct Loaded {
    TempDir dir;
    std::string path;
    std::unique_ptr<CTiffIO> codec;
    int head = 0;
    int data = 0;
};

std::unique_ptr<Loaded> Load(const TiffFixture& f, bool data = true, bool useColorChannels = false)
{
    auto l = std::make_unique<Loaded>();
    l->path = l->dir.File("t.tif");
    WriteBytes(l->path, MakeTiff(f));
    l->codec = std::make_unique<CTiffIO>(l->path.c_str());
    l->codec->UseColorChannels = useColorChannels;
    l->head = OpenAndReadHead(*l->codec, l->path.c_str());
    if (l->head && data) l->data = ReadWholeImage(*l->codec);
    return l;
}

std::vector<uint8_t> Ramp(size_t n, uint32_t mul = 37, uint32_t mod = 256)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((i * mul + i / 7) % mod);
    return v;
}

// Packs bit strings ("0111 0011"), each padded to a whole byte.
std::vector<uint8_t> Bits(const std::vector<std::string>& rows)
{
    std::vector<uint8_t> out;
    for (const std::string& row : rows) {
        int n = 0;
        for (char c : row) {
            if (c != '0' && c != '1') continue;
            if (n % 8 == 0) out.push_back(0);
            if (c == '1') out.back() |= static_cast<uint8_t>(0x80 >> (n % 8));
            ++n;
        }
    }
    return out;
}

TiffFixture Compressed(uint32_t width, uint32_t height, uint16_t bits, uint16_t photometric, uint16_t compression,
                       const std::vector<std::vector<uint8_t>>& strips, uint32_t rowsPerStrip)
{
    TiffFixture f = PlainTiff(width, height, bits, 1, photometric, {}, rowsPerStrip);
    for (TiffEntry& e : f.entries)
        if (e.tag == 259) e.values = {compression};
    f.strips = strips;
    return f;
}

void SetEntry(TiffFixture& f, TiffEntry entry)
{
    for (TiffEntry& e : f.entries)
        if (e.tag == entry.tag) {
            e = entry;
            return;
        }
    f.entries.push_back(entry);
}

// --- the directory ---

TEST(TiffRead, BothByteOrdersGiveTheSamePlanesPaletteAndResolution)
{
    struct Case {
        const char* what;
        uint16_t bits, samples, photometric;
        uint32_t rowsPerStrip;
        bool colorMap;
    };
    const Case kCases[] = {
        {"rgb 8", 8, 3, 2, 3, false},     {"grey 16", 16, 1, 1, 2, false}, {"palette 8", 8, 1, 3, 4, true},
        {"palette 4", 4, 1, 3, 5, true},  {"bilevel", 1, 1, 0, 7, false},
    };
    for (const Case& c : kCases) {
        std::unique_ptr<Loaded> read[2];
        for (int order = 0; order < 2; ++order) {
            size_t rowBytes = (13 * c.bits * c.samples + 7) / 8;
            std::vector<uint8_t> data = Ramp(rowBytes * 11);
            // The same 16-bit samples in the other byte order.
            if (c.bits == 16 && order == 1)
                for (size_t i = 0; i + 1 < data.size(); i += 2) std::swap(data[i], data[i + 1]);
            TiffFixture f = PlainTiff(13, 11, c.bits, c.samples, c.photometric, data, c.rowsPerStrip, order == 0);
            f.shortStripArrays = true;
            f.entries.push_back({282, 5, {11811, 100}, {}});
            f.entries.push_back({283, 5, {300, 1}, {}});
            f.entries.push_back({296, 3, {3}, {}});
            if (c.colorMap) {
                std::vector<uint32_t> map(3u << c.bits);
                for (size_t i = 0; i < map.size(); ++i) map[i] = static_cast<uint32_t>(i * 997 % 65536);
                f.entries.push_back({320, 3, map, {}});
            }
            read[order] = Load(f);
            ASSERT_EQ(read[order]->data, 1) << c.what;
        }
        CTiffIO& a = *read[0]->codec;
        CTiffIO& b = *read[1]->codec;
        EXPECT_EQ(a.IntelByteOrder, 1);
        EXPECT_EQ(b.IntelByteOrder, 0);
        EXPECT_NEAR(a.XResolution, 118.11f * 2.53995f, 0.01) << c.what;
        EXPECT_EQ(a.ResolutionUnit, 1u);
        EXPECT_EQ(a.XResolution, b.XResolution);
        EXPECT_EQ(a.YResolution, b.YResolution);
        ASSERT_EQ(a.PaletteSize, b.PaletteSize) << c.what;
        if (a.PaletteSize) {
            EXPECT_EQ(0, memcmp(a.Palette, b.Palette, a.PaletteSize * 4)) << c.what;
        }
        for (uint32_t k = 0; k < a.ChannelCount; ++k) EXPECT_EQ(PlaneBytes(a, k), PlaneBytes(b, k)) << c.what;
    }
}

// An entry as stored in an "MM" file turns into host order by SwapBytes(12)
// and back by the export's ReverseSwapBytes(12); the value field is one
// 16-bit number for a single SHORT only. SetTIFInfoField then takes it.
TEST(TiffRead, DirectoryEntriesTurnRoundBothWays)
{
    struct Case {
        uint16_t type;
        uint32_t count;
        std::vector<uint8_t> field;  // as stored big-endian
        std::vector<uint8_t> host;   // the field in host order
        uint32_t value;
    };
    const Case kCases[] = {
        {3, 1, {0x01, 0x02, 0xAA, 0xBB}, {0x02, 0x01, 0xAA, 0xBB}, 0x0102},
        {3, 2, {0x01, 0x02, 0x03, 0x04}, {0x04, 0x03, 0x02, 0x01}, 0x01020304},
        {4, 1, {0x01, 0x02, 0x03, 0x04}, {0x04, 0x03, 0x02, 0x01}, 0x01020304},
    };
    for (const Case& c : kCases) {
        std::vector<uint8_t> stored = {0x01, 0x03, 0, static_cast<uint8_t>(c.type), 0, 0, 0, static_cast<uint8_t>(c.count)};
        stored.insert(stored.end(), c.field.begin(), c.field.end());
        std::vector<uint8_t> entry = stored;
        CTiffIO::SwapBytes(entry.data(), 12);
        std::vector<uint8_t> host = {0x03, 0x01, static_cast<uint8_t>(c.type), 0, static_cast<uint8_t>(c.count), 0, 0, 0};
        host.insert(host.end(), c.host.begin(), c.host.end());
        EXPECT_EQ(entry, host) << c.type << " " << c.count;
        uint32_t value = 0;
        CTiffIO::SetTIFInfoField(&value, entry.data());
        EXPECT_EQ(value, c.value) << c.type << " " << c.count;
        ReverseSwapBytes(entry.data(), 12);
        EXPECT_EQ(entry, stored) << c.type << " " << c.count;
    }
}

TEST(TiffRead, PhotometricSensesPalettesAndGreyValues)
{
    struct Case {
        uint16_t bits, photometric;
        std::vector<uint8_t> data;   // one row of 4 pixels
        std::vector<uint8_t> plane;  // the plane read
        uint32_t mode;
        std::vector<uint8_t> entry0, entry1;  // blue, green, red of entries 0 and 1
    };
    const Case kCases[] = {
        // Bilevel: indexes 0 and 1, entry 0 white when white is zero.
        {1, 0, {0xA0}, {1, 0, 1, 0}, kModeBitmap, {255, 255, 255}, {0, 0, 0}},
        {1, 1, {0xA0}, {1, 0, 1, 0}, kModeBitmap, {0, 0, 0}, {255, 255, 255}},
        // Grey of more bits holds grey values: 4-bit ones spread over 0..255,
        // white-is-zero ones turned over, 16-bit ones as their high byte.
        {4, 1, {0x0F, 0x82}, {0, 255, 136, 34}, kModeGrey, {0, 0, 0}, {1, 1, 1}},
        {4, 0, {0x0F, 0x82}, {255, 0, 119, 221}, kModeGrey, {0, 0, 0}, {1, 1, 1}},
        {8, 0, {0, 1, 200, 255}, {255, 254, 55, 0}, kModeGrey, {0, 0, 0}, {1, 1, 1}},
        {16, 1, {0x34, 0x12, 0xFF, 0x00, 0x00, 0xFF, 0x80, 0x80}, {0x12, 0x00, 0xFF, 0x80}, kModeGrey, {0, 0, 0}, {1, 1, 1}},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(testing::Message() << c.bits << " bits, photometric " << c.photometric);
        std::unique_ptr<Loaded> l = Load(PlainTiff(4, 1, c.bits, 1, c.photometric, c.data, 1));
        ASSERT_EQ(l->data, 1);
        EXPECT_EQ(l->codec->ColorMode, c.mode);
        EXPECT_EQ(PlaneBytes(*l->codec, 0), c.plane);
        ASSERT_NE(l->codec->Palette, nullptr);
        EXPECT_EQ(std::vector<uint8_t>(l->codec->Palette, l->codec->Palette + 3), c.entry0);
        EXPECT_EQ(std::vector<uint8_t>(l->codec->Palette + 4, l->codec->Palette + 7), c.entry1);
    }
}

TEST(TiffRead, ColorMapsOf8And16BitValues)
{
    for (bool wide : {false, true}) {
        TiffFixture f = PlainTiff(2, 1, 1, 1, 3, {0x40}, 1);
        uint32_t s = wide ? 256 : 1;
        // Entry 0 red 10, green 20, blue 30; entry 1 the maxima.
        f.entries.push_back({320, 3, {10 * s, 255 * s, 20 * s, 255 * s, 30 * s, 255 * s}, {}});
        std::unique_ptr<Loaded> l = Load(f);
        ASSERT_EQ(l->data, 1);
        ASSERT_EQ(l->codec->PaletteSize, 2u);
        const uint8_t expected[8] = {30, 20, 10, 0, 255, 255, 255, 0};
        EXPECT_EQ(0, memcmp(l->codec->Palette, expected, 8)) << wide;
        EXPECT_EQ(PlaneBytes(*l->codec, 0), (std::vector<uint8_t>{0, 1}));
    }
}

TEST(TiffRead, StripLayoutsFromTheWild)
{
    std::vector<uint8_t> pixels = Ramp(9 * 10);
    struct Case {
        const char* what;
        void (*edit)(TiffFixture&);
    };
    const Case kCases[] = {
        {"no RowsPerStrip", [](TiffFixture& f) {
             f.entries.erase(f.entries.begin() + 6);
             f.strips = {std::vector<uint8_t>()};
         }},
        {"strips stored last to first", [](TiffFixture& f) { f.stripsReversed = true; }},
        {"SHORT strip arrays, big-endian", [](TiffFixture& f) { f.shortStripArrays = true, f.littleEndian = false; }},
        {"no StripByteCounts", [](TiffFixture& f) { f.withByteCounts = false; }},
    };
    for (const Case& c : kCases) {
        TiffFixture f = PlainTiff(9, 10, 8, 1, 1, pixels, 3);
        c.edit(f);
        if (f.strips.size() == 1) f.strips[0] = pixels;
        std::unique_ptr<Loaded> l = Load(f);
        ASSERT_EQ(l->data, 1) << c.what;
        EXPECT_EQ(PlaneBytes(*l->codec, 0), pixels) << c.what;
    }
}

TEST(TiffRead, ExtraSamplesFillTheirPlanesUnlessOnlyColourIsAsked)
{
    std::vector<uint8_t> pixels = Ramp(5 * 3 * 4);
    TiffFixture f = PlainTiff(5, 3, 8, 4, 2, pixels, 2);
    f.entries.push_back({338, 3, {2}, {}});
    for (bool colourOnly : {false, true}) {
        std::unique_ptr<Loaded> l = Load(f, true, colourOnly);
        ASSERT_EQ(l->data, 1);
        EXPECT_EQ(l->codec->ChannelCount, 4u);
        EXPECT_EQ(l->codec->ExtraSampleCount, 1u);
        for (uint32_t k = 0; k < (colourOnly ? 3u : 4u); ++k) {
            std::vector<uint8_t> plane = PlaneBytes(*l->codec, k);
            for (size_t i = 0; i < plane.size(); ++i) ASSERT_EQ(plane[i], pixels[i * 4 + k]);
        }
    }
}

// Colour stored multiplied by alpha (ExtraSamples 1) reads divided by it
// whether the samples are interleaved or a plane each, in strips or tiles,
// also when only the colour planes are read.
TEST(TiffRead, AssociatedAlphaIsDividedOutOfPlanarColourAsOfInterleaved)
{
    const uint32_t w = 11, h = 6;
    for (uint16_t samples : {2, 4}) {
        std::vector<uint8_t> pixels = Ramp(size_t(w) * h * samples, 53);
        for (size_t i = samples - 1; i < pixels.size(); i += samples * 5) pixels[i] = i % 2 ? 0 : 255;
        std::vector<uint8_t> planes;
        for (uint32_t k = 0; k < samples; ++k)
            for (size_t i = k; i < pixels.size(); i += samples) planes.push_back(pixels[i]);
        const uint16_t photometric = samples == 2 ? 1 : 2;
        TiffFixture strips = TiledTiff(w, h, 8, samples, photometric, planes, w, 2, true);
        strips.tiles = false;  // tiles as wide as the image are strips
        std::erase_if(strips.entries, [](const TiffEntry& e) { return e.tag == 323; });
        SetEntry(strips, {278, 4, {2}, {}});
        std::erase_if(strips.entries, [](const TiffEntry& e) { return e.tag == 322; });
        const TiffFixture kFiles[] = {PlainTiff(w, h, 8, samples, photometric, pixels, 4), strips,
                                      TiledTiff(w, h, 8, samples, photometric, planes, 4, 4, true)};
        std::vector<std::vector<uint8_t>> expected;
        for (const TiffFixture& file : kFiles)
            for (bool colourOnly : {false, true}) {
                SCOPED_TRACE(std::to_string(samples) + " samples, file " + std::to_string(&file - kFiles) +
                             (colourOnly ? ", colour only" : ""));
                TiffFixture f = file;
                f.entries.push_back({338, 3, {1}, {}});
                std::unique_ptr<Loaded> l = Load(f, true, colourOnly);
                ASSERT_EQ(l->data, 1);
                std::vector<std::vector<uint8_t>> colour;
                for (uint32_t k = 0; k + 1 < samples; ++k) colour.push_back(PlaneBytes(*l->codec, k));
                if (expected.empty()) {
                    expected = colour;
                    EXPECT_NE(expected[0], std::vector<uint8_t>(planes.begin(), planes.begin() + w * h));
                }
                EXPECT_TRUE(colour == expected);
            }
    }
}

TEST(TiffRead, HeaderRefusalsAndTheirMessages)
{
    struct Case {
        const char* what;
        void (*edit)(TiffFixture&);
        int message;  // 0: none
    };
    const Case kCases[] = {
        {"BitsPerSample 8, 8, 16", [](TiffFixture& f) { SetEntry(f, {258, 3, {8, 8, 16}, {}}); }, 0},
        {"photometric 7", [](TiffFixture& f) { SetEntry(f, {262, 3, {7}, {}}); }, kMsgBadHeader},
        {"YCbCr subsampled 3 x 1", [](TiffFixture& f) {
             SetEntry(f, {262, 3, {6}, {}});
             SetEntry(f, {530, 3, {3, 1}, {}});
         }, kMsgUnsupported},
        {"YCbCr with LZW", [](TiffFixture& f) {
             SetEntry(f, {262, 3, {6}, {}});
             SetEntry(f, {259, 3, {5}, {}});
         }, kMsgUnsupported},
        {"L*a*b* of two samples", [](TiffFixture& f) {
             SetEntry(f, {262, 3, {8}, {}});
             SetEntry(f, {277, 3, {2}, {}});
             SetEntry(f, {258, 3, {8, 8}, {}});
         }, kMsgBadFileData},
        {"LogLuv uncompressed", [](TiffFixture& f) { SetEntry(f, {262, 3, {32845}, {}}); }, kMsgUnsupported},
        {"SGI LogLuv compression of RGB", [](TiffFixture& f) { SetEntry(f, {259, 3, {34676}, {}}); }, kMsgUnsupported},
        {"old-style JPEG without tables", [](TiffFixture& f) {
             SetEntry(f, {262, 3, {6}, {}});
             SetEntry(f, {259, 3, {6}, {}});
         }, kMsgUnsupported},
        {"width 0", [](TiffFixture& f) { SetEntry(f, {256, 4, {0}, {}}); }, 0},
        {"planes past 32 bits", [](TiffFixture& f) { SetEntry(f, {257, 4, {0x7FFFFFFF}, {}}); }, kMsgBadFileData},
        {"data far short of the rows", [](TiffFixture& f) {
             SetEntry(f, {257, 4, {9000000}, {}});
             SetEntry(f, {278, 4, {1}, {}});
         }, kMsgBadFileData},
        {"no strips", [](TiffFixture& f) { f.strips.clear(); }, kMsgBadFileData},
        {"256 colours of 1-bit palette", [](TiffFixture& f) {
             SetEntry(f, {262, 3, {3}, {}});
             SetEntry(f, {320, 3, std::vector<uint32_t>(771, 0), {}});
         }, 0},
    };
    for (const Case& c : kCases) {
        TiffFixture f = PlainTiff(8, 3, 8, 3, 2, Ramp(72), 3);
        c.edit(f);
        for (int show : {0, 1}) {
            TempDir dir;
            std::string path = dir.File("t.tif");
            WriteBytes(path, MakeTiff(f));
            CTiffIO codec(path.c_str());
            codec.SetWarningMsg(show);
            MessageCapture messages;
            EXPECT_EQ(OpenAndReadHead(codec, path.c_str()), 0) << c.what;
            std::vector<int> expected;
            if (show && c.message) expected.push_back(c.message);
            EXPECT_EQ(messages.Ids(), expected) << c.what;
        }
    }
}

TEST(TiffRead, UnsupportedVariantsAreRefusedByEveryRead)
{
    struct Case {
        const char* what;
        void (*edit)(TiffFixture&);
        int message;
    };
    const Case kCases[] = {
        {"tiles", [](TiffFixture& f) { f.entries.push_back({322, 3, {16}, {}}); }, kMsgUnsupported},
        {"old-style JPEG compression", [](TiffFixture& f) { SetEntry(f, {259, 3, {6}, {}}); }, kMsgUnsupported},
        {"YCbCr JPEG planes", [](TiffFixture& f) {
             SetEntry(f, {259, 3, {7}, {}});
             SetEntry(f, {262, 3, {6}, {}});
             SetEntry(f, {284, 3, {2}, {}});
         }, kMsgUnsupported},
        {"2 bits", [](TiffFixture& f) { SetEntry(f, {258, 3, {2, 2, 2}, {}}); }, kMsgOnly8Bit},
        {"floating point", [](TiffFixture& f) { f.entries.push_back({339, 3, {3, 3, 3}, {}}); }, kMsgUnsupported},
        {"LZW with float predictor", [](TiffFixture& f) {
             SetEntry(f, {259, 3, {5}, {}});
             f.entries.push_back({317, 3, {3}, {}});
         }, kMsgUnsupported},
    };
    // The header read refuses them with the data reads' id, shown when
    // ShowMessages is set; the data reads then refuse too and keep the id.
    for (const Case& c : kCases)
        for (int show : {0, 1}) {
            SCOPED_TRACE(std::string(c.what) + (show ? " shown" : ""));
            TiffFixture f = PlainTiff(8, 3, 8, 3, 2, Ramp(72), 3);
            c.edit(f);
            TempDir dir;
            std::string path = dir.File("t.tif");
            WriteBytes(path, MakeTiff(f));
            CTiffIO codec(path.c_str());
            codec.SetWarningMsg(show);
            MessageCapture messages;
            EXPECT_EQ(OpenAndReadHead(codec, path.c_str()), 0);
            EXPECT_EQ(codec.GetLastMessage(), c.message);
            EXPECT_EQ(messages.Ids(), show ? std::vector<int>{c.message} : std::vector<int>{});
            EXPECT_EQ(ReadWholeImage(codec), 0);
            std::vector<uint8_t> plane(BytesPerRow(4 * 8) * 2);
            uint8_t* planes[4] = {plane.data(), plane.data(), plane.data(), plane.data()};
            EXPECT_EQ(codec.ReadReducedData(4, 2, planes), 0);
            uint32_t w = 0, h = 0;
            uint8_t* preview = nullptr;
            EXPECT_EQ(codec.ReadPrevImageData(w, h, preview), 0);
            EXPECT_EQ(codec.GetLastMessage(), c.message);
        }
}

TEST(TiffRead, ResolutionRationals)
{
    struct Case {
        const char* what;
        uint32_t numerator, denominator;
        float expected;
    } const kCases[] = {
        {"zero denominator", 300, 0, 72.0f},
        {"plain", 300, 1, 300.0f},
        // Written with the most precision a RATIONAL holds; the numerator is unsigned.
        {"numerator above 2^31", 4294967295u, 59644865u, 72.00914f},
    };
    for (const Case& c : kCases) {
        for (bool little : {true, false}) {
            TiffFixture f = PlainTiff(2, 2, 8, 1, 1, Ramp(4), 2, little);
            f.entries.push_back({282, 5, {c.numerator, c.denominator}, {}});
            std::unique_ptr<Loaded> l = Load(f);
            ASSERT_EQ(l->data, 1) << c.what;
            EXPECT_NEAR(l->codec->XResolution, c.expected, 1e-3) << c.what << (little ? " II" : " MM");
        }
    }
}

// --- strip decoders ---

TEST(TiffRead, LzwStrips)
{
    std::vector<uint32_t> literals = {256};
    std::vector<uint8_t> expected;
    for (uint32_t i = 0; i < 4000; ++i) literals.push_back(i * 7 % 256), expected.push_back(i * 7 % 256);
    literals.push_back(257);
    struct Case {
        const char* what;
        uint32_t width, height;
        std::vector<uint32_t> codes;
        std::vector<uint8_t> plane;
    };
    const Case kCases[] = {
        // A code equal to the next free code: the previous string and its first byte.
        {"KwKwK", 6, 1, {256, 97, 258, 259, 257}, std::vector<uint8_t>(6, 97)},
        // Strings cross rows; rows the data does not reach stay 0.
        {"rows", 4, 3, {256, 97, 258, 259, 260, 257}, {97, 97, 97, 97, 97, 97, 97, 97, 97, 97, 0, 0}},
        // Past the early width changes to a full table, which takes no
        // more entries but keeps decoding.
        {"full table", 4000, 1, literals, expected},
        {"Clear again", 3, 1, {256, 65, 256, 66, 67, 257}, {65, 66, 67}},
    };
    for (const Case& c : kCases) {
        std::unique_ptr<Loaded> l = Load(Compressed(c.width, c.height, 8, 1, 5, {LzwCodes(c.codes)}, c.height));
        ASSERT_EQ(l->data, 1) << c.what;
        EXPECT_EQ(PlaneBytes(*l->codec, 0), c.plane) << c.what;
    }
    // A strip that does not start with Clear is not LZW data.
    std::unique_ptr<Loaded> l = Load(Compressed(4, 1, 8, 1, 5, {LzwCodes({97, 98, 257})}, 1));
    EXPECT_EQ(l->data, 0);
}

TEST(TiffRead, PackBitsStrips)
{
    struct Case {
        const char* what;
        uint32_t width, height;
        std::vector<uint8_t> data;
        std::vector<uint8_t> plane;
    };
    const Case kCases[] = {
        {"128 is nothing, repeat, literal", 5, 1, {0x80, 0xFE, 0xAA, 0x01, 1, 2}, {0xAA, 0xAA, 0xAA, 1, 2}},
        {"literal of three", 3, 1, {0x02, 7, 8, 9}, {7, 8, 9}},
        {"run across rows, data ends", 5, 2, {0xF9, 7}, {7, 7, 7, 7, 7, 7, 7, 7, 0, 0}},
        {"literal cut by the data", 4, 1, {0x05, 1, 2}, {1, 2, 0, 0}},
    };
    for (const Case& c : kCases) {
        std::unique_ptr<Loaded> l = Load(Compressed(c.width, c.height, 8, 1, 32773, {c.data}, c.height));
        ASSERT_EQ(l->data, 1) << c.what;
        EXPECT_EQ(PlaneBytes(*l->codec, 0), c.plane) << c.what;
    }
}

TEST(TiffRead, ModifiedHuffmanStrips)
{
    struct Case {
        const char* what;
        uint32_t width;
        std::vector<std::string> rows;
        std::vector<uint8_t> plane;  // of the first pixels
    };
    std::vector<uint8_t> white(1728, 0);
    const Case kCases[] = {
        // Make-up 1728 then terminating 0 (white).
        {"1728 white", 1728, {"010011011 00110101"}, white},
        // White 3 and black 7 end inside a byte; the next row starts at the
        // next byte: white 10.
        {"row ends mid-byte", 10, {"1000 00011", "00111"}, {0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        // End-of-line ends the row (the rest stays white).
        {"end of line", 8, {"0111 000000000001", "1000 0011"}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1}},
        // A black run past the width is cut at it.
        {"run past the width", 4, {"0111 0011"}, {0, 0, 1, 1}},
        // Data that ends leaves the rows white.
        {"data ends", 8, {"1000 11"}, {0, 0, 0, 1, 1, 0, 0, 0}},
    };
    for (const Case& c : kCases) {
        uint32_t height = static_cast<uint32_t>(c.plane.size() / c.width);
        std::unique_ptr<Loaded> l = Load(Compressed(c.width, height, 1, 0, 2, {Bits(c.rows)}, height));
        ASSERT_EQ(l->data, 1) << c.what;
        EXPECT_EQ(PlaneBytes(*l->codec, 0), c.plane) << c.what;
    }
}

TEST(TiffRead, ReducedReadTakesTheFirstRowOfEachOutputRow)
{
    std::vector<uint8_t> pixels(6 * 10);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i / 6 * 10 + i % 6);
    for (uint16_t compression : {1, 32773}) {
        TiffFixture f = PlainTiff(6, 10, 8, 1, 1, pixels, 3);
        if (compression != 1) {
            // PackBits literals of one row each.
            SetEntry(f, {259, 3, {compression}, {}});
            for (size_t s = 0; s < f.strips.size(); ++s) {
                std::vector<uint8_t> packed;
                for (size_t at = 0; at < f.strips[s].size(); at += 6) {
                    packed.push_back(5);
                    packed.insert(packed.end(), f.strips[s].begin() + at, f.strips[s].begin() + at + 6);
                }
                f.strips[s] = packed;
            }
        }
        std::unique_ptr<Loaded> l = Load(f, false);
        ASSERT_EQ(l->head, 1);
        uint32_t stride = BytesPerRow(3 * 8);
        std::vector<uint8_t> out(stride * 5, 0xEE);
        uint8_t* planes[1] = {out.data()};
        ASSERT_EQ(l->codec->ReadReducedData(3, 5, planes), 1);
        for (uint32_t i = 0; i < 5; ++i)
            for (uint32_t j = 0; j < 3; ++j) EXPECT_EQ(out[i * stride + j], 2 * i * 10 + 2 * j) << compression;
    }
}

// PackBits literal runs of whole rows.
std::vector<std::vector<uint8_t>> PackRows(const std::vector<std::vector<uint8_t>>& strips, size_t rowBytes)
{
    std::vector<std::vector<uint8_t>> out;
    for (const std::vector<uint8_t>& strip : strips) {
        out.emplace_back();
        for (size_t at = 0; at < strip.size(); at += rowBytes) {
            out.back().push_back(static_cast<uint8_t>(rowBytes - 1));
            out.back().insert(out.back().end(), strip.begin() + at, strip.begin() + at + rowBytes);
        }
    }
    return out;
}

TEST(TiffRead, SpilledPlanesMatchHeapPlanesAndEscStops)
{
    std::vector<TiffFixture> layouts;
    layouts.push_back(PlainTiff(37, 29, 8, 3, 2, Ramp(37 * 29 * 3), 4));
    SetEntry(layouts.back(), {259, 3, {32773}, {}});
    layouts.back().strips = PackRows(layouts.back().strips, 37 * 3);
    // One plane after the other, each in strips of 5 rows.
    TiffFixture planar = PlainTiff(37, 29, 8, 1, 1, Ramp(37 * 29), 5);
    for (int p = 1; p < 3; ++p)
        for (size_t s = 0; s < 6; ++s) planar.strips.push_back(planar.strips[s]);
    SetEntry(planar, {258, 3, {8, 8, 8}, {}});
    SetEntry(planar, {262, 3, {2}, {}});
    SetEntry(planar, {277, 3, {3}, {}});
    planar.entries.push_back({284, 3, {2}, {}});
    layouts.push_back(planar);
    for (const TiffFixture& f : layouts) {
        std::unique_ptr<Loaded> heap = Load(f);
        ASSERT_EQ(heap->data, 1);
        {
            MemorySettings spill(true, 4096);
            std::unique_ptr<Loaded> spilled = Load(f);
            ASSERT_EQ(spilled->data, 1);
            EXPECT_EQ(spilled->codec->ChannelKind[0], kChannelTemp);
            for (uint32_t k = 0; k < 3; ++k) EXPECT_EQ(PlaneBytes(*spilled->codec, k), PlaneBytes(*heap->codec, k));
        }
        std::unique_ptr<Loaded> stopped = Load(f, false);
        PostKeyDown(VK_ESCAPE);
        EXPECT_EQ(ReadWholeImage(*stopped->codec), 0);
        EXPECT_EQ(stopped->codec->EscPressed, 1);
        std::vector<uint8_t> out(3 * BytesPerRow(16 * 8) * 8);
        uint8_t* planes[3] = {out.data(), out.data() + out.size() / 3, out.data() + 2 * out.size() / 3};
        stopped->codec->EscPressed = 0;
        PostKeyDown(VK_ESCAPE);
        EXPECT_EQ(stopped->codec->ReadReducedData(16, 8, planes), 0);
        EXPECT_EQ(stopped->codec->EscPressed, 1);
    }
}

// The embedded thumbnail is the preview; without one the image is reduced.
TEST(TiffRead, PreviewComesFromTheThumbnailFirst)
{
    if (!HasConvert()) GTEST_SKIP() << "ImageMagick missing";
    std::vector<uint8_t> jpeg;
    ASSERT_EQ(RunCommand(std::string(kConvert) + " -size 40x20 xc:'#FF0000' -quality 100 jpg:-", &jpeg), 0);
    auto be32 = [](std::vector<uint8_t>& b, uint32_t v) {
        b.insert(b.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
    };
    std::vector<uint8_t> block = {'8', 'B', 'I', 'M', 0x03, 0xED, 0, 0, 0, 0, 0, 2, 0, 0};  // another resource first
    block.insert(block.end(), {'8', 'B', 'I', 'M', 0x04, 0x0C, 0, 0});
    be32(block, static_cast<uint32_t>(jpeg.size()) + 28);
    for (uint32_t v : {1u, 40u, 20u, 120u, 2400u, static_cast<uint32_t>(jpeg.size())}) be32(block, v);
    block.insert(block.end(), {0, 24, 0, 1});
    block.insert(block.end(), jpeg.begin(), jpeg.end());
    for (bool withThumbnail : {true, false}) {
        TiffFixture f = PlainTiff(400, 200, 8, 1, 1, std::vector<uint8_t>(80000, 60), 50);
        if (withThumbnail) f.entries.push_back({34377, 7, {}, block});
        std::unique_ptr<Loaded> l = Load(f, false);
        uint32_t w = 0, h = 0;
        uint8_t* preview = nullptr;
        ASSERT_EQ(l->codec->ReadPrevImageData(w, h, preview), 1);
        EXPECT_EQ(w, withThumbnail ? 40u : 96u);
        EXPECT_EQ(h, withThumbnail ? 20u : 48u);
        // Bottom-up rows of blue, green, red.
        std::vector<uint8_t> expected = withThumbnail ? std::vector<uint8_t>{0, 0, 255} : std::vector<uint8_t>{60, 60, 60};
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(preview[c], expected[c], 2) << withThumbnail;
        EXPECT_EQ(l->codec->Palette, nullptr);
        FreeBuffer(&preview);
    }
}

// --- clip paths ---

TEST(TiffRead, ClipPathsOfEveryPathResource)
{
    const std::vector<PathKnot> square = {{0.25, 0.25}, {0.75, 0.25}, {0.75, 0.75}, {0.25, 0.75}};
    std::vector<uint8_t> block = PathResource(2000, {{true, square}, {false, square}});
    std::vector<uint8_t> second = PathResource(2001, {{false, {{0.5, 0.5}, {0.6, 0.5}}}, {true, {{0, 0}, {1, 0}, {0.5, 1}}}});
    std::vector<uint8_t> name = PathResource(2999, {{false, square}});
    block.insert(block.end(), second.begin(), second.end());
    block.insert(block.end(), name.begin(), name.end());
    TiffFixture f = PlainTiff(200, 100, 8, 1, 1, std::vector<uint8_t>(20000, 9), 100);
    f.entries.push_back({34377, 7, {}, block});
    std::unique_ptr<Loaded> l = Load(f);
    ASSERT_EQ(l->data, 1);
    CTiffIO& c = *l->codec;
    ASSERT_EQ(c.PathCount, 4);
    const uint32_t kNodes[4] = {5, 4, 2, 4};
    for (int p = 0; p < 4; ++p) EXPECT_EQ(ClipPathNodeCount(c.Paths[p]), kNodes[p]) << p;
    // The closed square: a start node, three Bezier segments, one back to the start.
    ClipPathNode first = GetClipPathNode(c.Paths[0], 0), second1 = GetClipPathNode(c.Paths[0], 1),
                 last = GetClipPathNode(c.Paths[0], 4);
    EXPECT_EQ(first.Kind, kPathStart);
    EXPECT_NEAR(first.X, 50, 1e-3);
    EXPECT_NEAR(first.Y, 25, 1e-3);
    EXPECT_EQ(second1.Kind, kPathBezier);
    EXPECT_NEAR(second1.C1x, 54, 1e-3);   // leaving control of the first knot
    EXPECT_NEAR(second1.C2x, 148, 1e-3);  // preceding control of the second
    EXPECT_NEAR(second1.X, 150, 1e-3);
    EXPECT_NEAR(last.X, first.X, 1e-6);
    EXPECT_NEAR(last.Y, first.Y, 1e-6);
    // The open square ends on its last knot.
    ClipPathNode open = GetClipPathNode(c.Paths[1], 3);
    EXPECT_NEAR(open.X, 50, 1e-3);
    EXPECT_NEAR(open.Y, 75, 1e-3);
}

TEST(TiffRead, ClipPathPointsAtTheEdgesOfTheirRange)
{
    // Fraction 0x800000 with sign 0 and 0xFFFFFF with sign 0xFF.
    std::vector<uint8_t> data(26, 0);
    data[1] = 3, data[3] = 1;
    data.insert(data.end(), {0, 4});
    for (int p = 0; p < 3; ++p) data.insert(data.end(), {0x00, 0x80, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF});
    std::vector<uint8_t> block = {'8', 'B', 'I', 'M', 0x07, 0xD0, 0, 0, 0, 0, 0, uint8_t(data.size())};
    block.insert(block.end(), data.begin(), data.end());
    TiffFixture f = PlainTiff(3, 3, 8, 1, 1, Ramp(9), 3);
    f.entries.push_back({34377, 7, {}, block});
    std::unique_ptr<Loaded> l = Load(f);
    ASSERT_EQ(l->data, 1);
    ASSERT_EQ(l->codec->PathCount, 1);
    ClipPathNode n = GetClipPathNode(l->codec->Paths[0], 0);
    EXPECT_FLOAT_EQ(n.Y, static_cast<float>(3 * 0.5 * 16777216.0 / 16777215.0));
    EXPECT_FLOAT_EQ(n.X, 0.0f);
}

TEST(TiffRead, MalformedPathResourceFailsTheWholeRead)
{
    TiffFixture f = PlainTiff(3, 3, 8, 1, 1, Ramp(9), 3);
    f.entries.push_back({34377, 7, {}, PathResource(2000, {{true, {{0.1, 0.1}}}}, 1)});
    std::unique_ptr<Loaded> l = Load(f);
    EXPECT_EQ(l->head, 1);
    EXPECT_EQ(l->data, 0);
}

}  // namespace

namespace {

// Strips shorter than their rows read as PIL and ImageMagick read them:
// uncompressed strips at their rows' size whatever their byte counts say;
// compressed data that ends early keeps the rows it holds, the rows past
// it read as 0.
TEST(TiffRead, StripsShorterThanTheirRows)
{
    const uint32_t width = 8, height = 8, rows = 4;
    std::vector<uint8_t> pixels = Ramp(width * height, 11);
    pixels[0] = 1;  // no row is all 0
    auto literalRows = [&](uint32_t first, uint32_t count) {
        std::vector<uint8_t> out;
        for (uint32_t r = first; r < first + count; ++r) {
            out.push_back(uint8_t(width - 1));
            out.insert(out.end(), pixels.begin() + r * width, pixels.begin() + (r + 1) * width);
        }
        return out;
    };
    struct Case {
        const char* what;
        uint32_t compression;
        std::vector<uint32_t> counts;  // empty: the strips' sizes
        uint32_t rowsHeld;             // by the data, from the top
    };
    const Case kCases[] = {
        {"uncompressed, counts of half the rows", 1, {16, 16}, height},
        {"PackBits, second strip cut after a row", 32773, {}, 5},
        {"PackBits, second strip's count a row short", 32773, {36, 27}, 7},
    };
    for (const Case& c : kCases) {
        TiffFixture f = PlainTiff(width, height, 8, 1, 1, pixels, rows);
        if (c.compression == 32773) {
            SetEntry(f, {259, 3, {32773}, {}});
            f.strips = {literalRows(0, rows), literalRows(rows, c.counts.empty() ? 1 : rows)};
        }
        if (!c.counts.empty()) {
            f.withByteCounts = false;
            f.entries.push_back({279, 4, c.counts, {}});
        }
        std::unique_ptr<Loaded> l = Load(f);
        ASSERT_EQ(l->data, 1) << c.what;
        std::vector<uint8_t> expected(pixels.begin(), pixels.begin() + c.rowsHeld * width);
        expected.resize(pixels.size(), 0);
        EXPECT_EQ(PlaneBytes(*l->codec, 0), expected) << c.what;
    }
}

}  // namespace
