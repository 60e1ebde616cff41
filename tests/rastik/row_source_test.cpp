// The base class's reads over row sources: every codec's reduced read takes
// the reduced sampler's rows and columns of its whole image (planes in
// memory and spilled); the drivers' splitting of interleaved rows, skipping
// of unwanted rows, refusals, stops and failures, and the one message rule
// by which each codec's refusal reaches the host (GetLastMessage); the
// pixel-row kit.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "PictFixture.h"
#include "TestUtil.h"
#include "TiffFixture.h"
#include "platform/KeyQueue.h"
#include "rastik/core/CReducedSampler.h"
#include "rastik/core/CRowSource.h"
#include "rastik/rastik.h"
#include "rastik/support/PixelRows.h"

using testutil::MessageCapture;

namespace {

constexpr uint32_t kWidth = 45;
constexpr uint32_t kHeight = 38;

// --- the pixel-row kit ---

struct PackCase {
    uint32_t bits;
    rastik::BitOrder order;
    std::vector<uint8_t> packed;
    std::vector<uint8_t> pixels;
};

TEST(PixelRows, PixelsUnpackAndPackInEitherOrder)
{
    using rastik::BitOrder;
    const PackCase cases[] = {
        {1, BitOrder::MsbFirst, {0xA6, 0x80}, {1, 0, 1, 0, 0, 1, 1, 0, 1}},
        {1, BitOrder::LsbFirst, {0xA6, 0x01}, {0, 1, 1, 0, 0, 1, 0, 1, 1}},
        {2, BitOrder::MsbFirst, {0x1B, 0xC0}, {0, 1, 2, 3, 3}},
        {2, BitOrder::LsbFirst, {0x1B, 0x03}, {3, 2, 1, 0, 3}},
        {4, BitOrder::MsbFirst, {0x12, 0xF0}, {1, 2, 15}},
        {4, BitOrder::LsbFirst, {0x12, 0x0F}, {2, 1, 15}},
        {8, BitOrder::MsbFirst, {7, 9}, {7, 9}},
    };
    for (const PackCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.bits) + (c.order == BitOrder::MsbFirst ? " msb" : " lsb"));
        size_t n = c.pixels.size();
        std::vector<uint8_t> out(n), mapped(n), packed(rastik::PackedBytes(n, c.bits), 0xEE);
        rastik::UnpackPixels(c.packed.data(), n, c.bits, out.data(), nullptr, c.order);
        EXPECT_EQ(out, c.pixels);
        uint8_t map[256];
        for (int v = 0; v < 256; ++v) map[v] = static_cast<uint8_t>(v * 10 + 1);
        rastik::UnpackPixels(c.packed.data(), n, c.bits, mapped.data(), map, c.order);
        for (size_t i = 0; i < n; ++i) {
            EXPECT_EQ(mapped[i], map[c.pixels[i]]) << i;
            EXPECT_EQ(rastik::PixelAt(c.packed.data(), i, c.bits, c.order), c.pixels[i]) << i;
        }
        rastik::PackPixels(c.pixels.data(), n, c.bits, packed.data(), c.order);
        EXPECT_EQ(packed, c.packed);
    }
    // Non-zero bytes as set bits; padding bits of the last byte are 0.
    const uint8_t bytes[] = {0, 5, 0, 255, 1, 1, 0, 0, 9};
    uint8_t bits[2] = {0xEE, 0xEE};
    rastik::PackNonZero(bytes, 9, bits);
    EXPECT_EQ(bits[0], 0x5C);
    EXPECT_EQ(bits[1], 0x80);
}

