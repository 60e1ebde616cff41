// Picture benchmark helper, driven by pict_bench.sh:
//   pict_bench read IN.pict      the whole image into planes
//   pict_bench preview IN.pict   the 96-pixel preview only
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

int Preview(const char* in)
{
    CPicIO src(in);
    if (!src.File.Open(in, CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary) || !src.ReadImageHead())
        return 1;
    uint32_t w = 0, h = 0;
    uint8_t* buffer = nullptr;
    int ok = src.ReadPrevImageData(w, h, buffer);
    FreeBuffer(&buffer);
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && strcmp(argv[1], "read") == 0) return Read(argv[2]);
    if (argc == 3 && strcmp(argv[1], "preview") == 0) return Preview(argv[2]);
    fprintf(stderr, "usage: pict_bench read IN.pict | preview IN.pict\n");
    return 2;
}
