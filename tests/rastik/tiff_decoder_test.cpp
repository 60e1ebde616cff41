// The TIFF decoder table entry by entry: every entry decodes what the
// writer stores with it, refuses strips too short for their rows by its
// expansion bound, has the predictor undone after it when it allows one, and
// gives reduced reads the rows they took before.
#include <gtest/gtest.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include <memory>
#include <string>

#include "TestUtil.h"
#include "rastik/CTiffIO.h"
#include "rastik/General.h"
#include "rastik/Messages.h"
#include "rastik/support/PackBits.h"
#include "rastik/tiff/TiffDecoderTable.h"
#include "rastik/tiff/TiffTags.h"
#include "tiff_util.h"

using namespace testutil;

namespace {

// --- strips that decode to exactly the given rows ---

std::vector<uint8_t> StoreRaw(const std::vector<uint8_t>& rows, uint32_t)
{
    return rows;
}

std::vector<uint8_t> StorePackBits(const std::vector<uint8_t>& rows, uint32_t rowBytes)
{
    std::vector<uint8_t> out, runs(rowBytes + 1), packed(rastik::PackBitsBound(rowBytes));
    for (size_t at = 0; at < rows.size(); at += rowBytes) {
        uint32_t count = rastik::wCompute8BitRun(&rows[at], runs.data(), rowBytes);
        uint32_t n = rastik::iEncodeLineTIF_PackBits(&rows[at], runs.data(), count, packed.data());
        out.insert(out.end(), packed.begin(), packed.begin() + n);
    }
    return out;
}

// Every byte a literal code, with a Clear before the table fills.
std::vector<uint8_t> StoreLzw(const std::vector<uint8_t>& rows, uint32_t)
{
    std::vector<uint32_t> codes;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (i % 2000 == 0) codes.push_back(256);
        codes.push_back(rows[i]);
    }
    codes.push_back(257);
    return LzwCodes(codes);
}

// One zlib stream of the strip's rows, with bytes after it that the
// reader must ignore.
std::vector<uint8_t> StoreDeflate(const std::vector<uint8_t>& rows, uint32_t)
{
    uLongf size = compressBound(static_cast<uLong>(rows.size()));
    std::vector<uint8_t> out(size);
    EXPECT_EQ(compress(out.data(), &size, rows.data(), static_cast<uLong>(rows.size())), Z_OK);
    out.resize(size);
    out.insert(out.end(), {0x78, 0x9C, 0xFF, 0x00});
    return out;
}

// One .xz stream of the strip's rows.
std::vector<uint8_t> StoreLzma(const std::vector<uint8_t>& rows, uint32_t)
{
    std::vector<uint8_t> out(lzma_stream_buffer_bound(rows.size()));
    size_t size = 0;
    EXPECT_EQ(lzma_easy_buffer_encode(6, LZMA_CHECK_CRC64, nullptr, rows.data(), rows.size(), out.data(), &size,
                                      out.size()),
              LZMA_OK);
    out.resize(size);
    return out;
}

// One Zstandard frame of the strip's rows, with bytes after it.
std::vector<uint8_t> StoreZstd(const std::vector<uint8_t>& rows, uint32_t)
{
    std::vector<uint8_t> out(ZSTD_compressBound(rows.size()));
    size_t size = ZSTD_compress(out.data(), out.size(), rows.data(), rows.size(), 9);
    EXPECT_FALSE(ZSTD_isError(size));
    out.resize(size);
    out.insert(out.end(), {0x28, 0xB5, 0x2F});
    return out;
}

// The runs of a row of 8 pixels (one byte, 1 = black), white first, as
// T.4 terminating codes; with horizontal, in T.6 horizontal mode codes
// (a white and a black run after each "001").
std::string FaxRowBits(uint8_t pixels, bool horizontal = false)
{
    static const char* const kWhite[] = {"00110101", "000111", "0111", "1000", "1011",
                                         "1100",     "1110",   "1111", "10011"};
    static const char* const kBlack[] = {"0000110111", "010", "11", "10", "011", "0011", "0010", "00011", "000101"};
    std::string bits;
    for (int x = 0, black = 0; x < 8 || (horizontal && black); black = !black) {
        int run = 0;
        while (x + run < 8 && ((pixels >> (7 - x - run)) & 1) == black) ++run;
        bits += std::string(horizontal && !black ? "001" : "") + (black ? kBlack : kWhite)[run];
        x += run;
    }
    return bits;
}

