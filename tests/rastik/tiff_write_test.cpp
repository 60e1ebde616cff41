// TIFF writing, checked on the stored bytes and by reading back: strip
// arithmetic of each writer, the colour map, bilevel files, extra samples,
// PackBits runs, LZW code streams, Deflate and JPEG strips, clip-path
// points, streamed blocks, and failed writes.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <random>

#include "TestUtil.h"
#include "platform/CFileFaults.h"
#include "platform/KeyQueue.h"
#include "platform/Win32.h"
#include "rastik/CTiffIO.h"
#include "rastik/Exports.h"
#include "rastik/ClipPath.h"
#include "rastik/General.h"
#include "rastik/Messages.h"
#include "rastik/support/PackBits.h"
#include "rastik/tiff/CTiffLzwEncoder.h"
#include "tiff_util.h"

using namespace testutil;

namespace {

// Temporary files go to a directory of their own while alive, so that a
// test sees what a writer leaves there.
class OwnTempDirectory {
public:
    OwnTempDirectory()
    {
        const char* old = getenv("TMPDIR");
        if (old) m_saved = old, m_had = true;
        setenv("TMPDIR", m_dir.Path().c_str(), 1);
    }
    ~OwnTempDirectory()
    {
        if (m_had) setenv("TMPDIR", m_saved.c_str(), 1);
        else unsetenv("TMPDIR");
    }
    size_t Files() const { return ListFiles(m_dir.Path(), "", "").size(); }

private:
    TempDir m_dir;
    std::string m_saved;
    bool m_had = false;
};

// The library's thread count for a scope, put back at its end.
struct ThreadCount {
    explicit ThreadCount(uint32_t threads) { SetRastikThreads(threads); }
    ~ThreadCount() { SetRastikThreads(before); }
    uint32_t before = GetRastikThreads();
};

// A written file: its bytes and directory.
struct Written {
    TempDir dir;
    std::string path;
    std::unique_ptr<CTiffIO> image;
    int result = 0;
    std::vector<uint8_t> bytes;
    TiffDirectory ifd;
};

std::unique_ptr<Written> Write(uint32_t mode, uint32_t w, uint32_t h, int32_t compression, bool little = true,
                               uint32_t extra = 0)
{
    auto out = std::make_unique<Written>();
    out->path = out->dir.File("w.tif");
    out->image = MakeTiffImage(out->path, mode, w, h, extra);
    out->image->Compression = compression;
    out->image->IntelByteOrder = little;
    out->image->WritePreview = 0;
    out->result = WriteTiffFile(*out->image, out->path);
    out->bytes = ReadBytes(out->path);
    ParseTiffDirectory(out->bytes, &out->ifd);
    return out;
}

std::unique_ptr<CTiffIO> ReadBack(const std::string& path)
{
    auto back = std::make_unique<CTiffIO>(path.c_str());
    if (!ReadTiff(*back, path)) return nullptr;
    return back;
}

// --- strips ---

TEST(TiffWrite, StripArithmeticOfEachWriter)
{
    struct Case {
        int32_t compression;
        uint32_t strips, rowsPerStrip;
        bool predictor;
    } const cases[] = {
        {1, 1, 100, false},      // 6,400,000 / 100 / 3 rows, capped at the height
        {32773, 1, 100, false},  // the same strips, packed row by row
        {5, 25, 4, true},       // planes of 100 bytes: 4 rows per strip
        {8, 1, 100, true},       // strips of about 512 KiB: the whole image
        {7, 1, 100, false},
    };
    for (const Case& c : cases) {
        auto w = Write(kModeRgb, 100, 100, c.compression);
        ASSERT_EQ(w->result, 1) << c.compression;
        const TiffDirectory& d = w->ifd;
        EXPECT_EQ(d[259].items, std::vector<uint32_t>{static_cast<uint32_t>(c.compression)});
        EXPECT_EQ(d[278].items[0], c.rowsPerStrip);
        EXPECT_EQ(d[273].count, c.strips);
        EXPECT_EQ(d[279].count, c.strips);
        EXPECT_EQ(d.Has(317), c.predictor);
        if (c.predictor) {
            EXPECT_EQ(d[317].items[0], 2u);
        }
        if (c.strips == 1) {
            // The single strip's offset stands in its entry, just after the header.
            EXPECT_EQ(d[273].valueField, 8u);
            EXPECT_EQ(d[279].items[0] + 8u <= d[282].valueField, true);
        } else {
            // Arrays lie between the strips and the directory.
            EXPECT_GT(d[273].valueField, d[273].items.back());
            EXPECT_LT(d[279].valueField, d.offset);
            for (uint32_t s = 1; s < c.strips; ++s) EXPECT_EQ(d[273].items[s], d[273].items[s - 1] + d[279].items[s - 1]);
        }
        EXPECT_EQ(d.offset % 2, 0u);
        // Tags ascend.
        EXPECT_TRUE(std::is_sorted(d.tags.begin(), d.tags.end()));
    }
}

TEST(TiffWrite, ColorMapFollowsTheHeaderInEitherByteOrder)
{
    for (bool little : {true, false}) {
        TempDir dir;
        std::string path = dir.File("i.tif");
        auto image = MakeTiffImage(path, kModeIndexed, 20, 10);
        // 16 entries, entry 5 red 10, green 20, blue 30: the map still has 256.
        std::vector<uint8_t> palette(16 * 4, 7);
        palette[5 * 4] = 30, palette[5 * 4 + 1] = 20, palette[5 * 4 + 2] = 10;
        image->SetPalette(palette.data(), 16);
        image->PaletteSize = 16;
        image->IntelByteOrder = little;
        image->WritePreview = 0;
        ASSERT_EQ(WriteTiffFile(*image, path), 1);
        TiffDirectory d;
        ASSERT_TRUE(ParseTiffDirectory(ReadBytes(path), &d));
        EXPECT_EQ(d.little, little);
        ASSERT_EQ(d[320].count, 768u);
        EXPECT_EQ(d[320].valueField, 8u);
        EXPECT_EQ(d[262].items[0], 3u);
        EXPECT_EQ(d[320].items[5], 0x0A0Au);
        EXPECT_EQ(d[320].items[256 + 5], 0x1414u);
        EXPECT_EQ(d[320].items[512 + 5], 0x1E1Eu);
        EXPECT_EQ(d[320].items[16], 0u);  // past the palette
        EXPECT_EQ(d[273].valueField, 8u + 768 * 2);
    }
}

TEST(TiffWrite, BilevelIsBigEndianOneBitUncompressedWhateverWasAsked)
{
    for (int32_t compression : {1, 5, 32773, 2}) {
        auto w = Write(kModeBitmap, 21, 5, compression, true);
        ASSERT_EQ(w->result, 1) << compression;
        const TiffDirectory& d = w->ifd;
        EXPECT_FALSE(d.little);
        EXPECT_EQ(d[258].items[0], 1u);
        EXPECT_EQ(d[259].items[0], 1u);
        EXPECT_EQ(d[262].items[0], 1u);
        EXPECT_EQ(d[279].items[0], 3u * 5);  // 21 pixels in 3 bytes
        EXPECT_EQ(d[320].count, 6u);
        auto back = ReadBack(w->path);
        ASSERT_TRUE(back);
        EXPECT_EQ(ImageMismatch(*w->image, *back), "");
    }
    // White as entry 0: stored white-is-zero, read back the same.
    TempDir dir;
    std::string path = dir.File("b.tif");
    auto image = MakeTiffImage(path, kModeBitmap, 9, 3);
    const uint8_t whiteFirst[8] = {255, 255, 255, 0, 0, 0, 0, 0};
    image->SetPalette(whiteFirst, 2);
    ASSERT_EQ(WriteTiffFile(*image, path), 1);
    TiffDirectory d;
    ASSERT_TRUE(ParseTiffDirectory(ReadBytes(path), &d));
    EXPECT_EQ(d[262].items[0], 0u);
    auto back = ReadBack(path);
    ASSERT_TRUE(back);
    EXPECT_EQ(ImageMismatch(*image, *back), "");
}

TEST(TiffWrite, ExtraSamplesInTheEntryOrInAnArray)
{
    struct Case {
        uint32_t mode, extra;
    } const cases[] = {{kModeRgb, 1}, {kModeGrey, 1}, {kModeCmyk, 2}, {kModeRgb, 3}};
    for (const Case& c : cases) {
        auto w = Write(c.mode, 7, 3, 5, false, c.extra);
        ASSERT_EQ(w->result, 1);
        const TiffField& f = w->ifd[338];
        EXPECT_EQ(f.count, c.extra);
        EXPECT_EQ(f.items, std::vector<uint32_t>(c.extra, 0));
        if (c.extra > 2) {
            EXPECT_GT(f.valueField, 8u);
        }
        EXPECT_EQ(w->ifd[277].items[0], w->image->ChannelCount);
        auto back = ReadBack(w->path);
        ASSERT_TRUE(back);
        EXPECT_EQ(ImageMismatch(*w->image, *back), "") << c.mode << " " << c.extra;
    }
}

// --- coders ---

TEST(TiffWrite, PackBitsRuns)
{
    struct Case {
        std::vector<uint8_t> row;
        std::vector<uint8_t> packed;
    };
    std::vector<uint8_t> literal128(128), then1(129);
    for (int i = 0; i < 129; ++i) then1[i] = static_cast<uint8_t>(i);
    std::copy(then1.begin(), then1.begin() + 128, literal128.begin());
    std::vector<uint8_t> group(1, 127);
    group.insert(group.end(), literal128.begin(), literal128.end());
    std::vector<uint8_t> groupThenOne = group;
    groupThenOne.insert(groupThenOne.end(), {0x00, then1[128]});
    const Case cases[] = {
        {std::vector<uint8_t>(200, 9), {0x81, 9, 0xB9, 9}},
        {{1, 2, 3}, {0x02, 1, 2, 3}},
        {{4, 4, 5, 6, 6, 6, 7}, {0x02, 4, 4, 5, 0xFE, 6, 0x00, 7}},
        {literal128, group},
        {then1, groupThenOne},  // a 1-byte run that no longer fits
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> runs(c.row.size()), out(rastik::PackBitsBound(c.row.size()));
        uint32_t n = rastik::wCompute8BitRun(c.row.data(), runs.data(), static_cast<uint32_t>(c.row.size()));
        out.resize(rastik::iEncodeLineTIF_PackBits(c.row.data(), runs.data(), n, out.data()));
        EXPECT_EQ(out, c.packed);
    }
    // Random rows of few values stay within the bound and unpack to themselves.
    std::mt19937 rng(7);
    for (int t = 0; t < 200; ++t) {
        std::vector<uint8_t> row(1 + rng() % 700);
        for (uint8_t& b : row) b = static_cast<uint8_t>(rng() % (1 + t % 4));
        std::vector<uint8_t> runs(row.size()), out(rastik::PackBitsBound(row.size()) + 64, 0xEE);
        uint32_t n = rastik::wCompute8BitRun(row.data(), runs.data(), static_cast<uint32_t>(row.size()));
        uint32_t bytes = rastik::iEncodeLineTIF_PackBits(row.data(), runs.data(), n, out.data());
        ASSERT_LE(bytes, rastik::PackBitsBound(row.size()));
        std::vector<uint8_t> back(row.size());
        ASSERT_EQ(rastik::UnpackBits(out.data(), bytes, back.data(), back.size()), row.size());
        ASSERT_EQ(back, row);
    }
}

// An LZW decoder as the format has it: codes most significant bit first,
// the width growing once the next free code reaches 511, 1023 and 2047 (one
// early). Fails unless the stream starts with Clear and ends with
// end-of-information exactly in its last byte. Counts the Clears.
bool DecodeLzw(const uint8_t* data, uint32_t bytes, std::vector<uint8_t>& out, int& clears)
{
    std::vector<std::vector<uint8_t>> table(4096);
    uint64_t acc = 0;
    uint32_t have = 0, at = 0, width = 9, next = 258;
    int32_t previous = -1;
    clears = 0;
    for (bool first = true;; first = false) {
        while (have < width) {
            if (at >= bytes) return false;
            acc = (acc << 8) | data[at++];
            have += 8;
        }
        uint32_t code = static_cast<uint32_t>(acc >> (have - width)) & ((1u << width) - 1);
        have -= width;
        if (first && code != 256) return false;
        if (code == 257) return at == bytes && (acc & ((1u << have) - 1)) == 0;
        if (code == 256) {
            ++clears;
            width = 9, next = 258, previous = -1;
            continue;
        }
        std::vector<uint8_t> s;
        if (code < 256) s = {static_cast<uint8_t>(code)};
        else if (code < next && !table[code].empty()) s = table[code];
        else if (code == next && previous >= 0) s = table[previous], s.push_back(table[previous][0]);
        else return false;
        if (previous >= 0 && next < 4096) {
            table[next] = table[previous];
            table[next].push_back(s[0]);
            ++next;
            if (next + 1 >= (1u << width) && width < 12) ++width;
        }
        if (code < 256) table[code] = s;
        previous = static_cast<int32_t>(code);
        out.insert(out.end(), s.begin(), s.end());
    }
}

TEST(TiffWrite, LzwStreamsEndAtTheDecodersWidthAndClearAtAFullTable)
{
    std::mt19937 rng(3);
    // Every length up to 1200 random bytes: the last code falls on each
    // width change once; long strips fill the table and clear it.
    std::vector<uint32_t> lengths;
    for (uint32_t n = 1; n <= 1200; ++n) lengths.push_back(n);
    lengths.push_back(60000);
    for (uint32_t n : lengths) {
        std::vector<uint8_t> row(n);
        for (uint8_t& b : row) b = static_cast<uint8_t>(rng() % (n > 5000 ? 256 : 24));
        CTiffLzwEncoder coder(n, 1);
        ASSERT_TRUE(coder.Reserve(1));
        ASSERT_TRUE(coder.iEncodeTIF_LZW(row.data(), 1));
        ASSERT_LE(coder.Length(), CTiffLzwEncoder::Bound(n));
        std::vector<uint8_t> out;
        int clears = 0;
        ASSERT_TRUE(DecodeLzw(coder.Data(), coder.Length(), out, clears)) << n;
        // Undo the differencing of one-sample pixels.
        for (size_t i = 1; i < out.size(); ++i) out[i] = static_cast<uint8_t>(out[i] + out[i - 1]);
        ASSERT_EQ(out, row) << n;
        if (n == 60000) {
            EXPECT_GE(clears, 10);
        }
    }
}

// Planes of smooth ramps and waves, as photographs hold them.
void FillSmooth(CRastik& image)
{
    std::vector<uint8_t> row(image.BytesPerLine);
    for (uint32_t c = 0; c < image.ChannelCount; ++c)
        for (uint32_t y = 0; y < image.Height; ++y) {
            for (uint32_t x = 0; x < image.Width; ++x)
                row[x] = static_cast<uint8_t>(128 + 100 * std::sin((x + 2.0 * y) / (40.0 + 9 * c) + c));
            image.WritePlaneRow(c, y, row.data());
        }
}

double Psnr(CRastik& a, CRastik& b)
{
    double squares = 0, count = 0;
    for (uint32_t c = 0; c < a.ChannelCount; ++c) {
        std::vector<uint8_t> pa = PlaneBytes(a, c), pb = PlaneBytes(b, c);
        for (size_t i = 0; i < pa.size(); ++i) squares += (pa[i] - pb[i]) * (pa[i] - pb[i]);
        count += static_cast<double>(pa.size());
    }
    return squares == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 * count / squares);
}

