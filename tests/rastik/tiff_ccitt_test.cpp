// CCITT fax decoding: hand-made bit streams for the coding rules and the
// ways damaged data ends, then libtiff's Group 3 and Group 4 output of
// bilevel images (both fill orders, byte-aligned end-of-line codes, several
// strips) and the corpus fax files, decoded through a span and through the
// strip reader and compared with libtiff's uncompressed copy; and damaged
// copies of all of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "TestUtil.h"
#include "platform/CFile.h"
#include "rastik/tiff/CTiffCcittDecoder.h"
#include "rastik/tiff/CTiffStripBytes.h"
#include "tiff_strip_files.h"
#include "tiff_util.h"

using namespace testutil;

namespace {

using Coding = CTiffCcittDecoder::Coding;

// A packed row as a string of its width's bits.
std::string RowText(const uint8_t* row, uint32_t width)
{
    std::string s;
    for (uint32_t x = 0; x < width; ++x) s += (row[x >> 3] >> (7 - (x & 7))) & 1 ? '1' : '0';
    return s;
}

constexpr const char* kEol = "000000000001 ";

TEST(TiffCcitt, HandMadeStreams)
{
    struct Case {
        const char* what;
        Coding coding;
        uint32_t options;
        uint32_t width;
        std::string bits;
        std::vector<std::string> rows;  // rows, and whether each decodes whole ('+')
        std::string whole;
    };
    const std::string eol = kEol;
    const Case kCases[] = {
        {"T.6 horizontal then vertical", Coding::kGroup4, 0, 8, "001 1000 11 1  1 1 1", {"00011000", "00011000"}, "++"},
        {"T.6 pass mode", Coding::kGroup4, 0, 8, "001 1000 11 1  0001 1", {"00011000", "00000000"}, "++"},
        {"T.6 vertical offsets", Coding::kGroup4, 0, 8, "001 1000 11 1  010 000011 1", {"00011000", "00111110"}, "++"},
        // Writers code against both changing elements of a run of no pixels.
        {"T.6 runs of no pixels", Coding::kGroup4, 0, 8, "001 00110101 0000110111 1  0001 001 1000 11 1",
         {"00000000", "00011000"}, "++"},
        {"T.6 row starting black", Coding::kGroup4, 0, 4, "001 00110101 011", {"1111"}, "+"},
        {"T.6 fault: the rest of the strip is white", Coding::kGroup4, 0, 8,
         "001 1000 11 1  0000001 111 1", {"00011000", "00000000", "00000000"}, "+--"},
        {"T.6 data ending in a row", Coding::kGroup4, 0, 8, "001 1000", {"00000000", "00000000"}, "--"},
        {"Group 3 with end-of-line codes", Coding::kGroup3, 0, 8, eol + "10011" + eol + "0111 0010",
         {"00000000", "00111111"}, "++"},
        {"Group 3 without end-of-line codes", Coding::kGroup3, 0, 8, "0111 0010 1000 011 000111",
         {"00111111", "00011110"}, "++"},
        {"Group 3 byte-aligned end-of-line codes", Coding::kGroup3, 4, 8, "0000" + eol + "10011 0000000" + eol + "1000 10 0111",
         {"00000000", "00011100"}, "++"},
        {"Group 3 two-dimensional rows", Coding::kGroup3, 1, 8, eol + "1 1000 0011" + eol + "0 1 1" + eol + "1 10011",
         {"00011111", "00011111", "00000000"}, "+++"},
        {"Group 3 end of page passed over", Coding::kGroup3, 1, 8,
         eol + "1 10011" + eol + "1" + eol + "1" + eol + "1", {"00000000", "00000000"}, "+-"},
        {"Group 3 end-of-line code cuts a row", Coding::kGroup3, 0, 8, eol + "1000" + eol + "0111 0010",
         {"00000000", "00111111"}, "-+"},
        {"Group 3 bad code: on at the next end-of-line code", Coding::kGroup3, 0, 8,
         eol + "0111 10 000000001 1010" + eol + "1000 0011", {"00111000", "00011111"}, "-+"},
        {"Group 3 run past the width is cut", Coding::kGroup3, 0, 4, eol + "0111 0011" + eol + "1011",
         {"0011", "0000"}, "++"},
        {"Modified Huffman rows start on a byte", Coding::kModifiedHuffman, 0, 10, "1000 00011 0000000 00111",
         {"0001111111", "0000000000"}, "++"},
        {"Modified Huffman make-up and terminating codes", Coding::kModifiedHuffman, 0, 1728,
         "010011011 00110101", {std::string(1728, '0')}, "+"},
    };
    for (const Case& c : kCases) {
        CTiffCcittDecoder decoder(c.width, c.coding, c.options);
        ASSERT_TRUE(decoder.Ok()) << c.what;
        std::vector<uint8_t> data = Bits(c.bits);
        decoder.Start(data.data(), data.size());
        std::vector<uint8_t> row(decoder.RowBytes());
        for (size_t r = 0; r < c.rows.size(); ++r) {
            bool whole = decoder.DecodeRow(row.data());
            EXPECT_EQ(RowText(row.data(), c.width), c.rows[r]) << c.what << " row " << r;
            EXPECT_EQ(whole, c.whole[r] == '+') << c.what << " row " << r;
        }
    }
}

// A fax file's strips as stored, and what the decoder needs of its
// directory.
struct FaxFile {
    std::string path;
    uint32_t width = 0, height = 0, compression = 1, options = 0, rowsPerStrip = 0;
    bool reversed = false;
    std::vector<uint32_t> offsets, counts;
    std::vector<std::vector<uint8_t>> strips;

