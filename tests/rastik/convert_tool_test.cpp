// `rastik convert` as a user meets it: every source kind into every format
// the library writes (checked by the outside decoders), failures that name
// their cause, and batches with their summary, failures and Ctrl-C.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "jpeg_util.h"
#include "rastik/rastik.h"

namespace {

using testutil::Quote;
using testutil::RgbImage;

// Source kinds, each made as a small file of 48 x 32 pixels in 16 x 16
// blocks or smooth ramps, so that JPEG's blocks and colour subsampling keep
// the colours.
enum Kind { kOneBit, kFourBit, kIndexed, kGreyIndexed, kGrey, kRgb, kRgb32, kCmyk, kKinds };
const char* const kKindNames[kKinds] = {"OneBit", "FourBit", "Indexed", "GreyIndexed",
                                        "Grey",   "Rgb",     "Rgb32",   "Cmyk"};
constexpr int kW = 48, kH = 32;

// A destination format the library writes: its extension, its name for
// ImageMagick and PIL, the mean difference per sample its decoded pixels
// may have from the expected ones (0: none), and the colour mode each source
// kind is written in (as the library reads the file back). A new writer adds
// its row.
struct Destination {
    const char* Extension;
    const char* Format;
    double MeanError;
    uint32_t Mode[kKinds];
};

const Destination kDestinations[] = {
    // 1-bit, 4- and 8-bit indexed stay indexed; grey is an 8-bit grey palette; CMYK becomes RGB.
    {"bmp", "BMP", 0.0,
     {kModeBitmap, kModeIndexed, kModeIndexed, kModeIndexed, kModeIndexed, kModeRgb, kModeRgb, kModeRgb}},
    // Two colours and grey palettes become grey, other palettes RGB.
    {"jpg", "JPEG", 3.0, {kModeGrey, kModeRgb, kModeRgb, kModeGrey, kModeGrey, kModeRgb, kModeRgb, kModeCmyk}},
};

std::vector<uint8_t> Palette(uint32_t entries, bool grey)
{
    std::vector<uint8_t> p;
    for (uint32_t i = 0; i < entries; ++i) {
        uint8_t v = static_cast<uint8_t>(i * 255 / (entries - 1));
        if (grey) p.insert(p.end(), {v, v, v, 0});
        else p.insert(p.end(), {static_cast<uint8_t>(i * 97), static_cast<uint8_t>(255 - v), v, 0});
    }
    return p;
}

bool MakeBmpSource(Kind kind, const std::string& path)
{
    testutil::BmpFixture f;
    f.width = kW;
    f.height = kH;
    f.bitCount = kind == kOneBit ? 1 : kind == kFourBit ? 4 : kind == kRgb ? 24 : kind == kRgb32 ? 32 : 8;
    if (kind == kOneBit) f.palette = {128, 0, 0, 0, 0, 255, 255, 0};  // dark blue, yellow
    if (kind == kFourBit) f.palette = Palette(16, false);
    if (kind == kIndexed || kind == kGreyIndexed) f.palette = Palette(256, kind == kGreyIndexed);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            int block = x / 16 + 3 * (y / 16);
            if (kind == kOneBit) f.pixels.push_back(static_cast<uint8_t>(block % 2));
            else if (kind == kFourBit) f.pixels.push_back(static_cast<uint8_t>(block * 5 % 16));
            else if (kind == kIndexed) f.pixels.push_back(static_cast<uint8_t>(block * 37));
            else if (kind == kGreyIndexed) f.pixels.push_back(static_cast<uint8_t>(x * 4 + y * 2));
            else f.pixels.insert(f.pixels.end(), {static_cast<uint8_t>(x * 5), static_cast<uint8_t>(y * 7), 90});
        }
    return testutil::WriteBytes(path, testutil::MakeBmp(f));
}

bool MakeJpegSource(Kind kind, const std::string& path)
{
    jpegtest::Fixture f;
    f.width = kW;
    f.height = kH;
    f.components = kind == kGrey ? 1 : 4;
    f.space = kind == kGrey ? JCS_GRAYSCALE : JCS_CMYK;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            for (int c = 0; c < f.components; ++c) f.samples.push_back(static_cast<uint8_t>(x * 4 + y * (c + 1) + 40 * c));
    return jpegtest::WriteFixture(path, f);
}

