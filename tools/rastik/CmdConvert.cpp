// `rastik convert`: one image file into another (SRC DST), or a batch of
// them into a directory (SRC... --out-dir DIR), changing format (by the
// destination's extension), size, resolution and colour mode.
#include <cstdio>
#include <string>
#include <vector>

#include "rastik/CBatchConversion.h"
#include "rastik/CFileConversion.h"
#include "rastik/Command.h"
#include "rastik/ConvertOptions.h"
#include "rastik/rastik.h"

namespace {

int RunConvert(const std::vector<std::string>& args)
{
    ConvertOptions o;
    int status = ParseConvertOptions(args, o);
    if (o.Help) {
        printf("%s\n%s", kConvertUsage, kConvertHelp);
        return kExitOk;
    }
    if (status != kExitOk) return status;
    SetMaxPixels(o.MaxPixels);
    if (o.IsBatch()) return CBatchConversion(o).Run();
    return CFileConversion(o, o.Sources[0], o.Target).Run();
}

const RegisterCommand kConvert({"convert",
                                "[OPTIONS] SRC DST | [OPTIONS] SRC... --out-dir DIR [--format EXT] [--jobs N]",
                                "convert image files to another format, size, resolution or colour mode",
                                RunConvert});

}  // namespace
