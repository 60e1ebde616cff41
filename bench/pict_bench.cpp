// Picture benchmark helper, driven by pict_bench.sh (previews are timed
// through the rastik tool):
//   pict_bench read IN.pict      the whole image into planes
#include <cstdio>
#include <cstring>

#include "rastik/CPicIO.h"
#include "rastik/General.h"

namespace {

int Read(const char* in)
{
    CPicIO src(in);
    if (!src.File.Open(in, CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary) || !src.ReadImageHead())
        return 1;
    src.BytesPerLine = BytesPerRow(src.Width * 8);
    return src.AllocChannelSpace() && src.ReadImageData() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && strcmp(argv[1], "read") == 0) return Read(argv[2]);
    fprintf(stderr, "usage: pict_bench read IN.pict\n");
    return 2;
}