// The source as the library reads it, in RGB (CMYK through its conversion).
RgbImage ReadAsRgb(const std::string& path)
{
    std::unique_ptr<CRastik> codec(NewRastikInstance(DetectFileType(path.c_str()), path.c_str()));
    EXPECT_TRUE(codec && testutil::OpenAndReadHead(*codec, path.c_str()) && testutil::ReadWholeImage(*codec));
    if (!codec || codec->ColorMode != kModeCmyk) return codec ? testutil::PlanesToRgb(*codec) : RgbImage();
    std::vector<uint8_t> p[4], rgb[3];
    for (uint32_t c = 0; c < 4; ++c) p[c] = testutil::PlaneBytes(*codec, c);
    for (auto& plane : rgb) plane.resize(p[0].size());
    uint32_t n = static_cast<uint32_t>(p[0].size());
    CmykToRgb(p[0].data(), p[1].data(), p[2].data(), p[3].data(), rgb[0].data(), rgb[1].data(), rgb[2].data(), n, n,
              n, 1, 0);
    RgbImage image{codec->Width, codec->Height, std::vector<uint8_t>(n * 3)};
    for (uint32_t i = 0; i < n; ++i)
        for (uint32_t c = 0; c < 3; ++c) image.rgb[i * 3 + c] = rgb[c][i];
    return image;
}

// The grey of each pixel, with the weights of the library's conversion.
void ToGrey(RgbImage& image)
{
    for (size_t i = 0; i + 2 < image.rgb.size(); i += 3) {
        auto g = static_cast<uint8_t>(0.6 * image.rgb[i + 1] + 0.3 * image.rgb[i] + 0.1 * image.rgb[i + 2]);
        image.rgb[i] = image.rgb[i + 1] = image.rgb[i + 2] = g;
    }
}

double MeanDifference(const RgbImage& a, const RgbImage& b)
{
    if (a.width != b.width || a.height != b.height || a.rgb.size() != b.rgb.size() || a.rgb.empty()) return 1e9;
    double sum = 0;
    for (size_t i = 0; i < a.rgb.size(); ++i) sum += std::abs(a.rgb[i] - b.rgb[i]);
    return sum / static_cast<double>(a.rgb.size());
}

class ConvertPairs : public ::testing::TestWithParam<std::tuple<size_t, int>> {};

