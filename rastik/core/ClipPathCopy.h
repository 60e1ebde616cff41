// Handing an image's clip paths to another image, scaled to its size: a
// conversion keeps the paths of a TIFF source for a TIFF target.
#pragma once

#include "rastik/CRastik.h"

// Replaces the path list of target by copies of the source's paths, every
// x multiplied by scaleX and every y by scaleY. A source without paths
// leaves the target as it is. False when memory runs out.
bool CopyClipPaths(const CRastik& source, CRastik& target, double scaleX, double scaleY);
