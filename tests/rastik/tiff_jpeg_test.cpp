// JPEG-compressed TIFF strips and tiles: libtiff's JPEG output (YCbCr of
// its default subsampling, RGB, grey and CMYK, strips and tiles) and the
// corpus files, new and old style, against libtiff's decoding, as PSNR;
// hand-made old-style layouts the stream builder refuses; damaged strips
// and tables.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "TestUtil.h"
#include "rastik/CJpgIO.h"
#include "rastik/tiff/CTiffJpegDecoder.h"
#include "rastik/tiff/CTiffOldJpegStream.h"
#include "rastik/tiff/CTiffYCbCrRows.h"
#include "tiff_strip_files.h"
#include "tiff_util.h"

using namespace testutil;

namespace {

// PSNR of two images of the same size (infinite when equal), -1 when the
// sizes differ.
double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    if (a.size() != b.size() || a.empty()) return -1;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    return sum == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 * a.size() / sum);
}

std::span<const uint8_t> Span(const std::vector<uint8_t>& v)
{
    return {v.data(), v.size()};
}

// A frame of the decoder's rows into image (width x samples bytes a row)
// at (left, top), cropped to the image.
void DecodeFrame(CTiffJpegDecoder& decoder, uint32_t frameWidth, uint32_t frameRows, uint32_t left, uint32_t top,
                 uint32_t width, uint32_t height, std::vector<uint8_t>& image)
{
    uint32_t n = decoder.OutputSamples();
    std::vector<uint8_t> row(size_t(frameWidth) * n);
    for (uint32_t r = 0; r < frameRows && top + r < height; ++r) {
        decoder.DecodeRow(row.data());
        uint32_t columns = std::min(frameWidth, width - left);
        std::copy_n(row.begin(), size_t(columns) * n, image.begin() + (size_t(top + r) * width + left) * n);
    }
}

// A compression 7 file decoded strip by strip or tile by tile.
std::vector<uint8_t> DecodeJpegTiff(const StripFile& f, uint32_t* samples)
{
    const StripFile::Field* tables = f.Has(347) ? &f.fields.at(347) : nullptr;
    CTiffJpegDecoder decoder(f.Unsigned(262), f.Unsigned(277, 1), tables ? tables->bytes.data() : nullptr,
                             tables ? tables->bytes.size() : 0);
    if (!decoder.Ok()) return {};
    uint32_t width = f.Width(), height = f.Height(), n = decoder.OutputSamples();
    *samples = n;
    std::vector<uint8_t> image(size_t(width) * height * n);
    bool tiled = f.Has(324);
    uint32_t tw = tiled ? f.Unsigned(322) : width, th = tiled ? f.Unsigned(323) : f.RowsPerStrip();
    uint32_t across = (width + tw - 1) / tw;
    for (size_t s = 0; s < f.strips.size(); ++s) {
        uint32_t left = uint32_t(s % across) * tw, top = uint32_t(s / across) * th;
        if (top >= height || !decoder.Start(f.strips[s].data(), f.strips[s].size(), tw, th)) continue;
        DecodeFrame(decoder, tw, decoder.Rows(), left, top, width, height, image);
    }
    return image;
}

// The fields of an old-style JPEG file, its tables and its stream head
// read from the file's bytes.
TiffOldJpegFields OldJpegFields(const StripFile& f, const std::vector<uint8_t>& bytes)
{
    TiffOldJpegFields fields;
    bool tiled = f.Has(324);
    fields.width = tiled ? f.Unsigned(322) : f.Width();
    fields.height = tiled ? f.Unsigned(323) : f.Height();
    fields.samplesPerPixel = f.Unsigned(277, 1);
    fields.ycbcr = f.Unsigned(262) == 6;
    std::vector<uint32_t> sub = f.Items(530);
    if (sub.size() == 2) fields.subH = sub[0], fields.subV = sub[1];
    fields.process = f.Unsigned(512, 1);
    fields.restartInterval = f.Unsigned(515);
    fields.rowsPerStrip = tiled ? 0 : f.RowsPerStrip();
    auto from = [&](uint32_t offset) {
        return offset < bytes.size() ? std::span<const uint8_t>(bytes.data() + offset, bytes.size() - offset)
                                     : std::span<const uint8_t>();
    };
    if (f.Has(513)) fields.interchange = from(f.Unsigned(513)).first(std::min<size_t>(f.Unsigned(514), from(f.Unsigned(513)).size()));
    for (uint32_t o : f.Items(519)) fields.qTables.push_back(from(o));
    for (uint32_t o : f.Items(520)) fields.dcTables.push_back(from(o));
    for (uint32_t o : f.Items(521)) fields.acTables.push_back(from(o));
    return fields;
}

