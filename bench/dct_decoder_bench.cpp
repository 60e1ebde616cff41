// Speed of the library's own baseline JPEG decoder against djpeg: the
// library's encoder codes a deterministic photo-sized RGB image at quality
// 70 in both MCU layouts; each file is decoded by CDCTFilter (interleaved
// bands into one band buffer) and by djpeg -nosmooth (which replicates
// chroma as this decoder does). The program prints megapixels per second,
// their ratio, and the PSNR between the two decoders' pixels.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/DctBenchSupport.h"

namespace {

// Decodes path with CDCTFilter::Decoder in bands of bandRows MCU rows; the
// pixels go to *image when it is given, else each band overwrites the last.
bool DecodeOwn(const std::string& path, uint32_t bandMcuRows, std::vector<uint8_t>* image)
{
    CFile file;
    if (!file.Open(path.c_str(), CFile::modeRead | CFile::typeBinary)) return false;
    CFile* previous = SetEncodedDataFile(&file);
    CDCTFilter decoder;
    DCTINFO info;
    uint32_t bandBytes = decoder.Decode_Header(1, &info);
    bool ok = bandBytes != 0xFFFFFFFFu;
    std::vector<uint8_t> band(ok ? size_t(bandBytes) * bandMcuRows : 0);
    if (image) image->clear();
    for (uint32_t left = 1; ok && left != 0;) {
        int bytes = int(band.size());
        left = decoder.Decoder(band.data(), bytes);
        ok = left != 0xFFFFFFFFu;
        if (ok && image) image->insert(image->end(), band.begin(), band.begin() + bytes);
    }
    SetEncodedDataFile(previous);
    return ok;
}

double PsnrInterleaved(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    if (a.empty() || a.size() != b.size()) return 0;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        double e = double(a[i]) - b[i];
        sum += e * e;
    }
    double mse = sum / double(a.size());
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace

int main(int argc, char** argv)
{
    BenchOptions defaults;
    defaults.height = 2144;
    defaults.reps = 5;
    BenchOptions o = ParseBenchOptions(argc, argv, defaults);
    std::string dir = MakeTempDir("dctdecbench");
    if (dir.empty()) return 1;
    auto path = [&](const std::string& name) { return dir + "/" + name; };
    bool haveDjpeg = access(o.djpeg.c_str(), X_OK) == 0;

    std::printf("image %u x %u RGB (%.2f MP), quality %d, best of %d runs, one thread\n", o.width, o.height,
                double(o.width) * o.height / 1e6, o.quality, o.reps);
    std::vector<uint8_t> planes = MakeImage(o.width, o.height);
    double mp = double(o.width) * o.height / 1e6;
    bool allOk = true;
    std::printf("%-34s %10s %8s %10s %8s %8s %9s\n", "file", "bytes", "own s", "own MP/s", "djpeg s", "ratio",
                "PSNR dB");
    for (bool large : {false, true}) {
        std::string name = large ? "16x16 MCU (sampling 2,1,1)" : "8x8 MCU";
        std::string jpg = path(large ? "own16.jpg" : "own8.jpg");
        if (!EncodeOwn(planes, o.width, o.height, o.quality, large, jpg)) {
            std::printf("%-34s encoding failed\n", name.c_str());
            allOk = false;
            continue;
        }
        Result own = Time("own", o.reps, [&] { return DecodeOwn(jpg, 1, nullptr); });
        std::vector<uint8_t> ownPixels;
        allOk = allOk && own.ok && DecodeOwn(jpg, 1, &ownPixels);
        if (!own.ok) {
            std::printf("%-34s decoding failed\n", name.c_str());
            continue;
        }
        if (!haveDjpeg) {
            std::printf("%-34s %10lld %8.3f %10.1f %8s\n", name.c_str(), FileSize(jpg), own.seconds, mp / own.seconds,
                        "-");
            continue;
        }
        Result djpeg = Time("djpeg", o.reps, [&] {
            return Run({o.djpeg, "-nosmooth", "-outfile", "/dev/null", jpg});
        });
        double psnr = 0;
        if (Run({o.djpeg, "-nosmooth", "-outfile", path("back.ppm"), jpg}))
            psnr = PsnrInterleaved(ownPixels, ReadPpm(path("back.ppm"), o.width, o.height));
        std::printf("%-34s %10lld %8.3f %10.1f %8.3f %8.2f %9.2f\n", name.c_str(), FileSize(jpg), own.seconds,
                    mp / own.seconds, djpeg.seconds, djpeg.seconds / own.seconds, psnr);
    }
    if (!haveDjpeg) std::printf("%s not found: no comparison\n", o.djpeg.c_str());
    std::printf("ratio = djpeg seconds / own seconds (1.0: as fast as djpeg; target 0.5 or more)\n");
    std::system(("rm -rf '" + dir + "'").c_str());
    return allOk ? 0 : 1;
}