// The bytes of strip s.
std::vector<uint8_t> StripOf(const Written& w, uint32_t s)
{
    auto at = w.bytes.begin() + w.ifd[273].items[s];
    return {at, at + w.ifd[279].items[s]};
}

// The JPEG strips: abbreviated streams (start of image, frame, scan, end of
// image) of the strip's rows, their tables once in JPEGTables.
void ExpectAbbreviatedStrips(const Written& w)
{
    const TiffField& tables = w.ifd[347];
    EXPECT_EQ(tables.type, 7u);
    std::vector<uint8_t> t(w.bytes.begin() + tables.valueField, w.bytes.begin() + tables.valueField + tables.count);
    ASSERT_GE(t.size(), 8u);
    EXPECT_EQ((std::vector<uint8_t>{t[0], t[1], t[2], t[3]}), (std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 0xDB}));
    EXPECT_EQ((std::vector<uint8_t>{t[t.size() - 2], t.back()}), (std::vector<uint8_t>{0xFF, 0xD9}));
    uint32_t rows = w.ifd[278].items[0], height = w.image->Height;
    for (uint32_t s = 0; s < w.ifd[273].count; ++s) {
        std::vector<uint8_t> strip = StripOf(w, s);
        ASSERT_GT(strip.size(), 12u);
        EXPECT_EQ((std::vector<uint8_t>{strip[0], strip[1], strip[2], strip[3]}),
                  (std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 0xC0}));
        EXPECT_EQ(strip[strip.size() - 2], 0xFF);
        EXPECT_EQ(strip.back(), 0xD9);
        // Frame: length, precision, height, width.
        EXPECT_EQ(strip[7] << 8 | strip[8], static_cast<int>(std::min(rows, height - s * rows)));
        EXPECT_EQ(strip[9] << 8 | strip[10], static_cast<int>(w.image->Width));
    }
}