    uint32_t RowBytes() const { return (width + 7) / 8; }
    Coding coding() const
    {
        return compression == 4 ? Coding::kGroup4 : compression == 3 ? Coding::kGroup3 : Coding::kModifiedHuffman;
    }
};

bool LoadFax(const std::string& path, FaxFile* f)
{
    StripFile file;
    if (!LoadStripFile(path, &file)) return false;
    f->path = path;
    f->width = file.Width();
    f->height = file.Height();
    f->compression = file.Unsigned(259, 1);
    f->options = file.Unsigned(f->compression == 4 ? 293 : 292);
    f->rowsPerStrip = file.RowsPerStrip();
    f->reversed = file.Unsigned(266, 1) == 2;
    f->offsets = file.offsets;
    f->counts = file.counts;
    f->strips = file.strips;
    return f->width > 0 && f->rowsPerStrip > 0 && !f->strips.empty();
}

uint8_t Reversed(uint8_t b)
{
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i)
        if (b & (1 << i)) r |= static_cast<uint8_t>(0x80 >> i);
    return r;
}

// Every row of the image (rows of missing strips stay 0); rows for which
// skip says so are passed over and left 0. whole: whether every row
// decoded whole.
template <class Skip>
std::vector<uint8_t> DecodeSpans(const FaxFile& f, Skip skip, bool* whole = nullptr)
{
    std::vector<uint8_t> image(size_t(f.RowBytes()) * f.height);
    std::vector<uint8_t> data;
    CTiffCcittDecoder decoder(f.width, f.coding(), f.options);
    bool all = true;
    for (uint32_t r = 0; r < f.height; ++r) {
        size_t s = r / f.rowsPerStrip;
        if (s >= f.strips.size()) break;
        if (r % f.rowsPerStrip == 0) {
            data = f.strips[s];
            if (f.reversed) std::transform(data.begin(), data.end(), data.begin(), Reversed);
            decoder.Start(data.data(), data.size());
        }
        all &= skip(r) ? decoder.SkipRow() : decoder.DecodeRow(image.data() + size_t(r) * f.RowBytes());
    }
    if (whole) *whole = all;
    return image;
}

std::vector<uint8_t> DecodeSpans(const FaxFile& f)
{
    return DecodeSpans(f, [](uint32_t) { return false; });
}

// The same through today's strip reader with its smallest window, which
// also turns the bits round for FillOrder 2.
std::vector<uint8_t> DecodeStripBytes(const FaxFile& f)
{
    std::vector<uint8_t> image(size_t(f.RowBytes()) * f.height);
    CFile file;
    if (!file.Open(f.path.c_str(), CFile::modeRead | CFile::typeBinary)) return {};
    CTiffStripBytes bytes(file, file.GetLength(), f.reversed);
    if (!bytes.Reserve(1)) return {};
    CTiffCcittDecoder decoder(f.width, f.coding(), f.options);
    for (uint32_t r = 0; r < f.height; ++r) {
        size_t s = r / f.rowsPerStrip;
        if (s >= f.strips.size()) break;
        if (r % f.rowsPerStrip == 0) {
            bytes.Start(f.offsets[s], f.counts[s]);
            decoder.Start(bytes);
        }
        decoder.DecodeRow(image.data() + size_t(r) * f.RowBytes());
    }
    return image;
}

// libtiff's uncompressed rows of a file, most significant bit first.
bool LibtiffRows(const std::string& path, const std::string& scratch, std::vector<uint8_t>* rows)
{
    if (RunCommand("/usr/bin/tiffcp -c none -f msb2lsb -r 1000000 " + Quote(path) + " " + Quote(scratch) +
                       " 2>/dev/null", nullptr) != 0)
        return false;
    FaxFile plain;
    if (!LoadFax(scratch, &plain) || plain.strips.size() != 1) return false;
    *rows = plain.strips[0];
    return true;
}

