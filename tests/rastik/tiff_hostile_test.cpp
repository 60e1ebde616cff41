// Hostile TIFF input: truncated copies and random mutations of real files
// (corpus files and files libtiff made in the compressions the reader
// takes) must fail cleanly or decode, under the sanitizers too. The rounds
// of mutation can be raised by hand with RASTIK_TIFF_MUTATIONS.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

#include "TestUtil.h"
#include "TiffFixture.h"
#include "rastik/Exports.h"
#include "rastik/CTiffIO.h"
#include "rastik/General.h"
#include "rastik/Messages.h"
#include "tiff_util.h"

using namespace testutil;

namespace {

// Images a host would not allocate planes for are only read reduced.
constexpr uint64_t kMaxPlaneBytes = 16u << 20;

// Every read of a file; their results do not matter, only that they end.
void Exercise(const std::string& path)
{
    {
        CTiffIO codec(path.c_str());
        if (!OpenAndReadHead(codec, path.c_str())) return;
        uint64_t bytes = uint64_t(BytesPerRow(codec.Width * 8)) * codec.Height * codec.ChannelCount;
        if (bytes <= kMaxPlaneBytes) ReadWholeImage(codec);
    }
    {
        CTiffIO codec(path.c_str());
        if (!OpenAndReadHead(codec, path.c_str())) return;
        uint32_t width = 0, height = 0;
        uint8_t* preview = nullptr;
        if (codec.ReadPrevImageData(width, height, preview)) FreeBuffer(&preview);
        codec.ReadPath();
    }
}

class TiffHostileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string corpus = CorpusDir("tiff");
        if (!corpus.empty())
            for (const std::string& f : ListFiles(corpus, "", ""))
                if (ReadBytes(f).size() <= 50000) files.push_back(f);
        if (HasTiffTools() && HasConvert()) {
            std::string source = dir.File("source.tif");
            const char* const kMade[] = {"-c lzw:2", "-c packbits -p separate", "-B -c lzw -r 3", "-c zip:2 -r 5",
                                         "-c jpeg -r 16", "-c lzma -r 7", "-B -c zstd:2 -r 4", "-c webp -r 8",
                                         "-t -w 16 -l 16 -c lzw:2", "-t -w 16 -l 16 -c jpeg",
                                         "-B -t -w 32 -l 16 -c zip -p separate"};
            ASSERT_EQ(RunCommand(std::string(kConvert) + " -size 41x23 -seed 9 plasma: -depth 8 -compress none " +
                                     Quote(source), nullptr), 0);
            for (const char* options : kMade) {
                files.push_back(dir.File("made" + std::to_string(files.size()) + ".tif"));
                ASSERT_EQ(RunCommand("/usr/bin/tiffcp " + std::string(options) + " " + Quote(source) + " " +
                                         Quote(files.back()), nullptr), 0);
            }
        }
        // Fax codings of a bilevel page, and floating point samples.
        if (HasTiffTools() && HasConvert()) {
            std::string page = dir.File("bilevel.tif"), floats = dir.File("float.tif");
            ASSERT_EQ(RunCommand(std::string(kConvert) + " -size 97x31 -seed 9 plasma: -monochrome -depth 1 -compress none " +
                                     Quote(page) + " && " + kConvert + " -size 23x11 -seed 9 plasma: " +
                                     "-define quantum:format=floating-point -depth 32 -compress zip " +
                                     "-define tiff:predictor=3 " + Quote(floats) + " 2>/dev/null",
                                 nullptr), 0);
            files.push_back(floats);
            for (const char* options : {"-c g3:2d:fill", "-c g3 -f lsb2msb", "-c g4 -r 9"}) {
                files.push_back(dir.File("fax" + std::to_string(files.size()) + ".tif"));
                ASSERT_EQ(RunCommand("/usr/bin/tiffcp " + std::string(options) + " " + Quote(page) + " " +
                                         Quote(files.back()), nullptr), 0);
            }
        }
        // BigTIFF in both byte orders, pages, SubIFDs and a chain that loops.
        for (bool little : {true, false}) {
            TiffFixture f = PlainTiff(11, 9, 8, 3, 2, std::vector<uint8_t>(297, 0x71), 4, little);
            TiffFixture big = f;
            big.bigTiff = true;
            const std::pair<const char*, std::vector<uint8_t>> kMade[] = {
                {"big", MakeTiff(big)},
                {"pages", MakeTiffPages({f, f}, little ? -1 : 0)},
                {"big-pages", MakeTiffPages({big, big}, little ? 1 : -1, {big})},
            };
            for (const auto& [name, bytes] : kMade) {
                files.push_back(dir.File(std::string(name) + (little ? "-ii.tif" : "-mm.tif")));
                ASSERT_TRUE(WriteBytes(files.back(), bytes));
            }
        }
        // Clip paths in both byte orders; Modified Huffman data through PIL.
        for (bool little : {true, false}) {
            TiffFixture f = PlainTiff(30, 20, 4, 1, 3, std::vector<uint8_t>(300, 0x5A), 7, little);
            f.entries.push_back({320, 3, std::vector<uint32_t>(48, 40000), {}});
            f.entries.push_back({34377, 7, {}, PathResource(2000, {{true, {{0.1, 0.2}, {0.9, 0.5}}}, {false, {{0.5, 0.5}}}})});
            files.push_back(dir.File(little ? "paths-ii.tif" : "paths-mm.tif"));
            ASSERT_TRUE(WriteBytes(files.back(), MakeTiff(f)));
        }
        // L*a*b* of 8 and 16 bits, and YCbCr data units.
        if (HasConvert()) {
            for (const char* options : {"-depth 8 -compress lzw", "-depth 16 -compress none"}) {
                files.push_back(dir.File("lab" + std::to_string(files.size()) + ".tif"));
                ASSERT_EQ(RunCommand(std::string(kConvert) + " -size 23x17 -seed 9 plasma: -colorspace Lab " + options +
                                         " " + Quote(files.back()), nullptr), 0);
            }
        }
        TiffFixture ycc = PlainTiff(23, 17, 8, 3, 6, std::vector<uint8_t>(12 * 9 * 6, 0x71), 6);
        ycc.entries.push_back({530, 3, {2, 2}, {}});
        ycc.entries.push_back({532, 5, {16, 1, 235, 1, 128, 1, 240, 1, 128, 1, 240, 1}, {}});
        files.push_back(dir.File("ycc.tif"));
        ASSERT_TRUE(WriteBytes(files.back(), MakeTiff(ycc)));
        if (HasPil() && HasConvert()) {
            std::string page = dir.File("page.png");
            files.push_back(dir.File("mh.tif"));
            ASSERT_EQ(RunCommand(std::string(kConvert) + " -size 300x40 -seed 4 plasma: -monochrome " + Quote(page) +
                                     " && " + kSystemPython +
                                     " -c \"import sys; from PIL import Image; Image.open(sys.argv[1]).convert('1')"
                                     ".save(sys.argv[2], compression='tiff_ccitt')\" " +
                                     Quote(page) + " " + Quote(files.back()), nullptr), 0);
        }
    }

    TempDir dir;
    std::vector<std::string> files;
};