TEST(PixelRows, SamplesSplitJoinInvertAndNarrow)
{
    // Widths below, at and past the sixteen pixels split at once.
    for (uint32_t width : {7u, 16u, 37u})
        for (uint32_t channels = 1; channels <= 5; ++channels) {
            std::vector<uint8_t> row(width * channels), back(row.size());
            for (size_t i = 0; i < row.size(); ++i) row[i] = static_cast<uint8_t>(i * 7 + 1);
            std::vector<std::vector<uint8_t>> planes(channels, std::vector<uint8_t>(width));
            std::vector<uint8_t*> out;
            for (auto& p : planes) out.push_back(p.data());
            rastik::SplitSamples(row.data(), width, channels, out.data());
            for (uint32_t x = 0; x < width; ++x)
                for (uint32_t c = 0; c < channels; ++c)
                    ASSERT_EQ(planes[c][x], row[x * channels + c]) << width << " " << channels;
            rastik::JoinSamples(out.data(), width, channels, back.data());
            EXPECT_EQ(back, row) << width << " " << channels;
        }
    uint8_t reversed[3] = {0x01, 0xA6, 0xF0};
    rastik::ReverseBitOrder(reversed, 3);
    EXPECT_EQ(std::vector<uint8_t>(reversed, reversed + 3), (std::vector<uint8_t>{0x80, 0x65, 0x0F}));
    uint8_t samples[3] = {0, 100, 255};
    rastik::InvertSamples(samples, 3);
    EXPECT_EQ(std::vector<uint8_t>(samples, samples + 3), (std::vector<uint8_t>{255, 155, 0}));
    const uint8_t wide[4] = {0x12, 0x34, 0x56, 0x78};
    uint8_t narrow[2];
    rastik::TakeHighBytes(wide, 2, true, narrow);
    EXPECT_EQ(narrow[0], 0x34);
    EXPECT_EQ(narrow[1], 0x78);
    rastik::TakeHighBytes(wide, 2, false, narrow);
    EXPECT_EQ(narrow[0], 0x12);
    EXPECT_EQ(narrow[1], 0x56);
    // Grey ramps: entry i of n is i x 255 / (n - 1), blue, green, red, 0.
    for (uint32_t n : {2u, 16u, 256u}) {
        std::vector<uint8_t> ramp(4 * n, 0xEE);
        rastik::FillGreyRamp(ramp.data(), n);
        EXPECT_EQ(ramp[4], 255 / (n - 1));
        EXPECT_EQ(ramp[4 * n - 2], 255);
        EXPECT_EQ(ramp[7], 0);
    }
}

// --- every codec's reduced read against its whole read ---

struct SampleFile {
    const char* name;
    const char* ext;
    std::function<bool(const std::string& path)> make;
    bool bottomUp;
};

bool WriteBitmap(const std::string& path, uint16_t bits, bool topDown)
{
    testutil::BmpFixture f;
    f.width = kWidth;
    f.height = kHeight;
    f.bitCount = bits;
    f.topDown = topDown;
    uint32_t entries = bits <= 8 ? 1u << bits : 0;
    for (uint32_t i = 0; i < entries; ++i)
        f.palette.insert(f.palette.end(), {static_cast<uint8_t>(i), static_cast<uint8_t>(i * 3), 9, 0});
    uint32_t samples = bits <= 8 ? 1 : 3;
    for (uint32_t y = 0; y < kHeight; ++y)
        for (uint32_t x = 0; x < kWidth * samples; ++x)
            f.pixels.push_back(static_cast<uint8_t>((x * 5 + y * 11) % (entries ? entries : 256)));
    return testutil::WriteBytes(path, testutil::MakeBmp(f));
}

// The bitmap of WriteBitmap stored by an outside tool with its options
// (run-length rows, bit fields); false (the case skips) without it.
bool ConvertedBitmap(const std::string& path, uint16_t bits, const std::string& options, const std::string& format)
{
    std::string plain = path + ".plain.bmp";
    if (!WriteBitmap(plain, bits, false)) return false;
    std::string command = "convert " + testutil::Quote(plain) + " " + options + " " + testutil::Quote(format + ":" + path);
    return testutil::RunCommand(command + " 2>/dev/null", nullptr) == 0;
}

bool Written(unsigned type, uint32_t mode, const std::string& path)
{
    return testutil::WriteSampleImage(type, mode, kWidth, kHeight, path);
}

// An interlaced copy made by an outside tool; false (the case skips) without it.
bool Interlaced(unsigned type, const std::string& path)
{
    std::string plain = path + ".plain";
    if (!Written(type, type == kTypeGif ? kModeIndexed : kModeRgb, plain)) return false;
    std::string command = type == kTypeGif ? "gifsicle -i " + testutil::Quote(plain) + " -o " + testutil::Quote(path)
                                           : "convert " + testutil::Quote(plain) + " -interlace PNG " +
                                                 testutil::Quote("PNG:" + path);
    return testutil::RunCommand(command + " 2>/dev/null", nullptr) == 0;
}

