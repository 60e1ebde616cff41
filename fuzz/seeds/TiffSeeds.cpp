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

// Old-style JPEG (6) of the same stream: whole at JPEGInterchangeFormat
// (the strip, at offset 8, is the stream too), or its scan data in the
// strip and its tables (luma, then chroma for both chroma components)
// behind it, at the offsets the table tags give.
TiffFixture OldJpeg(uint32_t w, uint32_t h, bool tables)
{
    TiffFixture f = Jpeg(w, h);
    Set(f, {kTagCompression, 3, {6}, {}});
    const Bytes stream = f.strips[0];
    if (!tables) {
        f.entries.push_back({513, 4, {8}, {}});
        f.entries.push_back({514, 4, {static_cast<uint32_t>(stream.size())}, {}});
        return f;
    }
    Bytes quant[2], dc[2], ac[2], scan;
    for (size_t at = 2; at + 4 <= stream.size();) {
        uint8_t marker = stream[at + 1];
        size_t length = static_cast<size_t>(stream[at + 2]) << 8 | stream[at + 3];
        const uint8_t* body = stream.data() + at + 4;
        if (marker == 0xDA) {
            scan.assign(body + length - 2, stream.data() + stream.size() - 2);
            break;
        }
        // Tables one to a segment, as libjpeg writes them.
        if (marker == 0xDB && (body[0] & 15) < 2) quant[body[0] & 15].assign(body + 1, body + 65);
        if (marker == 0xC4 && (body[0] & 15) < 2) (body[0] >> 4 ? ac : dc)[body[0] & 15].assign(body + 1, body + length - 2);
        at += 2 + length;
    }
    Bytes blob;
    std::vector<uint32_t> at[3];
    const uint32_t base = 8 + static_cast<uint32_t>((scan.size() + 1) & ~size_t(1));
    for (int kind = 0; kind < 3; ++kind)
        for (int k = 0; k < 2; ++k) {
            const Bytes& t = kind == 0 ? quant[k] : kind == 1 ? dc[k] : ac[k];
            at[kind].push_back(base + static_cast<uint32_t>(blob.size()));
            blob.insert(blob.end(), t.begin(), t.end());
        }
    f.strips = {scan, blob};
    f.entries.push_back({512, 3, {1}, {}});
    for (int kind = 0; kind < 3; ++kind) f.entries.push_back({uint16_t(519 + kind), 4, {at[kind][0], at[kind][1], at[kind][1]}, {}});
    return f;
}

// Uncompressed YCbCr data units subsampled h x v, with a reference range.
TiffFixture YCbCr(uint32_t w, uint32_t hgt, uint32_t h, uint32_t v)
{
    TiffFixture f = Plain(w, hgt, 8, 3, 6, hgt);
    size_t units = static_cast<size_t>((w + h - 1) / h) * ((hgt + v - 1) / v);
    f.strips = {Ramp(units * (h * v + 2), 29)};
    f.entries.push_back({530, 3, {h, v}, {}});
    f.entries.push_back({532, 5, {16, 1, 235, 1, 128, 1, 240, 1, 128, 1, 240, 1}, {}});
    return f;
}

// SGI LogLuv (32845) or LogL (32844) rows as literal runs, plane by plane.
TiffFixture SgiLog(uint32_t w, uint32_t h, uint32_t photometric)
{
    const uint32_t planes = photometric == 32845 ? 4 : 2, samples = photometric == 32845 ? 3 : 1;
    TiffFixture f = Plain(w, h, 16, static_cast<uint16_t>(samples), static_cast<uint16_t>(photometric), h);
    Set(f, {kTagCompression, 3, {34676}, {}});
    Bytes strip, bytes = Ramp(static_cast<size_t>(w) * planes * h, 53);
    for (size_t row = 0; row < bytes.size(); row += w) {
        strip.push_back(static_cast<uint8_t>(w));
        strip.insert(strip.end(), bytes.begin() + row, bytes.begin() + row + w);
    }
    f.strips = {strip};
    return f;
}