// Little-endian numbers of n bytes at p of a built file.
uint64_t GetLE(const std::vector<uint8_t>& b, size_t p, uint32_t n)
{
    uint64_t v = 0;
    for (uint32_t i = 0; i < n; ++i) v |= uint64_t{b.at(p + i)} << (8 * i);
    return v;
}

void PutLE(std::vector<uint8_t>& b, size_t p, uint32_t n, uint64_t v)
{
    for (uint32_t i = 0; i < n; ++i) b.at(p + i) = static_cast<uint8_t>(v >> (8 * i));
}

// A little-endian BigTIFF file and where its first directory's parts lie.
struct BigFile {
    std::vector<uint8_t> bytes;
    size_t directory = 0;
    size_t Entry(uint16_t tag) const
    {
        for (size_t e = 0; e < GetLE(bytes, directory, 8); ++e)
            if (GetLE(bytes, directory + 8 + e * 20, 2) == tag) return directory + 8 + e * 20;
        return 0;
    }
    size_t Next() const { return directory + 8 + GetLE(bytes, directory, 8) * 20; }
};

BigFile MakeBig(std::vector<TiffFixture> pages)
{
    for (TiffFixture& p : pages) p.bigTiff = true;
    BigFile f;
    f.bytes = MakeTiffPages(pages);
    f.directory = static_cast<size_t>(GetLE(f.bytes, 8, 8));
    return f;
}