// An old-style file decoded: one frame of all strips, or a frame per tile;
// YCbCr converted as libtiff converts it, with the file's coefficients and
// reference range.
std::vector<uint8_t> DecodeOldJpegTiff(const StripFile& f, const std::vector<uint8_t>& bytes)
{
    TiffOldJpegFields fields = OldJpegFields(f, bytes);
    uint32_t width = f.Width(), height = f.Height();
    CTiffJpegDecoder decoder(fields.ycbcr ? 6 : 1, fields.samplesPerPixel, nullptr, 0, true);
    std::vector<uint8_t> image(size_t(width) * height * decoder.OutputSamples()), stream;
    bool tiled = f.Has(324);
    std::vector<std::vector<std::span<const uint8_t>>> frames;
    if (!tiled) frames.emplace_back();
    for (const std::vector<uint8_t>& strip : f.strips) {
        if (tiled) frames.emplace_back();
        frames.back().push_back(Span(strip));
    }
    uint32_t across = (width + fields.width - 1) / fields.width;
    for (size_t t = 0; t < frames.size(); ++t) {
        if (!CTiffOldJpegStream::Build(fields, frames[t], &stream)) return {};
        if (!decoder.Start(stream.data(), stream.size(), fields.width, fields.height)) return {};
        DecodeFrame(decoder, fields.width, decoder.Rows(), uint32_t(t % across) * fields.width,
                    uint32_t(t / across) * fields.height, width, height, image);
    }
    if (!fields.ycbcr) return image;
    std::vector<float> coefficients, blackWhite;
    for (uint32_t i = 0; i < 3 && f.Has(529); ++i) coefficients.push_back(float(f.Number(529, i)));
    for (uint32_t i = 0; i < 6 && f.Has(532); ++i) blackWhite.push_back(float(f.Number(532, i)));
    CTiffYCbCrRows colour(1, 1, 1, coefficients.empty() ? nullptr : coefficients.data(),
                          blackWhite.empty() ? nullptr : blackWhite.data());
    for (size_t i = 0; i < image.size(); i += 3) colour.ToRgb(image[i], image[i + 1], image[i + 2], &image[i]);
    return image;
}

// libtiff's decoding: RGB through its RGBA reading, or (for CMYK) the raw
// samples of its uncompressed copy.
bool LibtiffImage(const std::string& path, uint32_t samples, const TempDir& dir, std::vector<uint8_t>* out)
{
    if (samples != 4) {
        RgbImage rgb;
        if (!DecodeWithTiff2Rgba(path, &rgb)) return false;
        *out = rgb.rgb;
        return true;
    }
    std::string plain = dir.File("plain.tif");
    StripFile f;
    if (RunCommand("/usr/bin/tiffcp -c none -s -r 100000 " + Quote(path) + " " + Quote(plain) + " 2>/dev/null", nullptr) != 0 ||
        !LoadStripFile(plain, &f) || f.strips.size() != 1)
        return false;
    *out = f.strips[0];
    return true;
}

// RGB, grey, CMYK and RGB with alpha sources written by libtiff as YCbCr
// and RGB JPEG, in strips and tiles.
class TiffJpegFiles : public MadeFilesTest<TiffJpegFiles> {
public:
    static void MakeFiles(MadeFiles& made)
    {
        made.Make({"-size 161x97 -seed 3 plasma:", "-size 161x97 -seed 4 plasma: -colorspace gray",
                   "-size 83x45 -seed 5 plasma: -colorspace CMYK",
                   "-size 75x41 -seed 6 plasma: -alpha set -channel A -fx i/w +channel"},
                  "-depth 8",
                  {"-c jpeg -r 16", "-c jpeg:r -r 8", "-c jpeg:95 -r 32", "-c jpeg -t -w 64 -l 48",
                   "-c jpeg:r -t -w 32 -l 32"});
    }
};

TEST_F(TiffJpegFiles, DecodeAsLibtiff)
{
    EXPECT_GE(s_made->files.size(), 17u);  // libtiff writes RGB with alpha only as RGB JPEG
    TempDir dir;
    for (const MadeFile& m : s_made->files) {
        StripFile f;
        ASSERT_TRUE(LoadStripFile(m.path, &f)) << m.what;
        uint32_t samples = 0;
        std::vector<uint8_t> mine = DecodeJpegTiff(f, &samples), theirs;
        ASSERT_FALSE(mine.empty()) << m.what;
        ASSERT_TRUE(LibtiffImage(m.path, samples, dir, &theirs)) << m.what;
        if (samples == 1) {  // libtiff's RGB of grey
            std::vector<uint8_t> grey;
            for (size_t i = 0; i < theirs.size(); i += 3) grey.push_back(theirs[i]);
            theirs = grey;
        }
        EXPECT_GE(Psnr(mine, theirs), 45) << m.what;
    }
}

