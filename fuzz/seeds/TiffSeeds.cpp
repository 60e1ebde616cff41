// TIFF seeds, built by the tests' TIFF builder.
#include "TiffSeeds.h"

#include <lzma.h>
#include <webp/encode.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <string>
#include <vector>

#include "PictFixture.h"
#include "SeedFiles.h"
#include "TiffFixture.h"
#include "host/CFuzzScratch.h"
#include "host/SampleImages.h"

#include <jpeglib.h>

namespace {

using testutil::TiffEntry;
using testutil::TiffFixture;
using Bytes = std::vector<uint8_t>;

// Tags the seeds set beyond the plain description.
enum : uint16_t {
    kTagCompression = 259,
    kTagXResolution = 282,
    kTagYResolution = 283,
    kTagPlanar = 284,
    kTagT4Options = 292,
    kTagResolutionUnit = 296,
    kTagPredictor = 317,
    kTagColorMap = 320,
    kTagExtraSamples = 338,
    kTagPhotoshop = 34377
};

Bytes Ramp(size_t n, uint32_t mul = 37)
{
    Bytes v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * mul + i / 7);
    return v;
}

void Set(TiffFixture& f, const TiffEntry& entry)
{
    for (TiffEntry& e : f.entries)
        if (e.tag == entry.tag) {
            e = entry;
            return;
        }
    f.entries.push_back(entry);
}

TiffFixture Plain(uint32_t w, uint32_t h, uint16_t bits, uint16_t samples, uint16_t photometric, uint32_t rows,
                  bool little = true)
{
    size_t bytes = (static_cast<size_t>(w) * bits * samples + 7) / 8 * h;
    TiffFixture f = testutil::PlainTiff(w, h, bits, samples, photometric, Ramp(bytes), rows, little);
    Set(f, {kTagXResolution, 5, {300, 1}, {}});
    Set(f, {kTagYResolution, 5, {150, 1}, {}});
    Set(f, {kTagResolutionUnit, 3, {2}, {}});
    return f;
}

// Three planes of w x h bytes, one strip each.
TiffFixture Planar(uint32_t w, uint32_t h)
{
    TiffFixture f = Plain(w, h, 8, 3, 2, h);
    Set(f, {kTagPlanar, 3, {2}, {}});
    f.strips.clear();
    for (uint32_t c = 0; c < 3; ++c) f.strips.push_back(Ramp(static_cast<size_t>(w) * h, 11 + c * 20));
    return f;
}

TiffFixture Palette(uint32_t w, uint32_t h)
{
    TiffFixture f = Plain(w, h, 4, 1, 3, h);
    std::vector<uint32_t> map;
    for (uint32_t c = 0; c < 3; ++c)
        for (uint32_t i = 0; i < 16; ++i) map.push_back(((i * (c + 3)) & 15) * 4369);
    Set(f, {kTagColorMap, 3, map, {}});
    return f;
}

TiffFixture PackBitsRows(uint32_t w, uint32_t h)
{
    TiffFixture f = Plain(w, h, 8, 1, 1, h);
    Set(f, {kTagCompression, 3, {32773}, {}});
    Bytes strip;
    for (uint32_t y = 0; y < h; ++y) {
        Bytes row(w, static_cast<uint8_t>(y * 40));
        for (uint32_t x = w / 2; x < w; ++x) row[x] = static_cast<uint8_t>(x * 13 + y);
        Bytes packed = pictfix::PackBits(row, 1);
        strip.insert(strip.end(), packed.begin(), packed.end());
    }
    f.strips = {strip};
    return f;
}

// Every byte as its own code between Clear and EndOfInformation; with the
// predictor the bytes are differences along each row.
TiffFixture Lzw(uint32_t w, uint32_t h, bool predictor)
{
    TiffFixture f = Plain(w, h, 8, 1, 1, h);
    Set(f, {kTagCompression, 3, {5}, {}});
    if (predictor) Set(f, {kTagPredictor, 3, {2}, {}});
    std::vector<uint32_t> codes = {256};
    for (uint8_t b : Ramp(static_cast<size_t>(w) * h, 3)) codes.push_back(b);
    codes.push_back(257);
    f.strips = {testutil::LzwCodes(codes)};
    return f;
}

// The image's rows as one zlib stream (8, 32946), .xz stream (34925) or
// Zstandard frame (50000), with the predictor.
TiffFixture Stream(uint32_t w, uint32_t h, uint32_t compression, uint32_t predictor)
{
    TiffFixture f = Plain(w, h, 8, 1, 1, h);
    Set(f, {kTagCompression, 3, {compression}, {}});
    Set(f, {kTagPredictor, 3, {predictor}, {}});
    Bytes rows = Ramp(static_cast<size_t>(w) * h, 5);
    Bytes strip(2 * rows.size() + 1024);
    size_t size = 0;
    if (compression == 50000) {
        size = ZSTD_compress(strip.data(), strip.size(), rows.data(), rows.size(), 3);
    } else if (compression == 34925) {
        lzma_easy_buffer_encode(1, LZMA_CHECK_CRC32, nullptr, rows.data(), rows.size(), strip.data(), &size,
                                strip.size());
    } else {
        uLongf zsize = static_cast<uLongf>(strip.size());
        compress(strip.data(), &zsize, rows.data(), static_cast<uLong>(rows.size()));
        size = zsize;
    }
    strip.resize(ZSTD_isError(size) ? 0 : size);
    f.strips = {strip};
    return f;
}

