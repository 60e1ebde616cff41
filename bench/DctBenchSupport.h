// Shared pieces of the DCT codec benchmarks: a deterministic photo-like
// test image, PPM files, running other tools, timing, a scratch directory,
// and encoding planes with the library's own encoder the way the JPEG file
// codec does.
#pragma once

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/CFile.h"
#include "rastik/CDCTFilter.h"
#include "rastik/Exports.h"

extern char** environ;

namespace {

// Lattice value noise: a hashed value per grid point, bilinear in between.
inline double LatticeNoise(uint32_t x, uint32_t y, uint32_t cell, uint32_t seed)
{
    auto hash = [seed](uint32_t gx, uint32_t gy) {
        uint32_t h = gx * 374761393u + gy * 668265263u + seed * 2246822519u;
        h = (h ^ (h >> 13)) * 1274126177u;
        return double((h ^ (h >> 16)) & 0xFFFF) / 65535.0 - 0.5;
    };
    uint32_t gx = x / cell, gy = y / cell;
    double fx = double(x % cell) / cell, fy = double(y % cell) / cell;
    double top = hash(gx, gy) * (1 - fx) + hash(gx + 1, gy) * fx;
    double bottom = hash(gx, gy + 1) * (1 - fx) + hash(gx + 1, gy + 1) * fx;
    return top * (1 - fy) + bottom * fy;
}

// A photo-like scene from fixed seeds, planar R, G, B: smooth gradients and
// soft shapes, fractal texture from 128-pixel down to 2-pixel detail (mostly
// shared by the channels, as in photographs) and a little sensor noise.
inline std::vector<uint8_t> MakeImage(uint32_t width, uint32_t height)
{
    std::vector<uint8_t> planes(size_t(width) * height * 3);
    uint32_t state = 20240601u;
    for (uint32_t y = 0; y < height; ++y) {
        double v = double(y) / height;
        for (uint32_t x = 0; x < width; ++x) {
            double u = double(x) / width;
            double shade = 50 * std::sin(5.0 * u + 2.0 * v) * std::cos(3.0 * v - u);
            double shape = 40 * std::exp(-((u - 0.3) * (u - 0.3) + (v - 0.6) * (v - 0.6)) * 20);
            double texture = 0, amplitude = 60;
            for (uint32_t cell = 128; cell >= 2; cell /= 2, amplitude *= 0.8) texture += amplitude * LatticeNoise(x, y, cell, cell);
            double tint = 30 * LatticeNoise(x, y, 64, 7);
            for (uint32_t c = 0; c < 3; ++c) {
                state = state * 1664525u + 1013904223u;
                double noise = (double(state >> 24) - 127.5) / 24.0;
                double value = 105 + 25 * c * u + shade * (1.0 - 0.3 * c) + shape * (c == 0 ? 2 : 0.5) +
                               texture + tint * (double(c) - 1) + noise;
                planes[(size_t(c) * height + y) * width + x] = uint8_t(std::clamp(value, 0.0, 255.0));
            }
        }
    }
    return planes;
}

inline bool WritePpm(const std::string& path, const std::vector<uint8_t>& planes, uint32_t width, uint32_t height)
{
    std::vector<uint8_t> pixels(size_t(width) * height * 3);
    size_t plane = size_t(width) * height;
    for (size_t i = 0; i < plane; ++i)
        for (int c = 0; c < 3; ++c) pixels[3 * i + c] = planes[c * plane + i];
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << width << " " << height << "\n255\n";
    out.write(reinterpret_cast<const char*>(pixels.data()), std::streamsize(pixels.size()));
    return bool(out);
}

// Interleaved samples of a binary PPM (P6, maxval 255); empty on failure.
inline std::vector<uint8_t> ReadPpm(const std::string& path, uint32_t width, uint32_t height)
{
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    uint32_t w = 0, h = 0, maxval = 0;
    in >> magic >> w >> h >> maxval;
    in.get();
    if (magic != "P6" || w != width || h != height || maxval != 255) return {};
    std::vector<uint8_t> pixels(size_t(w) * h * 3);
    in.read(reinterpret_cast<char*>(pixels.data()), std::streamsize(pixels.size()));
    return in ? pixels : std::vector<uint8_t>{};
}

inline double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Encodes the planar image into path the way the JPEG file codec does:
// quality scale, colour transform on, bands of the size the header asks for.
inline bool EncodeOwn(const std::vector<uint8_t>& planes, uint32_t width, uint32_t height, int quality, bool large,
               const std::string& path)
{
    CFile file;
    if (!file.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary)) return false;
    g_pEncodedDataFile = &file;
    const uint8_t sampling[3] = {2, 1, 1};
    DCTINFO info;
    info.dwWidth = width;
    info.dwHeight = height;
    info.dwComponents = 3;
    info.dQuantScale = 1.0 - quality / 100.0;
    info.dwTransform = 1;
    info.dwXDensity = info.dwYDensity = 72;
    info.pHSampling = large ? sampling : nullptr;
    CDCTFilter filter;
    uint32_t bandBytes = filter.Encode_Header(1, &info);
    bool ok = bandBytes != 0xFFFFFFFFu;
    if (ok) {
        uint32_t bandRows = bandBytes / (width * 3);
        std::vector<uint8_t> band(bandBytes);
        for (uint32_t row = 0; ok && row < height; row += bandRows) {
            uint32_t rows = std::min(bandRows, height - row);
            for (uint32_t c = 0; c < 3; ++c)
                std::memcpy(&band[size_t(c) * rows * width], &planes[(size_t(c) * height + row) * width],
                            size_t(rows) * width);
            ok = filter.Encoder(band.data(), int(rows * width * 3)) <= height;
        }
        ok = ok && filter.Encode_EOD() == 0;
    }
    g_pEncodedDataFile = nullptr;
    file.Close();
    return ok;
}

