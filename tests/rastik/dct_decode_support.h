// Helpers of the DCT decoder tests: running CDCTFilter's decoder over a
// byte stream (a file made the encoded-data file), decoding the same stream
// with libjpeg the way djpeg -nosmooth does, rebuilding a stream from edited
// marker segments, and comparing samples.
#pragma once

#include "dct_support.h"

namespace dcttest {

constexpr uint32_t kFailed = 0xFFFFFFFFu;

// What the decoder made of a stream.
struct OwnDecoded {
    uint32_t header = 0;  // result of Decode_Header
    DCTINFO info;
    int32_t transform = -1;
    uint32_t last = 0;            // result of the last band call
    bool progressed = true;       // every band call ended the image or left fewer rows
    std::vector<uint8_t> pixels;  // pixel-interleaved, top row first
    uint64_t endPosition = 0;     // of the file after the last band call
};

// Appends the rows of a planar band to interleaved pixels.
inline void AppendPlanar(std::vector<uint8_t>& pixels, const std::vector<uint8_t>& band, uint32_t width,
                         uint32_t components, uint32_t rows)
{
    size_t plane = band.size() / components;
    for (size_t i = 0; i < size_t(rows) * width; ++i)
        for (uint32_t c = 0; c < components; ++c) pixels.push_back(band[c * plane + i]);
}

// Decodes bytes with Decoder, or with L_Decoder when planar, handing it
// buffers of bandsPerCall bands plus extra bytes; stops at the second call
// in a row that neither ends the image nor leaves fewer rows to come.
inline OwnDecoded DecodeOwn(const std::vector<uint8_t>& bytes, const TempDir& dir, bool planar = false,
                            uint32_t bandsPerCall = 1, uint32_t extra = 0)
{
    OwnDecoded out;
    std::string path = dir.File("decode.jpg");
    WriteAll(path, bytes);
    CFile file;
    if (!file.Open(path.c_str(), CFile::modeRead | CFile::typeBinary)) return out;
    CFile* previous = SetEncodedDataFile(&file);
    CDCTFilter filter;
    out.header = filter.Decode_Header(1, &out.info);
    out.last = out.header;
    if (out.header != kFailed) {
        out.transform = filter.GetTransform();
        uint32_t components = out.info.dwComponents, width = out.info.dwWidth;
        std::vector<uint8_t> band(size_t(out.header) * bandsPerCall + extra);
        uint32_t before = out.info.dwHeight, stalled = 0;
        for (;;) {
            if (planar) {
                uint8_t* planes[4] = {};
                for (uint32_t c = 0; c < components; ++c) planes[c] = &band[c * (band.size() / components)];
                uint32_t n = uint32_t(band.size());
                out.last = filter.L_Decoder(planes, n);
                AppendPlanar(out.pixels, band, width, components, n / (width * components));
            } else {
                int n = int(band.size());
                out.last = filter.Decoder(band.data(), n);
                out.pixels.insert(out.pixels.end(), band.begin(), band.begin() + n);
            }
            if (out.last == kFailed || out.last == 0) break;
            // A band cut short by the end of the image may deliver nothing
            // once; the call after it must end the image.
            stalled = out.last >= before ? stalled + 1 : 0;
            if (stalled == 2) {
                out.progressed = false;
                break;
            }
            before = out.last;
        }
        out.endPosition = file.GetPosition();
    }
    SetEncodedDataFile(previous);
    return out;
}

// libjpeg's decoding of bytes in the colour space the decoder chose, chroma
// replicated.
inline Decoded Reference(const std::vector<uint8_t>& bytes, const OwnDecoded& own)
{
    J_COLOR_SPACE space = JCS_GRAYSCALE;
    if (own.info.dwComponents == 3) space = own.transform ? JCS_YCbCr : JCS_RGB;
    if (own.info.dwComponents == 4) space = own.transform ? JCS_YCCK : JCS_CMYK;
    return DecodeJpeg(bytes, space, false);
}

// PSNR of samples a against b, or against 255 - b when inverted.
inline double PsnrBytes(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, bool inverted = false)
{
    if (a.empty() || a.size() != b.size()) return 0;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        double e = double(a[i]) - (inverted ? 255 - b[i] : b[i]);
        sum += e * e;
    }
    double mse = sum / double(a.size());
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

// A stream from its header segments (SOI without a length) and the bytes
// from scanStart on.
inline std::vector<uint8_t> Rebuild(const std::vector<Segment>& segments, const std::vector<uint8_t>& bytes,
                                    size_t scanStart)
{
    std::vector<uint8_t> out;
    for (const Segment& s : segments) {
        out.push_back(uint8_t(s.marker >> 8));
        out.push_back(uint8_t(s.marker));
        if (s.marker == 0xFFD8) continue;
        size_t length = s.payload.size() + 2;
        out.push_back(uint8_t(length >> 8));
        out.push_back(uint8_t(length));
        out.insert(out.end(), s.payload.begin(), s.payload.end());
    }
    out.insert(out.end(), bytes.begin() + long(scanStart), bytes.end());
    return out;
}

inline Segment* Find(std::vector<Segment>& segments, uint32_t marker)
{
    for (Segment& s : segments)
        if (s.marker == marker) return &s;
    return nullptr;
}

// The encoder's stream of img with the given settings (quality 70 unless
// scale says otherwise).
inline std::vector<uint8_t> Encode(const Image& img, const TempDir& dir, uint32_t transform, bool large = false,
                                   double scale = 0.3)
{
    static const uint8_t sampling[4] = {2, 1, 1, 2};
    CDCTFilter filter;
    DCTINFO info = Params(scale, transform);
    if (large) info.pHSampling = sampling;
    return EncodeToFile(filter, info, img, dir.File("encode.jpg")).bytes;
}

}  // namespace dcttest