TEST(TiffHostileDirectory, BigTiffAndChainDamageFailsCleanly)
{
    TempDir dir;
    const TiffFixture grey = PlainTiff(6, 5, 8, 1, 1, std::vector<uint8_t>(30, 0x3C), 2);
    struct Case {
        const char* name;
        void (*damage)(BigFile&);
        int message;      // of the header read; 0: it reads
        uint32_t pages;   // GetPageCount
    };
    const Case kCases[] = {
        {"entry count 2^40", [](BigFile& f) { PutLE(f.bytes, f.directory, 8, 1ull << 40); }, kMsgBadFileData, 0},
        {"entry count past the end", [](BigFile& f) { PutLE(f.bytes, f.directory, 8, 9000); }, kMsgBadFileData, 0},
        {"first directory past the end", [](BigFile& f) { PutLE(f.bytes, 8, 8, 1ull << 62); }, kMsgBadFileData, 0},
        {"offset size 4", [](BigFile& f) { PutLE(f.bytes, 4, 2, 4); }, kMsgBadFileData, 0},
        {"header word 6 not 0", [](BigFile& f) { PutLE(f.bytes, 6, 2, 1); }, kMsgBadFileData, 0},
        {"header cut at 12 bytes", [](BigFile& f) { f.bytes.resize(12); }, kMsgBadFileData, 0},
        {"strip offset 2^62", [](BigFile& f) { PutLE(f.bytes, f.Entry(273) + 12, 8, 1ull << 62); }, kMsgBadFileData, 2},
        {"strip table count 2^60", [](BigFile& f) { PutLE(f.bytes, f.Entry(273) + 4, 8, 1ull << 60); }, kMsgBadFileData, 2},
        {"bits count 2^63", [](BigFile& f) { PutLE(f.bytes, f.Entry(258) + 4, 8, 1ull << 63); }, kMsgBadFileData, 2},
        {"IFD8 loop to itself", [](BigFile& f) { PutLE(f.bytes, f.Next(), 8, f.directory); }, 0, 1},
        {"next directory past the end", [](BigFile& f) { PutLE(f.bytes, f.Next(), 8, 1ull << 50); }, 0, 1},
        {"next directory cut short", [](BigFile& f) { PutLE(f.bytes, f.Next(), 8, f.bytes.size() - 4); }, 0, 1},
    };
    std::string path = dir.File("damaged.tif");
    for (const Case& c : kCases) {
        BigFile f = MakeBig({grey, grey});
        ASSERT_NE(f.Entry(273), 0u);
        c.damage(f);
        ASSERT_TRUE(WriteBytes(path, f.bytes));
        CTiffIO codec(path.c_str());
        EXPECT_EQ(OpenAndReadHead(codec, path.c_str()), c.message ? 0 : 1) << c.name;
        EXPECT_EQ(codec.GetLastMessage(), c.message) << c.name;
        EXPECT_EQ(codec.GetPageCount(), c.pages) << c.name;
        for (uint32_t page : {1u, 2u}) {
            CTiffIO later(path.c_str());
            later.Page = page;
            if (OpenAndReadHead(later, path.c_str())) ReadWholeImage(later);
        }
        Exercise(path);
    }
}

TEST_F(TiffHostileTest, TruncatedCopiesFailCleanly)
{
    std::string cut = dir.File("cut.tif");
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        std::vector<uint8_t> bytes = ReadBytes(file);
        ASSERT_TRUE(WriteBytes(cut, bytes));
        size_t step = 1 + bytes.size() / 40;
        for (size_t len = bytes.size(); len-- > 0;) {
            if (len % step != 0 && len > 16) continue;
            ASSERT_EQ(truncate(cut.c_str(), static_cast<off_t>(len)), 0);
            Exercise(cut);
        }
    }
}