// Deflate and JPEG files written and read back by this reader with one
// thread and with three: Deflate exact, JPEG within a PSNR; the same bytes
// whatever the thread count; strips of whole
// MCU rows with their tables in JPEGTables; YCbCr 2 x 2 for RGB.
TEST(TiffWrite, DeflateAndJpegRoundTrip)
{
    struct Case {
        uint32_t mode, extra;
        int32_t compression;
        uint32_t width, height;
        bool little;
        double psnr;  // 0: exact
        uint32_t stored, photometric, strips;
    } const cases[] = {
        {kModeGrey, 0, 8, 301, 97, true, 0, 8, 1, 1},
        {kModeRgb, 0, 8, 2001, 200, false, 0, 8, 2, 3},  // 87 rows a strip
        {kModeRgb, 1, 8, 37, 23, true, 0, 8, 2, 1},
        {kModeCmyk, 0, 8, 37, 23, false, 0, 8, 5, 1},
        {kModeIndexed, 0, 8, 37, 23, true, 0, 8, 3, 1},
        {kModeGrey, 0, 7, 3000, 400, true, 40, 7, 1, 3},   // 168 rows a strip
        {kModeRgb, 0, 7, 2001, 200, false, 40, 7, 6, 3},   // 80 rows a strip
        {kModeRgb, 0, 7, 38, 24, true, 40, 7, 6, 1},
        {kModeCmyk, 0, 7, 37, 23, false, 40, 7, 5, 1},
        // Indexes and extra samples are no lossy data: Deflate.
        {kModeIndexed, 0, 7, 37, 23, true, 0, 8, 3, 1},
        {kModeRgb, 1, 7, 37, 23, true, 0, 8, 2, 1},
        {kModeGrey, 1, 7, 37, 23, true, 0, 8, 1, 1},
    };
    for (const Case& c : cases) {
        std::string name = std::to_string(c.mode) + "+" + std::to_string(c.extra) + " " + std::to_string(c.compression);
        std::vector<uint8_t> first;
        for (uint32_t threads : {1u, 3u}) {
            ThreadCount count(threads);
            auto w = std::make_unique<Written>();
            w->path = w->dir.File("w.tif");
            w->image = MakeTiffImage(w->path, c.mode, c.width, c.height, c.extra);
            if (c.mode != kModeIndexed) FillSmooth(*w->image);
            w->image->Compression = c.compression;
            w->image->IntelByteOrder = c.little;
            w->image->WritePreview = 0;
            w->image->JpegQuality = 90;
            w->result = WriteTiffFile(*w->image, w->path);
            ASSERT_EQ(w->result, 1) << name;
            w->bytes = ReadBytes(w->path);
            ASSERT_TRUE(ParseTiffDirectory(w->bytes, &w->ifd)) << name;
            if (threads == 1) first = w->bytes;
            EXPECT_EQ(w->bytes, first) << name;
            const TiffDirectory& d = w->ifd;
            EXPECT_EQ(d[259].items[0], c.stored) << name;
            EXPECT_EQ(d[262].items[0], c.photometric) << name;
            EXPECT_EQ(d[273].count, c.strips) << name;
            EXPECT_EQ(d.Has(317), c.stored == 8) << name;
            EXPECT_EQ(d.Has(347), c.stored == 7) << name;
            EXPECT_EQ(d.Has(530), c.photometric == 6) << name;
            if (c.photometric == 6) {
                EXPECT_EQ(d[530].items, (std::vector<uint32_t>{2, 2}));
                EXPECT_EQ(d[532].items, (std::vector<uint32_t>{0, 1, 255, 1, 128, 1, 255, 1, 128, 1, 255, 1}));
            }
            if (c.stored == 7) {
                // Strips of whole MCU rows: 16 rows for YCbCr 2 x 2, else 8.
                EXPECT_TRUE(d[278].items[0] % (c.photometric == 6 ? 16 : 8) == 0 || c.strips == 1) << name;
                ExpectAbbreviatedStrips(*w);
            }
            auto back = ReadBack(w->path);
            ASSERT_TRUE(back) << name;
            if (c.psnr == 0) {
                EXPECT_EQ(ImageMismatch(*w->image, *back), "") << name;
            } else {
                EXPECT_GE(Psnr(*w->image, *back), c.psnr) << name;
            }
        }
    }
}

