// The inch, as the formats and the resolution units measure it. Stated
// once here; every conversion of a resolution to or from dots per inch
// takes its factor from these.
#pragma once

namespace rastik {

// Files that give densities per centimetre (JPEG) or pixels per metre
// (bitmaps, read) are converted with the inch of 2.54 cm.
constexpr double kCentimetresPerInch = 2.54;
// The inch of the resolution units (unit 3, centimetres, is 2.53995 per
// inch): whole-file conversion and the writers that store pixels per metre
// (bitmaps) convert with it.
constexpr double kUnitCentimetresPerInch = 2.53995;
// PNG's pixels per metre, read and written, go through the metre of 0.0254
// per inch.
constexpr double kMetresPerInch = 0.0254;

}  // namespace rastik
