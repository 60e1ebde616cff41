// Helpers of the TIFF tests: the file builders (TiffFixture.h), libtiff's
// tiff2rgba as an outside decoder, and reading a TIFF whole into RGB.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "TestUtil.h"
#include "TiffFixture.h"

class CTiffIO;

namespace testutil {

// libtiff's decoding of a file as RGB (tiff2rgba); false when it refuses.
bool HasTiffTools();
bool DecodeWithTiff2Rgba(const std::string& path, RgbImage* image);

// Opens and reads a TIFF whole (0 when a step fails).
int ReadTiff(CTiffIO& codec, const std::string& path);

// Largest difference of two images of the same size; -1 when sizes differ.
int MaxDifference(const RgbImage& a, const RgbImage& b);

// The first directory of a stored TIFF file, field by field: for each tag
// its type, count, raw value field (read as a 32-bit number) and items
// (BYTE, SHORT, LONG; RATIONAL as numerator, denominator pairs), read
// where they stand.
struct TiffField {
    uint16_t type = 0;
    uint32_t count = 0;
    uint32_t valueField = 0;
    std::vector<uint32_t> items;
};
struct TiffDirectory {
    bool little = true;
    uint32_t offset = 0;
    std::vector<uint16_t> tags;  // in stored order
    std::map<uint16_t, TiffField> fields;
    bool Has(uint16_t tag) const { return fields.count(tag) != 0; }
    const TiffField& operator[](uint16_t tag) const { return fields.at(tag); }
};
bool ParseTiffDirectory(const std::vector<uint8_t>& file, TiffDirectory* dir);

// An image to write: mode (2, 3, 4, 5, 6), extra channels past the colour
// ones, planes filled with a pattern that has runs and noise, a 256-entry
// palette for indexed images and a black-and-white one for bilevel ones.
std::unique_ptr<CTiffIO> MakeTiffImage(const std::string& path, uint32_t mode, uint32_t width, uint32_t height,
                                       uint32_t extra = 0);
// Opens codec.File for creating, runs WriteFile, closes; its result.
int WriteTiffFile(CTiffIO& codec, const std::string& path);
// Whether the planes, palette and size of two images are the same.
std::string ImageMismatch(CRastik& a, CRastik& b);

}  // namespace testutil