// Noise codes to more bytes than it holds: on three threads, the LZW and
// Deflate strips that outgrow their run's room, and PackBits strips packed
// in parts, still come out whole and in order.
TEST(TiffWrite, IncompressibleStripsOnWorkers)
{
    for (int32_t compression : {5, 32773, 8}) {
        std::vector<uint8_t> first;
        for (uint32_t threads : {1u, 3u}) {
            ThreadCount count(threads);
            Written w;
            w.path = w.dir.File("n.tif");
            w.image = MakeTiffImage(w.path, kModeRgb, 700, 160);
            std::vector<uint8_t> row(w.image->BytesPerLine);
            uint32_t seed = 7;
            for (uint32_t c = 0; c < 3; ++c)
                for (uint32_t y = 0; y < 160; ++y) {
                    for (uint8_t& v : row) v = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
                    w.image->WritePlaneRow(c, y, row.data());
                }
            w.image->Compression = compression;
            w.image->WritePreview = 0;
            ASSERT_EQ(WriteTiffFile(*w.image, w.path), 1) << compression;
            w.bytes = ReadBytes(w.path);
            EXPECT_GT(w.bytes.size(), 700u * 160 * 3) << compression;
            if (threads == 1) first = w.bytes;
            EXPECT_EQ(w.bytes, first) << compression;
            auto back = ReadBack(w.path);
            ASSERT_TRUE(back) << compression;
            EXPECT_EQ(ImageMismatch(*w.image, *back), "") << compression;
        }
    }
}