TEST_F(TiffHostileTest, RandomMutationsFailCleanly)
{
    const char* more = getenv("RASTIK_TIFF_MUTATIONS");
    const int rounds = more ? atoi(more) : 1500;
    std::vector<std::vector<uint8_t>> sources;
    std::vector<std::string> copies;
    for (const std::string& file : files) {
        sources.push_back(ReadBytes(file));
        copies.push_back(dir.File("m" + std::to_string(copies.size()) + ".tif"));
        ASSERT_TRUE(WriteBytes(copies.back(), sources.back()));
    }
    std::mt19937 random(20240919u);
    for (int n = 0; n < rounds; ++n) {
        size_t which = random() % sources.size();
        const std::vector<uint8_t>& bytes = sources[which];
        int fd = open(copies[which].c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        // Edits land in the directory (at the end of many files), in the
        // header, or anywhere.
        std::vector<size_t> edited;
        for (int e = 1 + static_cast<int>(random() % 4); e > 0; --e) {
            size_t at = random() % bytes.size();
            if (random() % 3 == 0) at = random() % std::min<size_t>(bytes.size(), 16);
            uint8_t v = random() % 2 ? static_cast<uint8_t>(bytes[at] ^ (1u << (random() % 8)))
                                     : static_cast<uint8_t>(random());
            ASSERT_EQ(pwrite(fd, &v, 1, static_cast<off_t>(at)), 1);
            edited.push_back(at);
        }
        Exercise(copies[which]);
        for (size_t at : edited) ASSERT_EQ(pwrite(fd, &bytes[at], 1, static_cast<off_t>(at)), 1);
        close(fd);
    }
}

// Sets item index of a SHORT or LONG entry of the first directory.
void SetItem(std::vector<uint8_t>& file, uint16_t tag, uint32_t index, uint32_t value)
{
    TiffDirectory d;
    ASSERT_TRUE(ParseTiffDirectory(file, &d));
    uint32_t count = d.little ? file[d.offset] | file[d.offset + 1] << 8 : file[d.offset] << 8 | file[d.offset + 1];
    for (uint32_t i = 0; i < count; ++i) {
        size_t at = d.offset + 2 + 12 * size_t(i);
        uint16_t t = uint16_t(d.little ? file[at] | file[at + 1] << 8 : file[at] << 8 | file[at + 1]);
        if (t != tag) continue;
        const TiffField& f = d[tag];
        uint32_t size = f.type == 3 ? 2 : 4;
        size_t item = f.count * size <= 4 ? at + 8 + index * size : f.valueField + size_t(index) * size;
        for (uint32_t b = 0; b < size && item + b < file.size(); ++b)
            file[item + b] = uint8_t(value >> (8 * (d.little ? b : size - 1 - b)));
        return;
    }
    ADD_FAILURE() << "no tag " << tag;
}

// Colour layouts gone wrong: old-style JPEG heads and tables out of place,
// L*a*b* and YCbCr of samples and subsampling the reader does not take,
// LogLuv rows of runs past the row and data that ends inside them.
TEST_F(TiffHostileTest, ColourVariantsFailCleanly)
{
    struct Variant {
        const char* what;
        const char* corpus;  // a corpus file to edit, or null for a fixture
        void (*edit)(std::vector<uint8_t>& file);
    };
    const Variant kVariants[] = {
        {"interchange at the end", "ojpeg_chewey_subsamp21_multi_strip.tiff",
         [](std::vector<uint8_t>& b) { SetItem(b, 513, 0, uint32_t(b.size() - 5)); }},
        {"interchange past the end", "ojpeg_chewey_subsamp21_multi_strip.tiff",
         [](std::vector<uint8_t>& b) { SetItem(b, 513, 0, 0xFFFFFFF0u); }},
        {"interchange of 4 GiB", "ojpeg_chewey_subsamp21_multi_strip.tiff",
         [](std::vector<uint8_t>& b) { SetItem(b, 514, 0, 0xFFFFFFFFu); }},
        {"interchange cut inside its frame", "ojpeg_chewey_subsamp21_multi_strip.tiff",
         [](std::vector<uint8_t>& b) { SetItem(b, 514, 0, 200); }},
        {"strips of 4 GiB", "ojpeg_chewey_subsamp21_multi_strip.tiff",
         [](std::vector<uint8_t>& b) { for (uint32_t i = 0; i < 24; ++i) SetItem(b, 279, i, 0xFFFFFFFFu); }},
        {"quantisation table cut", "ojpeg_single_strip_no_rowsperstrip.tiff",
         [](std::vector<uint8_t>& b) { SetItem(b, 519, 1, uint32_t(b.size() - 10)); }},
        {"Huffman tables cut", "ojpeg_single_strip_no_rowsperstrip.tiff",
         [](std::vector<uint8_t>& b) { SetItem(b, 520, 0, uint32_t(b.size() - 3)), SetItem(b, 521, 2, 0xFFFFFFFFu); }},
        {"Huffman table of no codes", "ojpeg_single_strip_no_rowsperstrip.tiff",
         [](std::vector<uint8_t>& b) { SetItem(b, 521, 0, 0); }},
        {"L*a*b* of 5 samples", nullptr, [](std::vector<uint8_t>& b) {
             b = MakeTiff(PlainTiff(9, 4, 8, 5, 8, std::vector<uint8_t>(180, 0x90), 2));
         }},
        {"L*a*b* of 1 sample", nullptr, [](std::vector<uint8_t>& b) {
             b = MakeTiff(PlainTiff(9, 4, 16, 1, 9, std::vector<uint8_t>(72, 0x90), 2));
         }},
        {"YCbCr subsampled 4 x 4, strips of 3 rows", nullptr, [](std::vector<uint8_t>& b) {
             TiffFixture f = PlainTiff(9, 7, 8, 3, 6, std::vector<uint8_t>(40, 0x33), 3);
             f.entries.push_back({530, 3, {4, 4}, {}});
             b = MakeTiff(f);
         }},
        {"LogLuv runs past the row", nullptr, [](std::vector<uint8_t>& b) {
             TiffFixture f = PlainTiff(5, 3, 16, 3, 32845, std::vector<uint8_t>(64, 0xFF), 3);
             f.entries[3].values = {34676};
             b = MakeTiff(f);
         }},
        {"LogL literals past the data", nullptr, [](std::vector<uint8_t>& b) {
             TiffFixture f = PlainTiff(300, 2, 16, 1, 32844, std::vector<uint8_t>{127, 1, 2}, 2);
             f.entries[3].values = {34676};
             b = MakeTiff(f);
         }},
    };
    std::string corpus = CorpusDir("tiff");
    std::string path = dir.File("variant.tif");
    for (const Variant& v : kVariants) {
        std::vector<uint8_t> bytes;
        if (v.corpus) {
            if (corpus.empty()) continue;
            bytes = ReadBytes(corpus + "/" + v.corpus);
        }
        v.edit(bytes);
        ASSERT_TRUE(WriteBytes(path, bytes)) << v.what;
        SCOPED_TRACE(v.what);
        Exercise(path);
    }
}

void SetTag(TiffFixture& f, uint16_t tag, uint32_t value)
{
    for (TiffEntry& e : f.entries)
        if (e.tag == tag) e.values = {value};
}

// Tiled files whose tile fields do not fit the image or the file: refused
// by the header read with its message, or read cleanly.
TEST(TiffHostileTiles, TileFieldsThatDoNotFitFailCleanly)
{
    struct Case {
        const char* what;
        void (*edit)(TiffFixture&);
        uint16_t patchTag;  // a LONG item of this array entry set to patchValue, when not 0
        uint32_t patchItem, patchValue;
        int message;  // 0: the file reads
    };
    const Case kCases[] = {
        {"a tile past the end of the file", nullptr, 324, 4, 0x7FFFFF00u, kMsgBadFileData},
        {"a tile of 0 bytes", nullptr, 325, 2, 0, kMsgBadFileData},
        {"a tile fewer than the image needs", [](TiffFixture& f) { f.strips.pop_back(); }, 0, 0, 0, kMsgBadFileData},
        {"more tiles than the image needs", [](TiffFixture& f) { f.strips.push_back(f.strips[0]); }, 0, 0, 0, 0},
        {"TileWidth 0", [](TiffFixture& f) { SetTag(f, 322, 0); }, 0, 0, 0, kMsgUnsupported},
        {"TileWidth past a row's bits", [](TiffFixture& f) { SetTag(f, 322, 0x7FFFFFFFu); }, 0, 0, 0,
         kMsgBadFileData},
        {"tiles longer than their bytes", [](TiffFixture& f) { SetTag(f, 323, 0x40000000u); }, 0, 0, 0,
         kMsgBadFileData},
        {"a band past the memory it may take", [](TiffFixture& f) {
             SetTag(f, 259, 5);
             SetTag(f, 322, 1u << 26);
         }, 0, 0, 0, kMsgBadFileData},
        {"compressed tiles without byte counts", [](TiffFixture& f) {
             SetTag(f, 259, 32773);
             for (auto& tile : f.strips) {
                 std::vector<uint8_t> packed;
                 for (size_t i = 0; i < tile.size(); i += 5) {
                     size_t n = std::min<size_t>(5, tile.size() - i);
                     packed.push_back(static_cast<uint8_t>(n - 1));
                     packed.insert(packed.end(), tile.begin() + i, tile.begin() + i + n);
                 }
                 tile = packed;
             }
             f.withByteCounts = false;
         }, 0, 0, 0, 0},
    };
    std::vector<uint8_t> pixels(13 * 11 * 3);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 13);
    TempDir dir;
    const std::string path = dir.File("t.tif");
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        TiffFixture f = TiledTiff(13, 11, 8, 3, 2, pixels, 5, 4);
        if (c.edit) c.edit(f);
        std::vector<uint8_t> bytes = MakeTiff(f);
        if (c.patchTag) {
            TiffDirectory d;
            ASSERT_TRUE(ParseTiffDirectory(bytes, &d));
            uint32_t at = d[c.patchTag].valueField + 4 * c.patchItem;
            for (int b = 0; b < 4; ++b) bytes[at + b] = static_cast<uint8_t>(c.patchValue >> (8 * b));
        }
        ASSERT_TRUE(WriteBytes(path, bytes));
        CTiffIO codec(path.c_str());
        EXPECT_EQ(OpenAndReadHead(codec, path.c_str()), c.message ? 0 : 1);
        EXPECT_EQ(codec.GetLastMessage(), c.message);
        if (!c.message) {
            CTiffIO whole(path.c_str());
            EXPECT_EQ(ReadTiff(whole, path), 1);
            EXPECT_EQ(PlaneBytes(whole, 0)[14], pixels[42]);
        }
        Exercise(path);
    }
}