TEST(TiffJpegCorpus, DecodeAsLibtiff)
{
    std::string dir = CorpusDir("tiff");
    if (dir.empty() || !HasTiffTools()) GTEST_SKIP() << "no ../shared/corpus/tiff or libtiff tools";
    TempDir scratch;
    int seen = 0;
    for (const std::string& path : ListFiles(dir, "", "")) {
        StripFile f;
        if (!LoadStripFile(path, &f)) continue;
        uint32_t compression = f.Unsigned(259), samples = 3;
        if (compression != 6 && compression != 7) continue;
        ++seen;
        std::vector<uint8_t> mine = compression == 7 ? DecodeJpegTiff(f, &samples) : DecodeOldJpegTiff(f, ReadBytes(path)), theirs;
        ASSERT_FALSE(mine.empty()) << path;
        ASSERT_TRUE(LibtiffImage(path, samples, scratch, &theirs)) << path;
        double psnr = Psnr(mine, theirs);
        std::cout << path << ": PSNR " << psnr << " dB against libtiff\n";
        EXPECT_GE(psnr, 45) << path;
    }
    EXPECT_GE(seen, 4);
}

// Old-style layouts put together by hand: a head made from the table tags
// decodes as the same stream written whole; what cannot be made is refused.
TEST(TiffOldJpeg, StreamLayouts)
{
    // Grey 8 x 8 of one flat block: DC difference 0 with the one-code tables.
    const std::vector<uint8_t> kQuant(64, 1);
    std::vector<uint8_t> dc(16, 0), ac(16, 0);
    dc[0] = 1, ac[0] = 1;                 // one code of 1 bit each
    dc.push_back(0), ac.push_back(0);     // DC size 0; AC end of block
    const std::vector<uint8_t> kScan = {0x3F};  // DC 0, end of block, 1 bits to the byte
    TiffOldJpegFields f;
    f.width = f.height = 8;
    f.samplesPerPixel = 1;
    f.ycbcr = false;
    f.qTables = {Span(kQuant)};
    f.dcTables = {Span(dc)};
    f.acTables = {Span(ac)};
    std::vector<uint8_t> stream;
    ASSERT_TRUE(CTiffOldJpegStream::Build(f, {Span(kScan)}, &stream));
    CTiffJpegDecoder decoder(1, 1);
    ASSERT_TRUE(decoder.Start(stream.data(), stream.size(), 8, 8));
    std::vector<uint8_t> row(8);
    ASSERT_TRUE(decoder.DecodeRow(row.data()));
    EXPECT_EQ(row, std::vector<uint8_t>(8, 128));
    // The whole stream at JPEGInterchangeFormat is taken as it is.
    TiffOldJpegFields whole;
    whole.width = whole.height = 8;
    whole.samplesPerPixel = 1;
    whole.ycbcr = false;
    whole.interchange = Span(stream);
    std::vector<uint8_t> again;
    ASSERT_TRUE(CTiffOldJpegStream::Build(whole, {}, &again));
    EXPECT_EQ(again, stream);
    struct Refusal {
        const char* what;
        void (*change)(TiffOldJpegFields&);
    };
    const Refusal kRefused[] = {
        {"lossless process", [](TiffOldJpegFields& x) { x.process = 14; }},
        {"no tables", [](TiffOldJpegFields& x) { x.dcTables.clear(); }},
        {"short quantisation table", [](TiffOldJpegFields& x) { x.qTables[0] = x.qTables[0].first(10); }},
        {"two samples", [](TiffOldJpegFields& x) { x.samplesPerPixel = 2; }},
        {"bad subsampling", [](TiffOldJpegFields& x) { x.samplesPerPixel = 3, x.ycbcr = true, x.subH = 3; }},
        {"no size", [](TiffOldJpegFields& x) { x.width = 0; }},
    };
    for (const Refusal& r : kRefused) {
        TiffOldJpegFields g = f;
        r.change(g);
        EXPECT_FALSE(CTiffOldJpegStream::Build(g, {Span(kScan)}, &stream)) << r.what;
        EXPECT_TRUE(stream.empty()) << r.what;
    }
}