TEST(TiffWrite, JpegQualityTradesSizeForFidelity)
{
    std::vector<size_t> sizes;
    std::vector<double> psnrs;
    for (uint32_t quality : {30u, 70u, 95u}) {
        TempDir dir;
        std::string path = dir.File("q.tif");
        auto image = MakeTiffImage(path, kModeRgb, 160, 96);
        FillSmooth(*image);
        image->Compression = 7;
        image->JpegQuality = quality;
        image->WritePreview = 0;
        ASSERT_EQ(WriteTiffFile(*image, path), 1);
        sizes.push_back(ReadBytes(path).size());
        auto back = ReadBack(path);
        ASSERT_TRUE(back);
        psnrs.push_back(Psnr(*image, *back));
    }
    EXPECT_LT(sizes[0], sizes[1]);
    EXPECT_LT(sizes[1], sizes[2]);
    EXPECT_LT(psnrs[0], psnrs[1]);
    EXPECT_LT(psnrs[1], psnrs[2]);
}

// --- clip paths ---

uint32_t* PathOf(const std::vector<ClipPathNode>& nodes)
{
    auto* record = static_cast<uint32_t*>(malloc(ClipPathRecordBytes(static_cast<uint32_t>(nodes.size()))));
    record[0] = static_cast<uint32_t>(nodes.size());
    for (uint32_t i = 0; i < nodes.size(); ++i) SetClipPathNode(record, i, nodes[i]);
    return record;
}