// Bilevel sources (noise, blobs, tiny and solid images) written by libtiff
// in each fax coding, and by PIL as Modified Huffman rows.
class TiffCcittFiles : public MadeFilesTest<TiffCcittFiles> {
public:
    static void MakeFiles(MadeFiles& made)
    {
        made.Make({"-size 1811x45 -seed 5 plasma: -monochrome",
                   "-size 2481x70 -seed 3 plasma: -blur 0x6 -colorspace gray -threshold 50% -monochrome",
                   "-size 1x9 -seed 2 plasma: -monochrome", "-size 13x7 -seed 7 plasma: -monochrome",
                   "-size 64x4 xc:black -monochrome"},
                  "-type bilevel -depth 1",
                  {"-c g3", "-c g3:2d", "-c g3:fill", "-c g3:2d:fill -r 7", "-c g4", "-c g4 -r 5 -f lsb2msb",
                   "-c g3:2d -f lsb2msb", "-c g3 -r 1"});
        for (const std::string& plain : made.plains) {
            std::string path = made.NewPath();
            if (HasPil() &&
                RunCommand(std::string(kSystemPython) + " -c \"import sys; from PIL import Image; "
                           "Image.open(sys.argv[1]).save(sys.argv[2], compression='tiff_ccitt')\" " +
                               Quote(plain) + " " + Quote(path) + " 2>/dev/null", nullptr) == 0)
                made.files.push_back({path, plain, plain + " PIL tiff_ccitt"});
        }
    }
};

TEST_F(TiffCcittFiles, DecodeAsLibtiff)
{
    EXPECT_GE(s_made->files.size(), HasPil() ? 45u : 40u);
    TempDir scratch;
    for (const MadeFile& m : s_made->files) {
        FaxFile f;
        ASSERT_TRUE(LoadFax(m.path, &f)) << m.what;
        std::vector<uint8_t> expected;
        ASSERT_TRUE(LibtiffRows(m.plain, scratch.File("plain.tif"), &expected)) << m.what;
        EXPECT_EQ(FirstDifference(DecodeSpans(f), expected, f.RowBytes()), "") << m.what;
        EXPECT_EQ(FirstDifference(DecodeStripBytes(f), expected, f.RowBytes()), "") << m.what;
        // Rows passed over leave the rows below them right.
        auto skip = [](uint32_t r) { return r % 3 == 1; };
        std::vector<uint8_t> skipped = DecodeSpans(f, skip);
        for (uint32_t r = 0; r < f.height; ++r)
            if (skip(r)) std::fill_n(expected.begin() + size_t(r) * f.RowBytes(), f.RowBytes(), 0);
        EXPECT_EQ(FirstDifference(skipped, expected, f.RowBytes()), "") << m.what << " (rows skipped)";
    }
}

// Truncated and mutated copies of every strip decode to the end, under the
// sanitizers too, whatever the rows hold.
TEST_F(TiffCcittFiles, DamagedStripsEndCleanly)
{
    std::vector<std::string> paths;
    for (const MadeFile& m : s_made->files) paths.push_back(m.path);
    std::string corpus = CorpusDir("tiff");
    for (const char* name : {"testfax4.tiff", "testfax3_bug54_1dnoEOL.tif", "testfax3_bug_513.tiff"})
        if (!corpus.empty()) paths.push_back(corpus + "/" + name);
    std::mt19937 random(22);
    for (const std::string& path : paths) {
        FaxFile f;
        if (!LoadFax(path, &f)) continue;
        std::vector<uint8_t> row(f.RowBytes());
        CTiffCcittDecoder decoder(f.width, f.coding(), f.options);
        for (size_t s = 0; s < f.strips.size() && s < 2; ++s) {
            const std::vector<uint8_t>& stored = f.strips[s];
            for (int round = 0; round < 40; ++round) {
                std::vector<uint8_t> data(stored.begin(), stored.begin() + (round < 8 ? stored.size() * round / 8 : stored.size()));
                for (int flips = round < 8 || data.empty() ? 0 : 1 + int(random() % 8); flips > 0; --flips)
                    data[random() % data.size()] ^= static_cast<uint8_t>(1u << (random() % 8));
                decoder.Start(data.data(), data.size());
                for (uint32_t r = 0; r < f.rowsPerStrip; ++r)
                    if (r % 5 == 4) decoder.SkipRow(); else decoder.DecodeRow(row.data());
            }
        }
    }
}

// Every fax file of the corpus against libtiff's decoding of it, where
// libtiff decodes it.
TEST(TiffCcittCorpus, DecodesAsLibtiff)
{
    std::string dir = CorpusDir("tiff");
    if (dir.empty() || !HasTiffTools()) GTEST_SKIP() << "no ../shared/corpus/tiff or libtiff tools";
    TempDir scratch;
    int seen = 0;
    for (const std::string& path : ListFiles(dir, "", "")) {
        FaxFile f;
        if (!LoadFax(path, &f) || f.compression < 2 || f.compression > 4) continue;
        ++seen;
        std::vector<uint8_t> expected;
        if (!LibtiffRows(path, scratch.File("plain.tif"), &expected)) {
            // libtiff stops at the first row of these; every row is whole.
            std::cout << path << ": libtiff does not decode it\n";
            bool whole = false;
            DecodeSpans(f, [](uint32_t) { return false; }, &whole);
            EXPECT_TRUE(whole) << path;
            continue;
        }
        EXPECT_EQ(FirstDifference(DecodeSpans(f), expected, f.RowBytes()), "") << path;
        EXPECT_EQ(FirstDifference(DecodeStripBytes(f), expected, f.RowBytes()), "") << path;
    }
    EXPECT_GE(seen, 3);
}

}  // namespace
