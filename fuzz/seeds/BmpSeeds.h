// Seeds of the bitmap reader built byte by byte, for the pixel encodings the
// library's writer does not make: run-length rows of 8 and 4 bits, 16- and
// 32-bit bit-field pixels (masks after the header and in V4/V5 headers,
// with alpha), OS/2 headers of both versions, and embedded JPEG and PNG files.
#pragma once

#include <cstdint>
#include <string>

#include "SeedFiles.h"

// Writes them into outDir/bmp and outDir/imgproc.
void SaveBmpSeeds(const std::string& outDir);
// A bitmap whose pixel data is the JPEG (compression 4) or PNG (5) file of
// a width x height image.
SeedBytes EmbeddingBmp(const SeedBytes& file, uint32_t compression, uint32_t width, uint32_t height);
