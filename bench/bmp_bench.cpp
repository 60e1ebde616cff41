// Bitmap benchmark helper, driven by bmp_bench.sh:
//   bmp_bench make OUT.bmp W H      a deterministic photo-like 24-bit bitmap
//   bmp_bench copy IN.bmp OUT.bmp   whole image into planes and written back
//   bmp_bench read IN.bmp           whole image into planes only
//   bmp_bench preview IN.bmp        the 96-pixel preview only
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "rastik/CBmpIO.h"
#include "rastik/General.h"

namespace {

void Put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Smooth gradients, a few soft discs and fine noise, so that the image
// looks like a photograph to a compressor or a resampler.
int Make(const char* path, uint32_t w, uint32_t h)
{
    FILE* f = fopen(path, "wb");
    if (!f) return 1;
    uint32_t row = (w * 3 + 3) / 4 * 4;
    uint8_t head[54] = {'B', 'M'};
    Put32(head + 2, 54 + row * h);
    Put32(head + 10, 54);
    Put32(head + 14, 40);
    Put32(head + 18, w);
    Put32(head + 22, h);
    head[26] = 1;
    head[28] = 24;
    Put32(head + 38, 2835);
    Put32(head + 42, 2835);
    fwrite(head, 1, sizeof head, f);
    std::vector<uint8_t> line(row, 0);
    uint32_t seed = 12345;
    for (uint32_t n = 0; n < h; ++n) {
        uint32_t y = h - 1 - n;
        for (uint32_t x = 0; x < w; ++x) {
            seed = seed * 1103515245u + 12345u;
            int noise = static_cast<int>((seed >> 16) % 9) - 4;
            double fx = static_cast<double>(x) / w, fy = static_cast<double>(y) / h;
            double disc = std::exp(-((fx - 0.3) * (fx - 0.3) + (fy - 0.4) * (fy - 0.4)) * 18.0);
            double r = 40 + 150 * fy + 60 * disc, g = 90 + 100 * fx * (1 - fy) + 40 * disc,
                   b = 160 - 110 * fy + 30 * std::sin(fx * 12.0);
            int v[3] = {static_cast<int>(b) + noise, static_cast<int>(g) + noise, static_cast<int>(r) + noise};
            for (int c = 0; c < 3; ++c) line[x * 3 + c] = static_cast<uint8_t>(v[c] < 0 ? 0 : v[c] > 255 ? 255 : v[c]);
        }
        fwrite(line.data(), 1, row, f);
    }
    return fclose(f) == 0 ? 0 : 1;
}

bool ReadWhole(CBmpIO& src, const char* in)
{
    if (!src.File.Open(in, CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary) || !src.ReadImageHead())
        return false;
    src.BytesPerLine = BytesPerRow(src.Width * 8);
    if (!src.AllocChannelSpace() || !src.ReadImageData()) return false;
    src.File.Close();
    return true;
}

int Read(const char* in)
{
    CBmpIO src(in);
    return ReadWhole(src, in) ? 0 : 1;
}

int Copy(const char* in, const char* out)
{
    CBmpIO src(in);
    if (!ReadWhole(src, in)) return 1;
    src.Path = out;
    if (!src.File.Open(out, CFile::modeCreate | CFile::modeWrite | CFile::typeBinary)) return 1;
    int ok = src.WriteFile();
    src.File.Close();
    return ok ? 0 : 1;
}

int Preview(const char* in)
{
    CBmpIO src(in);
    if (!src.File.Open(in, CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary) || !src.ReadImageHead())
        return 1;
    uint32_t w = 0, h = 0;
    uint8_t* buffer = nullptr;
    int ok = src.ReadPrevImageData(w, h, buffer);
    FreeBuffer(&buffer);
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && strcmp(argv[1], "make") == 0)
        return Make(argv[2], static_cast<uint32_t>(atoi(argv[3])), static_cast<uint32_t>(atoi(argv[4])));
    if (argc == 4 && strcmp(argv[1], "copy") == 0) return Copy(argv[2], argv[3]);
    if (argc == 3 && strcmp(argv[1], "read") == 0) return Read(argv[2]);
    if (argc == 3 && strcmp(argv[1], "preview") == 0) return Preview(argv[2]);
    fprintf(stderr, "usage: bmp_bench make OUT.bmp W H | copy IN.bmp OUT.bmp | read IN.bmp | preview IN.bmp\n");
    return 2;
}