// One lossless WebP image of w x h RGBA pixels (50001).
TiffFixture Webp(uint32_t w, uint32_t h)
{
    TiffFixture f = Plain(w, h, 8, 4, 2, h);
    Set(f, {kTagCompression, 3, {50001}, {}});
    Set(f, {kTagExtraSamples, 3, {2}, {}});
    Bytes rgba = Ramp(static_cast<size_t>(w) * h * 4, 9);
    uint8_t* out = nullptr;
    size_t size = WebPEncodeLosslessRGBA(rgba.data(), static_cast<int>(w), static_cast<int>(h),
                                         static_cast<int>(w * 4), &out);
    f.strips = {Bytes(out, out + size)};
    WebPFree(out);
    return f;
}

// 32-bit floating point grey samples 0..1 stored with predictor 3.
TiffFixture FloatGrey(uint32_t w, uint32_t h)
{
    TiffFixture f = Plain(w, h, 32, 1, 1, h);
    Set(f, {339, 3, {3}, {}});
    Bytes rows(static_cast<size_t>(w) * h * 4);
    for (size_t i = 0; i < rows.size() / 4; ++i) {
        float v = static_cast<float>(i % 97) / 96.0f;
        memcpy(&rows[4 * i], &v, 4);
    }
    f.strips = {rows};
    return f;
}

Bytes Bits(const std::string& bits)
{
    Bytes out((bits.size() + 7) / 8, 0);
    for (size_t b = 0; b < bits.size(); ++b)
        if (bits[b] == '1') out[b / 8] |= static_cast<uint8_t>(0x80 >> (b % 8));
    return out;
}

// Fax rows of 16 pixels: 4 white, 8 black, 4 white. Group 3 rows each
// after an end-of-line code (T4Options bit 0: a tag bit, then a 1-D row or
// one coded against the row above), Group 4 rows in horizontal mode.
TiffFixture Fax(uint32_t h, uint32_t compression, uint32_t options)
{
    TiffFixture f = Plain(16, h, 1, 1, 0, h);
    Set(f, {kTagCompression, 3, {compression}, {}});
    const std::string row1d = "1011000101" "1011", eol = "000000000001";
    std::string bits;
    for (uint32_t y = 0; y < h; ++y) {
        if (compression == 4) bits += "001" "1011" "000101" "001" "1011" "0000110111";
        else if (options & 1) bits += eol + (y ? "0" "111" : "1" + row1d);
        else bits += eol + row1d;
    }
    if (compression == 3) Set(f, {kTagT4Options, 4, {options}, {}});
    f.strips = {Bits(bits)};
    return f;
}

