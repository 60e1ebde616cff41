// Seeds of the picture reader, built byte by byte (the library has no
// picture writer): version-2 pictures with 8-, 4- and 2-bit indexed and grey
// pixel maps, 16- and 32-bit direct pixel maps and a 1-bit bitmap, drawing
// opcodes before the image; a version-1 picture; the two headed 1-bit
// formats.
#pragma once

#include <string>

// Writes them into outDir/pict and some of them into outDir/imgproc.
void SavePictSeeds(const std::string& outDir);