bool Picture(uint32_t mode, const std::string& path)
{
    return testutil::WriteBytes(path, pictfix::SamplePicture(mode, kWidth, kHeight));
}

// A TIFF file of rows of six rows a strip, samples interleaved or a plane
// per sample.
testutil::TiffFixture TiffSample(uint16_t bits, uint16_t samples, uint16_t photometric, bool planar)
{
    const uint16_t perStrip = planar ? 1 : samples;
    std::vector<uint8_t> data((kWidth * bits * perStrip + 7) / 8 * kHeight);
    testutil::TiffFixture f;
    for (uint16_t p = 0; p < (planar ? samples : 1); ++p) {
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>((i * 7 + i / 13 + p * 50) % 251);
        testutil::TiffFixture plane = testutil::PlainTiff(kWidth, kHeight, bits, perStrip, photometric, data, 6);
        if (p == 0) f = plane;
        else f.strips.insert(f.strips.end(), plane.strips.begin(), plane.strips.end());
    }
    f.entries[2].values.assign(samples, bits);
    f.entries[5].values = {samples};
    if (planar) f.entries.push_back({284, 3, {2}, {}});
    return f;
}

bool WriteTiff(const std::string& path, uint16_t bits, uint16_t samples, uint16_t photometric, bool planar = false)
{
    return testutil::WriteBytes(path, testutil::MakeTiff(TiffSample(bits, samples, photometric, planar)));
}

// The same kind of image in tiles of 10 x 7 pixels.
bool WriteTiledTiff(const std::string& path, uint16_t bits, uint16_t samples, uint16_t photometric, bool planar)
{
    std::vector<uint8_t> data((kWidth * bits * (planar ? 1 : samples) + 7) / 8 * kHeight * (planar ? samples : 1));
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>((i * 7 + i / 13) % 251);
    return testutil::WriteBytes(
        path, testutil::MakeTiff(testutil::TiledTiff(kWidth, kHeight, bits, samples, photometric, data, 10, 7, planar)));
}

const SampleFile kSamples[] = {
    {"Bmp1", ".bmp", [](const std::string& p) { return WriteBitmap(p, 1, false); }, true},
    {"Bmp4", ".bmp", [](const std::string& p) { return WriteBitmap(p, 4, false); }, true},
    {"Bmp8", ".bmp", [](const std::string& p) { return WriteBitmap(p, 8, false); }, true},
    {"Bmp8TopDown", ".bmp", [](const std::string& p) { return WriteBitmap(p, 8, true); }, false},
    {"Bmp24", ".bmp", [](const std::string& p) { return WriteBitmap(p, 24, false); }, true},
    {"Bmp32TopDown", ".bmp", [](const std::string& p) { return WriteBitmap(p, 32, true); }, false},
    {"Bmp8RunLength", ".bmp", [](const std::string& p) { return ConvertedBitmap(p, 8, "-compress RLE", "BMP3"); }, true},
    {"Bmp16", ".bmp",
     [](const std::string& p) { return ConvertedBitmap(p, 24, "-define bmp:subtype=RGB565", "BMP"); }, true},
    {"Bmp32Alpha", ".bmp", [](const std::string& p) { return ConvertedBitmap(p, 24, "-alpha on", "BMP"); }, true},
    {"Gif", ".gif", [](const std::string& p) { return Written(kTypeGif, kModeIndexed, p); }, false},
    {"GifInterlaced", ".gif", [](const std::string& p) { return Interlaced(kTypeGif, p); }, false},
    {"Png", ".png", [](const std::string& p) { return Written(kTypePng, kModeRgb, p); }, false},
    {"PngGrey", ".png", [](const std::string& p) { return Written(kTypePng, kModeGrey, p); }, false},
    {"PngInterlaced", ".png", [](const std::string& p) { return Interlaced(kTypePng, p); }, false},
    {"Jpeg", ".jpg", [](const std::string& p) { return Written(kTypeJpeg, kModeRgb, p); }, false},
    {"JpegCmyk", ".jpg", [](const std::string& p) { return Written(kTypeJpeg, kModeCmyk, p); }, false},
    {"Pict", ".pict", [](const std::string& p) { return Picture(kModeRgb, p); }, false},
    {"PictIndexed", ".pict", [](const std::string& p) { return Picture(kModeIndexed, p); }, false},
    {"Tiff", ".tif", [](const std::string& p) { return Written(kTypeTiff, kModeRgb, p); }, false},
    {"TiffCmyk", ".tif", [](const std::string& p) { return Written(kTypeTiff, kModeCmyk, p); }, false},
    {"TiffPlanar", ".tif", [](const std::string& p) { return WriteTiff(p, 8, 3, 2, true); }, false},
    {"TiffPlanarAlpha16", ".tif", [](const std::string& p) { return WriteTiff(p, 16, 4, 2, true); }, false},
    {"TiffGreyAlpha", ".tif", [](const std::string& p) { return WriteTiff(p, 8, 2, 1); }, false},
    {"TiffGrey4", ".tif", [](const std::string& p) { return WriteTiff(p, 4, 1, 1); }, false},
    {"TiffWhiteIsZero16", ".tif", [](const std::string& p) { return WriteTiff(p, 16, 1, 0); }, false},
    {"TiffBilevel", ".tif", [](const std::string& p) { return WriteTiff(p, 1, 1, 0); }, false},
    {"TiffTiled", ".tif", [](const std::string& p) { return WriteTiledTiff(p, 8, 3, 2, false); }, false},
    {"TiffTiledPlanar", ".tif", [](const std::string& p) { return WriteTiledTiff(p, 8, 3, 2, true); }, false},
    {"TiffTiledBilevel", ".tif", [](const std::string& p) { return WriteTiledTiff(p, 1, 1, 0, false); }, false},
    {"OneBit", ".msp",
     [](const std::string& p) { return testutil::WriteBytes(p, pictfix::SamplePicture(kModeBitmap, 40, kHeight)); },
     false},
};

