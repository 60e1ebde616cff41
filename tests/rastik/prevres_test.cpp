// Tests of the embedded preview resource: the preview JPEG of each colour
// mode, writing the "8BIM" thumbnail into a file, finding and decoding it
// again, the older blue-green-red kind, and hostile resource blocks.
#include <dirent.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "jpeg_util.h"
#include "rastik/rastik.h"

using testutil::TempDir;

namespace {

// Points the temporary directory at the test's own while alive.
class TempDirectoryOverride {
public:
    explicit TempDirectoryOverride(const std::string& dir)
    {
        const char* old = getenv("TMPDIR");
        m_had = old != nullptr;
        if (old) m_old = old;
        setenv("TMPDIR", dir.c_str(), 1);
    }
    ~TempDirectoryOverride()
    {
        if (m_had) setenv("TMPDIR", m_old.c_str(), 1);
        else unsetenv("TMPDIR");
    }

private:
    bool m_had = false;
    std::string m_old;
};

size_t CountTempFiles(const std::string& dir)
{
    size_t n = 0;
    DIR* d = opendir(dir.c_str());
    if (!d) return 0;
    while (dirent* e = readdir(d))
        if (std::string(e->d_name).rfind("tmp", 0) == 0) ++n;
    closedir(d);
    return n;
}

void Put(std::vector<uint8_t>& b, uint32_t v, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A resource block: 100 bytes of something else, an "8BIM" 1005 resource of
// 3 data bytes (with its pad byte), then the thumbnail the image writes.
struct ResourceFile {
    std::string path;
    int32_t written = 0;
    static constexpr int32_t kStart = 100;
    static constexpr int32_t kThumbnail = kStart + 16;
};

ResourceFile WriteResourceFile(CRastik& image, const std::string& path)
{
    ResourceFile rf;
    rf.path = path;
    std::vector<uint8_t> head(ResourceFile::kStart, 0x5A);
    head.insert(head.end(), {'8', 'B', 'I', 'M'});
    Put(head, 1005, 2);
    Put(head, 0, 2);  // empty name and its pad byte
    Put(head, 3, 4);
    head.insert(head.end(), {1, 2, 3, 0});
    if (!image.File.Open(path.c_str(), CFile::modeCreate | CFile::modeReadWrite | CFile::typeBinary)) return rf;
    image.File.Write(head.data(), static_cast<uint32_t>(head.size()));
    rf.written = image.WritePrevFile();
    image.File.Close();
    return rf;
}

// The preview of the resource at path, read through a fresh image object.
struct Preview {
    int found = 0;
    int read = 0;
    int32_t bgr = -1;
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> pixels;
};

Preview ReadResourcePreview(const std::string& path, int32_t resourcePos)
{
    Preview p;
    CRastik reader;
    if (!reader.File.Open(path.c_str(), CFile::modeRead | CFile::typeBinary)) return p;
    reader.ResourcePos = resourcePos;
    int32_t at = reader.GetPosOfPrevData();
    p.found = at;
    p.bgr = reader.PrevIsBgr;
    if (at <= 0) return p;
    uint8_t* buffer = nullptr;
    p.read = reader.ReadPrevJpegFile(at, buffer);
    if (p.read) {
        p.width = reader.PrevWidth;
        p.height = reader.PrevHeight;
        p.pixels.assign(buffer, buffer + (p.width * 24 + 31) / 32 * 4 * p.height);
    }
    FreeBuffer(&buffer);
    return p;
}

TEST(PrevRes, WrittenThumbnailIsFoundAndDecoded)
{
    TempDir dir;
    TempDirectoryOverride temp(dir.Path());
    const uint32_t w = 300, h = 200;
    auto src = jpegtest::PhotoPlanes(w, h, 3);
    CRastik image;
    ASSERT_TRUE(jpegtest::FillCodec(image, kModeRgb, w, h, src));
    ResourceFile rf = WriteResourceFile(image, dir.File("res.bin"));
    ASSERT_GT(rf.written, 40);
    EXPECT_EQ(image.PrevWidth, 96);
    EXPECT_EQ(image.PrevHeight, 64);
    std::vector<uint8_t> bytes = testutil::ReadBytes(rf.path);
    ASSERT_EQ(bytes.size(), static_cast<size_t>(ResourceFile::kThumbnail + rf.written));
    const uint8_t* r = &bytes[ResourceFile::kThumbnail];
    EXPECT_EQ(memcmp(r, "8BIM\x04\x0C\x00\x00", 8), 0);
    uint32_t jpegLength = static_cast<uint32_t>(rf.written - 40);
    auto be32 = [&](size_t at) {
        return static_cast<uint32_t>(r[at]) << 24 | r[at + 1] << 16 | r[at + 2] << 8 | r[at + 3];
    };
    EXPECT_EQ(be32(8), jpegLength + 28);
    EXPECT_EQ(be32(12), 1u);
    EXPECT_EQ(be32(16), 96u);
    EXPECT_EQ(be32(20), 64u);
    EXPECT_EQ(be32(24), 288u);
    EXPECT_EQ(be32(28), 288u * 64);
    EXPECT_EQ(be32(32), jpegLength);
    EXPECT_EQ(r[40], 0xFF);
    EXPECT_EQ(r[41], 0xD8);
    EXPECT_EQ(CountTempFiles(dir.Path()), 0u);

    Preview p = ReadResourcePreview(rf.path, ResourceFile::kStart);
    EXPECT_EQ(p.found, ResourceFile::kThumbnail + 6);  // the name field
    EXPECT_EQ(p.bgr, 0);
    ASSERT_EQ(p.read, 1);
    EXPECT_EQ(p.width, 96u);
    EXPECT_EQ(p.height, 64u);
    // Preview pixel (row i, column k) shows the source pixel the ratios select
    // (32-bit float ratios, products at full precision).
    float fx = 96.0f / w, fy = 64.0f / h;
    uint32_t rowBytes = (96 * 24 + 31) / 32 * 4;
    int worst = 0;
    for (uint32_t y = 0, i = 0; y < h && i < 64; ++y) {
        if (static_cast<uint32_t>(static_cast<double>(fy) * y) != i) continue;
        for (uint32_t x = 0, k = 0; x < w && k < 96; ++x) {
            if (static_cast<uint32_t>(static_cast<double>(fx) * x) != k) continue;
            const uint8_t* px = &p.pixels[(63 - i) * rowBytes + k * 3];
            for (int c = 0; c < 3; ++c)
                worst = std::max(worst, std::abs(px[2 - c] - src[c][y * w + x]));
            ++k;
        }
        ++i;
    }
    EXPECT_LE(worst, 40);  // a JPEG of the sampled pixels; sharp texture costs a little
    EXPECT_EQ(CountTempFiles(dir.Path()), 0u);
}

TEST(PrevRes, OlderKindIsBlueGreenRed)
{
    TempDir dir;
    auto src = jpegtest::PhotoPlanes(60, 40, 3);
    CRastik image;
    ASSERT_TRUE(jpegtest::FillCodec(image, kModeRgb, 60, 40, src));
    ResourceFile rf = WriteResourceFile(image, dir.File("res.bin"));
    ASSERT_GT(rf.written, 0);
    Preview normal = ReadResourcePreview(rf.path, ResourceFile::kStart);
    std::vector<uint8_t> bytes = testutil::ReadBytes(rf.path);
    bytes[ResourceFile::kThumbnail + 5] = 0x09;  // resource id 1033
    testutil::WriteBytes(rf.path, bytes);
    Preview older = ReadResourcePreview(rf.path, ResourceFile::kStart);
    EXPECT_EQ(older.bgr, 1);
    ASSERT_EQ(older.read, 1);
    ASSERT_EQ(older.pixels.size(), normal.pixels.size());
    for (size_t i = 0; i + 2 < 60 * 3; i += 3) {
        EXPECT_EQ(older.pixels[i], normal.pixels[i + 2]);
        EXPECT_EQ(older.pixels[i + 2], normal.pixels[i]);
    }
}

TEST(PrevRes, PreviewJpegOfEveryMode)
{
    TempDir dir;
    std::string path = dir.File("p.jpg");
    jpegtest::Decoded d;
    auto planes = jpegtest::PhotoPlanes(50, 30, 4);

    CRastik grey;
    ASSERT_TRUE(jpegtest::FillCodec(grey, kModeGrey, 50, 30, planes));
    ASSERT_EQ(grey.CreatePrevJpegFile(path.c_str()), 1);
    ASSERT_TRUE(jpegtest::DecodeLibjpeg(path, &d));
    EXPECT_EQ(d.width, 50u);
    EXPECT_EQ(d.components, 3u);
    EXPECT_NEAR(d.samples[0], planes[0][0], 3);
    EXPECT_NEAR(d.samples[2], planes[0][0], 3);

    CRastik cmyk;
    ASSERT_TRUE(jpegtest::FillCodec(cmyk, kModeCmyk, 50, 30, planes));
    ASSERT_EQ(cmyk.CreatePrevJpegFile(path.c_str()), 1);
    ASSERT_TRUE(jpegtest::DecodeLibjpeg(path, &d));
    uint8_t cmykPixel[4] = {planes[0][0], planes[1][0], planes[2][0], planes[3][0]};
    uint8_t rgb[3] = {};
    ConvertPixelParams params{cmykPixel, rgb, {1, 1, 1, 1}};
    uint32_t scratch = 0;
    ConvertPixel(3, &params, &scratch);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(d.samples[c], rgb[c], 4);

    CRastik indexed;
    std::vector<std::vector<uint8_t>> index(1, std::vector<uint8_t>(50 * 30, 1));
    ASSERT_TRUE(jpegtest::FillCodec(indexed, kModeIndexed, 50, 30, index));
    const uint8_t palette[8] = {0, 0, 0, 0, 200, 100, 30, 0};  // entry 1: blue 200, green 100, red 30
    ASSERT_EQ(indexed.SetPalette(palette, 2), 1);
    indexed.PaletteSize = 2;
    ASSERT_EQ(indexed.CreatePrevJpegFile(path.c_str()), 1);
    ASSERT_TRUE(jpegtest::DecodeLibjpeg(path, &d));
    EXPECT_NEAR(d.samples[0], 30, 3);
    EXPECT_NEAR(d.samples[1], 100, 3);
    EXPECT_NEAR(d.samples[2], 200, 3);

    CRastik none;
    EXPECT_EQ(none.CreatePrevJpegFile(path.c_str()), 0);
    CRastik unplanned;
    unplanned.Width = unplanned.Height = 8;
    unplanned.SetMode(kModeRgb);  // no planes
    EXPECT_EQ(unplanned.CreatePrevJpegFile(path.c_str()), 0);
}

TEST(PrevRes, SpilledPlanesGiveTheSamePreview)
{
    TempDir dir;
    auto src = jpegtest::PhotoPlanes(700, 90, 3);
    CRastik heap;
    ASSERT_TRUE(jpegtest::FillCodec(heap, kModeRgb, 700, 90, src));
    ASSERT_EQ(heap.CreatePrevJpegFile(dir.File("heap.jpg").c_str()), 1);
    testutil::MemorySettings spill(true, 3 * 700 * 4);
    CRastik spilled;
    ASSERT_TRUE(jpegtest::FillCodec(spilled, kModeRgb, 700, 90, src));
    ASSERT_EQ(spilled.ChannelKind[1], kChannelTemp);
    ASSERT_EQ(spilled.CreatePrevJpegFile(dir.File("spill.jpg").c_str()), 1);
    EXPECT_EQ(testutil::ReadBytes(dir.File("heap.jpg")), testutil::ReadBytes(dir.File("spill.jpg")));
}

TEST(PrevRes, FailedWriteReturnsZeroAndLeavesNoTemporaryFile)
{
    TempDir dir;
    TempDirectoryOverride temp(dir.Path());
    auto src = jpegtest::PhotoPlanes(20, 20, 3);
    CRastik image;
    ASSERT_TRUE(jpegtest::FillCodec(image, kModeRgb, 20, 20, src));
    testutil::WriteBytes(dir.File("ro.bin"), {1, 2, 3});
    ASSERT_TRUE(image.File.Open(dir.File("ro.bin").c_str(), CFile::modeRead | CFile::typeBinary));
    EXPECT_EQ(image.WritePrevFile(), 0);  // File is read-only
    image.File.Close();
    EXPECT_EQ(CountTempFiles(dir.Path()), 0u);
    CRastik empty;
    EXPECT_EQ(empty.WritePrevFile(), 0);
    EXPECT_EQ(CountTempFiles(dir.Path()), 0u);
}

// Builds a resource block: "8BIM", id, the name bytes given, the size field,
// then data bytes.
std::vector<uint8_t> Resource(uint16_t id, std::vector<uint8_t> name, uint32_t size, size_t dataBytes)
{
    std::vector<uint8_t> b = {'8', 'B', 'I', 'M'};
    Put(b, id, 2);
    b.insert(b.end(), name.begin(), name.end());
    Put(b, size, 4);
    b.insert(b.end(), dataBytes, 0);
    return b;
}

// Thumbnail data fields after the size: format, width, height, row bytes,
// total, JPEG length, bits, planes.
std::vector<uint8_t> ThumbnailFields(uint32_t format, uint32_t w, uint32_t h, uint32_t rowBytes, uint32_t total,
                                     uint32_t jpegLength)
{
    std::vector<uint8_t> b;
    for (uint32_t v : {format, w, h, rowBytes, total, jpegLength}) Put(b, v, 4);
    Put(b, 24, 2);
    Put(b, 1, 2);
    return b;
}

int32_t FindIn(const std::string& path, const std::vector<uint8_t>& bytes)
{
    testutil::WriteBytes(path, bytes);
    return ReadResourcePreview(path, 1).found;
}

TEST(PrevRes, ResourceWalkIsBoundedAndSkipsNames)
{
    TempDir dir;
    std::string path = dir.File("walk.bin");
    std::vector<uint8_t> lead = {0};
    // A named resource ("abc": odd length, no pad) and a 1-byte name (pad), then the thumbnail.
    std::vector<uint8_t> b = lead;
    auto add = [&](const std::vector<uint8_t>& r) { b.insert(b.end(), r.begin(), r.end()); };
    add(Resource(1005, {3, 'a', 'b', 'c'}, 3, 4));
    add(Resource(1006, {2, 'x', 'y', 0}, 0, 0));
    add(Resource(1036, {0, 0}, 0, 0));
    EXPECT_EQ(FindIn(path, b), static_cast<int32_t>(b.size() - 6));

    // A chain of empty resources that runs into the end of the file.
    b = lead;
    for (int i = 0; i < 2000; ++i) add(Resource(1000, {0, 0}, 0, 0));
    EXPECT_EQ(FindIn(path, b), 0);
    // Sizes and names that pass the end of the file, a foreign signature.
    b = lead;
    add(Resource(1005, {0, 0}, 0xFFFFFFF0u, 0));
    add(Resource(1036, {0, 0}, 0, 0));
    EXPECT_EQ(FindIn(path, b), 0);
    b = lead;
    add(Resource(1005, {200}, 0, 0));
    EXPECT_EQ(FindIn(path, b), 0);
    b = lead;
    b.insert(b.end(), {'8', 'B', 'I', 'X', 4, 12});
    EXPECT_EQ(FindIn(path, b), 0);
    EXPECT_EQ(ReadResourcePreview(path, 1000000).found, 0);  // position past the end
    EXPECT_EQ(ReadResourcePreview(path, 0).found, 0);        // no resource block
}

TEST(PrevRes, ThumbnailFieldsAreChecked)
{
    TempDir dir;
    std::string path = dir.File("thumb.bin");
    std::vector<uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0xD9};
    auto make = [&](std::vector<uint8_t> fields, uint32_t size, size_t jpegBytes) {
        std::vector<uint8_t> b = {0};
        std::vector<uint8_t> r = Resource(1036, {0, 0}, size, 0);
        b.insert(b.end(), r.begin(), r.end());
        b.insert(b.end(), fields.begin(), fields.end());
        b.insert(b.end(), jpeg.begin(), jpeg.begin() + static_cast<long>(jpegBytes));
        testutil::WriteBytes(path, b);
        return ReadResourcePreview(path, 1);
    };
    // The fields are sound but the JPEG is not: found, not read.
    Preview p = make(ThumbnailFields(1, 4, 4, 12, 48, 4), 32, 4);
    EXPECT_GT(p.found, 0);
    EXPECT_EQ(p.read, 0);
    EXPECT_EQ(make(ThumbnailFields(1, 4, 4, 12, 47, 4), 32, 4).read, 0);          // total disagrees
    EXPECT_EQ(make(ThumbnailFields(2, 4, 4, 12, 48, 4), 32, 4).read, 0);          // not JPEG
    EXPECT_EQ(make(ThumbnailFields(1, 4, 4, 12, 48, 400), 32, 4).read, 0);        // JPEG past the file
    EXPECT_EQ(make(ThumbnailFields(1, 4, 4, 12, 48, 4), 20, 4).read, 0);          // data size too small
    EXPECT_EQ(make(ThumbnailFields(1, 0, 0, 0, 0, 4), 32, 4).read, 0);            // empty
    EXPECT_EQ(make(ThumbnailFields(1, 100000, 1, 300000, 300000, 4), 32, 4).read, 0);  // absurd width
    EXPECT_EQ(make(ThumbnailFields(1, 65536, 65536, 0, 0, 4), 32, 4).read, 0);
}

TEST(PrevRes, TruncatedResourceFilesFailCleanly)
{
    TempDir dir;
    TempDirectoryOverride temp(dir.Path());
    auto src = jpegtest::PhotoPlanes(80, 50, 3);
    CRastik image;
    ASSERT_TRUE(jpegtest::FillCodec(image, kModeRgb, 80, 50, src));
    ResourceFile rf = WriteResourceFile(image, dir.File("res.bin"));
    ASSERT_GT(rf.written, 0);
    std::vector<uint8_t> whole = testutil::ReadBytes(rf.path);
    std::string cut = dir.File("cut.bin");
    for (size_t n = ResourceFile::kStart; n < whole.size(); n += 7) {
        testutil::WriteBytes(cut, std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<long>(n)));
        Preview p = ReadResourcePreview(cut, ResourceFile::kStart);
        if (n < static_cast<size_t>(ResourceFile::kThumbnail + 6)) {
            EXPECT_EQ(p.found, 0);
        }
        EXPECT_EQ(p.read, 0);  // the JPEG would pass the end of the file
    }
    EXPECT_LE(CountTempFiles(dir.Path()), 1u);  // at most the image's own spill file
}

}  // namespace
