// Helper of bench/imgproc_bench.sh:
//   imgproc_bench_tool make W H OUT.bmp
//       writes a deterministic photo-like 24-bit bitmap (smooth colour fields
//       with fine texture), row by row, so any size can be made;
//   imgproc_bench_tool check SRC.bmp OUT.bmp X Y W H
//       recomputes a W x H region of OUT (an 8-bit grey bitmap made from
//       the 24-bit SRC by grey conversion and bilinear resampling) from SRC
//       and counts the samples that differ.
// Bitmap layout: 14-byte file header, 40-byte information header, palette,
// rows bottom-up padded to 4 bytes, all little-endian.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void Put16(std::vector<uint8_t>& b, uint16_t v)
{
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& b, uint32_t v)
{
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint32_t Get32(const uint8_t* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint8_t Clamp(int v)
{
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

int Make(uint32_t w, uint32_t h, const char* path)
{
    uint64_t row = (static_cast<uint64_t>(w) * 3 + 3) / 4 * 4;
    uint64_t data = row * h;
    std::vector<uint8_t> head;
    head.push_back('B');
    head.push_back('M');
    Put32(head, static_cast<uint32_t>(54 + data));
    Put16(head, 0);
    Put16(head, 0);
    Put32(head, 54);
    Put32(head, 40);
    Put32(head, w);
    Put32(head, h);
    Put16(head, 1);
    Put16(head, 24);
    Put32(head, 0);
    Put32(head, 0);
    Put32(head, 2835);
    Put32(head, 2835);
    Put32(head, 0);
    Put32(head, 0);
    FILE* f = fopen(path, "wb");
    if (!f) return 1;
    fwrite(head.data(), 1, head.size(), f);
    // Colour = column field + row field + texture; the fields are separable
    // so rows are cheap to make.
    std::vector<int> cr(w), cg(w), cb(w);
    for (uint32_t x = 0; x < w; ++x) {
        double t = static_cast<double>(x) / w;
        cr[x] = static_cast<int>(70 * std::sin(t * 7.1));
        cg[x] = static_cast<int>(60 * std::cos(t * 4.3 + 1));
        cb[x] = static_cast<int>(50 * std::sin(t * 11.7 + 2));
    }
    std::vector<uint8_t> line(row, 0);
    for (uint32_t n = 0; n < h; ++n) {
        uint32_t y = h - 1 - n;
        double t = static_cast<double>(y) / h;
        int rr = 128 + static_cast<int>(50 * std::cos(t * 5.3));
        int rg = 120 + static_cast<int>(55 * std::sin(t * 3.1 + 0.5));
        int rb = 110 + static_cast<int>(60 * std::cos(t * 8.9 + 1.5));
        for (uint32_t x = 0; x < w; ++x) {
            uint32_t hash = (x * 2654435761u) ^ (y * 2246822519u);
            hash ^= hash >> 15;
            int noise = static_cast<int>(hash % 9) - 4;
            line[3 * x] = Clamp(rb + cb[x] + noise);
            line[3 * x + 1] = Clamp(rg + cg[x] + noise);
            line[3 * x + 2] = Clamp(rr + cr[x] + noise);
        }
        if (fwrite(line.data(), 1, row, f) != row) {
            fclose(f);
            return 1;
        }
    }
    return fclose(f) == 0 ? 0 : 1;
}

struct Bitmap {
    FILE* file = nullptr;
    uint32_t width = 0, height = 0, bits = 0, offset = 0;
    uint64_t row = 0;
    bool Open(const char* path)
    {
        file = fopen(path, "rb");
        uint8_t h[54];
        if (!file || fread(h, 1, 54, file) != 54 || h[0] != 'B' || h[1] != 'M') return false;
        offset = Get32(h + 10);
        width = Get32(h + 18);
        height = Get32(h + 22);
        bits = h[28] | (h[29] << 8);
        row = (static_cast<uint64_t>(width) * bits + 31) / 32 * 4;
        return bits == 8 || bits == 24;
    }
    // Row y counted from the top.
    bool Row(uint32_t y, std::vector<uint8_t>& out)
    {
        out.resize(row);
        uint64_t at = offset + (static_cast<uint64_t>(height) - 1 - y) * row;
        return fseeko(file, static_cast<off_t>(at), SEEK_SET) == 0 && fread(out.data(), 1, row, file) == row;
    }
};

// Grey of source row y: 0.6 G + 0.3 R + 0.1 B, truncated.
bool GreyRow(Bitmap& src, uint32_t y, std::vector<uint8_t>& grey)
{
    std::vector<uint8_t> raw;
    if (!src.Row(y, raw)) return false;
    grey.resize(src.width);
    for (uint32_t x = 0; x < src.width; ++x)
        grey[x] = static_cast<uint8_t>(0.6 * raw[3 * x + 1] + 0.3 * raw[3 * x + 2] + 0.1 * raw[3 * x]);
    return true;
}

int Check(const char* srcPath, const char* outPath, uint32_t x0, uint32_t y0, uint32_t w, uint32_t h)
{
    Bitmap src, out;
    if (!src.Open(srcPath) || src.bits != 24 || !out.Open(outPath) || out.bits != 8) {
        fprintf(stderr, "check: cannot read the bitmaps\n");
        return 2;
    }
    const uint32_t W = src.width, H = src.height, tw = out.width, th = out.height;
    uint64_t differ = 0, total = 0;
    int worst = 0;
    std::vector<uint8_t> g0, g1, o;
    for (uint32_t j = y0; j < y0 + h && j < th; ++j) {
        double y = th > 1 ? static_cast<double>(j) * (H - 1) / (th - 1) : 0;
        uint32_t ya = static_cast<uint32_t>(y);
        double fy = y - ya;
        bool last = ya + 1 >= H;
        if (!GreyRow(src, ya, g0) || (!last && !GreyRow(src, ya + 1, g1)) || !out.Row(j, o)) return 2;
        for (uint32_t k = x0; k < x0 + w && k < tw; ++k) {
            double x = tw > 1 ? static_cast<double>(k) * (W - 1) / (tw - 1) : 0;
            uint32_t xa = static_cast<uint32_t>(x);
            uint32_t xb = xa + 1 < W ? xa + 1 : xa;
            double fx = x - xa;
            double top = g0[xa] * (1 - fx) + fx * g0[xb];
            double v = last ? top : top * (1 - fy) + fy * ((1 - fx) * g1[xa] + fx * g1[xb]);
            int want = static_cast<int>(v);
            int d = std::abs(want - o[k]);
            if (d) ++differ;
            if (d > worst) worst = d;
            ++total;
        }
    }
    printf("checked %llu samples: %llu differ, largest difference %d\n", static_cast<unsigned long long>(total),
           static_cast<unsigned long long>(differ), worst);
    return differ == 0 && total > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && strcmp(argv[1], "make") == 0)
        return Make(static_cast<uint32_t>(strtoul(argv[2], nullptr, 10)),
                    static_cast<uint32_t>(strtoul(argv[3], nullptr, 10)), argv[4]);
    if (argc == 8 && strcmp(argv[1], "check") == 0)
        return Check(argv[2], argv[3], static_cast<uint32_t>(strtoul(argv[4], nullptr, 10)),
                     static_cast<uint32_t>(strtoul(argv[5], nullptr, 10)),
                     static_cast<uint32_t>(strtoul(argv[6], nullptr, 10)),
                     static_cast<uint32_t>(strtoul(argv[7], nullptr, 10)));
    fprintf(stderr, "usage: imgproc_bench_tool make W H OUT.bmp\n"
                    "       imgproc_bench_tool check SRC.bmp OUT.bmp X Y W H\n");
    return 2;
}
