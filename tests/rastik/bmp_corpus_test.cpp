// Bitmaps other software made and hostile ones: the corpus files read
// pixel-exact against ImageMagick and PIL or are refused with their message,
// previews sample the full image, broken, truncated and randomly mutated
// files fail cleanly, and files this codec writes decode the same elsewhere.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "rastik/CBmpIO.h"
#include "rastik/General.h"
#include "rastik/Messages.h"

using testutil::MessageCapture;
using testutil::RgbImage;

namespace {

constexpr uint32_t kTinyLargeBuffer = 200;

// Corpus files this codec does not read, with the message that refuses them.
const std::map<std::string, int> kRefused = {};

// Files whose pixels only one outside decoder shows right. PIL scales 5- and
// 6-bit channels to the full range (v x 255 / 31 or 63), while ImageMagick
// replicates 5 bits and leaves 6-bit green below 255; PIL 9 misplaces the
// pixels of 4-bit run-length rows. PIL refuses 32-bit masks it has no layout for.
enum Decoder { kByConvert, kByPil };
const std::map<std::string, Decoder> kOneDecoder = {
    {"g-rgb16.bmp", kByPil},       {"g-rgb16-565.bmp", kByPil}, {"g-rgb16-565pal.bmp", kByPil},
    {"g-pal4rle.bmp", kByConvert}, {"g-rgb32bf.bmp", kByConvert},
};

std::string BaseName(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Header, whole image and preview of one file; what each step returned.
struct Outcome {
    int head = 0;
    int data = 0;
    int preview = 0;
    // Run-length rows have no fixed length: an accepted header does not
    // promise that their codes are all there.
    bool rowsPromised = false;
};

Outcome Exercise(const std::string& path)
{
    Outcome o;
    CBmpIO codec(path.c_str());
    codec.ShowMessages = 1;
    o.head = testutil::OpenAndReadHead(codec, path.c_str());
    if (!o.head) return o;
    o.rowsPromised = codec.BmpInfoHeader.Compression != 1 && codec.BmpInfoHeader.Compression != 2;
    o.data = testutil::ReadWholeImage(codec);
    uint32_t w = 0, h = 0;
    uint8_t* buffer = nullptr;
    o.preview = codec.ReadPrevImageData(w, h, buffer);
    FreeBuffer(&buffer);
    return o;
}

class BmpCorpusTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        corpus = testutil::CorpusDir("bmp");
        if (corpus.empty()) GTEST_SKIP() << "corpus folder ../shared/corpus/bmp is absent";
        settings = std::make_unique<testutil::MemorySettings>(GetParam(), kTinyLargeBuffer);
    }
    void TearDown() override { settings.reset(); }

    testutil::TempDir dir;
    std::string corpus;
    std::unique_ptr<testutil::MemorySettings> settings;
    MessageCapture messages;
};

TEST_P(BmpCorpusTest, GoodFilesReadLikeOtherDecodersOrAreRefused)
{
    bool convert = testutil::HasConvert(), pil = testutil::HasPil();
    if (!convert && !pil) GTEST_SKIP() << "neither /usr/bin/convert nor PIL for /usr/bin/python3 is installed";
    std::vector<std::string> files = testutil::ListFiles(corpus, "g-", ".bmp");
    ASSERT_FALSE(files.empty());
    int read = 0;
    for (const std::string& file : files) {
        std::string name = BaseName(file);
        SCOPED_TRACE(name);
        messages.Clear();
        CBmpIO codec(file.c_str());
        codec.ShowMessages = 1;
        int head = testutil::OpenAndReadHead(codec, file.c_str());
        auto refused = kRefused.find(name);
        if (refused != kRefused.end()) {
            EXPECT_EQ(head, 0);
            EXPECT_EQ(messages.Ids(), std::vector<int>{refused->second});
            continue;
        }
        ASSERT_EQ(head, 1);
        ASSERT_EQ(testutil::ReadWholeImage(codec), 1);
        ++read;
        RgbImage ours = testutil::PlanesToRgb(codec);
        auto only = kOneDecoder.find(name);
        // Every decoder that reads the file shows its pixels, but for the
        // files only one of them shows right.
        int compared = 0;
        RgbImage theirs;
        if (convert && (only == kOneDecoder.end() || only->second == kByConvert) &&
            testutil::DecodeWithConvert(file, &theirs)) {
            ++compared;
            EXPECT_EQ(theirs.width, ours.width);
            EXPECT_EQ(theirs.height, ours.height);
            EXPECT_TRUE(theirs.rgb == ours.rgb) << "differs from ImageMagick";
        }
        if (pil && (only == kOneDecoder.end() || only->second == kByPil) && testutil::DecodeWithPil(file, &theirs)) {
            ++compared;
            EXPECT_TRUE(theirs.rgb == ours.rgb) << "differs from PIL";
        }
        EXPECT_GT(compared, 0) << "no decoder read it";
    }
    EXPECT_EQ(read, static_cast<int>(files.size() - kRefused.size()));
}

