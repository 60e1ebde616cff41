// Small images made by the library's own writers: the seeds of the fuzz
// targets and the frame around a fuzzed thumbnail.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writes a width x height image of the colour mode with the writer of the
// type (planes filled with a gradient that differs per channel; indexed and
// bitmap images get a palette). False when the writer fails.
bool WriteSampleImage(unsigned type, uint32_t mode, uint32_t width, uint32_t height, const std::string& path);

// The embedded thumbnail resource ("8BIM" 1036) of a width x height RGB
// image, as the library writes it; empty on failure. scratchPath is a file
// the resource is written into and read back from.
std::vector<uint8_t> MakeThumbnailResource(uint32_t width, uint32_t height, const std::string& scratchPath);