ClipPathNode Node(float x, float y, uint16_t kind, float c1x = 0, float c1y = 0, float c2x = 0, float c2y = 0)
{
    ClipPathNode n;
    n.X = x, n.Y = y, n.Kind = kind, n.C1x = c1x, n.C1y = c1y, n.C2x = c2x, n.C2y = c2y;
    return n;
}

TEST(TiffWrite, ClipPathsRoundTripWithThirdsAndPointsOutsideTheImage)
{
    TempDir dir;
    std::string path = dir.File("p.tif");
    auto image = MakeTiffImage(path, kModeGrey, 300, 200);
    image->AllocPathSpace(2);
    // A square of straight sides, one corner 10 pixels left of the image.
    image->AddPath(PathOf({Node(-10, 20, kPathStart), Node(110, 20, kPathLine), Node(110, 140, kPathLine),
                           Node(-10, 140, kPathLine), Node(-10, 20, kPathLine)}));
    // A curve that leaves the image at the bottom right.
    image->AddPath(PathOf({Node(250, 150, kPathStart), Node(305, 210, kPathBezier, 260, 160, 290, 230)}));
    image->WritePreview = 0;
    ASSERT_EQ(WriteTiffFile(*image, path), 1);

    // The point x = -10: sign 0xFF and the fraction of (width - 10) / width.
    std::vector<uint8_t> bytes = ReadBytes(path);
    TiffDirectory d;
    ASSERT_TRUE(ParseTiffDirectory(bytes, &d));
    uint32_t block = d[34377].valueField;
    ASSERT_EQ(d[34377].count, 46u + 26 * (2 + 7));
    const uint8_t* knot0 = &bytes[block + 46 + 26 + 2];  // past the fill rule and the length record
    const uint8_t* anchorX = knot0 + 8 + 4;
    EXPECT_EQ(anchorX[0], 0xFF);
    uint32_t fraction = (anchorX[1] << 16) | (anchorX[2] << 8) | anchorX[3];
    EXPECT_EQ(fraction, static_cast<uint32_t>(290.0 / 300.0 * 16777215.0));

    auto back = ReadBack(path);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->PathCount, 2);
    const double tolerance = 300.0 / 16777215.0 * 1.5;
    for (int p = 0; p < 2; ++p) {
        ASSERT_EQ(ClipPathNodeCount(back->Paths[p]), ClipPathNodeCount(image->Paths[p]));
        for (uint32_t j = 0; j < ClipPathNodeCount(image->Paths[p]); ++j) {
            ClipPathNode a = GetClipPathNode(image->Paths[p], j), b = GetClipPathNode(back->Paths[p], j);
            EXPECT_NEAR(a.X, b.X, tolerance);
            EXPECT_NEAR(a.Y, b.Y, tolerance);
            if (j == 0) continue;
            EXPECT_EQ(b.Kind, kPathBezier);
            if (a.Kind == kPathBezier) {
                EXPECT_NEAR(a.C1x, b.C1x, tolerance);
                EXPECT_NEAR(a.C2y, b.C2y, tolerance);
            } else {
                // Straight sides: controls at one and two thirds.
                ClipPathNode from = GetClipPathNode(image->Paths[p], j - 1);
                EXPECT_NEAR(b.C1x, (2 * from.X + a.X) / 3, tolerance);
                EXPECT_NEAR(b.C1y, (2 * from.Y + a.Y) / 3, tolerance);
                EXPECT_NEAR(b.C2x, (2 * a.X + from.X) / 3, tolerance);
                EXPECT_NEAR(b.C2y, (2 * a.Y + from.Y) / 3, tolerance);
            }
        }
    }
    // Read, written again, read: the same paths.
    std::string again = dir.File("again.tif");
    back->WritePreview = 0;
    ASSERT_EQ(WriteTiffFile(*back, again), 1);
    auto third = ReadBack(again);
    ASSERT_TRUE(third);
    ASSERT_EQ(third->PathCount, 2);
    for (int p = 0; p < 2; ++p)
        for (uint32_t j = 0; j < ClipPathNodeCount(back->Paths[p]); ++j) {
            ClipPathNode a = GetClipPathNode(back->Paths[p], j), b = GetClipPathNode(third->Paths[p], j);
            EXPECT_NEAR(a.X, b.X, tolerance);
            EXPECT_NEAR(a.C2y, b.C2y, tolerance);
        }
}