class ReducedReadTest : public ::testing::TestWithParam<std::tuple<SampleFile, bool>> {
protected:
    void SetUp() override
    {
        sample = std::get<0>(GetParam());
        path = dir.File(std::string("in") + sample.ext);
        if (!sample.make(path)) GTEST_SKIP() << "no tool to make " << sample.name;
    }
    std::unique_ptr<CRastik> Open()
    {
        std::unique_ptr<CRastik> codec(NewRastikInstance(DetectFileType(path.c_str()), path.c_str()));
        if (codec && testutil::OpenAndReadHead(*codec, path.c_str()) == 1) return codec;
        ADD_FAILURE() << "cannot read the header of " << sample.name;
        return nullptr;
    }

    SampleFile sample{};
    testutil::TempDir dir;
    std::string path;
};

TEST_P(ReducedReadTest, TakesTheSampledRowsAndColumnsOfTheWholeImage)
{
    std::unique_ptr<CRastik> whole = Open();
    ASSERT_TRUE(whole);
    const uint32_t width = whole->Width;
    {
        testutil::MemorySettings memory(std::get<1>(GetParam()), 3 * 48 * 2);
        ASSERT_EQ(testutil::ReadWholeImage(*whole), 1);
    }
    uint32_t colours = whole->ColorMode == kModeRgb || whole->ColorMode == kModeCmyk ? whole->ColorChannels : 1;
    for (auto [w, h] : {std::pair<uint32_t, uint32_t>{13, 11}, {44, 5}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        std::unique_ptr<CRastik> reduced = Open();
        ASSERT_TRUE(reduced);
        uint32_t stride = BytesPerRow(w * 8);
        std::vector<std::vector<uint8_t>> planes(4, std::vector<uint8_t>(stride * h, 0xEE));
        uint8_t* p[4] = {planes[0].data(), planes[1].data(), planes[2].data(), planes[3].data()};
        ASSERT_EQ(reduced->ReadReducedData(w, h, p), 1);
        std::vector<uint32_t> rows = CReducedSampler::Positions(kHeight, h);
        std::vector<uint32_t> columns = CReducedSampler::Positions(width, w);
        ASSERT_EQ(rows.size(), h);
        for (uint32_t c = 0; c < colours; ++c) {
            std::vector<uint8_t> image = testutil::PlaneBytes(*whole, c);
            for (uint32_t t = 0; t < h; ++t) {
                // Rows of a bottom-up file are taken in stored order.
                uint32_t from = sample.bottomUp ? kHeight - 1 - rows[t] : rows[t];
                uint32_t to = sample.bottomUp ? h - 1 - t : t;
                for (size_t k = 0; k < columns.size(); ++k)
                    ASSERT_EQ(p[c][to * stride + k], image[from * width + columns[k]])
                        << "plane " << c << " row " << to << " column " << k;
            }
        }
    }
}

std::string SampleName(const ::testing::TestParamInfo<ReducedReadTest::ParamType>& info)
{
    return std::string(std::get<0>(info.param).name) + (std::get<1>(info.param) ? "Spilled" : "Memory");
}

INSTANTIATE_TEST_SUITE_P(Codecs, ReducedReadTest, ::testing::Combine(::testing::ValuesIn(kSamples), ::testing::Bool()),
                         SampleName);

// --- the drivers, over a source of made-up rows ---

// Row r, sample s of pixel x: r * 16 + x * 4 + s. Counts the rows read and
// skipped; can refuse its data, throw, or hand rows over with Put.
class MadeUpCodec : public CRastik {
public:
    explicit MadeUpCodec(const CRowLayout& layout) : layout(layout)
    {
        Width = 6;
        Height = 20;
        SetMode(layout.Planes >= 3 ? kModeRgb : kModeGrey);
        ChannelCount = layout.Planes;
        BytesPerLine = BytesPerRow(Width * 8);
    }

    CRowLayout layout;
    int refusal = 0;
    int reads = 0;
    int skips = 0;
    int throwCause = -1;

protected:
    CStatus ReadHead() override { return CStatus::Ok(); }
    int ReadRefusal() const override { return refusal; }
    std::unique_ptr<CRowSource> OpenRowSource(RowPurpose) override { return std::make_unique<Source>(*this); }

private:
    class Source : public CRowSource {
    public:
        explicit Source(MadeUpCodec& codec) : CRowSource(codec.Width, codec.Height, codec.layout), m_codec(codec) {}
        CStatus Read(uint8_t* const* rows) override
        {
            if (m_codec.throwCause >= 0) throw CFileException(m_codec.throwCause);
            ++m_codec.reads;
            uint32_t row = NextRow(), n = Layout().Samples();
            for (uint32_t x = 0; x < Width(); ++x)
                for (uint32_t s = 0; s < n; ++s) {
                    uint8_t v = static_cast<uint8_t>(row * 16 + x * 4 + s);
                    if (Layout().Interleaved)
                        rows[0][x * n + s] = v;
                    else
                        rows[s][x] = v;
                }
            return CStatus::Ok();
        }
        CStatus Skip() override
        {
            ++m_codec.skips;
            return CStatus::Ok();
        }

    private:
        MadeUpCodec& m_codec;
    };
};

TEST(RowSourceReads, ReducedReadReadsTheRowsItTakesAndSkipsTheRest)
{
    CRowLayout layout;
    layout.Order = CPlaneRowStream::kBottomUp;
    MadeUpCodec codec(layout);
    std::vector<uint8_t> plane(BytesPerRow(3 * 8) * 5);
    uint8_t* planes[1] = {plane.data()};
    ASSERT_EQ(codec.ReadReducedData(3, 5, planes), 1);
    // Stored rows 0, 4, 8, 12, 16 are read; the rows between are skipped and
    // none after the last one taken.
    EXPECT_EQ(codec.reads, 5);
    EXPECT_EQ(codec.skips, 12);
    uint32_t stride = BytesPerRow(3 * 8);
    // Stored row 0 is image row 19, the reduced image's last row.
    EXPECT_EQ(plane[4 * stride], static_cast<uint8_t>(19 * 16));
    EXPECT_EQ(plane[0 * stride + 1], static_cast<uint8_t>(3 * 16 + 2 * 4));
}

TEST(RowSourceReads, InterleavedRowsAreSplitIntoThePlanes)
{
    struct Case {
        const char* name;
        uint32_t samples, planes;
        bool bgr, inverted;
        std::vector<uint32_t> sampleOfPlane;
    } const cases[] = {
        {"planar", 0, 3, false, false, {0, 1, 2}},
        {"interleaved", 3, 3, false, false, {0, 1, 2}},
        {"blue green red, fourth byte kept", 4, 4, true, false, {2, 1, 0, 3}},
        {"blue green red, fourth byte dropped", 4, 3, true, false, {2, 1, 0}},
        {"inverted", 4, 4, false, true, {0, 1, 2, 3}},
    };
    for (bool spilled : {false, true})
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (spilled ? " spilled" : ""));
            testutil::MemorySettings memory(spilled, 64);
            CRowLayout layout;
            layout.Interleaved = c.samples;
            layout.Planes = c.planes;
            layout.Bgr = c.bgr;
            layout.Inverted = c.inverted;
            MadeUpCodec codec(layout);
            ASSERT_EQ(codec.AllocChannelSpace(), 1);
            ASSERT_EQ(codec.ReadImageData(), 1);
            for (uint32_t p = 0; p < c.planes; ++p) {
                std::vector<uint8_t> plane = testutil::PlaneBytes(codec, p);
                uint8_t v = static_cast<uint8_t>(7 * 16 + 5 * 4 + c.sampleOfPlane[p]);
                EXPECT_EQ(plane[7 * 6 + 5], c.inverted ? 255 - v : v) << p;
            }
        }
}

