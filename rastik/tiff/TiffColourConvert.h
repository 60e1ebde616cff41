// Colour conversions of TIFF pixels to RGB bytes: the L*a*b* encodings
// (PhotometricInterpretation 8, 9, 10) and colour samples stored multiplied
// by their alpha (ExtraSamples 1).
//
// CIELab (8) converts exactly as ImageMagick shows it: L* from 0..100 over
// the sample range, a* and b* from signed samples (ImageMagick's reading of
// them, where -1 of an 8-bit sample counts as -0.002 and -128 as -127.002),
// D65 white (0.950456, 1, 1.088754), the sRGB matrix and transfer curve,
// the 16-bit quantum rounded and then q / 257 rounded. ImageMagick shows
// ICCLab (9) and ITULab (10) samples as if they were RGB; these convert
// instead from their own encodings through the same CIELab path:
// - ICCLab: L* = v x 100 / 255 (8 bits) or v x 100 / 65280 (16 bits), a*
//   and b* = v - 128 (8 bits) or v / 256 - 128 (16 bits);
// - ITULab: the Decode ranges, or their defaults L* 0..100, a* from
//   -85 x 2^n / (2^n - 1) over 170, b* from -75 x 2^n / (2^n - 1) over 200.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tiff {

enum LabPhotometric : uint32_t { kCieLab = 8, kIccLab = 9, kItuLab = 10 };

// L*a*b* to an RGB pixel as ImageMagick converts it.
void LabToRgb(double l, double a, double b, uint8_t* rgb);

// Rows of pixels of samplesPerPixel samples (the first three L*, a*, b*;
// the others skipped) of bits 8 or 16 (in the file's byte order) to RGB
// triples. decode: the six Decode values of an ITULab file, or null for
// the defaults. False for a photometric or depth not handled.
bool LabRowToRgb(const uint8_t* src, uint8_t* rgb, size_t pixels, uint32_t samplesPerPixel, uint32_t photometric,
                 uint32_t bits, bool little, const double* decode = nullptr);

// Colour samples stored multiplied by alpha back to straight colour, in
// place, on pixels of samplesPerPixel byte samples: the first colourSamples
// of each pixel are divided by the one at alphaIndex as PIL divides them,
// c x 255 / alpha truncated, at most 255, 0 where alpha is 0. (ImageMagick
// rounds instead, and misreads such files stored a plane per sample.)
void UnassociateAlpha(uint8_t* row, size_t pixels, uint32_t samplesPerPixel, uint32_t colourSamples,
                      uint32_t alphaIndex);
// The same on rows of a plane per sample: each of colourPlanes rows of
// pixels samples divided by the alpha row.
void UnassociatePlanes(uint8_t* const* colour, uint32_t colourPlanes, const uint8_t* alpha, size_t pixels);

}  // namespace tiff
