// Helper of bench/jpeg_bench.sh:
//   jpeg_bench make W H OUT.bmp
//       writes a deterministic photo-like 24-bit bitmap through the library
//       (smooth colour fields, soft edges, fine texture, a little noise);
//   jpeg_bench psnr REF IMAGE
//       reads both files through the library and prints the PSNR of IMAGE
//       against REF over all RGB samples, in dB.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "rastik/rastik.h"

namespace {

uint8_t Clamp(double v)
{
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : std::lround(v));
}

int Make(uint32_t w, uint32_t h, const char* path)
{
    std::unique_ptr<CRastik> image(NewRastikInstance(kTypeBmp, path));
    if (!image) return 1;
    image->Width = w;
    image->Height = h;
    image->SetMode(kModeRgb);
    image->BytesPerLine = BytesPerRow(w * 8);
    if (!image->AllocChannelSpace()) return 1;
    std::vector<uint8_t> row(image->BytesPerLine);
    uint32_t state = 7;
    for (uint32_t c = 0; c < 3; ++c) {
        for (uint32_t y = 0; y < h; ++y) {
            for (uint32_t x = 0; x < w; ++x) {
                double u = static_cast<double>(x) / w, v = static_cast<double>(y) / h;
                double base = 128 + 75 * std::sin(3.1 * u + 1.7 * c) * std::cos(2.3 * v - 0.5 * c) +
                              28 * std::sin(17.0 * u * v + c);
                double edge = std::hypot(u - 0.6, v - 0.45) < 0.18 ? (c == 1 ? -40 : 35) : 0;
                double texture = 5 * std::sin(0.9 * x + 0.4 * y + c) * std::sin(0.35 * y - 0.2 * x);
                state = state * 1664525u + 1013904223u;
                double noise = (static_cast<int>(state >> 28) - 8) * 0.5;
                row[x] = Clamp(base + edge + texture + noise);
            }
            if (!image->WritePlaneRow(c, y, row.data())) return 1;
        }
    }
    if (!image->File.Open(path, CFile::modeCreate | CFile::modeWrite | CFile::typeBinary)) return 1;
    int ok = image->WriteFile();
    image->File.Close();
    return ok ? 0 : 1;
}

std::unique_ptr<CRastik> ReadImage(const char* path)
{
    std::unique_ptr<CRastik> image(NewRastikInstance(DetectFileType(path), path));
    if (!image || !image->File.Open(path, CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary) ||
        !image->ReadImageHead() || image->ColorMode != kModeRgb)
        return nullptr;
    image->BytesPerLine = BytesPerRow(image->Width * 8);
    if (!image->AllocChannelSpace() || !image->ReadImageData()) return nullptr;
    return image;
}

int Psnr(const char* refPath, const char* path)
{
    std::unique_ptr<CRastik> ref = ReadImage(refPath), img = ReadImage(path);
    if (!ref || !img || ref->Width != img->Width || ref->Height != img->Height) {
        fprintf(stderr, "jpeg_bench: cannot compare %s with %s (RGB images of one size)\n", refPath, path);
        return 1;
    }
    std::vector<uint8_t> a(ref->BytesPerLine), b(img->BytesPerLine);
    double sum = 0;
    for (uint32_t c = 0; c < 3; ++c) {
        for (uint32_t y = 0; y < ref->Height; ++y) {
            ref->ReadPlaneRow(c, y, a.data());
            img->ReadPlaneRow(c, y, b.data());
            for (uint32_t x = 0; x < ref->Width; ++x) {
                double d = static_cast<double>(a[x]) - b[x];
                sum += d * d;
            }
        }
    }
    double mse = sum / (3.0 * ref->Width * ref->Height);
    printf("%.2f\n", mse > 0 ? 10 * std::log10(255.0 * 255.0 / mse) : 99.0);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string cmd = argc > 1 ? argv[1] : "";
    if (cmd == "make" && argc == 5) return Make(static_cast<uint32_t>(atoi(argv[2])), static_cast<uint32_t>(atoi(argv[3])), argv[4]);
    if (cmd == "psnr" && argc == 4) return Psnr(argv[2], argv[3]);
    fprintf(stderr, "usage: jpeg_bench make W H OUT.bmp | jpeg_bench psnr REF IMAGE\n");
    return 2;
}
