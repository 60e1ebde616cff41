// Helpers of the DCT encoder tests: a temporary directory, deterministic test
// images, encoding a planar image into a file, walking the marker segments
// of the result, and decoding it back with libjpeg while counting warnings.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <csetjmp>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "platform/CFile.h"
#include "rastik/CDCTFilter.h"
#include "rastik/Exports.h"

namespace dcttest {

// A fresh directory under TMPDIR (or /tmp), removed with its files.
class TempDir {
public:
    TempDir()
    {
        const char* base = getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/rastikdctXXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (mkdtemp(buf.data())) path = buf.data();
    }
    ~TempDir()
    {
        if (!path.empty()) std::system(("rm -rf '" + path + "'").c_str());
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string File(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

inline std::vector<uint8_t> ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Planar image: plane c occupies bytes c x width x height onwards.
struct Image {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t components = 0;
    std::vector<uint8_t> samples;
    uint8_t& At(uint32_t c, uint32_t x, uint32_t y) { return samples[(size_t(c) * height + y) * width + x]; }
    uint8_t At(uint32_t c, uint32_t x, uint32_t y) const { return samples[(size_t(c) * height + y) * width + x]; }
};

// Smooth gradients and soft shapes with a little fine texture and noise,
// the same for every run.
inline Image PhotoImage(uint32_t width, uint32_t height, uint32_t components, uint32_t seed = 1)
{
    Image img{width, height, components, std::vector<uint8_t>(size_t(width) * height * components)};
    uint32_t state = seed * 2654435761u + 12345u;
    for (uint32_t c = 0; c < components; ++c) {
        for (uint32_t y = 0; y < height; ++y) {
            for (uint32_t x = 0; x < width; ++x) {
                double u = double(x) / width, v = double(y) / height;
                double base = 128 + 70 * std::sin(3.1 * u + 1.7 * c) * std::cos(2.3 * v - 0.5 * c) +
                              30 * std::sin(17.0 * u * v + c);
                double texture = 6 * std::sin(0.9 * x + 0.4 * y + c) * std::sin(0.35 * y - 0.2 * x);
                state = state * 1664525u + 1013904223u;
                double noise = double(int32_t(state >> 28) - 8) * 0.6;
                double value = base + texture + noise;
                img.At(c, x, y) = uint8_t(value < 0 ? 0 : value > 255 ? 255 : value);
            }
        }
    }
    return img;
}

// Result of encoding: the results of the three steps and the file's bytes.
struct Encoded {
    uint32_t header = 0;
    uint32_t lastBand = 0;
    uint32_t end = 0;
    std::vector<uint8_t> bytes;
};

// Feeds img to filter in bands of the size Encode_Header asks for.
inline void EncodeBands(CDCTFilter& filter, const Image& img, Encoded& out)
{
    uint32_t bandRows = out.header / (img.width * img.components);
    std::vector<uint8_t> band(out.header);
    for (uint32_t row = 0; row < img.height; row += bandRows) {
        uint32_t rows = std::min(bandRows, img.height - row);
        for (uint32_t c = 0; c < img.components; ++c)
            std::memcpy(&band[size_t(c) * rows * img.width], &img.samples[(size_t(c) * img.height + row) * img.width],
                        size_t(rows) * img.width);
        out.lastBand = filter.Encoder(band.data(), int(rows * img.width * img.components));
        if (out.lastBand > img.height) return;
    }
}

// Encodes img with info (size fields filled in here) into path through the
// encoded-data file.
inline Encoded EncodeToFile(CDCTFilter& filter, DCTINFO info, const Image& img, const std::string& path)
{
    Encoded out;
    info.dwWidth = img.width;
    info.dwHeight = img.height;
    info.dwComponents = img.components;
    CFile file;
    if (!file.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary)) return out;
    g_pEncodedDataFile = &file;
    out.header = filter.Encode_Header(1, &info);
    if (out.header != 0xFFFFFFFFu) {
        EncodeBands(filter, img, out);
        out.end = filter.Encode_EOD();
    }
    g_pEncodedDataFile = nullptr;
    file.Close();
    out.bytes = ReadAll(path);
    return out;
}

inline DCTINFO Params(double scale, uint32_t transform)
{
    DCTINFO info;
    info.dQuantScale = scale;
    info.dwTransform = transform;
    info.dwXDensity = 72;
    info.dwYDensity = 72;
    return info;
}

// One marker segment of the header: the marker and the bytes after its length.
struct Segment {
    uint32_t marker = 0;
    std::vector<uint8_t> payload;
};

// Segments from SOI up to and including SOS (SOI has no payload); scanStart
// receives the offset of the entropy-coded data. Empty on a malformed header.
inline std::vector<Segment> HeaderSegments(const std::vector<uint8_t>& bytes, size_t* scanStart = nullptr)
{
    std::vector<Segment> segments;
    if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xD8) return {};
    segments.push_back({0xFFD8, {}});
    size_t pos = 2;
    while (pos + 4 <= bytes.size() && bytes[pos] == 0xFF) {
        uint32_t marker = 0xFF00u | bytes[pos + 1];
        size_t length = size_t(bytes[pos + 2]) << 8 | bytes[pos + 3];
        if (length < 2 || pos + 2 + length > bytes.size()) return {};
        segments.push_back({marker, std::vector<uint8_t>(bytes.begin() + long(pos + 4), bytes.begin() + long(pos + 2 + length))});
        pos += 2 + length;
        if (marker == 0xFFDA) {
            if (scanStart) *scanStart = pos;
            return segments;
        }
    }
    return {};
}

inline const Segment* FindSegment(const std::vector<Segment>& segments, uint32_t marker)
{
    for (const Segment& s : segments)
        if (s.marker == marker) return &s;
    return nullptr;
}

// Decoded image: interleaved samples as libjpeg delivers them.
struct Decoded {
    bool ok = false;
    int warnings = 0;
    std::string message;
    uint32_t width = 0, height = 0, components = 0;
    J_COLOR_SPACE colorSpace = JCS_UNKNOWN;
    bool sawAdobe = false;
    int adobeTransform = -1;
    std::vector<uint8_t> samples;
};

struct CountingError {
    jpeg_error_mgr mgr;
    jmp_buf back;
    int warnings;
    char message[JMSG_LENGTH_MAX];
};

inline void CountMessage(j_common_ptr cinfo, int level)
{
    auto* err = reinterpret_cast<CountingError*>(cinfo->err);
    if (level < 0) {
        ++err->warnings;
        (*cinfo->err->format_message)(cinfo, err->message);
    }
}

inline void JumpBack(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<CountingError*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    longjmp(err->back, 1);
}

inline void DecodeInto(const std::vector<uint8_t>& bytes, Decoded& out, jpeg_decompress_struct& cinfo,
                       CountingError& err, J_COLOR_SPACE storedAs, bool smooth)
{
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    out.colorSpace = cinfo.jpeg_color_space;
    out.sawAdobe = cinfo.saw_Adobe_marker;
    out.adobeTransform = cinfo.saw_Adobe_marker ? cinfo.Adobe_transform : -1;
    if (storedAs != JCS_UNKNOWN) {
        cinfo.jpeg_color_space = storedAs;
        cinfo.out_color_space = storedAs == JCS_YCbCr ? JCS_RGB : storedAs == JCS_YCCK ? JCS_CMYK : storedAs;
    }
    cinfo.do_fancy_upsampling = smooth ? TRUE : FALSE;
    jpeg_start_decompress(&cinfo);
    out.width = cinfo.output_width;
    out.height = cinfo.output_height;
    out.components = uint32_t(cinfo.output_components);
    out.samples.resize(size_t(out.width) * out.height * out.components);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = &out.samples[size_t(cinfo.output_scanline) * out.width * out.components];
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    out.warnings = err.warnings;
    out.message = err.message;
    out.ok = true;
}

// storedAs, when given, overrides the colour space libjpeg infers from the
// markers (it lets a JFIF segment win over an Adobe segment); YCbCr comes out
// as RGB and YCCK as CMYK. Without smooth, chroma is replicated, not
// interpolated (djpeg -nosmooth).
inline Decoded DecodeJpeg(const std::vector<uint8_t>& bytes, J_COLOR_SPACE storedAs = JCS_UNKNOWN,
                          bool smooth = true)
{
    Decoded out;
    jpeg_decompress_struct cinfo;
    CountingError err;
    std::memset(&err, 0, sizeof err);
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.emit_message = CountMessage;
    err.mgr.error_exit = JumpBack;
    if (setjmp(err.back)) {
        out.ok = false;
        out.message = err.message;
        jpeg_destroy_decompress(&cinfo);
        return out;
    }
    jpeg_create_decompress(&cinfo);
    DecodeInto(bytes, out, cinfo, err, storedAs, smooth);
    jpeg_destroy_decompress(&cinfo);
    return out;
}

// PSNR of component c of the decoded image against plane c of img, with an
// optional inversion of the decoded samples.
inline double Psnr(const Image& img, const Decoded& dec, uint32_t c, bool inverted = false)
{
    double sum = 0;
    for (uint32_t y = 0; y < img.height; ++y) {
        for (uint32_t x = 0; x < img.width; ++x) {
            int d = dec.samples[(size_t(y) * dec.width + x) * dec.components + c];
            if (inverted) d = 255 - d;
            double e = double(d) - img.At(c, x, y);
            sum += e * e;
        }
    }
    double mse = sum / (double(img.width) * img.height);
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace dcttest