// A strip holding a whole CMYK JPEG stream with an Adobe marker (as
// ImageMagick writes it, inverted) comes out as ink, as the JPEG codec
// reads the same stream.
TEST(TiffJpeg, AdobeCmykAsTheJpegCodec)
{
    if (!HasConvert()) GTEST_SKIP() << "ImageMagick missing";
    TempDir dir;
    std::string jpeg = dir.File("cmyk.jpg");
    ASSERT_EQ(RunCommand(std::string(kConvert) + " -size 37x21 -seed 6 plasma: -colorspace CMYK " + Quote(jpeg), nullptr), 0);
    std::vector<uint8_t> stream = ReadBytes(jpeg);
    CTiffJpegDecoder decoder(5, 4);
    ASSERT_TRUE(decoder.Start(stream.data(), stream.size(), 37, 21));
    std::vector<uint8_t> mine(37 * 21 * 4);
    for (uint32_t r = 0; r < 21; ++r) ASSERT_TRUE(decoder.DecodeRow(mine.data() + r * 37 * 4));
    CJpgIO codec(jpeg.c_str());
    ASSERT_EQ(OpenAndReadHead(codec, jpeg.c_str()), 1);
    ASSERT_EQ(ReadWholeImage(codec), 1);
    ASSERT_EQ(codec.ChannelCount, 4u);
    std::vector<uint8_t> expected(mine.size());
    for (uint32_t c = 0; c < 4; ++c) {
        std::vector<uint8_t> plane = PlaneBytes(codec, c);
        for (size_t i = 0; i < plane.size(); ++i) expected[i * 4 + c] = plane[i];
    }
    EXPECT_EQ(FirstDifference(mine, expected, 4), "");
}

// Truncated and mutated strips and tables end cleanly, under the
// sanitizers too.
TEST_F(TiffJpegFiles, DamagedStripsEndCleanly)
{
    std::mt19937 random(7);
    std::vector<std::string> paths;
    for (const MadeFile& m : s_made->files) paths.push_back(m.path);
    std::string corpus = CorpusDir("tiff");
    if (!corpus.empty()) paths.push_back(corpus + "/quad-tile.jpg.tiff");
    for (const std::string& path : paths) {
        StripFile f;
        if (!LoadStripFile(path, &f) || !f.Has(347)) continue;
        std::vector<uint8_t> tables = f.fields.at(347).bytes;
        bool tiled = f.Has(324);
        uint32_t tw = tiled ? f.Unsigned(322) : f.Width(), th = tiled ? f.Unsigned(323) : f.RowsPerStrip();
        for (int round = 0; round < 30; ++round) {
            std::vector<uint8_t> t = tables, strip = f.strips[0];
            if (round < 6) strip.resize(strip.size() * round / 6);
            for (int flips = round < 6 ? 0 : 1 + int(random() % 6); flips > 0; --flips) {
                std::vector<uint8_t>& target = random() % 4 == 0 ? t : strip;
                if (!target.empty()) target[random() % target.size()] ^= uint8_t(1u << (random() % 8));
            }
            CTiffJpegDecoder decoder(f.Unsigned(262), f.Unsigned(277, 1), t.data(), t.size());
            if (!decoder.Start(strip.data(), strip.size(), tw, th)) continue;
            std::vector<uint8_t> row(size_t(tw) * decoder.OutputSamples());
            for (uint32_t r = 0; r < th; ++r) r % 3 ? decoder.DecodeRow(row.data()) : decoder.SkipRow();
        }
    }
    // Old-style files: their tables, stream heads and strips.
    for (const char* name : {"ojpeg_chewey_subsamp21_multi_strip.tiff", "ojpeg_single_strip_no_rowsperstrip.tiff"}) {
        StripFile f;
        if (corpus.empty() || !LoadStripFile(corpus + "/" + name, &f)) continue;
        std::vector<uint8_t> bytes = ReadBytes(f.path);
        for (int round = 0; round < 30; ++round) {
            StripFile g = f;
            std::vector<uint8_t> b = bytes;
            for (int flips = 1 + int(random() % 8); flips > 0; --flips) {
                std::vector<uint8_t>& target = random() % 2 ? b : g.strips[random() % g.strips.size()];
                if (!target.empty()) target[random() % target.size()] ^= uint8_t(1u << (random() % 8));
            }
            if (round % 5 == 4) g.strips.back().resize(g.strips.back().size() / 2);
            DecodeOldJpegTiff(g, b);
        }
    }
}

}  // namespace
