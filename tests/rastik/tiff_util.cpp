// Helpers of the TIFF tests (see tiff_util.h).
#include "tiff_util.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "rastik/CTiffIO.h"

namespace testutil {

bool HasTiffTools()
{
    return access("/usr/bin/tiff2rgba", X_OK) == 0 && access("/usr/bin/tiffcp", X_OK) == 0;
}

// libtiff's output is an uncompressed interleaved 8-bit RGBA file, which
// the reader's plainest path takes.
bool DecodeWithTiff2Rgba(const std::string& path, RgbImage* image)
{
    TempDir dir;
    std::string out = dir.File("rgba.tif");
    if (RunCommand("/usr/bin/tiff2rgba -c none " + Quote(path) + " " + Quote(out) + " 2>/dev/null", nullptr) != 0)
        return false;
    CTiffIO rgba(out.c_str());
    if (!ReadTiff(rgba, out)) return false;
    *image = PlanesToRgb(rgba);
    return true;
}

int ReadTiff(CTiffIO& codec, const std::string& path)
{
    if (!OpenAndReadHead(codec, path.c_str())) return 0;
    return ReadWholeImage(codec);
}

int MaxDifference(const RgbImage& a, const RgbImage& b)
{
    if (a.width != b.width || a.height != b.height || a.rgb.size() != b.rgb.size()) return -1;
    int worst = 0;
    for (size_t i = 0; i < a.rgb.size(); ++i) worst = std::max(worst, std::abs(int(a.rgb[i]) - int(b.rgb[i])));
    return worst;
}

}  // namespace testutil
