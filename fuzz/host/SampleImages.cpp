// Sample images and thumbnail resources from the library's own writers.
#include "SampleImages.h"

#include <cstdio>
#include <memory>

#include "CFuzzScratch.h"
#include "rastik/rastik.h"

namespace {

// Describes the image and fills its planes.
bool DescribeAndFill(CRastik& image, uint32_t mode, uint32_t width, uint32_t height)
{
    image.Width = width;
    image.Height = height;
    image.SetMode(mode);
    if (mode == kModeBitmap) {
        image.ChannelCount = image.ColorChannels = 1;
        image.PaletteSize = 2;
    }
    if (mode == kModeIndexed || mode == kModeBitmap) {
        std::vector<uint8_t> palette(4 * image.PaletteSize);
        for (uint32_t i = 0; i < image.PaletteSize; ++i) {
            palette[4 * i] = static_cast<uint8_t>(i * 37);
            palette[4 * i + 1] = static_cast<uint8_t>(i * 11);
            palette[4 * i + 2] = static_cast<uint8_t>(255 - i);
        }
        if (!image.SetPalette(palette.data(), image.PaletteSize)) return false;
    }
    image.BytesPerLine = BytesPerRow(width * 8);
    if (!image.AllocChannelSpace()) return false;
    std::vector<uint8_t> row(image.BytesPerLine);
    for (uint32_t c = 0; c < image.ChannelCount; ++c)
        for (uint32_t y = 0; y < height; ++y) {
            for (uint32_t x = 0; x < width; ++x) {
                uint32_t v = x * 7 + y * 3 + c * 50;
                row[x] = static_cast<uint8_t>(mode == kModeBitmap ? (x + y) & 1 : v);
            }
            if (!image.WritePlaneRow(c, y, row.data())) return false;
        }
    return true;
}

}  // namespace

bool WriteSampleImage(unsigned type, uint32_t mode, uint32_t width, uint32_t height, const std::string& path)
{
    std::unique_ptr<CRastik> image(NewRastikInstance(type, path.c_str()));
    if (!image || !DescribeAndFill(*image, mode, width, height)) return false;
    if (!image->File.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary)) return false;
    int ok = image->WriteFile();
    try {
        image->File.Close();
    } catch (const CFileException&) {
        ok = 0;
    }
    return ok != 0;
}

std::vector<uint8_t> MakeThumbnailResource(uint32_t width, uint32_t height, const std::string& scratchPath)
{
    CRastik image;
    image.Path = scratchPath.c_str();
    if (!DescribeAndFill(image, kModeRgb, width, height)) return {};
    if (!image.File.Open(scratchPath.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary)) return {};
    int32_t written = image.WritePrevFile();
    try {
        image.File.Close();
    } catch (const CFileException&) {
        written = 0;
    }
    std::vector<uint8_t> bytes = written > 0 ? FuzzReadFile(scratchPath) : std::vector<uint8_t>();
    remove(scratchPath.c_str());
    return bytes;
}