// A w x h image in tiles, each stored as the one strip of tile, an image of
// the tile's size (its description taken over).
TiffFixture Tiled(const TiffFixture& tile, uint32_t w, uint32_t h)
{
    TiffFixture f = tile;
    uint32_t tw = 0, tl = 0;
    for (TiffEntry& e : f.entries) {
        if (e.tag == 256) tw = e.values[0], e.values = {w};
        if (e.tag == 257) tl = e.values[0], e.values = {h};
    }
    std::erase_if(f.entries, [](const TiffEntry& e) { return e.tag == 278; });
    f.entries.push_back({322, 4, {tw}, {}});
    f.entries.push_back({323, 4, {tl}, {}});
    f.tiles = true;
    f.strips.assign(static_cast<size_t>((w + tw - 1) / tw) * ((h + tl - 1) / tl), tile.strips.at(0));
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
        {"ojpeg-interchange-16x16.tif", OldJpeg(16, 16, false)},
        {"ojpeg-tables-16x16.tif", OldJpeg(16, 16, true)},
        {"ycbcr-2x2-9x5.tif", YCbCr(9, 5, 2, 2)},
        {"ycbcr-4x1-9x3.tif", YCbCr(9, 3, 4, 1)},
        {"cielab8-6x4.tif", Plain(6, 4, 8, 3, 8, 2)},
        {"icclab16-be-5x3.tif", Plain(5, 3, 16, 3, 9, 3, false)},
        {"itulab8-5x3.tif", Plain(5, 3, 8, 3, 10, 3)},
        {"logluv-9x3.tif", SgiLog(9, 3, 32845)},
        {"logl-9x3.tif", SgiLog(9, 3, 32844)},
        {"paths-thumbnail-12x8.tif", withPaths},
        {"tiles-rgb8-planar-11x9.tif", testutil::TiledTiff(11, 9, 8, 3, 2, Ramp(297), 4, 5, true)},
        {"tiles-bilevel-19x9.tif", testutil::TiledTiff(19, 9, 1, 1, 0, Ramp(27), 10, 3)},
        {"tiles-packbits-20x9.tif", Tiled(PackBitsRows(12, 4), 20, 9)},
        {"tiles-lzw-predictor-17x7.tif", Tiled(Lzw(8, 3, true), 17, 7)},
        {"tiles-deflate-predictor-20x9.tif", Tiled(Stream(9, 4, 8, 2), 20, 9)},
        {"tiles-lzma-20x9.tif", Tiled(Stream(9, 4, 34925, 1), 20, 9)},
        {"tiles-zstd-predictor-20x9.tif", Tiled(Stream(9, 4, 50000, 2), 20, 9)},
        {"tiles-group3-2d-40x12.tif", Tiled(Fax(5, 3, 1), 40, 12)},
        {"tiles-group4-40x12.tif", Tiled(Fax(5, 4, 0), 40, 12)},
        {"tiles-jpeg-ycbcr-40x20.tif", Tiled(Jpeg(16, 16), 40, 20)},
        {"tiles-webp-rgba-15x11.tif", Tiled(Webp(7, 5), 15, 11)},
    };
    for (const Named& t : tiffs) SaveSeed(outDir, "tiff", t.name, testutil::MakeTiff(t.fixture));
    SaveDirectorySeeds(outDir);
    for (int i : {2, 3, 10, 12, 15, 17}) SaveSeed(outDir, "imgproc", tiffs[i].name, testutil::MakeTiff(tiffs[i].fixture));
    SaveSeed(outDir, "tiff_resources", "paths-thumbnail.8bim", block);
    SaveSeed(outDir, "tiff_resources", "one-path.8bim", testutil::PathResource(2000, {{false, {{0.5, 0.5}}}}));
}
