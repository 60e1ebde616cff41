// Seeds of the picture reader, built byte by byte (the library has no
// picture writer): version-2 pictures with 8- and 4-bit indexed and grey
// pixel maps, 16- and 32-bit direct pixel maps, drawing opcodes before the
// image; a version-1 picture; and the two headed 1-bit formats.
#pragma once

#include <string>

// Writes them into outDir/pict (pictures), outDir/onebit (the 1-bit
// formats) and outDir/imgproc (some of both).
void SavePictSeeds(const std::string& outDir);