inline bool Run(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

inline long long FileSize(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

struct Result {
    std::string name;
    double seconds = 1e30;
    long long bytes = 0;
    double psnr = 0;
    bool ok = false;
};

template <typename F>
Result Time(const std::string& name, int reps, F run)
{
    Result r;
    r.name = name;
    for (int i = 0; i < reps; ++i) {
        auto start = std::chrono::steady_clock::now();
        r.ok = run();
        if (!r.ok) return r;
        r.seconds = std::min(r.seconds, Seconds(start));
    }
    return r;
}

// Settings of the DCT benchmarks, from --width, --height, --reps, --quality,
// --cjpeg and --djpeg.
struct BenchOptions {
    uint32_t width = 4000;
    uint32_t height = 2150;
    int reps = 3;
    int quality = 70;
    std::string cjpeg = "/usr/bin/cjpeg";
    std::string djpeg = "/usr/bin/djpeg";
};

inline BenchOptions ParseBenchOptions(int argc, char** argv, BenchOptions o)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string key = argv[i];
        if (key == "--width") o.width = uint32_t(std::max(1, std::atoi(argv[i + 1])));
        else if (key == "--height") o.height = uint32_t(std::max(1, std::atoi(argv[i + 1])));
        else if (key == "--reps") o.reps = std::max(1, std::atoi(argv[i + 1]));
        else if (key == "--quality") o.quality = std::clamp(std::atoi(argv[i + 1]), 0, 100);
        else if (key == "--cjpeg") o.cjpeg = argv[i + 1];
        else if (key == "--djpeg") o.djpeg = argv[i + 1];
    }
    return o;
}

// A fresh directory under TMPDIR (or /tmp) named after prefix; "" when it
// cannot be made.
inline std::string MakeTempDir(const std::string& prefix)
{
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/" + prefix + "XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!mkdtemp(name.data())) {
        std::perror("mkdtemp");
        return "";
    }
    return name.data();
}

}  // namespace