TEST_P(ConvertPairs, WritesTheDestinationsFormatThatOutsideDecodersRead)
{
    const Destination& d = kDestinations[std::get<0>(GetParam())];
    const Kind kind = static_cast<Kind>(std::get<1>(GetParam()));
    bool magick = testutil::HasConvert(), pil = testutil::HasPil();
    if (!magick && !pil) GTEST_SKIP() << "neither ImageMagick nor PIL installed";
    testutil::TempDir dir;
    bool jpegSource = kind == kGrey || kind == kCmyk;
    std::string src = dir.File(std::string("src.") + (jpegSource ? "jpg" : "bmp"));
    std::string dst = dir.File(std::string("dst.") + d.Extension);
    ASSERT_TRUE(jpegSource ? MakeJpegSource(kind, src) : MakeBmpSource(kind, src));

    testutil::ToolRun r = testutil::RunTool("convert --quality 95 " + Quote(src) + " " + Quote(dst), dir.Path());
    ASSERT_EQ(r.status, 0) << r.err;
    std::unique_ptr<CRastik> written(NewRastikInstance(DetectFileType(dst.c_str()), dst.c_str()));
    ASSERT_TRUE(written && testutil::OpenAndReadHead(*written, dst.c_str()));
    EXPECT_EQ(written->ColorMode, d.Mode[kind]);

    RgbImage expected = ReadAsRgb(src);
    if (d.Mode[kind] == kModeGrey && kind != kGrey) ToGrey(expected);
    for (bool useMagick : {true, false}) {
        if (useMagick ? !magick : !pil) continue;
        SCOPED_TRACE(useMagick ? "ImageMagick" : "PIL");
        auto decode = useMagick ? testutil::DecodeWithConvert : testutil::DecodeWithPil;
        RgbImage theirs, theirSource;
        ASSERT_TRUE(decode(dst, &theirs, d.Format));
        // A CMYK file is compared with the same decoder's view of the source.
        if (d.Mode[kind] == kModeCmyk) {
            ASSERT_TRUE(decode(src, &expected, nullptr));
        }
        EXPECT_LE(MeanDifference(theirs, expected), d.MeanError);
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryFormat, ConvertPairs,
    ::testing::Combine(::testing::Range<size_t>(0, std::size(kDestinations)), ::testing::Range(0, int(kKinds))),
    [](const auto& info) {
        return std::string(kKindNames[std::get<1>(info.param)]) + "To" +
               kDestinations[std::get<0>(info.param)].Extension;
    });

class ConvertTool : public ::testing::Test {
protected:
    testutil::ToolRun Run(const std::string& args) { return testutil::RunTool("convert " + args, dir.Path()); }
    std::string Bmp(const std::string& name, Kind kind = kRgb)
    {
        std::string path = dir.File(name);
        EXPECT_TRUE(MakeBmpSource(kind, path));
        return path;
    }
    bool Exists(const std::string& path) const { return access(path.c_str(), F_OK) == 0; }
    testutil::TempDir dir;
};

TEST_F(ConvertTool, EveryFailureNamesItsCause)
{
    std::string good = Bmp("good.bmp");
    testutil::WriteBytes(dir.File("notes.txt"), {'h', 'e', 'l', 'l', 'o', '\n'});
    std::vector<uint8_t> refused(70, 0);  // "BM" and a header of zeros
    refused[0] = 'B';
    refused[1] = 'M';
    testutil::WriteBytes(dir.File("refused.bmp"), refused);
    mkdir(dir.File("folder.bmp").c_str(), 0777);
    struct Case {
        std::string source, target, cause;
    };
    const Case cases[] = {
        {dir.File("none.bmp"), dir.File("a.bmp"), "none.bmp: No such file or directory"},
        {dir.File("notes.txt"), dir.File("a.bmp"), "notes.txt: not an image file of a known format"},
        {dir.File("refused.bmp"), dir.File("a.bmp"), "refused.bmp: cannot read the image header (27601: "},
        {good, dir.File("a.pct"), "a.pct: PICT files cannot be written"},
        {good, dir.File("a.xyz"), "a.xyz: no format can be written for '.xyz'"},
        {good, dir.File("no/such/dir/a.bmp"), "cannot create " + dir.File("no/such/dir/a.bmp") +
                                                  ": No such file or directory"},
        {good, dir.File("folder.bmp"), "cannot write " + dir.File("folder.bmp") + ": Is a directory"},
    };
    for (const Case& c : cases) {
        testutil::ToolRun r = Run(Quote(c.source) + " " + Quote(c.target));
        EXPECT_EQ(r.status, 1) << c.cause;
        EXPECT_NE(r.err.find(c.cause), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(Exists(dir.File("a.bmp")));
    EXPECT_FALSE(Exists(dir.File("a.pct")));
    EXPECT_FALSE(Exists(dir.File("a.xyz")));
}

TEST_F(ConvertTool, BatchConvertsEveryFileAndReportsEachFailure)
{
    std::string a = Bmp("a.bmp"), b = Bmp("b.bmp", kIndexed), c = Bmp("c.bmp", kOneBit);
    testutil::WriteBytes(dir.File("bad.bmp"), {'n', 'o'});
    std::string out = dir.File("out");
    testutil::ToolRun r = Run(Quote(a) + " " + Quote(dir.File("bad.bmp")) + " " + Quote(b) + " " + Quote(c) +
                              " --out-dir " + Quote(out) + " --format jpg --jobs 2 --width 24");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("converted 3 of 4 files into " + out), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("; 1 failed"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("bad.bmp: cannot read the image header"), std::string::npos) << r.err;
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) {
        std::string path = out + "/" + name;
        EXPECT_EQ(DetectFileType(path.c_str()), kTypeJpeg) << name;
        CJpgIO jpg(path.c_str());
        ASSERT_TRUE(testutil::OpenAndReadHead(jpg, path.c_str())) << name;
        EXPECT_EQ(jpg.Width, 24u);
    }
    EXPECT_FALSE(Exists(out + "/bad.jpg"));

    // Every file converting: status 0; without --format each keeps its own.
    r = Run(Quote(a) + " " + Quote(b) + " --out-dir " + Quote(out));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("converted 2 of 2 files"), std::string::npos) << r.out;
    EXPECT_EQ(DetectFileType((out + "/b.bmp").c_str()), kTypeBmp);
}

TEST_F(ConvertTool, BatchRefusesTwoSourcesWithOneOutputAndBadOptions)
{
    std::string a = Bmp("a.bmp");
    mkdir(dir.File("sub").c_str(), 0777);
    std::string other = Bmp("sub/a.bmp");
    testutil::ToolRun r = Run(Quote(a) + " " + Quote(other) + " --out-dir " + Quote(dir.File("out")));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("is also the output of " + a), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("converted 1 of 2"), std::string::npos) << r.out;

    for (const std::string& args : {"--jobs 2 " + Quote(a) + " x.bmp", "--format jpg " + Quote(a) + " x.bmp",
                                    "--out-dir " + Quote(dir.File("o")) + " --jobs 0 " + Quote(a),
                                    "--threads 0 " + Quote(a) + " x.bmp", "--threads 257 " + Quote(a) + " x.bmp",
                                    "--out-dir " + Quote(dir.File("o"))})
        EXPECT_EQ(Run(args).status, 2) << args;
    r = Run(Quote(a) + " --out-dir " + Quote(dir.File("none/deeper")));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot create " + dir.File("none/deeper") + ": No such file or directory"),
              std::string::npos) << r.err;
}

