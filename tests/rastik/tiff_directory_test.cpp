// The TIFF directory layer: BigTIFF files (made by tiffcp -8 and by the
// tests' builder, in both byte orders) read as the classic file they were
// made of; pages of a directory chain, chains that loop, a page past the
// last; the page counts of corpus files as libtiff, PIL and ImageMagick
// count them.
#include <gtest/gtest.h>

#include "TestUtil.h"
#include "rastik/CTiffIO.h"
#include "rastik/General.h"
#include "rastik/Messages.h"
#include "tiff_util.h"

using namespace testutil;

namespace {

// Reads path whole as page page; "" when the read is the same as that of
// expected (already read), else what differs.
std::string CompareRead(const std::string& path, CTiffIO& expected, uint32_t page = 0, bool* big = nullptr)
{
    CTiffIO codec(path.c_str());
    codec.Page = page;
    if (!ReadTiff(codec, path)) return "not read (" + std::to_string(codec.GetLastMessage()) + ")";
    if (big) *big = codec.BigTiff != 0;
    return ImageMismatch(codec, expected);
}

TEST(TiffBigTiff, TiffcpFilesReadAsTheirClassicSource)
{
    if (!HasTiffTools() || !HasConvert()) GTEST_SKIP() << "libtiff tools or ImageMagick missing";
    TempDir dir;
    struct Case {
        const char* image;  // ImageMagick options of the source
        const char* options;  // tiffcp options of both files
    };
    const Case kCases[] = {
        {"-size 41x23 plasma: -depth 8", "-c none"},
        {"-size 41x23 plasma: -depth 8", "-c lzw:2 -r 5"},
        {"-size 41x23 plasma: -depth 8", "-c packbits -p separate"},
        {"-size 41x23 plasma: -depth 8", "-c zip -r 3"},
        {"-size 37x19 plasma: -colorspace gray -depth 8", "-c none -r 4"},
        {"-size 37x19 plasma: -colors 16 -type palette -depth 4", "-c none"},
        {"-size 37x19 plasma: -monochrome -depth 1", "-c g4"},
    };
    int n = 0;
    for (const Case& c : kCases) {
        std::string source = dir.File("source" + std::to_string(n) + ".tif");
        ASSERT_EQ(RunCommand(std::string(kConvert) + " -seed 3 " + c.image + " -compress none " + Quote(source), nullptr), 0);
        std::string classic = dir.File("classic" + std::to_string(n) + ".tif");
        ASSERT_EQ(RunCommand("/usr/bin/tiffcp " + std::string(c.options) + " " + Quote(source) + " " + Quote(classic), nullptr), 0);
        CTiffIO expected(classic.c_str());
        ASSERT_EQ(ReadTiff(expected, classic), 1) << c.options;
        for (const char* order : {"-L", "-B"}) {
            std::string big = dir.File("big" + std::to_string(n) + order + ".tif");
            ASSERT_EQ(RunCommand("/usr/bin/tiffcp -8 " + std::string(order) + " " + c.options + " " + Quote(source) +
                                     " " + Quote(big), nullptr), 0);
            bool wasBig = false;
            EXPECT_EQ(CompareRead(big, expected, 0, &wasBig), "") << c.image << " " << c.options << " " << order;
            EXPECT_TRUE(wasBig) << big;
        }
        ++n;
    }
}

// A small grey image of 9 x 7 in strips of 2 rows, with resolutions.
TiffFixture Grey(bool little, uint32_t width = 9, uint32_t height = 7)
{
    std::vector<uint8_t> data(static_cast<size_t>(width) * height);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + width);
    TiffFixture f = PlainTiff(width, height, 8, 1, 1, data, 2, little);
    f.entries.push_back({282, 5, {300, 1}, {}});
    f.entries.push_back({283, 5, {150, 1}, {}});
    return f;
}