// The peak resident memory of this process since the last reset, in kB.
long PeakKilobytes()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

// A narrow image stored a row a strip holds many strips of a few bytes each:
// decoded on threads, in groups of strips, the room kept behind each strip
// stays bounded (a quarter million of them once took over a gigabyte).
TEST(TiffHostile, ManyTinyStripsDecodeOnThreadsInBoundedMemory)
{
    const uint32_t height = 300000;
    std::vector<uint8_t> rows(height);
    for (uint32_t y = 0; y < height; ++y) rows[y] = static_cast<uint8_t>(y * 7);
    TiffFixture f = PlainTiff(1, height, 8, 1, 1, rows, 1);
    for (TiffEntry& e : f.entries) {
        if (e.tag == 259) e.values = {32773};  // PackBits: each strip one literal byte
    }
    for (std::vector<uint8_t>& strip : f.strips) strip = {0x00, strip[0]};
    TempDir dir;
    const std::string path = dir.File("narrow.tif");
    ASSERT_TRUE(WriteBytes(path, MakeTiff(f)));

    const uint32_t before = GetRastikThreads();
    CTiffIO one(path.c_str());
    SetRastikThreads(1);
    ASSERT_EQ(ReadTiff(one, path), 1);
    std::ofstream("/proc/self/clear_refs") << "5";  // resets the peak
    const long start = PeakKilobytes();
    CTiffIO many(path.c_str());
    SetRastikThreads(4);
    ASSERT_EQ(ReadTiff(many, path), 1);
    SetRastikThreads(before);
    EXPECT_EQ(ImageMismatch(one, many), "");
    if (start > 0) {
        EXPECT_LT(PeakKilobytes() - start, 256 * 1024);
    }
}

}  // namespace