TEST(RowSourceReads, FailuresReachTheHostByOneRule)
{
    struct Case {
        const char* name;
        int refusal;
        int throwCause;
        bool esc;
        int message;
    } const cases[] = {
        {"refused data", kMsgCompressedBmp, -1, false, kMsgCompressedBmp},
        {"full disk", 0, CFileException::diskFull, false, kMsgDiskFull},
        {"other file error", 0, CFileException::badSeek, false, 0},
        {"Esc", 0, -1, true, 0},
    };
    CRowLayout layout;
    for (const Case& c : cases)
        for (bool show : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (show ? " shown" : ""));
            MadeUpCodec codec(layout);
            codec.refusal = c.refusal;
            codec.throwCause = c.throwCause;
            codec.ShowMessages = show;
            ASSERT_EQ(codec.AllocChannelSpace(), 1);
            MessageCapture messages;
            if (c.esc) PostKeyDown(VK_ESCAPE);
            EXPECT_EQ(codec.ReadImageData(), 0);
            EXPECT_EQ(codec.GetLastMessage(), c.message);
            EXPECT_EQ(codec.EscPressed, c.esc ? 1 : 0);
            EXPECT_EQ(messages.Ids(), show && c.message ? std::vector<int>{c.message} : std::vector<int>{});
            // A read that works clears it.
            codec.refusal = 0;
            codec.throwCause = -1;
            EXPECT_EQ(codec.ReadImageData(), 1);
            EXPECT_EQ(codec.GetLastMessage(), 0);
        }
}