// The threads of a conversion, alone or in a batch, change no byte.
TEST_F(ConvertTool, ThreadCountsWriteTheSameFiles)
{
    std::string a = Bmp("a.bmp"), b = Bmp("b.bmp", kIndexed);
    std::string out = dir.File("out");
    testutil::ToolRun r = Run(Quote(a) + " " + Quote(b) + " --out-dir " + Quote(out) +
                              " --format jpg --jobs 2 --threads 2 --width 40");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* threads : {"1", "2", "5"}) {
        for (const std::string& source : {a, b}) {
            std::string name = source.substr(source.rfind('/') + 1, 1) + ".jpg";
            r = Run(std::string("--threads ") + threads + " --width 40 " + Quote(source) + " " + Quote(dir.File(name)));
            ASSERT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(testutil::ReadBytes(dir.File(name)), testutil::ReadBytes(out + "/" + name)) << threads << " " << name;
        }
    }
}

// Ctrl-C (SIGINT to the tool) stops the running conversions: what is left
// in the output folder are whole files only.
TEST_F(ConvertTool, InterruptedBatchLeavesNoPartialOutput)
{
    testutil::BmpFixture f;
    f.width = f.height = 800;
    for (int i = 0; i < 800 * 800; ++i)
        f.pixels.insert(f.pixels.end(), {static_cast<uint8_t>(i * 7), static_cast<uint8_t>(i / 800), 33});
    std::vector<std::string> args = {"rastik", "convert", "--mode", "indexed"};
    for (int i = 0; i < 16; ++i) {
        args.push_back(dir.File("big" + std::to_string(i) + ".bmp"));
        ASSERT_TRUE(testutil::WriteBytes(args.back(), testutil::MakeBmp(f)));
    }
    std::string out = dir.File("out");
    for (const char* a : {"--out-dir", out.c_str(), "--jobs", "2"}) args.push_back(a);
    std::string err = dir.File("err.txt");
    pid_t pid = fork();
    if (pid == 0) {
        freopen(err.c_str(), "w", stderr);
        freopen("/dev/null", "w", stdout);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(RASTIK_TOOL_PATH, argv.data());
        _exit(127);
    }
    ASSERT_GT(pid, 0);
    // Interrupt as soon as the first output appears: the other conversions
    // are then still to come however fast the machine is.
    for (int waited = 0; waited < 20000 && testutil::ListFiles(out, "", "").empty(); ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    std::vector<uint8_t> text = testutil::ReadBytes(err);
    EXPECT_NE(std::string(text.begin(), text.end()).find("interrupted"), std::string::npos);
    for (const std::string& path : testutil::ListFiles(out, "", "")) {
        CBmpIO bmp(path.c_str());
        EXPECT_TRUE(testutil::OpenAndReadHead(bmp, path.c_str()) && testutil::ReadWholeImage(bmp)) << path;
    }
}

}  // namespace
