// Helpers of the TIFF tests (see tiff_util.h).
#include "tiff_util.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "rastik/CTiffIO.h"
#include "rastik/General.h"

namespace testutil {

bool HasTiffTools()
{
    return access("/usr/bin/tiff2rgba", X_OK) == 0 && access("/usr/bin/tiffcp", X_OK) == 0;
}

// libtiff's output is an uncompressed interleaved 8-bit RGBA file, which
// the reader's plainest path takes.
bool DecodeWithTiff2Rgba(const std::string& path, RgbImage* image)
{
    TempDir dir;
    std::string out = dir.File("rgba.tif");
    if (RunCommand("/usr/bin/tiff2rgba -c none " + Quote(path) + " " + Quote(out) + " 2>/dev/null", nullptr) != 0)
        return false;
    CTiffIO rgba(out.c_str());
    if (!ReadTiff(rgba, out)) return false;
    *image = PlanesToRgb(rgba);
    return true;
}

int ReadTiff(CTiffIO& codec, const std::string& path)
{
    if (!OpenAndReadHead(codec, path.c_str())) return 0;
    return ReadWholeImage(codec);
}

int MaxDifference(const RgbImage& a, const RgbImage& b)
{
    if (a.width != b.width || a.height != b.height || a.rgb.size() != b.rgb.size()) return -1;
    int worst = 0;
    for (size_t i = 0; i < a.rgb.size(); ++i) worst = std::max(worst, std::abs(int(a.rgb[i]) - int(b.rgb[i])));
    return worst;
}

namespace {

uint32_t Get(const std::vector<uint8_t>& b, size_t at, uint32_t size, bool little)
{
    uint32_t v = 0;
    for (uint32_t i = 0; i < size; ++i) {
        uint32_t byte = at + i < b.size() ? b[at + i] : 0;
        v |= little ? byte << (8 * i) : byte << (8 * (size - 1 - i));
    }
    return v;
}

}  // namespace

bool ParseTiffDirectory(const std::vector<uint8_t>& b, TiffDirectory* dir)
{
    if (b.size() < 8 || b[0] != b[1] || (b[0] != 'I' && b[0] != 'M')) return false;
    bool little = b[0] == 'I';
    dir->little = little;
    dir->offset = Get(b, 4, 4, little);
    if (Get(b, 2, 2, little) != 42 || dir->offset + 2ull > b.size()) return false;
    uint32_t count = Get(b, dir->offset, 2, little);
    if (dir->offset + 2ull + 12ull * count + 4 > b.size()) return false;
    for (uint32_t i = 0; i < count; ++i) {
        size_t at = dir->offset + 2 + 12 * i;
        uint16_t tag = static_cast<uint16_t>(Get(b, at, 2, little));
        TiffField f;
        f.type = static_cast<uint16_t>(Get(b, at + 2, 2, little));
        f.count = Get(b, at + 4, 4, little);
        f.valueField = Get(b, at + 8, 4, little);
        uint32_t size = f.type == 5 ? 4 : ItemBytes(f.type);
        uint64_t items = f.type == 5 ? 2ull * f.count : f.count;
        size_t from = items * size <= 4 ? at + 8 : f.valueField;
        if (from + items * size > b.size()) return false;
        for (uint64_t k = 0; k < items; ++k) f.items.push_back(Get(b, from + k * size, size, little));
        dir->tags.push_back(tag);
        dir->fields[tag] = f;
    }
    return true;
}

std::unique_ptr<CTiffIO> MakeTiffImage(const std::string& path, uint32_t mode, uint32_t width, uint32_t height,
                                       uint32_t extra)
{
    auto image = std::make_unique<CTiffIO>(path.c_str());
    image->Width = width;
    image->Height = height;
    image->SetMode(mode);
    if (mode == kModeBitmap) image->ChannelCount = image->ColorChannels = 1;
    image->ChannelCount += extra;
    image->BytesPerLine = BytesPerRow(width * 8);
    image->XResolution = 300.7f;
    image->YResolution = 150.0f;
    image->ResolutionUnit = 1;
    if (mode == kModeIndexed || mode == kModeBitmap) {
        uint32_t entries = mode == kModeBitmap ? 2 : 256;
        std::vector<uint8_t> palette(entries * 4);
        for (uint32_t i = 0; i < entries; ++i) {
            uint8_t v = static_cast<uint8_t>(mode == kModeBitmap ? i * 255 : i);
            palette[i * 4] = static_cast<uint8_t>(mode == kModeBitmap ? v : 255 - v);
            palette[i * 4 + 1] = static_cast<uint8_t>(mode == kModeBitmap ? v : v * 3);
            palette[i * 4 + 2] = v;
        }
        image->SetPalette(palette.data(), entries);
        image->PaletteSize = entries;
    }
    if (!image->AllocChannelSpace()) return nullptr;
    std::vector<uint8_t> row(image->BytesPerLine);
    uint32_t seed = 12345;
    for (uint32_t c = 0; c < image->ChannelCount; ++c) {
        for (uint32_t y = 0; y < height; ++y) {
            for (uint32_t x = 0; x < width; ++x) {
                seed = seed * 1103515245u + 12345u;
                // Flat stretches, ramps and noise, so every coder has runs and literals.
                uint32_t v = x < width / 3 ? 40 * c + y / 4 : x < 2 * width / 3 ? x * 3 + y + c * 50 : seed >> 24;
                row[x] = static_cast<uint8_t>(mode == kModeBitmap ? (v >> 3) & 1 : v);
            }
            image->WritePlaneRow(c, y, row.data());
        }
    }
    return image;
}

int WriteTiffFile(CTiffIO& codec, const std::string& path)
{
    if (!codec.File.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary)) return 0;
    int ok = codec.WriteFile();
    codec.File.Abort();
    return ok;
}

std::string ImageMismatch(CRastik& a, CRastik& b)
{
    if (a.Width != b.Width || a.Height != b.Height) return "size";
    if (a.ColorMode != b.ColorMode) return "mode " + std::to_string(a.ColorMode) + " " + std::to_string(b.ColorMode);
    if (a.ChannelCount != b.ChannelCount) return "channels";
    for (uint32_t c = 0; c < a.ChannelCount; ++c)
        if (PlaneBytes(a, c) != PlaneBytes(b, c)) return "plane " + std::to_string(c);
    if (a.ColorMode == kModeIndexed || a.ColorMode == kModeBitmap) {
        if (a.PaletteSize != b.PaletteSize || !a.Palette || !b.Palette) return "palette size";
        if (memcmp(a.Palette, b.Palette, a.PaletteSize * 4) != 0) return "palette";
    }
    return "";
}

}  // namespace testutil
