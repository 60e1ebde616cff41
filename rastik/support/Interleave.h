// Splitting and joining interleaved samples now live in the pixel-row kit;
// this header remains for the TIFF codec's sources, which still include it.
#pragma once

#include "rastik/support/PixelRows.h"
