// Helpers of the JPEG codec tests: JPEG fixtures written with libjpeg,
// djpeg runs, PNM parsing, deterministic photo-like planes, writing and
// reading planes through the codec, marker segments of a file, PSNR.
#pragma once

#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "TestUtil.h"
#include "rastik/rastik.h"

namespace jpegtest {

constexpr const char* kDjpeg = "/usr/bin/djpeg";

inline bool HasDjpeg()
{
    return access(kDjpeg, X_OK) == 0;
}

// Writes a JPEG with libjpeg from interleaved samples (components per pixel).
struct Fixture {
    uint32_t width = 4;
    uint32_t height = 4;
    int components = 1;
    J_COLOR_SPACE space = JCS_GRAYSCALE;
    bool jfif = true;
    uint8_t unit = 1;
    uint16_t xDensity = 72;
    uint16_t yDensity = 72;
    int quality = 95;
    int restartRows = 0;           // MCU rows per restart interval, 0 none
    bool arithmetic = false;       // arithmetic coding instead of Huffman
    std::vector<uint8_t> samples;  // empty: a pattern
};

inline bool WriteFixture(const std::string& path, Fixture f)
{
    size_t n = static_cast<size_t>(f.width) * f.height * f.components;
    if (f.samples.empty()) {
        f.samples.resize(n);
        for (size_t i = 0; i < n; ++i) f.samples[i] = static_cast<uint8_t>((i * 37 + i / 7) & 0xFF);
    }
    FILE* out = fopen(path.c_str(), "wb");
    if (!out) return false;
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, out);
    c.image_width = f.width;
    c.image_height = f.height;
    c.input_components = f.components;
    c.in_color_space = f.space;
    jpeg_set_defaults(&c);
    if (f.space == JCS_UNKNOWN) jpeg_set_colorspace(&c, JCS_UNKNOWN);
    jpeg_set_quality(&c, f.quality, TRUE);
    c.write_JFIF_header = f.jfif ? TRUE : FALSE;
    c.density_unit = f.unit;
    c.X_density = f.xDensity;
    c.Y_density = f.yDensity;
    c.restart_in_rows = f.restartRows;
    c.arith_code = f.arithmetic ? TRUE : FALSE;
    jpeg_start_compress(&c, TRUE);
    size_t rowBytes = static_cast<size_t>(f.width) * f.components;
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = &f.samples[c.next_scanline * rowBytes];
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    fclose(out);
    return true;
}

// Decoded samples of a file as libjpeg gives them with its defaults.
struct Decoded {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t components = 0;
    std::vector<uint8_t> samples;  // interleaved
};

inline bool DecodeLibjpeg(const std::string& path, Decoded* d)
{
    FILE* in = fopen(path.c_str(), "rb");
    if (!in) return false;
    jpeg_decompress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_decompress(&c);
    jpeg_stdio_src(&c, in);
    jpeg_read_header(&c, TRUE);
    jpeg_start_decompress(&c);
    d->width = c.output_width;
    d->height = c.output_height;
    d->components = static_cast<uint32_t>(c.output_components);
    size_t rowBytes = static_cast<size_t>(d->width) * d->components;
    d->samples.assign(rowBytes * d->height, 0);
    while (c.output_scanline < c.output_height) {
        JSAMPROW row = &d->samples[c.output_scanline * rowBytes];
        jpeg_read_scanlines(&c, &row, 1);
    }
    // The scanlines are the image; what follows them in the file is not read.
    jpeg_abort_decompress(&c);
    jpeg_destroy_decompress(&c);
    fclose(in);
    return true;
}

// Parses a binary PGM (P5) or PPM (P6).
inline bool ParsePnm(const std::vector<uint8_t>& data, Decoded* d)
{
    if (data.size() < 3 || data[0] != 'P' || (data[1] != '5' && data[1] != '6')) return false;
    d->components = data[1] == '5' ? 1 : 3;
    size_t i = 2;
    unsigned values[3] = {};
    for (int v = 0; v < 3; ++v) {
        while (i < data.size() && isspace(data[i])) ++i;
        while (i < data.size() && isdigit(data[i])) values[v] = values[v] * 10 + (data[i++] - '0');
    }
    ++i;
    d->width = values[0];
    d->height = values[1];
    size_t n = static_cast<size_t>(d->width) * d->height * d->components;
    if (values[2] != 255 || data.size() < i + n) return false;
    d->samples.assign(data.begin() + static_cast<long>(i), data.begin() + static_cast<long>(i + n));
    return true;
}

// djpeg with default settings; the text it wrote on stderr in *warnings.
inline int RunDjpeg(const std::string& path, const std::string& errFile, Decoded* d, std::string* warnings)
{
    std::vector<uint8_t> out;
    int status = testutil::RunCommand(std::string(kDjpeg) + " -pnm " + testutil::Quote(path) + " 2>" +
                                          testutil::Quote(errFile),
                                      &out);
    std::vector<uint8_t> err = testutil::ReadBytes(errFile);
    if (warnings) warnings->assign(err.begin(), err.end());
    if (!ParsePnm(out, d)) return -1;
    return status;
}

