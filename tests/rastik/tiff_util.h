// Helpers of the TIFF tests: the file builders (TiffFixture.h), libtiff's
// tiff2rgba as an outside decoder, and reading a TIFF whole into RGB.
#pragma once

#include <cstdint>
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

}  // namespace testutil