// --- whole files ---

TEST(TiffWrite, ReadBackIdenticalPlanesPaletteAndResolution)
{
    for (uint32_t mode : {kModeGrey, kModeRgb, kModeCmyk, kModeIndexed})
        for (int32_t compression : {1, 5, 32773, 8})
            for (bool little : {true, false}) {
                auto w = Write(mode, 37, 23, compression, little);
                ASSERT_EQ(w->result, 1);
                auto back = ReadBack(w->path);
                ASSERT_TRUE(back);
                EXPECT_EQ(ImageMismatch(*w->image, *back), "") << mode << " " << compression << " " << little;
                EXPECT_EQ(back->IntelByteOrder, little ? 1 : 0);
                EXPECT_EQ(back->Compression, compression);
                EXPECT_FLOAT_EQ(back->XResolution, 300.0f);
                EXPECT_FLOAT_EQ(back->YResolution, 150.0f);
            }
}

TEST(TiffWrite, ThumbnailIsFoundByThePreviewRead)
{
    TempDir dir;
    std::string path = dir.File("t.tif");
    auto image = MakeTiffImage(path, kModeRgb, 400, 300);
    image->WritePreview = 1;
    ASSERT_EQ(WriteTiffFile(*image, path), 1);
    CTiffIO back(path.c_str());
    ASSERT_EQ(OpenAndReadHead(back, path.c_str()), 1);
    EXPECT_GT(back.GetPosOfPrevData(), 0);
    uint32_t w = 0, h = 0;
    uint8_t* buffer = nullptr;
    ASSERT_EQ(back.ReadPrevImageData(w, h, buffer), 1);
    EXPECT_EQ(w, 96u);
    EXPECT_EQ(h, 72u);
    FreeBuffer(&buffer);
}

