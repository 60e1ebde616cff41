// Seeds of the TIFF reader, built by the tests' TIFF builder (a TIFF writer
// the library has not): every photometric kind and depth the reader takes,
// either byte order, a plane per sample, PackBits and LZW strips, BigTIFF,
// pages, SubIFDs and looping chains, and Photoshop resource blocks with clip
// paths and a thumbnail.
#pragma once

#include <string>

// Writes them into outDir/tiff, the resource blocks into
// outDir/tiff_resources, and some into outDir/imgproc.
void SaveTiffSeeds(const std::string& outDir);