// One JPEG stream of w x h RGB pixels, stored as YCbCr subsampled 2 x 2.
TiffFixture Jpeg(uint32_t w, uint32_t h)
{
    TiffFixture f = Plain(w, h, 8, 3, 6, h);
    Set(f, {kTagCompression, 3, {7}, {}});
    Bytes rgb = Ramp(static_cast<size_t>(w) * h * 3, 7);
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = w, c.image_height = h, c.input_components = 3, c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_start_compress(&c, TRUE);
    for (uint32_t y = 0; y < h; ++y) {
        JSAMPROW row = rgb.data() + static_cast<size_t>(y) * w * 3;
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    f.strips = {Bytes(out, out + size)};
    free(out);
    return f;
}

// A resource block: two path resources (a closed and an open subpath, and
// one more closed) and a thumbnail.
Bytes ResourceBlock()
{
    Bytes block = testutil::PathResource(2000, {{true, {{0.1, 0.1}, {0.9, 0.2}, {0.5, 0.9}}},
                                                {false, {{0.2, 0.5}, {0.8, 0.5}}}});
    Bytes second = testutil::PathResource(2001, {{true, {{0.3, 0.3}, {0.6, 0.3}, {0.6, 0.6}, {0.3, 0.6}}}});
    block.insert(block.end(), second.begin(), second.end());
    Bytes thumb = MakeThumbnailResource(6, 4, CFuzzScratch::Get().Path("thumb.res"));
    block.insert(block.end(), thumb.begin(), thumb.end());
    return block;
}

// BigTIFF in both byte orders, pages, SubIFDs, and chains that loop.
void SaveDirectorySeeds(const std::string& outDir)
{
    auto big = [](TiffFixture f) {
        f.bigTiff = true;
        return f;
    };
    TiffFixture bigLzw = big(Lzw(8, 3, true));
    const std::vector<TiffFixture> pages = {Plain(9, 7, 8, 1, 1, 4), PackBitsRows(12, 4), Plain(7, 5, 8, 3, 2, 5)};
    std::vector<TiffFixture> bigPages;
    for (const TiffFixture& p : pages) bigPages.push_back(big(p));
    const std::vector<TiffFixture> subs = {Plain(3, 2, 8, 1, 1, 2), Plain(2, 2, 8, 1, 1, 1)};
    struct Seed {
        const char* name;
        Bytes bytes;
    };
    const Seed seeds[] = {
        {"bigtiff-grey8-9x7.tif", testutil::MakeTiff(big(Plain(9, 7, 8, 1, 1, 4)))},
        {"bigtiff-be-rgb8-7x5.tif", testutil::MakeTiff(big(Plain(7, 5, 8, 3, 2, 2, false)))},
        {"bigtiff-lzw-8x3.tif", testutil::MakeTiff(bigLzw)},
        {"pages-3.tif", testutil::MakeTiffPages(pages)},
        {"bigtiff-pages-3.tif", testutil::MakeTiffPages(bigPages)},
        {"pages-loop.tif", testutil::MakeTiffPages(pages, 1)},
        {"bigtiff-pages-loop-self.tif", testutil::MakeTiffPages(bigPages, 2)},
        {"subifds.tif", testutil::MakeTiffPages({pages[0], pages[2]}, -1, subs)},
        {"bigtiff-subifds.tif", testutil::MakeTiffPages({bigPages[0]}, -1, {big(subs[0]), big(subs[1])})},
    };
    for (const Seed& seed : seeds) SaveSeed(outDir, "tiff", seed.name, seed.bytes);
}

}  // namespace

void SaveTiffSeeds(const std::string& outDir)
{
    TiffFixture rgba = Plain(5, 4, 8, 4, 2, 2);
    Set(rgba, {kTagExtraSamples, 3, {2}, {}});
    TiffFixture withPaths = Plain(12, 8, 8, 1, 1, 8);
    Bytes block = ResourceBlock();
    Set(withPaths, {kTagPhotoshop, 7, {}, block});
    struct Named {
        const char* name;
        TiffFixture fixture;
    };
    const Named tiffs[] = {
        {"grey8-9x7.tif", Plain(9, 7, 8, 1, 1, 4)},
        {"grey8-be-9x7.tif", Plain(9, 7, 8, 1, 1, 3, false)},
        {"rgb8-7x5.tif", Plain(7, 5, 8, 3, 2, 5)},
        {"rgb8-planar-6x4.tif", Planar(6, 4)},
        {"bilevel-13x5.tif", Plain(13, 5, 1, 1, 0, 2)},
        {"palette4-10x4.tif", Palette(10, 4)},
        {"grey16-be-5x3.tif", Plain(5, 3, 16, 1, 1, 3, false)},
        {"cmyk8-4x3.tif", Plain(4, 3, 8, 4, 5, 3)},
        {"rgba8-5x4.tif", rgba},
        {"packbits-12x4.tif", PackBitsRows(12, 4)},
        {"lzw-8x2.tif", Lzw(8, 2, false)},
        {"lzw-predictor-8x3.tif", Lzw(8, 3, true)},
        {"deflate-9x4.tif", Stream(9, 4, 8, 1)},
        {"deflate-predictor-9x4.tif", Stream(9, 4, 32946, 2)},
        {"group3-1d-16x5.tif", Fax(5, 3, 0)},
        {"group3-2d-16x5.tif", Fax(5, 3, 1)},
        {"group4-16x5.tif", Fax(5, 4, 0)},
        {"jpeg-ycbcr-16x16.tif", Jpeg(16, 16)},
        {"lzma-predictor-9x4.tif", Stream(9, 4, 34925, 2)},
        {"zstd-9x4.tif", Stream(9, 4, 50000, 1)},
        {"webp-rgba-7x5.tif", Webp(7, 5)},
        {"float32-grey-6x3.tif", FloatGrey(6, 3)},
        {"paths-thumbnail-12x8.tif", withPaths},
    };
    for (const Named& t : tiffs) SaveSeed(outDir, "tiff", t.name, testutil::MakeTiff(t.fixture));
    SaveDirectorySeeds(outDir);
    for (int i : {2, 3, 10, 12, 15, 17}) SaveSeed(outDir, "imgproc", tiffs[i].name, testutil::MakeTiff(tiffs[i].fixture));
    SaveSeed(outDir, "tiff_resources", "paths-thumbnail.8bim", block);
    SaveSeed(outDir, "tiff_resources", "one-path.8bim", testutil::PathResource(2000, {{false, {{0.5, 0.5}}}}));
}
