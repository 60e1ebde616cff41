// `rastik info [--json] FILE`: the image description read from a file's header.
#include <cstdio>

#include "rastik/Command.h"
#include "rastik/InfoFields.h"
#include "rastik/ToolSupport.h"

namespace {

const char* UnitName(uint32_t unit)
{
    switch (unit) {
    case 0:
    case 1: return "inch";
    case 2: return "millimetre";
    case 3: return "centimetre";
    case 4: return "metre";
    case 5: return "point";
    case 6: return "pica";
    case 7: return "twip";
    default: return "unknown";
    }
}

void PrintJson(unsigned type, const CRastik& c, const std::vector<InfoField>& extra)
{
    printf("{\"type\": %u, \"width\": %u, \"height\": %u, \"colorMode\": %u, \"channelCount\": %u, "
           "\"colorChannels\": %u, \"bitsPerChannel\": %u, \"xResolution\": %g, \"yResolution\": %g, "
           "\"resolutionUnit\": %u, \"paletteSize\": %u",
           type, c.Width, c.Height, c.ColorMode, c.ChannelCount, c.ColorChannels, c.BitsPerChannel,
           static_cast<double>(c.XResolution), static_cast<double>(c.YResolution), c.ResolutionUnit,
           c.PaletteSize);
    for (const InfoField& f : extra)
        printf(f.number ? ", \"%s\": %s" : ", \"%s\": \"%s\"", f.key.c_str(), f.value.c_str());
    printf("}\n");
}

void PrintText(const std::string& path, unsigned type, const CRastik& c, const std::vector<InfoField>& extra)
{
    printf("file:            %s\n", path.c_str());
    printf("type:            %u (%s)\n", type, FileTypeName(type));
    printf("size:            %u x %u\n", c.Width, c.Height);
    printf("colour mode:     %u (%s)\n", c.ColorMode, ColorModeName(c.ColorMode));
    printf("channels:        %u (%u colour)\n", c.ChannelCount, c.ColorChannels);
    printf("bits/channel:    %u\n", c.BitsPerChannel);
    printf("resolution:      %g x %g per %s (unit %u)\n", static_cast<double>(c.XResolution),
           static_cast<double>(c.YResolution), UnitName(c.ResolutionUnit), c.ResolutionUnit);
    printf("palette:         %u entries\n", c.PaletteSize);
    for (const InfoField& f : extra)
        printf("%-16s %s\n", (f.label + ":").c_str(), (f.text.empty() ? f.value : f.text).c_str());
}

int RunInfo(const std::vector<std::string>& arguments)
{
    bool json = false;
    std::string path;
    int status = kExitOk;
    std::vector<std::string> args = arguments;
    if (!TakeMaxPixels(args, "info")) return kExitUsage;
    std::string help = "usage: rastik info [--json] [--max-pixels N] FILE\n"
                       "Prints the type code, size, colour mode, channels, bits per channel,\n"
                       "resolution and palette size read from FILE's header.\n";
    if (!ParseJsonFileArgs(args, "info", (help + kMaxPixelsHelp).c_str(), json, path, &status)) return status;
    std::unique_ptr<CRastik> codec = OpenImageForRead(path);
    if (!codec) return kExitFailed;
    unsigned type = DetectFileType(path.c_str());
    std::vector<InfoField> extra = CollectInfoFields(*codec, type);
    if (json) PrintJson(type, *codec, extra);
    else PrintText(path, type, *codec, extra);
    return kExitOk;
}

const RegisterCommand kInfo({"info", "[--json] [--max-pixels N] FILE", "show the image description of FILE", RunInfo});

}  // namespace
