// Seeds of the bitmap reader built byte by byte, for the pixel encodings the
// library's writer does not make: run-length rows of 8 and 4 bits, 16- and
// 32-bit bit-field pixels (masks after the header and in V4/V5 headers,
// with alpha), and OS/2 headers of both versions.
#pragma once

#include <string>

// Writes them into outDir/bmp and some into outDir/imgproc.
void SaveBmpSeeds(const std::string& outDir);