TEST(TiffBigTiff, BuiltFilesReadAsClassicOnes)
{
    TempDir dir;
    struct Case {
        const char* name;
        void (*change)(TiffFixture&);
    };
    const Case kCases[] = {
        {"strips", [](TiffFixture&) {}},
        {"one strip", [](TiffFixture& f) {
             f = PlainTiff(9, 7, 8, 1, 1, std::vector<uint8_t>(63, 0x41), 7, f.littleEndian);
         }},
        {"SHORT strip tables", [](TiffFixture& f) { f.shortStripArrays = true; }},
        {"RGB, bits inline", [](TiffFixture& f) {
             f = PlainTiff(5, 3, 8, 3, 2, std::vector<uint8_t>(45, 0x93), 1, f.littleEndian);
         }},
    };
    for (const Case& c : kCases)
        for (bool little : {true, false}) {
            TiffFixture f = Grey(little);
            c.change(f);
            std::string classic = dir.File("classic.tif"), big = dir.File("big.tif");
            ASSERT_TRUE(WriteBytes(classic, MakeTiff(f)));
            f.bigTiff = true;
            ASSERT_TRUE(WriteBytes(big, MakeTiff(f)));
            CTiffIO expected(classic.c_str());
            ASSERT_EQ(ReadTiff(expected, classic), 1) << c.name;
            bool wasBig = false;
            EXPECT_EQ(CompareRead(big, expected, 0, &wasBig), "") << c.name << (little ? " II" : " MM");
            EXPECT_TRUE(wasBig);
            CTiffIO codec(big.c_str());
            ASSERT_EQ(OpenAndReadHead(codec, big.c_str()), 1);
            EXPECT_EQ(codec.XResolution, expected.XResolution) << c.name;
            EXPECT_EQ(codec.YResolution, expected.YResolution) << c.name;
        }
}

// The version of a written file: 42 classic, 43 BigTIFF.
uint16_t VersionOf(const std::string& path)
{
    std::vector<uint8_t> b = ReadBytes(path);
    if (b.size() < 4) return 0;
    return b[0] == 'I' ? static_cast<uint16_t>(b[2] | b[3] << 8) : static_cast<uint16_t>(b[2] << 8 | b[3]);
}

TEST(TiffBigTiffWrite, EveryKindPassesLibtiffPilAndImageMagick)
{
    if (!HasTiffTools()) GTEST_SKIP() << "libtiff tools missing";
    TempDir dir;
    struct Kind {
        const char* name;
        uint32_t mode, extra;
    };
    const Kind kKinds[] = {{"grey", kModeGrey, 0}, {"bilevel", kModeBitmap, 0}, {"indexed", kModeIndexed, 0},
                           {"rgb", kModeRgb, 0},   {"rgba", kModeRgb, 1},       {"cmyk", kModeCmyk, 0}};
    struct Written {
        std::string name, path;
        std::unique_ptr<CTiffIO> image;
    };
    std::vector<Written> all;
    for (const Kind& k : kKinds)
        for (int32_t compression : {1, 5, 32773})
            for (bool little : {true, false}) {
                Written o;
                o.name = std::string(k.name) + "-" + std::to_string(compression) + (little ? "-II" : "-MM");
                o.path = dir.File(o.name + ".tif");
                o.image = MakeTiffImage(o.path, k.mode, 45, 31, k.extra);
                ASSERT_TRUE(o.image);
                o.image->Compression = compression;
                o.image->IntelByteOrder = little;
                o.image->BigTiff = 1;
                ASSERT_EQ(WriteTiffFile(*o.image, o.path), 1) << o.name;
                all.push_back(std::move(o));
            }
    // Streamed RGB rows, blocks of 8.
    Written streamed{"rgb-streamed", dir.File("streamed.tif"), MakeTiffImage(dir.File("streamed.tif"), kModeRgb, 45, 31)};
    streamed.image->BigTiff = 1;
    ASSERT_TRUE(streamed.image->File.Open(streamed.path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary));
    std::vector<std::vector<uint8_t>> p;
    for (uint32_t c = 0; c < 3; ++c) p.push_back(PlaneBytes(*streamed.image, c));
    int ok = streamed.image->WriteHeader();
    for (uint32_t row = 0; ok && row < 31; row += 8)
        ok = streamed.image->WriteRgbDataImage(&p[0][row * 45], &p[1][row * 45], &p[2][row * 45], std::min(8u, 31 - row));
    streamed.image->File.Close();
    ASSERT_EQ(ok, 1);
    all.push_back(std::move(streamed));

    std::vector<std::string> paths;
    for (const Written& o : all) {
        EXPECT_EQ(VersionOf(o.path), 43) << o.name;
        std::vector<uint8_t> warnings;
        RunCommand("/usr/bin/tiffinfo -D " + Quote(o.path) + " 2>&1 >/dev/null", &warnings);
        EXPECT_EQ(std::string(warnings.begin(), warnings.end()), "") << o.name;
        std::string plain = o.path + ".none.tif";
        ASSERT_EQ(RunCommand("/usr/bin/tiffcp -c none " + Quote(o.path) + " " + Quote(plain) + " 2>&1", nullptr), 0);
        CTiffIO back(plain.c_str()), ours(o.path.c_str());
        ASSERT_EQ(ReadTiff(back, plain), 1) << o.name;
        EXPECT_EQ(ImageMismatch(*o.image, back), "") << o.name;
        ASSERT_EQ(ReadTiff(ours, o.path), 1) << o.name;
        EXPECT_EQ(ImageMismatch(*o.image, ours), "") << o.name;
        paths.push_back(o.path);
    }
    // Outside readers turn CMYK into RGB each their own way; PIL opens no
    // big-endian BigTIFF file (not even tiffcp's).
    std::vector<RgbImage> pil = HasPil() ? DecodeAllWithPil(paths) : std::vector<RgbImage>();
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i].image->ColorMode == kModeCmyk || !all[i].image->IntelByteOrder) continue;
        RgbImage expected = PlanesToRgb(*all[i].image), im;
        if (!pil.empty()) {
            EXPECT_EQ(MaxDifference(pil[i], expected), 0) << "PIL " << all[i].name;
        }
        if (HasConvert()) {
            ASSERT_TRUE(DecodeWithConvert(all[i].path, &im, "TIFF")) << all[i].name;
            EXPECT_EQ(MaxDifference(im, expected), 0) << "ImageMagick " << all[i].name;
        }
    }
}