std::vector<uint8_t> PackBitString(const std::string& bits)
{
    std::vector<uint8_t> out((bits.size() + 7) / 8, 0);
    for (size_t b = 0; b < bits.size(); ++b)
        if (bits[b] == '1') out[b / 8] |= static_cast<uint8_t>(0x80 >> (b % 8));
    return out;
}

// Modified Huffman rows of up to 8 pixels, each row from a byte.
std::vector<uint8_t> StoreFax(const std::vector<uint8_t>& rows, uint32_t rowBytes)
{
    EXPECT_EQ(rowBytes, 1u);
    std::vector<uint8_t> out;
    for (uint8_t pixels : rows) {
        std::vector<uint8_t> row = PackBitString(FaxRowBits(pixels));
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

// Group 3 one-dimensional rows, each after an end-of-line code, not aligned.
std::vector<uint8_t> StoreGroup3(const std::vector<uint8_t>& rows, uint32_t rowBytes)
{
    EXPECT_EQ(rowBytes, 1u);
    std::string bits;
    for (uint8_t pixels : rows) bits += "000000000001" + FaxRowBits(pixels);
    return PackBitString(bits);
}

// Group 4 rows, all in horizontal mode.
std::vector<uint8_t> StoreGroup4(const std::vector<uint8_t>& rows, uint32_t rowBytes)
{
    EXPECT_EQ(rowBytes, 1u);
    std::string bits;
    for (uint8_t pixels : rows) bits += FaxRowBits(pixels, true);
    return PackBitString(bits);
}

// A compression as the tests store it, with the bound the format sets on
// what one stored byte decodes to (bytes, plus rows of codes that give a
// row at least a byte), whether a predictor may follow it, and whether
// images without a photometric interpretation are white-is-zero.
struct Case {
    uint32_t compression;
    std::vector<uint8_t> (*store)(const std::vector<uint8_t>& rows, uint32_t rowBytes);
    uint32_t bytesPerByte;
    uint32_t rowsPerByte;
    bool predictor;
    bool whiteIsZero;
};
const Case kCases[] = {
    {1, StoreRaw, 1, 0, false, false},
    {2, StoreFax, 0, 1, false, true},
    {3, StoreGroup3, 0, 8, false, true},
    {4, StoreGroup4, 0, 8, false, true},
    {5, StoreLzw, 2731, 0, true, false},
    {6, nullptr, 2731, 0, false, false},  // one frame for the image: decoded in the colour tests
    {7, nullptr, 2731, 0, false, false},  // lossy: decoded in the JPEG tests
    {8, StoreDeflate, 1032, 0, true, false},
    {32773, StorePackBits, 64, 0, false, false},
    {32946, StoreDeflate, 1032, 0, true, false},
    {34925, StoreLzma, 16384, 0, true, false},
    {50000, StoreZstd, 32768, 0, true, false},
    {50001, nullptr, 0, 820, false, false},  // colour only: the corpus tests decode it
    {34676, nullptr, 65, 0, false, false},   // LogLuv and LogL only: decoded in the colour tests
};

const Case& CaseOf(const TiffDecoderEntry& entry)
{
    for (const Case& c : kCases)
        if (c.compression == entry.compression) return c;
    ADD_FAILURE() << "no test case for compression " << entry.compression << " (" << entry.name << ")";
    return kCases[0];
}

// Whether a plain grey image may have the compression: old-style JPEG
// needs its tables, SGI LogLuv its own photometric interpretations.
bool TakesPlainImages(const TiffDecoderEntry& entry)
{
    return entry.compression != 6 && entry.compression != 34676;
}

// Whether the tests can store rows that decode exactly.
bool Stores(const TiffDecoderEntry& entry)
{
    return CaseOf(entry).store != nullptr;
}

// Rows of the depth an entry decodes: 8-bit grey, or 1-bit rows of 8
// pixels for decoders of bilevel rows only.
bool Bilevel(const TiffDecoderEntry& entry)
{
    return entry.takes && !entry.takes(8, 1);
}

std::vector<uint8_t> Pattern(size_t n, uint32_t seed)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((i * 37 + i / 7 + seed) * (i % 5 == 0 ? 3 : 1));
    return v;
}

// An image of width x height of bits-bit samples in strips of rowsPerStrip
// rows, each stored by the case; photometric white-is-zero for 1 bit.
TiffFixture Stored(const Case& c, uint32_t width, uint32_t height, uint16_t bits, uint16_t samples,
                   const std::vector<uint8_t>& data, uint32_t rowsPerStrip, bool little = true)
{
    TiffFixture f = PlainTiff(width, height, bits, samples, bits == 1 ? 0 : samples == 3 ? 2 : 1, data, rowsPerStrip,
                              little);
    f.entries[3].values = {c.compression};
    uint32_t rowBytes = (width * bits * samples + 7) / 8;
    for (std::vector<uint8_t>& strip : f.strips) strip = c.store(strip, rowBytes);
    return f;
}

struct Opened {
    TempDir dir;
    std::unique_ptr<CTiffIO> codec;
    int head = 0;
};

std::unique_ptr<Opened> Open(const TiffFixture& f, bool warnings = false)
{
    auto o = std::make_unique<Opened>();
    std::string path = o->dir.File("t.tif");
    WriteBytes(path, MakeTiff(f));
    o->codec = std::make_unique<CTiffIO>(path.c_str());
    o->codec->SetWarningMsg(warnings);
    o->head = OpenAndReadHead(*o->codec, path.c_str());
    return o;
}

// Whether a reduced read to w x h takes, for output row i and column j,
// source row ceil(i x height / h) and column ceil(j x width / w) of planes
// (width x height bytes each, one per colour channel).
std::string ReducedMismatch(CTiffIO& codec, const std::vector<std::vector<uint8_t>>& planes, uint32_t w, uint32_t h)
{
    uint32_t stride = BytesPerRow(w * 8);
    std::vector<std::vector<uint8_t>> out(planes.size(), std::vector<uint8_t>(stride * h, 0xEE));
    std::vector<uint8_t*> pointers;
    for (std::vector<uint8_t>& p : out) pointers.push_back(p.data());
    if (codec.ReadReducedData(w, h, pointers.data()) != 1) return "reduced read failed";
    for (size_t k = 0; k < planes.size(); ++k)
        for (uint32_t i = 0; i < h; ++i)
            for (uint32_t j = 0; j < w; ++j) {
                uint32_t r = (i * codec.Height + h - 1) / h, x = (j * codec.Width + w - 1) / w;
                if (out[k][i * stride + j] != planes[k][r * codec.Width + x])
                    return "plane " + std::to_string(k) + " row " + std::to_string(i) + " column " + std::to_string(j);
            }
    return "";
}

// One plane of bits-bit samples as the planes hold them: one byte a pixel.
std::vector<uint8_t> Unpacked(const std::vector<uint8_t>& data, uint16_t bits, uint32_t width, uint32_t height)
{
    if (bits == 8) return data;
    std::vector<uint8_t> plane(width * height);
    for (size_t i = 0; i < plane.size(); ++i) plane[i] = (data[i / 8] >> (7 - i % 8)) & 1;
    return plane;
}

// --- the entries ---

TEST(TiffDecoders, EveryEntryDecodesWhatTheWriterStores)
{
    uint32_t written = 0;
    for (const TiffDecoderEntry& entry : TiffDecoders()) {
        if (Bilevel(entry)) continue;  // bilevel images are always written uncompressed
        for (bool little : {true, false}) {
            TempDir dir;
            std::string path = dir.File("w.tif");
            std::unique_ptr<CTiffIO> image = MakeTiffImage(path, kModeRgb, 37, 23, 1);
            image->Compression = static_cast<int32_t>(entry.compression);
            image->IntelByteOrder = little;
            image->WritePreview = 0;
            MessageCapture messages;
            if (WriteTiffFile(*image, path) != 1) {
                // The writer has no encoder for this compression.
                EXPECT_EQ(messages.Ids(), std::vector<int>{kMsgUnsupported}) << entry.name;
                break;
            }
            ++written;
            CTiffIO back(path.c_str());
            ASSERT_EQ(ReadTiff(back, path), 1) << entry.name;
            // JPEG holds no alpha: such an image is stored as Deflate.
            uint32_t stored = entry.compression == tiff::kJpeg ? tiff::kDeflate : entry.compression;
            EXPECT_EQ(back.Compression, static_cast<int32_t>(stored)) << entry.name;
            EXPECT_EQ(ImageMismatch(*image, back), "") << entry.name << " " << little;
            std::vector<std::vector<uint8_t>> planes;
            for (uint32_t k = 0; k < 3; ++k) planes.push_back(PlaneBytes(*image, k));
            CTiffIO reduced(path.c_str());
            ASSERT_EQ(OpenAndReadHead(reduced, path.c_str()), 1);
            EXPECT_EQ(ReducedMismatch(reduced, planes, 11, 7), "") << entry.name << " " << little;
        }
    }
    EXPECT_EQ(written, 10u);  // none, LZW, PackBits, Deflate and JPEG in both byte orders
}

TEST(TiffDecoders, StripsTooShortForTheirRowsAreReadByTheBound)
{
    for (const TiffDecoderEntry& entry : TiffDecoders()) {
        const Case& c = CaseOf(entry);
        if (entry.takes && !entry.takes(8, 1) && !entry.takes(1, 1)) continue;  // no grey images
        if (!TakesPlainImages(entry)) continue;
        // Two strips of rows rows, S stored bytes apiece: the smallest S that
        // may hold them is accepted, and one byte less too (the rows it cannot
        // reach read as 0). Widths on either side of a multiple of the bound
        // catch a bound too low or too high.
        uint16_t bits = Bilevel(entry) ? 1 : 8;
        uint32_t rows = c.rowsPerByte ? 3 : 1;
        std::vector<uint32_t> widths = {8};
        if (bits == 8) widths = {3 * c.bytesPerByte, 3 * c.bytesPerByte + 1};
        for (uint32_t width : widths) {
            uint32_t rowBytes = (width * bits + 7) / 8;
            uint64_t perByte = c.bytesPerByte + static_cast<uint64_t>(c.rowsPerByte) * rowBytes;
            uint32_t least = static_cast<uint32_t>((rows * rowBytes + perByte - 1) / perByte);
            for (uint32_t stored : {least, least - 1}) {
                TiffFixture f = PlainTiff(width, 2 * rows, bits, 1, bits == 1 ? 0 : 1, {}, rows);
                f.entries[3].values = {entry.compression};
                f.strips.assign(2, std::vector<uint8_t>(stored, 0));
                MessageCapture messages;
                std::unique_ptr<Opened> o = Open(f, true);
                EXPECT_EQ(o->head, 1) << entry.name << " " << width << " " << stored;
                EXPECT_EQ(messages.Ids(), std::vector<int>{}) << entry.name << " " << width << " " << stored;
            }
        }
    }
}

// Rows past the data read as 0 for 64 Mi pixels at the most: an image
// whose data falls further short is refused before planes are allocated.
TEST(TiffDecoders, DataFarShortOfItsRowsIsRefused)
{
    const uint32_t width = 8192, height = 8194;  // 64 Mi pixels and two rows
    // The directory after the strip (under 256 bytes) counts as data too.
    for (uint32_t stored : {2 * width + 256, 2 * width - 256}) {
        TiffFixture f = PlainTiff(width, height, 8, 1, 1, std::vector<uint8_t>(stored, 7), height);
        MessageCapture messages;
        std::unique_ptr<Opened> o = Open(f, true);
        EXPECT_EQ(o->head, stored > 2 * width ? 1 : 0) << stored;
        EXPECT_EQ(messages.Ids(), stored > 2 * width ? std::vector<int>{} : std::vector<int>{kMsgBadFileData}) << stored;
    }
}

// Horizontal differencing of rows of width pixels of samples samples of
// bits bits, in the byte order of a file.
std::vector<uint8_t> Differenced(const std::vector<uint8_t>& data, uint32_t width, uint32_t samples, uint16_t bits,
                                 bool little)
{
    std::vector<uint8_t> out(data);
    uint32_t bytes = bits / 8, rowBytes = width * samples * bytes;
    auto get = [&](size_t at) { return bytes == 1 ? data[at] : little ? data[at] | data[at + 1] << 8 : data[at] << 8 | data[at + 1]; };
    for (size_t row = 0; row < data.size(); row += rowBytes)
        for (uint32_t i = samples; i < width * samples; ++i) {
            size_t at = row + i * bytes;
            uint32_t d = (get(at) - get(at - samples * bytes)) & 0xFFFF;
            if (bytes == 1) out[at] = static_cast<uint8_t>(d);
            else if (little) out[at] = d & 0xFF, out[at + 1] = static_cast<uint8_t>(d >> 8);
            else out[at] = static_cast<uint8_t>(d >> 8), out[at + 1] = d & 0xFF;
        }
    return out;
}

TEST(TiffDecoders, PredictorIsUndoneAfterEveryEntryThatAllowsOne)
{
    struct Layout {
        uint16_t bits, samples;
    };
    const uint32_t width = 9, height = 7;
    for (const TiffDecoderEntry& entry : TiffDecoders()) {
        if (Bilevel(entry) || !Stores(entry)) continue;
        const Case& c = CaseOf(entry);
        for (Layout l : {Layout{8, 3}, Layout{16, 1}})
            for (bool little : {true, false}) {
                std::vector<uint8_t> data = Pattern(width * height * l.samples * l.bits / 8, l.bits);
                // Differenced rows read as the samples after an entry that takes
                // a predictor; after any other the tag is ignored.
                TiffFixture f = Stored(c, width, height, l.bits, l.samples,
                                       c.predictor ? Differenced(data, width, l.samples, l.bits, little) : data, 3,
                                       little);
                f.entries.push_back({317, 3, {2}, {}});
                std::unique_ptr<Opened> o = Open(f);
                ASSERT_EQ(o->head, 1) << entry.name;
                ASSERT_EQ(ReadWholeImage(*o->codec), 1) << entry.name;
                for (uint32_t k = 0; k < l.samples; ++k) {
                    std::vector<uint8_t> plane(width * height);
                    // 16-bit samples read as their high byte.
                    for (size_t i = 0; i < plane.size(); ++i)
                        plane[i] = l.bits == 8 ? data[i * l.samples + k] : data[2 * i + (little ? 1 : 0)];
                    EXPECT_EQ(PlaneBytes(*o->codec, k), plane) << entry.name << " " << l.bits << " " << little;
                }
            }
    }
}

TEST(TiffDecoders, BilevelImagesWithoutPhotometricTakeTheCompressionsDefault)
{
    for (const TiffDecoderEntry& entry : TiffDecoders()) {
        if (!Stores(entry)) continue;
        const Case& c = CaseOf(entry);
        TiffFixture f = Stored(c, 8, 2, 1, 1, {0x0F, 0xF0}, 2);
        f.entries.erase(f.entries.begin() + 4);  // PhotometricInterpretation
        std::unique_ptr<Opened> o = Open(f);
        ASSERT_EQ(o->head, 1) << entry.name;
        ASSERT_EQ(o->codec->PaletteSize, 2u) << entry.name;
        EXPECT_EQ(o->codec->Palette[0], c.whiteIsZero ? 255 : 0) << entry.name;
        ASSERT_EQ(ReadWholeImage(*o->codec), 1) << entry.name;
        EXPECT_EQ(PlaneBytes(*o->codec, 0), Unpacked({0x0F, 0xF0}, 1, 8, 2)) << entry.name;
    }
}

TEST(TiffDecoders, ReducedReadsTakeTheFirstRowAndColumnOfEachOutputPixel)
{
    const uint32_t height = 23;
    for (const TiffDecoderEntry& entry : TiffDecoders()) {
        if (!Stores(entry)) continue;
        uint16_t bits = Bilevel(entry) ? 1 : 8;
        uint32_t width = bits == 1 ? 8 : 13;
        std::vector<uint8_t> data = Pattern((width * bits + 7) / 8 * height, 5);
        std::vector<std::vector<uint8_t>> planes = {Unpacked(data, bits, width, height)};
        // Strips of 5 rows, and one strip of the whole image.
        for (uint32_t rowsPerStrip : {5u, height}) {
            TiffFixture f = Stored(CaseOf(entry), width, height, bits, 1, data, rowsPerStrip);
            struct Size {
                uint32_t w, h;
            };
            for (Size s : {Size{width, height}, Size{5, 7}, Size{6, 11}, Size{1, 1}}) {
                std::unique_ptr<Opened> o = Open(f);
                ASSERT_EQ(o->head, 1) << entry.name;
                EXPECT_EQ(ReducedMismatch(*o->codec, planes, s.w, s.h), "")
                    << entry.name << " " << rowsPerStrip << " " << s.w << " x " << s.h;
            }
            // The whole read gives every row.
            std::unique_ptr<Opened> o = Open(f);
            ASSERT_EQ(ReadWholeImage(*o->codec), 1) << entry.name;
            EXPECT_EQ(PlaneBytes(*o->codec, 0), planes[0]) << entry.name;
        }
    }
}

}  // namespace