// Blocks of 5 rows, the last of 2; coded strips (29 rows of Deflate, 16 of
// JPEG) end inside blocks.
TEST(TiffWrite, StreamedRgbAndCmykMatchTheWholeImageWrite)
{
    const uint32_t width = 6000, height = 67;
    for (uint32_t mode : {kModeRgb, kModeCmyk})
        for (int32_t compression : {1, 8, 7}) {
            TempDir dir;
            OwnTempDirectory temp;
            std::string whole = dir.File("whole.tif"), streamed = dir.File("streamed.tif");
            auto image = MakeTiffImage(whole, mode, width, height);
            FillSmooth(*image);
            image->WritePreview = 0;
            image->Compression = compression;
            ASSERT_EQ(WriteTiffFile(*image, whole), 1);
            CTiffIO s(streamed.c_str());
            s.Width = width, s.Height = height;
            s.SetMode(mode);
            s.BytesPerLine = width;
            s.Compression = compression;
            s.WritePreview = 0;
            ASSERT_TRUE(s.File.Open(streamed.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary));
            ASSERT_EQ(s.WriteHeader(), 1);
            std::vector<std::vector<uint8_t>> planes;
            for (uint32_t c = 0; c < image->ChannelCount; ++c) planes.push_back(PlaneBytes(*image, c));
            for (int pass = 0; pass < (mode == kModeCmyk ? 2 : 1); ++pass)
                for (uint32_t row = 0; row < height; row += 5) {
                    uint32_t n = std::min(5u, height - row);
                    auto at = [&](int c) { return planes[c].data() + row * width; };
                    int ok = pass == 0 ? s.WriteRgbDataImage(at(0), at(1), at(2), n) : s.WriteKDataImage(at(3), n);
                    ASSERT_EQ(ok, 1) << pass << " " << row;
                }
            s.File.Abort();
            auto back = ReadBack(streamed), wholeBack = ReadBack(whole);
            ASSERT_TRUE(back && wholeBack);
            EXPECT_EQ(back->Compression, compression);
            // The same strips: JPEG decodes to what the whole write decodes to.
            EXPECT_EQ(ImageMismatch(*wholeBack, *back), "") << mode << " " << compression;
            if (compression != 7) {
                EXPECT_EQ(ImageMismatch(*image, *back), "") << mode << " " << compression;
            }
            EXPECT_EQ(temp.Files(), 0u);
        }
}

// --- failures ---

TEST(TiffWrite, RefusalsShowTheirMessagesAndWriteNothing)
{
    struct Case {
        uint32_t mode;
        int32_t compression;
        int message;
    } const cases[] = {{kModeOther, 1, kMsgImageType}, {kModeRgb, 34925, kMsgUnsupported}, {kModeRgb, 2, kMsgUnsupported}};
    for (const Case& c : cases) {
        TempDir dir;
        std::string path = dir.File("r.tif");
        auto image = MakeTiffImage(path, kModeRgb, 5, 5);
        image->ColorMode = c.mode;
        image->Compression = c.compression;
        MessageCapture messages;
        ASSERT_TRUE(image->File.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary));
        EXPECT_EQ(image->WriteFile(), 0);
        image->File.Abort();
        EXPECT_EQ(messages.Ids(), std::vector<int>{c.message});
        EXPECT_EQ(image->GetLastMessage(), c.message);
        EXPECT_EQ(ReadBytes(path).size(), 0u);
    }
}

// Every write of a whole-image or streamed write failing with a full disk:
// 0, message 27708 once, no file left (the CMYK temporary file included).
TEST(TiffWrite, FullDiskAtAnyWriteLeavesNoFile)
{
    for (int32_t compression : {5, 8, 7})
        for (int streamed = 0; streamed < 2; ++streamed) {
            for (uint64_t n = 1;; ++n) {
                TempDir dir;
                OwnTempDirectory temp;
                std::string path = dir.File("f.tif");
                auto image = MakeTiffImage(path, kModeCmyk, 300, 40);
                image->Compression = compression;
                MessageCapture messages;
                CFileFaults faults;
                faults.FailWrite(n, ENOSPC);
                ASSERT_TRUE(image->File.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary));
                int ok = 1;
                if (streamed) {
                    std::vector<std::vector<uint8_t>> p;
                    for (uint32_t c = 0; c < 4; ++c) p.push_back(PlaneBytes(*image, c));
                    ok = image->WriteHeader();
                    for (uint32_t row = 0; ok && row < 40; row += 8) ok = image->WriteRgbDataImage(&p[0][row * 300], &p[1][row * 300], &p[2][row * 300], 8);
                    for (uint32_t row = 0; ok && row < 40; row += 8) ok = image->WriteKDataImage(&p[3][row * 300], 8);
                } else {
                    ok = image->WriteFile();
                }
                image->File.Abort();
                bool failed = faults.Writes() >= n;
                if (!failed) {
                    ASSERT_EQ(ok, 1);
                    break;
                }
                EXPECT_EQ(ok, 0) << n;
                EXPECT_EQ(messages.Ids(), std::vector<int>{kMsgDiskFull}) << streamed << " " << n;
                EXPECT_EQ(image->GetLastMessage(), kMsgDiskFull) << streamed << " " << n;
                EXPECT_FALSE(FileExists(path.c_str())) << n;
                EXPECT_EQ(temp.Files(), 0u);
            }
        }
}

}  // namespace