// Every preview pixel is the full image's pixel at the sampled row and column.
TEST_P(BmpCorpusTest, PreviewsSampleTheFullImage)
{
    for (const std::string& file : testutil::ListFiles(corpus, "g-", ".bmp")) {
        SCOPED_TRACE(BaseName(file));
        CBmpIO full(file.c_str());
        if (!testutil::OpenAndReadHead(full, file.c_str())) continue;
        ASSERT_EQ(testutil::ReadWholeImage(full), 1);
        RgbImage image = testutil::PlanesToRgb(full);
        bool topDown = full.BmpInfoHeader.Height < 0;

        CBmpIO prev(file.c_str());
        ASSERT_EQ(testutil::OpenAndReadHead(prev, file.c_str()), 1);
        uint32_t w = 0, h = 0;
        uint8_t* buffer = nullptr;
        ASSERT_EQ(prev.ReadPrevImageData(w, h, buffer), 1);
        ASSERT_LE(std::max(w, h), 96u);
        EXPECT_EQ(testutil::PreviewMismatch(image, buffer, w, h, !topDown), "");
        FreeBuffer(&buffer);
    }
}

TEST_P(BmpCorpusTest, BrokenFilesFailCleanly)
{
    std::vector<std::string> files = testutil::ListFiles(corpus, "b-", ".bmp");
    ASSERT_FALSE(files.empty());
    for (const std::string& file : files) {
        SCOPED_TRACE(BaseName(file));
        Outcome o = Exercise(file);
        // A header that was accepted promises rows within the file.
        if (o.head && o.rowsPromised) {
            EXPECT_EQ(o.data, 1);
        }
    }
}

TEST_P(BmpCorpusTest, EveryTruncationFailsCleanly)
{
    std::string cut = dir.File("cut.bmp");
    for (const std::string& file : testutil::ListFiles(corpus, "", ".bmp")) {
        SCOPED_TRACE(BaseName(file));
        std::vector<uint8_t> bytes = testutil::ReadBytes(file);
        // All lengths of small files; of larger ones every header length and
        // a spread over the pixel data. The spilled run takes fewer. The copy
        // is cut shorter and shorter in place.
        size_t all = GetParam() ? 256 : 1100;
        size_t step = bytes.size() <= all ? 1 : 1 + bytes.size() / (GetParam() ? 30 : 100);
        std::vector<size_t> lengths;
        for (size_t len = 0; len < bytes.size(); len += (len < 200 ? 1 : step)) lengths.push_back(len);
        ASSERT_TRUE(testutil::WriteBytes(cut, bytes));
        for (auto len = lengths.rbegin(); len != lengths.rend(); ++len) {
            ASSERT_EQ(truncate(cut.c_str(), static_cast<off_t>(*len)), 0);
            Outcome o = Exercise(cut);
            if (o.head && o.rowsPromised) {
                EXPECT_EQ(o.data, 1) << *len;
            }
        }
    }
}