// --- each codec's refusals, from the header read and the data read ---

struct Refusal {
    const char* name;
    const char* ext;
    std::function<std::vector<uint8_t>(const std::string& dir)> bytes;
    int head;  // the header read's message
    int data;  // the data read's, when the host reads on regardless
};

std::vector<uint8_t> Bitmap(uint16_t bits, uint32_t compression)
{
    testutil::BmpFixture f;
    f.width = f.height = 4;
    f.bitCount = bits;
    f.compression = compression;
    f.pixels.assign(bits == 8 ? 16 : bits == 16 ? 32 : 48, 1);
    if (bits == 8) f.palette.assign(1024, 0);
    return testutil::MakeBmp(f);
}

std::vector<uint8_t> WrittenBytes(unsigned type, uint32_t mode, const std::string& dir, size_t at, uint8_t value)
{
    std::string path = dir + "/written";
    if (!Written(type, mode, path)) return {};
    std::vector<uint8_t> bytes = testutil::ReadBytes(path);
    if (at < bytes.size()) bytes[at] = value;
    return bytes;
}

// An indexed picture with a pixel size no row decoder reads.
std::vector<uint8_t> DeepPicture()
{
    pictfix::PictFixture f;
    f.width = 6;
    f.height = 2;
    for (uint16_t i = 0; i < 256; ++i) f.table.push_back({i, 0, 0, 0});
    f.rows.assign(2, std::vector<uint8_t>(pictfix::RowBytesOf(f), 0));
    f.pixelSize = 24;
    return pictfix::MakePict(f);
}

