// `rastik paths [--json] FILE`: the clip paths of a TIFF file as an SVG
// document in pixel coordinates (one <path> per path, the viewBox the image
// size), or with --json as their nodes.
#include <cstdio>
#include <string>

#include "rastik/Command.h"
#include "rastik/ToolSupport.h"

namespace {

bool IsClosed(const uint32_t* record)
{
    uint32_t n = ClipPathNodeCount(record);
    if (n < 3) return false;
    ClipPathNode first = GetClipPathNode(record, 0), last = GetClipPathNode(record, n - 1);
    return first.X == last.X && first.Y == last.Y;
}

std::string SvgData(const uint32_t* record)
{
    std::string d;
    char buf[160];
    uint32_t n = ClipPathNodeCount(record);
    for (uint32_t i = 0; i < n; ++i) {
        ClipPathNode p = GetClipPathNode(record, i);
        if (i == 0 || p.Kind == kPathStart)
            snprintf(buf, sizeof buf, "M %.3f %.3f", p.X, p.Y);
        else if (p.Kind == kPathLine)
            snprintf(buf, sizeof buf, " L %.3f %.3f", p.X, p.Y);
        else
            snprintf(buf, sizeof buf, " C %.3f %.3f %.3f %.3f %.3f %.3f", p.C1x, p.C1y, p.C2x, p.C2y, p.X, p.Y);
        d += buf;
    }
    if (IsClosed(record)) d += " Z";
    return d;
}

void PrintSvg(const CRastik& image)
{
    printf("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%u\" height=\"%u\" viewBox=\"0 0 %u %u\">\n",
           image.Width, image.Height, image.Width, image.Height);
    for (int32_t i = 0; i < image.PathCount; ++i)
        printf("  <path d=\"%s\" fill=\"none\" stroke=\"black\"/>\n", SvgData(image.Paths[i]).c_str());
    printf("</svg>\n");
}

void PrintJson(const CRastik& image)
{
    printf("{\"width\": %u, \"height\": %u, \"paths\": [", image.Width, image.Height);
    for (int32_t i = 0; i < image.PathCount; ++i) {
        const uint32_t* record = image.Paths[i];
        printf("%s{\"closed\": %s, \"nodes\": [", i ? ", " : "", IsClosed(record) ? "true" : "false");
        for (uint32_t j = 0; j < ClipPathNodeCount(record); ++j) {
            ClipPathNode p = GetClipPathNode(record, j);
            printf("%s{\"kind\": %u, \"c1\": [%g, %g], \"c2\": [%g, %g], \"end\": [%g, %g]}", j ? ", " : "", p.Kind,
                   p.C1x, p.C1y, p.C2x, p.C2y, p.X, p.Y);
        }
        printf("]}");
    }
    printf("]}\n");
}

int RunPaths(const std::vector<std::string>& args)
{
    bool json = false;
    std::string path;
    int status = kExitOk;
    if (!ParseJsonFileArgs(args, "paths",
                           "usage: rastik paths [--json] FILE\n"
                           "Prints the clip paths of a TIFF file as an SVG document in pixel\n"
                           "coordinates (viewBox = the image size), or with --json their nodes.\n",
                           json, path, &status))
        return status;
    std::unique_ptr<CRastik> codec = OpenImageForRead(path);
    if (!codec) return kExitFailed;
    auto* tiff = dynamic_cast<CTiffIO*>(codec.get());
    if (!tiff) {
        fprintf(stderr, "rastik paths: %s: clip paths are read from TIFF files only\n", path.c_str());
        return kExitFailed;
    }
    if (!tiff->ReadPath()) {
        fprintf(stderr, "rastik paths: %s: the clip-path resource is malformed\n", path.c_str());
        return kExitFailed;
    }
    if (json)
        PrintJson(*tiff);
    else
        PrintSvg(*tiff);
    return kExitOk;
}

const RegisterCommand kPaths({"paths", "[--json] FILE", "print the clip paths of a TIFF file as SVG", RunPaths});

}  // namespace