// Deterministic photo-like planes: smooth shapes, edges and a little texture.
inline std::vector<std::vector<uint8_t>> PhotoPlanes(uint32_t w, uint32_t h, uint32_t channels)
{
    std::vector<std::vector<uint8_t>> planes(channels, std::vector<uint8_t>(static_cast<size_t>(w) * h));
    uint32_t seed = 12345;
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            seed = seed * 1103515245u + 12345u;
            double noise = static_cast<double>((seed >> 16) & 7) - 3.5;
            double fx = static_cast<double>(x) / w, fy = static_cast<double>(y) / h;
            double disc = std::hypot(fx - 0.6, fy - 0.4) < 0.2 ? 60.0 : 0.0;
            for (uint32_t c = 0; c < channels; ++c) {
                double v = 128 + 70 * std::sin(6.0 * fx + 2.0 * c) * std::cos(4.0 * fy + c) + disc * (c == 1 ? -1 : 1) +
                           25 * std::sin(40.0 * fx * fy + c) + noise;
                planes[c][static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(std::lround(std::fmin(255, std::fmax(0, v))));
            }
        }
    }
    return planes;
}

// Describes codec as an image of the mode and fills its planes (Width bytes per row).
inline bool FillCodec(CRastik& codec, uint32_t mode, uint32_t w, uint32_t h,
                      const std::vector<std::vector<uint8_t>>& planes)
{
    codec.Width = w;
    codec.Height = h;
    codec.SetMode(mode);
    codec.BytesPerLine = BytesPerRow(w * 8);
    if (!codec.AllocChannelSpace()) return false;
    std::vector<uint8_t> row(codec.BytesPerLine);
    for (uint32_t c = 0; c < codec.ChannelCount; ++c) {
        for (uint32_t y = 0; y < h; ++y) {
            memcpy(row.data(), &planes[c][static_cast<size_t>(y) * w], w);
            if (!codec.WritePlaneRow(c, y, row.data())) return false;
        }
    }
    return true;
}

// Writes planes as a JPEG file through CJpgIO::WriteFile.
inline int WriteJpeg(const std::string& path, uint32_t mode, uint32_t w, uint32_t h,
                     const std::vector<std::vector<uint8_t>>& planes, uint32_t quality)
{
    CJpgIO codec(path.c_str());
    codec.JpegQuality = quality;
    if (!FillCodec(codec, mode, w, h, planes)) return 0;
    if (!codec.File.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary)) return 0;
    int result = codec.WriteFile();
    codec.File.Abort();
    return result;
}

// Reads a JPEG file through CJpgIO into planes of Width bytes per row.
inline int ReadJpeg(const std::string& path, std::vector<std::vector<uint8_t>>* planes, CJpgIO** keep = nullptr)
{
    CJpgIO* codec = new CJpgIO(path.c_str());
    int result = testutil::OpenAndReadHead(*codec, path.c_str()) && testutil::ReadWholeImage(*codec);
    if (result) {
        planes->clear();
        for (uint32_t c = 0; c < codec->ChannelCount; ++c) planes->push_back(testutil::PlaneBytes(*codec, c));
    }
    if (keep) *keep = codec;
    else delete codec;
    return result;
}

inline double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    if (a.size() != b.size() || a.empty()) return 0.0;
    double sum = 0.0;
    for (size_t i = 0; i < a.size(); ++i) {
        double d = static_cast<double>(a[i]) - static_cast<double>(b[i]);
        sum += d * d;
    }
    if (sum == 0.0) return 99.0;
    double mse = sum / static_cast<double>(a.size());
    return 10.0 * std::log10(255.0 * 255.0 / mse);
}

inline double PsnrPlanes(const std::vector<std::vector<uint8_t>>& a, const std::vector<std::vector<uint8_t>>& b)
{
    std::vector<uint8_t> fa, fb;
    for (const auto& p : a) fa.insert(fa.end(), p.begin(), p.end());
    for (const auto& p : b) fb.insert(fb.end(), p.begin(), p.end());
    return Psnr(fa, fb);
}

// Marker segments of a JPEG file up to the first scan: marker and payload.
struct Segment {
    uint8_t marker = 0;
    std::vector<uint8_t> payload;
};

inline std::vector<Segment> Segments(const std::vector<uint8_t>& d)
{
    std::vector<Segment> out;
    size_t i = 2;
    while (i + 4 <= d.size() && d[i] == 0xFF) {
        Segment s;
        s.marker = d[i + 1];
        size_t len = static_cast<size_t>(d[i + 2]) << 8 | d[i + 3];
        if (len < 2 || i + 2 + len > d.size()) break;
        s.payload.assign(d.begin() + static_cast<long>(i + 4), d.begin() + static_cast<long>(i + 2 + len));
        out.push_back(s);
        if (s.marker == 0xDA) break;
        i += 2 + len;
    }
    return out;
}

}  // namespace jpegtest