// A header written alone shows the layout the writer chose from its bound
// on the file's size: BigTIFF only where a classic file could pass 4 GiB.
TEST(TiffBigTiffWrite, LayoutFollowsTheBoundOnTheOutput)
{
    TempDir dir;
    struct Case {
        uint32_t width, height, mode;
        int32_t compression;
        int32_t asked;
        uint16_t version;
    };
    const Case kCases[] = {
        {1000, 1000, kModeGrey, 1, 0, 42},     {1000, 1000, kModeGrey, 1, 1, 43},
        {60000, 60000, kModeGrey, 1, 0, 42},   {66000, 66000, kModeGrey, 1, 0, 43},
        {40000, 40000, kModeRgb, 1, 0, 43},    {50000, 50000, kModeGrey, 5, 0, 42},
        {54000, 54000, kModeGrey, 5, 0, 43},   {60000, 60000, kModeGrey, 32773, 0, 42},
        {66000, 66000, kModeGrey, 32773, 0, 43},
        {60000, 60000, kModeIndexed, 1, 0, 42}, {200000, 100000, kModeBitmap, 1, 0, 42},
        {300000, 150000, kModeBitmap, 5, 0, 43},
    };
    for (const Case& c : kCases) {
        std::string path = dir.File("head.tif");
        CTiffIO image(path.c_str());
        image.Width = c.width, image.Height = c.height;
        image.SetMode(c.mode);
        if (c.mode == kModeBitmap) image.ChannelCount = image.ColorChannels = 1;
        std::vector<uint8_t> palette(256 * 4, 0x80);
        if (c.mode == kModeIndexed) image.SetPalette(palette.data(), 256), image.PaletteSize = 256;
        image.BytesPerLine = BytesPerRow(c.width * 8);
        image.Compression = c.compression;
        image.BigTiff = c.asked;
        ASSERT_TRUE(image.File.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary));
        EXPECT_EQ(image.WriteHeader(), 1);
        image.File.Close();
        EXPECT_EQ(VersionOf(path), c.version) << c.width << " x " << c.height << " mode " << c.mode << " compression "
                                              << c.compression;
    }
}

TEST(TiffPages, EachPageReadsAndOnePastTheLastFailsNamingTheCount)
{
    TempDir dir;
    struct Case {
        const char* name;
        bool big, little;
        int loopTo;       // -1: the chain ends
        uint32_t subIfds;  // directories hanging off the first page
    };
    const Case kCases[] = {
        {"classic II", false, true, -1, 0}, {"classic MM", false, false, -1, 0}, {"BigTIFF II", true, true, -1, 0},
        {"BigTIFF MM", true, false, -1, 0}, {"loop to first", false, true, 0, 0}, {"loop to self", true, false, 2, 0},
        {"one SubIFD", false, false, -1, 1}, {"two SubIFDs, BigTIFF", true, true, -1, 2},
    };
    for (const Case& c : kCases) {
        std::vector<TiffFixture> pages = {Grey(c.little, 9, 7), Grey(c.little, 4, 11), Grey(c.little, 13, 2)};
        for (TiffFixture& p : pages) p.bigTiff = c.big;
        std::vector<TiffFixture> subs(c.subIfds, Grey(c.little, 3, 3));
        std::string path = dir.File("pages.tif");
        ASSERT_TRUE(WriteBytes(path, MakeTiffPages(pages, c.loopTo, subs)));
        for (uint32_t page = 0; page < pages.size(); ++page) {
            std::string single = dir.File("single.tif");
            ASSERT_TRUE(WriteBytes(single, MakeTiff(pages[page])));
            CTiffIO expected(single.c_str());
            ASSERT_EQ(ReadTiff(expected, single), 1);
            EXPECT_EQ(CompareRead(path, expected, page), "") << c.name << " page " << page;
        }
        CTiffIO codec(path.c_str());
        codec.Page = 3;
        codec.SetWarningMsg(1);
        MessageCapture messages;
        EXPECT_EQ(OpenAndReadHead(codec, path.c_str()), 0) << c.name;
        EXPECT_EQ(codec.GetLastMessage(), kMsgNoSuchPage) << c.name;
        EXPECT_TRUE(messages.Saw(kMsgNoSuchPage)) << c.name;
        uint64_t count = 0, asked = 0;
        codec.GetMessageFigures(kMsgNoSuchPage, &count, &asked);
        EXPECT_EQ(count, 3u) << c.name;
        EXPECT_EQ(asked, 3u) << c.name;
        EXPECT_EQ(RastikMessageText(kMsgNoSuchPage, count, asked).find('3') != std::string::npos, true);
        EXPECT_EQ(codec.GetPageCount(), 3u) << c.name;
        uint32_t w = 0, h = 0, compression = 0;
        EXPECT_TRUE(codec.GetPageSize(1, w, h, compression)) << c.name;
        EXPECT_EQ(w, 4u);
        EXPECT_EQ(h, 11u);
        EXPECT_EQ(compression, 1u);
        EXPECT_FALSE(codec.GetPageSize(3, w, h, compression)) << c.name;
    }
}

