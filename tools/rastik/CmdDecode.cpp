// `rastik decode FILE.jpg OUT.bmp`: decodes a baseline JPEG with the
// library's own DCT decoder (not libjpeg) and writes the pixels as a BMP:
// grey as grey, three components as RGB, CMYK converted to RGB.
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "rastik/Command.h"
#include "rastik/ToolSupport.h"

namespace {

const char kUsage[] = "usage: rastik decode FILE.jpg OUT.bmp\n";

const char kHelp[] =
    "Decodes FILE.jpg with rastik's own baseline DCT decoder and writes the\n"
    "pixels to OUT.bmp (grey, or RGB; CMYK is converted to RGB). Progressive,\n"
    "arithmetic-coded and 12-bit JPEGs are refused. Prints \"wrote OUT: W x H\".\n";

int Fail(const std::string& why)
{
    fprintf(stderr, "rastik decode: %s\n", why.c_str());
    return kExitFailed;
}

// Resolution of the stream's density: dots per inch, per centimetre (unit
// 2), or 72 when there is none.
float Resolution(const DCTINFO& info, uint32_t density)
{
    if (density == 0 || (info.dwDensityUnit != 1 && info.dwDensityUnit != 2)) return 72.0f;
    return info.dwDensityUnit == 2 ? static_cast<float>(density) * 2.54f : static_cast<float>(density);
}

// Copies the rows of a planar band into the image's planes; CMYK rows
// become RGB on the way.
bool StoreBand(CRastik& image, const std::vector<uint8_t>& band, uint32_t components, uint32_t firstRow,
               uint32_t rows)
{
    size_t width = image.Width, plane = band.size() / components;
    std::vector<uint8_t> rgb(components == 4 ? 3 * width : 0), row(image.BytesPerLine);
    for (uint32_t y = 0; y < rows; ++y) {
        const uint8_t* in[4] = {};
        for (uint32_t c = 0; c < components; ++c) in[c] = &band[c * plane + y * width];
        if (components == 4) {
            CmykToRgb(in[0], in[1], in[2], in[3], &rgb[0], &rgb[width], &rgb[2 * width], 0, 0,
                      static_cast<uint32_t>(width), 1, 1);
            for (uint32_t c = 0; c < 3; ++c) in[c] = &rgb[c * width];
        }
        for (uint32_t c = 0; c < image.ChannelCount; ++c) {
            std::copy(in[c], in[c] + width, row.begin());
            if (!image.WritePlaneRow(c, firstRow + y, row.data())) return false;
        }
    }
    return true;
}

// Decodes the encoded-data file into image's planes band by band.
bool DecodeInto(CDCTFilter& decoder, const DCTINFO& info, uint32_t bandBytes, CRastik& image, bool& interrupted)
{
    std::vector<uint8_t> band(bandBytes);
    uint8_t* planes[4] = {};
    for (uint32_t c = 0; c < info.dwComponents; ++c) planes[c] = &band[c * (bandBytes / info.dwComponents)];
    int32_t start = 0, end = 0;
    GetProgressRange(&start, &end);
    for (uint32_t done = 0;;) {
        uint32_t bytes = bandBytes;
        uint32_t left = decoder.L_Decoder(planes, bytes);
        if (left == 0xFFFFFFFFu) return false;
        uint32_t rows = bytes / (info.dwWidth * info.dwComponents);
        if (!StoreBand(image, band, info.dwComponents, done, rows)) return false;
        done += rows;
        SetProgress(start + static_cast<int32_t>(int64_t(end - start) * done / info.dwHeight));
        if (left == 0) return true;
        if (ToolProgress::Interrupted()) {
            interrupted = true;
            return false;
        }
    }
}

int Decode(const std::string& source, const std::string& target)
{
    CFile in;
    if (!in.Open(source.c_str(), CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary))
        return Fail("cannot open " + source);
    CFile* previous = SetEncodedDataFile(&in);
    CDCTFilter decoder;
    DCTINFO info;
    uint32_t bandBytes = decoder.Decode_Header(1, &info);
    std::unique_ptr<CRastik> image(NewRastikInstance(kTypeBmp, target.c_str()));
    bool ok = bandBytes != 0xFFFFFFFFu && info.dwComponents != 2 && image;
    bool interrupted = false;
    if (ok) {
        image->Width = info.dwWidth;
        image->Height = info.dwHeight;
        image->SetMode(info.dwComponents == 1 ? kModeGrey : kModeRgb);
        image->ResolutionUnit = 1;
        image->XResolution = Resolution(info, info.dwXDensity);
        image->YResolution = Resolution(info, info.dwYDensity);
        image->BytesPerLine = BytesPerRow(8 * info.dwWidth);
        ToolProgress progress("decoding");
        ok = image->AllocChannelSpace() && DecodeInto(decoder, info, bandBytes, *image, interrupted);
    }
    SetEncodedDataFile(previous);
    in.Close();
    if (interrupted) return Fail("interrupted");
    if (bandBytes == 0xFFFFFFFFu || info.dwComponents == 2)
        return Fail(source + ": not a baseline JPEG of 1, 3 or 4 components");
    if (!ok) return Fail(source + ": the image data is corrupt");
    bool existed = access(target.c_str(), F_OK) == 0;
    if (!image->File.Open(target.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary) ||
        !image->WriteFile()) {
        image->File.Abort();
        if (!existed) unlink(target.c_str());
        return Fail("cannot write " + target);
    }
    image->File.Close();
    printf("wrote %s: %u x %u\n", target.c_str(), info.dwWidth, info.dwHeight);
    return kExitOk;
}

int RunDecode(const std::vector<std::string>& args)
{
    std::vector<std::string> paths;
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") {
            printf("%s%s", kUsage, kHelp);
            return kExitOk;
        }
        if (a.size() > 1 && a[0] == '-') {
            fprintf(stderr, "rastik decode: unknown option '%s'\n%s", a.c_str(), kUsage);
            return kExitUsage;
        }
        paths.push_back(a);
    }
    if (paths.size() != 2) {
        fprintf(stderr, "rastik decode: FILE.jpg and OUT.bmp are needed\n%s", kUsage);
        return kExitUsage;
    }
    return Decode(paths[0], paths[1]);
}

const RegisterCommand kDecode({"decode", "FILE.jpg OUT.bmp",
                               "decode a baseline JPEG with rastik's own decoder into a BMP", RunDecode});

}  // namespace
