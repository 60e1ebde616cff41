// GIF and PNG files other software made, and hostile ones: every corpus file
// reads as PIL decodes it (ImageMagick where PIL refuses the file) or is
// refused by every decoder and by these codecs too; previews sample the full
// image; truncated and randomly mutated copies fail cleanly or decode; files
// the writers make pass pngcheck and gifsicle and decode alike in PIL and
// ImageMagick; conversions into bitmaps keep the pixels.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "rastik/rastik.h"

using testutil::RgbImage;

namespace {

using Bytes = std::vector<uint8_t>;

struct Format {
    const char* name;
    unsigned type;
    const char* suffix;
};

const Format kFormats[] = {{"gif", kTypeGif, ".gif"}, {"png", kTypePng, ".png"}};

// Corpus files that neither PIL nor ImageMagick decodes; the codecs refuse
// them too (zero sizes, a minimum code size of 0, a bad chunk name, a
// corrupt filter byte).
const std::set<std::string> kRefusedByAll = {
    "crashtest_issue-117-out-of-range.gif", "crashtest_issue-96-small-codesize-2.gif",
    "crashtest_issue-96-small-codesize.gif", "stall_issue-101-infinite-empty-loop.gif",
    "broken.png",                            "broken_data_stream.png",
};

std::string BaseName(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

std::unique_ptr<CRastik> Codec(unsigned type, const std::string& path)
{
    return std::unique_ptr<CRastik>(NewRastikInstance(type, path.c_str()));
}

// Header, whole image (when it is not huge) and preview of one file.
struct Outcome {
    int head = 0;
    int data = 0;
    int preview = 0;
};

Outcome Exercise(unsigned type, const std::string& path)
{
    Outcome o;
    auto codec = Codec(type, path);
    o.head = testutil::OpenAndReadHead(*codec, path.c_str());
    if (!o.head) return o;
    // Mutated sizes can claim gigapixels; decoding those only takes time.
    if (static_cast<uint64_t>(codec->Width) * codec->Height <= 4000000) o.data = testutil::ReadWholeImage(*codec);
    uint32_t w = 0, h = 0;
    uint8_t* buffer = nullptr;
    o.preview = codec->ReadPrevImageData(w, h, buffer);
    if (o.preview) {
        EXPECT_LE(std::max(w, h), 96u);
    }
    FreeBuffer(&buffer);
    if (type == kTypePng) {
        EXPECT_TRUE(codec->File.IsOpen());
    }
    return o;
}

class CorpusTest : public ::testing::TestWithParam<Format> {
protected:
    void SetUp() override
    {
        corpus = testutil::CorpusDir(GetParam().name);
        if (corpus.empty()) GTEST_SKIP() << "corpus folder ../shared/corpus/" << GetParam().name << " is absent";
        files = testutil::ListFiles(corpus, "", GetParam().suffix);
        ASSERT_FALSE(files.empty());
    }
    // The whole image as RGB, or nothing when the codec refuses the file.
    RgbImage Read(const std::string& path, bool spill)
    {
        testutil::MemorySettings memory(spill, 256);
        auto codec = Codec(GetParam().type, path);
        if (!testutil::OpenAndReadHead(*codec, path.c_str()) || !testutil::ReadWholeImage(*codec)) return {};
        return testutil::PlanesToRgb(*codec);
    }

    testutil::TempDir dir;
    std::string corpus;
    std::vector<std::string> files;
};

TEST_P(CorpusTest, FilesReadAsOtherDecodersReadThemOrAreRefused)
{
    if (!testutil::HasPil() && !testutil::HasConvert()) GTEST_SKIP() << "neither PIL nor ImageMagick is installed";
    std::vector<RgbImage> pil = testutil::HasPil() ? testutil::DecodeAllWithPil(files) : std::vector<RgbImage>();
    for (size_t i = 0; i < files.size(); ++i) {
        std::string name = BaseName(files[i]);
        SCOPED_TRACE(name);
        RgbImage ours = Read(files[i], false);
        if (ours.width == 0) {
            EXPECT_TRUE(kRefusedByAll.count(name)) << "refused, but other decoders read it";
            continue;
        }
        EXPECT_FALSE(kRefusedByAll.count(name));
        EXPECT_EQ(Read(files[i], true).rgb, ours.rgb) << "planes spilled";
        RgbImage theirs;
        if (i < pil.size() && pil[i].width) {
            theirs = pil[i];
        } else if (!testutil::HasConvert() || !testutil::DecodeWithConvert(files[i], &theirs)) {
            ADD_FAILURE() << "read, but no outside decoder reads it";
            continue;
        }
        EXPECT_EQ(theirs.width, ours.width);
        EXPECT_EQ(theirs.height, ours.height);
        EXPECT_TRUE(theirs.rgb == ours.rgb) << "pixels differ";
    }
}

// Every preview pixel is the full image's pixel at the sampled row and column.
TEST_P(CorpusTest, PreviewsSampleTheFullImage)
{
    for (const std::string& file : files) {
        SCOPED_TRACE(BaseName(file));
        RgbImage image = Read(file, false);
        if (image.width == 0) continue;
        auto codec = Codec(GetParam().type, file);
        ASSERT_EQ(testutil::OpenAndReadHead(*codec, file.c_str()), 1);
        uint32_t w = 0, h = 0;
        uint8_t* buffer = nullptr;
        ASSERT_EQ(codec->ReadPrevImageData(w, h, buffer), 1);
        EXPECT_EQ(testutil::PreviewMismatch(image, buffer, w, h, false), "");
        FreeBuffer(&buffer);
    }
}

TEST_P(CorpusTest, TruncatedCopiesFailCleanly)
{
    std::string cut = dir.File(std::string("cut") + GetParam().suffix);
    for (const std::string& file : files) {
        SCOPED_TRACE(BaseName(file));
        Bytes bytes = testutil::ReadBytes(file);
        ASSERT_TRUE(testutil::WriteBytes(cut, bytes));
        // Every length through the first headers, then 12 lengths spread over the rest.
        std::vector<size_t> lengths;
        for (size_t len = 0; len < bytes.size(); len += len < 40 ? 1 : 1 + bytes.size() / 12) lengths.push_back(len);
        for (auto len = lengths.rbegin(); len != lengths.rend(); ++len) {
            ASSERT_EQ(truncate(cut.c_str(), static_cast<off_t>(*len)), 0);
            Exercise(GetParam().type, cut);
        }
    }
}

TEST_P(CorpusTest, RandomMutationsFailCleanly)
{
    // One copy per file; each mutation is written into the copy in place and
    // undone afterwards. RASTIK_MUTATIONS asks for more rounds by hand.
    std::vector<Bytes> sources;
    std::vector<std::string> copies;
    for (const std::string& file : files) {
        sources.push_back(testutil::ReadBytes(file));
        copies.push_back(dir.File("m-" + BaseName(file)));
        ASSERT_TRUE(testutil::WriteBytes(copies.back(), sources.back()));
    }
    const char* asked = getenv("RASTIK_MUTATIONS");
    const int rounds = asked ? atoi(asked) : 1000;
    std::mt19937 random(20240611u);
    int decoded = 0;
    for (int n = 0; n < rounds; ++n) {
        size_t which = random() % sources.size();
        const Bytes& bytes = sources[which];
        if (bytes.empty()) continue;
        int fd = open(copies[which].c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        std::vector<size_t> edited;
        for (int e = 1 + static_cast<int>(random() % 4); e > 0; --e) {
            // Half of the edits land in the first 64 bytes (headers, tables).
            size_t at = random() % 2 ? random() % std::min<size_t>(bytes.size(), 64) : random() % bytes.size();
            uint8_t v = random() % 2 ? static_cast<uint8_t>(bytes[at] ^ (1u << (random() % 8)))
                                     : static_cast<uint8_t>(random());
            ASSERT_EQ(pwrite(fd, &v, 1, static_cast<off_t>(at)), 1);
            edited.push_back(at);
        }
        decoded += Exercise(GetParam().type, copies[which]).data;
        for (size_t at : edited) ASSERT_EQ(pwrite(fd, &bytes[at], 1, static_cast<off_t>(at)), 1);
        close(fd);
    }
    EXPECT_GT(decoded, 0);
}

// Corpus files through whole-file conversion into bitmaps keep their pixels.
TEST_P(CorpusTest, ConvertsIntoBitmaps)
{
    int converted = 0;
    for (const std::string& file : files) {
        RgbImage ours = Read(file, false);
        if (ours.width == 0 || ours.width * ours.height > 200000) continue;
        SCOPED_TRACE(BaseName(file));
        auto source = Codec(GetParam().type, file);
        ASSERT_EQ(testutil::OpenAndReadHead(*source, file.c_str()), 1);
        if (source->ColorMode == kModeBitmap) continue;  // goes to the black-and-white writer
        std::string out = dir.File("c.bmp");
        int w = 0, h = 0;
        ASSERT_EQ(ImgProc(file.c_str(), out.c_str(), static_cast<int>(source->ColorMode), 0, 0, 0, 0, &w, &h, 1), 1);
        CBmpIO bmp(out.c_str());
        ASSERT_EQ(testutil::OpenAndReadHead(bmp, out.c_str()), 1);
        ASSERT_EQ(testutil::ReadWholeImage(bmp), 1);
        EXPECT_TRUE(testutil::PlanesToRgb(bmp).rgb == ours.rgb);
        ++converted;
    }
    EXPECT_GT(converted, 0);
}

INSTANTIATE_TEST_SUITE_P(Formats, CorpusTest, ::testing::ValuesIn(kFormats),
                         [](const auto& info) { return std::string(info.param.name); });

// One written image: format, mode and channels (palette entries for
// indexed images), with planes in memory or spilled.
struct WrittenCase {
    const char* name;
    const char* suffix;
    uint32_t mode;
    uint32_t channels;
    uint32_t paletteSize;
    bool spill;
};

const WrittenCase kWrittenCases[] = {
    {"GifBitmap", ".gif", kModeBitmap, 1, 2, false},      {"GifSixteen", ".gif", kModeIndexed, 1, 16, true},
    {"Gif256", ".gif", kModeIndexed, 1, 256, false},      {"Gif256Spilled", ".gif", kModeIndexed, 1, 256, true},
    {"PngGrey", ".png", kModeGrey, 1, 0, false},          {"PngGreyAlpha", ".png", kModeGrey, 2, 0, true},
    {"PngRgb", ".png", kModeRgb, 3, 0, true},             {"PngRgba", ".png", kModeRgb, 4, 0, false},
    {"PngIndexed", ".png", kModeIndexed, 1, 256, false},  {"PngIndexedSpilled", ".png", kModeIndexed, 1, 40, true},
};

class WrittenFileTest : public ::testing::TestWithParam<WrittenCase> {
protected:
    testutil::TempDir dir;
};

TEST_P(WrittenFileTest, CheckersAndOtherDecodersAgree)
{
    const WrittenCase& c = GetParam();
    std::string path = dir.File(std::string("w") + c.suffix);
    testutil::MemorySettings memory(c.spill, 300);
    auto image = Codec(DetectFileType(path.c_str()), path);
    image->Width = 67;
    image->Height = 45;
    image->SetMode(c.mode == kModeBitmap ? static_cast<uint32_t>(kModeIndexed) : c.mode);
    image->ColorMode = c.mode;
    image->ChannelCount = c.channels;
    if (c.paletteSize) {
        Bytes palette(4 * c.paletteSize);
        for (size_t i = 0; i < palette.size(); ++i) palette[i] = static_cast<uint8_t>(i % 4 == 3 ? 0 : i * 29 + 7);
        image->SetPalette(palette.data(), c.paletteSize);
        image->PaletteSize = c.paletteSize;
    }
    image->BytesPerLine = BytesPerRow(image->Width * 8);
    ASSERT_EQ(image->AllocChannelSpace(), 1);
    Bytes row(image->BytesPerLine);
    uint32_t values = c.paletteSize ? c.paletteSize : 256;
    for (uint32_t ch = 0; ch < c.channels; ++ch)
        for (uint32_t y = 0; y < image->Height; ++y) {
            for (uint32_t x = 0; x < image->Width; ++x) row[x] = static_cast<uint8_t>((x * 5 + y * 9 + ch * 70) % values);
            ASSERT_EQ(image->WritePlaneRow(ch, y, row.data()), 1);
        }
    ASSERT_TRUE(image->File.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary));
    ASSERT_EQ(image->WriteFile(), 1);
    image->File.Close();
    RgbImage want = testutil::PlanesToRgb(*image);

    std::vector<uint8_t> warnings;
    if (std::string(c.suffix) == ".png" && access("/usr/bin/pngcheck", X_OK) == 0) {
        EXPECT_EQ(testutil::RunCommand("/usr/bin/pngcheck -q " + testutil::Quote(path), &warnings), 0);
    } else if (std::string(c.suffix) == ".gif" && access("/usr/bin/gifsicle", X_OK) == 0) {
        EXPECT_EQ(testutil::RunCommand("/usr/bin/gifsicle --info " + testutil::Quote(path) + " 2>&1 >/dev/null",
                                       &warnings),
                  0);
    }
    EXPECT_EQ(std::string(warnings.begin(), warnings.end()), "");
    RgbImage theirs;
    if (testutil::HasConvert()) {
        ASSERT_TRUE(testutil::DecodeWithConvert(path, &theirs));
        EXPECT_TRUE(theirs.rgb == want.rgb) << "ImageMagick";
    }
    if (testutil::HasPil()) {
        ASSERT_TRUE(testutil::DecodeWithPil(path, &theirs));
        EXPECT_TRUE(theirs.rgb == want.rgb) << "PIL";
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, WrittenFileTest, ::testing::ValuesIn(kWrittenCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
