// Speed of the library's own baseline JPEG encoder against cjpeg: both code
// the same deterministic photo-sized RGB image at quality 70; the program
// prints megapixels per second, their ratio, the file sizes and the PSNR of
// each file decoded back with djpeg.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/DctBenchSupport.h"

namespace {

double Psnr(const std::vector<uint8_t>& planes, const std::vector<uint8_t>& pixels, uint32_t width, uint32_t height)
{
    if (pixels.empty()) return 0;
    size_t plane = size_t(width) * height;
    double sum = 0;
    for (size_t i = 0; i < plane; ++i) {
        for (int c = 0; c < 3; ++c) {
            double e = double(pixels[3 * i + c]) - planes[c * plane + i];
            sum += e * e;
        }
    }
    double mse = sum / (3.0 * plane);
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}


}  // namespace

int main(int argc, char** argv)
{
    BenchOptions o = ParseBenchOptions(argc, argv, BenchOptions());
    std::string dir = MakeTempDir("dctbench");
    if (dir.empty()) return 1;
    auto path = [&](const std::string& name) { return dir + "/" + name; };

    std::printf("image %u x %u RGB (%.2f MP), quality %d, best of %d runs\n", o.width, o.height,
                double(o.width) * o.height / 1e6, o.quality, o.reps);
    std::vector<uint8_t> planes = MakeImage(o.width, o.height);
    if (!WritePpm(path("in.ppm"), planes, o.width, o.height)) {
        std::fprintf(stderr, "cannot write the PPM\n");
        return 1;
    }
    std::string q = std::to_string(o.quality);
    bool haveCjpeg = access(o.cjpeg.c_str(), X_OK) == 0;
    bool haveDjpeg = access(o.djpeg.c_str(), X_OK) == 0;

    std::vector<Result> results;
    results.push_back(Time("rastik CDCTFilter 8x8 MCU (JPEG codec setting)", o.reps,
                           [&] { return EncodeOwn(planes, o.width, o.height, o.quality, false, path("own.jpg")); }));
    results.back().bytes = FileSize(path("own.jpg"));
    results.push_back(Time("rastik CDCTFilter 16x16 MCU (sampling 2,1,1)", o.reps,
                           [&] { return EncodeOwn(planes, o.width, o.height, o.quality, true, path("own16.jpg")); }));
    results.back().bytes = FileSize(path("own16.jpg"));
    std::vector<std::string> files = {"own.jpg", "own16.jpg"};
    if (haveCjpeg) {
        results.push_back(Time("cjpeg -quality " + q, o.reps, [&] {
            return Run({o.cjpeg, "-quality", q, "-outfile", path("cjpeg.jpg"), path("in.ppm")});
        }));
        results.back().bytes = FileSize(path("cjpeg.jpg"));
        results.push_back(Time("cjpeg -quality " + q + " -sample 1x1", o.reps, [&] {
            return Run({o.cjpeg, "-quality", q, "-sample", "1x1", "-outfile", path("cjpeg444.jpg"), path("in.ppm")});
        }));
        results.back().bytes = FileSize(path("cjpeg444.jpg"));
        files.push_back("cjpeg.jpg");
        files.push_back("cjpeg444.jpg");
    } else {
        std::printf("%s not found: no comparison\n", o.cjpeg.c_str());
    }
    for (size_t i = 0; i < results.size() && haveDjpeg; ++i) {
        if (results[i].ok && Run({o.djpeg, "-outfile", path("back.ppm"), path(files[i])}))
            results[i].psnr = Psnr(planes, ReadPpm(path("back.ppm"), o.width, o.height), o.width, o.height);
    }

    double mp = double(o.width) * o.height / 1e6;
    std::printf("%-48s %9s %8s %12s %9s\n", "encoder", "seconds", "MP/s", "bytes", "PSNR dB");
    for (const Result& r : results) {
        if (!r.ok) {
            std::printf("%-48s failed\n", r.name.c_str());
            continue;
        }
        std::printf("%-48s %9.3f %8.1f %12lld %9.2f\n", r.name.c_str(), r.seconds, mp / r.seconds, r.bytes, r.psnr);
    }
    if (results.size() >= 3 && results[0].ok && results[2].ok) {
        std::printf("speed ratio rastik 8x8 / cjpeg default: %.2f\n", results[2].seconds / results[0].seconds);
        std::printf("speed ratio rastik 16x16 / cjpeg default: %.2f\n", results[2].seconds / results[1].seconds);
    }
    if (results.size() >= 4 && results[0].ok && results[3].ok)
        std::printf("speed ratio rastik 8x8 / cjpeg -sample 1x1: %.2f\n", results[3].seconds / results[0].seconds);
    std::system(("rm -rf '" + dir + "'").c_str());
    return results[0].ok ? 0 : 1;
}