TEST(TiffPages, CorpusPageCountsMatchOtherReaders)
{
    std::string corpus = CorpusDir("tiff");
    if (corpus.empty()) GTEST_SKIP() << "corpus missing";
    // As tiffinfo, PIL and ImageMagick count them: the main chain only,
    // SubIFDs stepped over, a loop ended at the directory seen before.
    const std::pair<const char*, uint32_t> kCounts[] = {
        {"test_ifd_loop_subifd.tif", 5}, {"test_ifd_loop_to_first.tif", 2}, {"test_ifd_loop_to_self.tif", 1},
        {"test_two_ifds.tif", 2},        {"tiff_with_subifd_chain.tif", 2},
    };
    for (const auto& [name, count] : kCounts) {
        std::string path = corpus + "/" + name;
        CTiffIO codec(path.c_str());
        ASSERT_TRUE(codec.File.Open(path.c_str(), CFile::modeRead | CFile::typeBinary)) << name;
        EXPECT_EQ(codec.GetPageCount(), count) << name;
        codec.Page = count;
        EXPECT_EQ(codec.ReadImageHead(), 0) << name;
        EXPECT_EQ(codec.GetLastMessage(), kMsgNoSuchPage) << name;
    }
}

TEST(TiffPages, ToolListsConvertsAndPreviewsPages)
{
    TempDir dir;
    std::string pages = dir.File("pages.tif"), bmp = dir.File("one.bmp");
    ASSERT_TRUE(WriteBytes(pages, MakeTiffPages({Grey(true, 9, 7), Grey(true, 4, 11), Grey(true, 13, 2)})));
    BmpFixture b;
    b.width = 2, b.height = 2, b.pixels = std::vector<uint8_t>(12, 9);
    ASSERT_TRUE(WriteBytes(bmp, MakeBmp(b)));
    struct Case {
        std::string args;
        int status;
        std::string shown;  // in the output or the error output
    };
    const std::string out = Quote(dir.File("out.bmp")), f = Quote(pages);
    const Case kCases[] = {
        {"info " + f, 0, "pages:           3\n"},
        {"info " + f, 0, "                 1: 4 x 11 none\n"},
        {"info --json " + f, 0, "\"pageCount\": 3, \"pages\": [{\"width\": 9, \"height\": 7, \"compression\": \"none\"}"},
        {"convert --page 1 " + f + " " + out, 0, ": 4 x 11"},
        {"convert " + f + " " + out, 0, ": 9 x 7"},
        {"preview --page 2 " + f + " " + out, 0, ": 13 x 2"},
        {"convert --page 3 " + f + " " + out, 1, "27715"},
        {"preview --page 3 " + f + " " + out, 1, "27715"},
        {"convert --page 1 " + Quote(bmp) + " " + out, 1, "27715"},
        {"convert --page x " + f + " " + out, 2, "--page"},
        {"preview --page -1 " + f + " " + out, 2, "--page"},
    };
    for (const Case& c : kCases) {
        ToolRun r = RunTool(c.args, dir.Path());
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
        EXPECT_NE((r.out + r.err).find(c.shown), std::string::npos) << c.args << "\n" << r.out << r.err;
    }
}

}  // namespace