TEST(CodecRefusals, ReachTheHostFromTheHeaderAndTheDataRead)
{
    const Refusal cases[] = {
        {"bitmap, bit fields of 8 bits", ".bmp", [](const std::string&) { return Bitmap(8, 3); }, kMsgCompressedBmp,
         kMsgCompressedBmp},
        {"bitmap, 64 bits", ".bmp", [](const std::string&) { return Bitmap(64, 0); }, kMsgBadHeader,
         kMsgUnsupported},
        {"bitmap, not one", ".bmp", [](const std::string&) { return std::vector<uint8_t>(70, 'x'); }, kMsgBadHeader,
         kMsgBadHeader},
        {"GIF, a stray byte before the image", ".gif",
         [](const std::string& d) { return WrittenBytes(kTypeGif, kModeIndexed, d, 13 + 768, 0x55); }, kMsgBadHeader,
         0},
        {"picture, 24-bit pixels", ".pict", [](const std::string&) { return DeepPicture(); }, kMsgUnsupported,
         kMsgUnsupported},
        {"picture, no version", ".pict", [](const std::string&) { return std::vector<uint8_t>(600, 0); },
         kMsgBadFileData, kMsgUnsupported},
        // PNG and JPEG refusals have no message of the table: libpng's and
        // libjpeg's own texts go to the sink.
        {"PNG, bad signature", ".png",
         [](const std::string& d) { return WrittenBytes(kTypePng, kModeRgb, d, 1, 'Q'); }, 0, 0},
        {"TIFF, not one", ".tif", [](const std::string&) { return std::vector<uint8_t>(70, 'x'); }, kMsgBadFileData,
         kMsgUnsupported},
        {"TIFF, 33 bits per sample items", ".tif",
         [](const std::string&) {
             testutil::TiffFixture f = TiffSample(8, 1, 1, false);
             f.entries[2].values.assign(33, 8);
             return testutil::MakeTiff(f);
         },
         kMsgBadFileData, kMsgUnsupported},
        {"TIFF, 3-bit YCbCr", ".tif",
         [](const std::string&) {
             testutil::TiffFixture f = TiffSample(3, 3, 6, false);
             return testutil::MakeTiff(f);
         },
         kMsgOnly8Bit, kMsgOnly8Bit},
        {"JPEG, bad start marker", ".jpg",
         [](const std::string& d) { return WrittenBytes(kTypeJpeg, kModeGrey, d, 0, 0); }, 0, 0},
    };
    // The ids of the table shown (the libraries' own texts have none).
    auto shown = [](const MessageCapture& m) {
        std::vector<int> ids;
        for (int id : m.Ids())
            if (id) ids.push_back(id);
        return ids;
    };
    testutil::TempDir dir;
    for (const Refusal& c : cases)
        for (bool show : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (show ? " shown" : ""));
            std::string path = dir.File(std::string("refused") + c.ext);
            ASSERT_TRUE(testutil::WriteBytes(path, c.bytes(dir.File(""))));
            std::unique_ptr<CRastik> codec(NewRastikInstance(DetectFileType(path.c_str()), path.c_str()));
            ASSERT_TRUE(codec);
            codec->ShowMessages = show;
            MessageCapture messages;
            EXPECT_EQ(testutil::OpenAndReadHead(*codec, path.c_str()), 0);
            EXPECT_EQ(codec->GetLastMessage(), c.head);
            EXPECT_EQ(shown(messages), show && c.head ? std::vector<int>{c.head} : std::vector<int>{});
            messages.Clear();
            codec->Width = codec->Height = 4;
            codec->ChannelCount = codec->ColorChannels = 1;
            EXPECT_EQ(testutil::ReadWholeImage(*codec), 0);
            EXPECT_EQ(codec->GetLastMessage(), c.data);
            EXPECT_EQ(shown(messages), show && c.data ? std::vector<int>{c.data} : std::vector<int>{});
        }
}

}  // namespace
