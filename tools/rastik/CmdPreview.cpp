// `rastik preview [--max N] [--page N] FILE OUT.bmp`: the 24-bit preview of
// a file (or of one page of a TIFF file), saved as a bitmap.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "rastik/Command.h"
#include "rastik/ToolSupport.h"

namespace {

// Writes the bottom-up BGR preview rows as a 24-bit bitmap through the BMP codec.
bool SavePreview(const std::string& out, uint32_t width, uint32_t height, const uint8_t* pixels)
{
    CBmpIO bmp(out.c_str());
    bmp.Width = width;
    bmp.Height = height;
    bmp.SetMode(static_cast<uint32_t>(kModeRgb));
    bmp.ResolutionUnit = 1;
    bmp.BytesPerLine = BytesPerRow(width * 8);
    if (!bmp.AllocChannelSpace()) return false;
    uint32_t rowBytes = (width * 24 + 31) / 32 * 4;
    std::vector<uint8_t> r(bmp.BytesPerLine), g(bmp.BytesPerLine), b(bmp.BytesPerLine);
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* src = pixels + static_cast<size_t>(height - 1 - y) * rowBytes;
        for (uint32_t x = 0; x < width; ++x) {
            b[x] = src[3 * x];
            g[x] = src[3 * x + 1];
            r[x] = src[3 * x + 2];
        }
        if (!bmp.WritePlaneRow(0, y, r.data()) || !bmp.WritePlaneRow(1, y, g.data()) ||
            !bmp.WritePlaneRow(2, y, b.data()))
            return false;
    }
    if (!bmp.File.Open(out.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary)) return false;
    int ok = bmp.WriteFile();
    try {
        bmp.File.Close();
    } catch (const CFileException&) {
        ok = 0;
    }
    return ok != 0;
}

int Usage()
{
    fprintf(stderr, "usage: rastik preview [--max N] [--page N] [--max-pixels N] FILE OUT.bmp\n");
    return kExitUsage;
}

int RunPreview(const std::vector<std::string>& arguments)
{
    unsigned long maxSize = 96;
    unsigned long page = 0;
    std::vector<std::string> paths;
    std::vector<std::string> args = arguments;
    if (!TakeMaxPixels(args, "preview")) return kExitUsage;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            printf("usage: rastik preview [--max N] [--page N] [--max-pixels N] FILE OUT.bmp\n"
                   "Saves the preview of FILE (longest side at most N pixels, default 96)\n"
                   "as a 24-bit bitmap.\n"
                   "  --page N        page N of a FILE of several (a TIFF file's directories,\n"
                   "                  0 the first, as `rastik info` lists them); default 0\n%s",
                   kMaxPixelsHelp);
            return kExitOk;
        }
        if (a == "--max") {
            if (i + 1 >= args.size() || !ParseUnsigned(args[i + 1], maxSize) || maxSize == 0 || maxSize > 65535) {
                fprintf(stderr, "rastik preview: --max needs a number from 1 to 65535\n");
                return kExitUsage;
            }
            ++i;
        } else if (a == "--page") {
            if (i + 1 >= args.size() || !ParseUnsigned(args[i + 1], page) || page > 65535) {
                fprintf(stderr, "rastik preview: --page needs a number from 0 to 65535\n");
                return kExitUsage;
            }
            ++i;
        } else if (!a.empty() && a[0] == '-') {
            fprintf(stderr, "rastik preview: unknown option '%s'\n", a.c_str());
            return kExitUsage;
        } else {
            paths.push_back(a);
        }
    }
    if (paths.size() != 2) return Usage();
    std::unique_ptr<CRastik> codec = OpenImageForRead(paths[0], nullptr, static_cast<uint32_t>(page));
    if (!codec) return kExitFailed;
    codec->SetMaxPrevSize(static_cast<uint16_t>(maxSize));
    uint32_t width = 0, height = 0;
    uint8_t* pixels = nullptr;
    int ok;
    {
        ToolProgress progress("preview");
        ok = codec->ReadPrevImageData(width, height, pixels);
        if (ToolProgress::Interrupted()) ok = 0;
    }
    if (!ok || !pixels || width == 0 || height == 0) {
        FreeBuffer(&pixels);
        fprintf(stderr, "rastik: %s: cannot read a preview\n", paths[0].c_str());
        return kExitFailed;
    }
    bool saved = SavePreview(paths[1], width, height, pixels);
    FreeBuffer(&pixels);
    if (!saved) {
        unlink(paths[1].c_str());
        fprintf(stderr, "rastik: %s: cannot write the preview\n", paths[1].c_str());
        return kExitFailed;
    }
    printf("wrote %s: %u x %u\n", paths[1].c_str(), width, height);
    return kExitOk;
}

const RegisterCommand kPreview({"preview", "[--max N] [--page N] [--max-pixels N] FILE OUT.bmp", "save the 24-bit preview of FILE as a bitmap",
                                RunPreview});

}  // namespace