TEST_P(BmpCorpusTest, RandomMutationsFailCleanly)
{
    // One copy per corpus file; each mutation is written into the copy in
    // place and undone afterwards.
    std::vector<std::vector<uint8_t>> sources;
    std::vector<std::string> copies;
    for (const std::string& file : testutil::ListFiles(corpus, "", ".bmp")) {
        sources.push_back(testutil::ReadBytes(file));
        copies.push_back(dir.File("m-" + BaseName(file)));
        ASSERT_TRUE(testutil::WriteBytes(copies.back(), sources.back()));
    }
    std::mt19937 random(20240607u);
    int readable = 0;
    const int rounds = GetParam() ? 800 : 3000;
    for (int n = 0; n < rounds; ++n) {
        size_t which = random() % sources.size();
        const std::vector<uint8_t>& bytes = sources[which];
        int fd = open(copies[which].c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        std::vector<size_t> edited;
        int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits; ++e) {
            // Half of the edits land in the headers and the colour table.
            size_t at = random() % 2 ? random() % std::min<size_t>(bytes.size(), 64) : random() % bytes.size();
            uint8_t v = random() % 2 ? static_cast<uint8_t>(bytes[at] ^ (1u << (random() % 8)))
                                     : static_cast<uint8_t>(random());
            ASSERT_EQ(pwrite(fd, &v, 1, static_cast<off_t>(at)), 1);
            edited.push_back(at);
        }
        Outcome o = Exercise(copies[which]);
        if (o.head && o.rowsPromised) {
            EXPECT_EQ(o.data, 1) << n;
            ++readable;
        }
        for (size_t at : edited) ASSERT_EQ(pwrite(fd, &bytes[at], 1, static_cast<off_t>(at)), 1);
        close(fd);
    }
    EXPECT_GT(readable, 0);
}

// Files the writers make decode to the same pixels in ImageMagick and PIL.
TEST_P(BmpCorpusTest, WrittenFilesDecodeElsewhere)
{
    bool convert = testutil::HasConvert(), pil = testutil::HasPil();
    if (!convert && !pil) GTEST_SKIP() << "neither /usr/bin/convert nor PIL for /usr/bin/python3 is installed";
    for (uint32_t mode : {kModeGrey, kModeIndexed, kModeRgb, kModeBitmap}) {
        SCOPED_TRACE(mode);
        std::string path = dir.File(std::to_string(mode) + ".bmp");
        CBmpIO bmp(path.c_str());
        bmp.Width = 45;
        bmp.Height = 21;
        bmp.ResolutionUnit = 1;
        bmp.SetMode(mode == kModeBitmap ? static_cast<uint32_t>(kModeIndexed) : mode);
        if (mode == kModeBitmap) {
            bmp.ColorMode = kModeBitmap;
            const uint8_t pal[8] = {30, 60, 90, 0, 200, 220, 240, 0};
            bmp.SetPalette(pal, 2);
            bmp.PaletteSize = 2;
        } else if (mode == kModeIndexed) {
            std::vector<uint8_t> pal(1024);
            for (size_t i = 0; i < pal.size(); ++i) pal[i] = static_cast<uint8_t>(i % 4 == 3 ? 0 : i * 37 / 3);
            bmp.SetPalette(pal.data(), 256);
        }
        bmp.BytesPerLine = BytesPerRow(bmp.Width * 8);
        ASSERT_EQ(bmp.AllocChannelSpace(), 1);
        std::vector<uint8_t> row(bmp.BytesPerLine);
        for (uint32_t c = 0; c < bmp.ChannelCount; ++c)
            for (uint32_t y = 0; y < bmp.Height; ++y) {
                for (uint32_t x = 0; x < bmp.Width; ++x)
                    row[x] = static_cast<uint8_t>((x * 11 + y * 5 + c * 77) % (mode == kModeBitmap ? 2 : 256));
                ASSERT_EQ(bmp.WritePlaneRow(c, y, row.data()), 1);
            }
        ASSERT_TRUE(bmp.File.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary));
        ASSERT_EQ(bmp.WriteFile(), 1);
        bmp.File.Close();
        RgbImage expected = testutil::PlanesToRgb(bmp);
        RgbImage theirs;
        if (convert) {
            ASSERT_TRUE(testutil::DecodeWithConvert(path, &theirs));
            EXPECT_EQ(theirs.width, 45u);
            EXPECT_EQ(theirs.height, 21u);
            EXPECT_TRUE(theirs.rgb == expected.rgb) << "ImageMagick";
        }
        if (pil) {
            ASSERT_TRUE(testutil::DecodeWithPil(path, &theirs));
            EXPECT_TRUE(theirs.rgb == expected.rgb) << "PIL";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Bmp, BmpCorpusTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("Spilled") : std::string("Memory");
                         });

}  // namespace
