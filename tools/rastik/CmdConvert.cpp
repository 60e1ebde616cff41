// `rastik convert [--mode M] [--size-mode N] [--width W] [--height H]
// [--dpi R] [--quality Q] [--plane-cap BYTES] SRC DST`: converts a whole image file with
// ImgProc, changing format (by DST's extension), size, resolution and
// colour mode.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/Win32.h"
#include "rastik/Command.h"
#include "rastik/ToolSupport.h"

namespace {

const char kUsage[] =
    "usage: rastik convert [--mode grey|rgb|cmyk|indexed|bw] [--size-mode N] [--width W]\n"
    "                      [--height H] [--dpi R] [--quality Q] [--plane-cap BYTES] SRC DST\n";

const char kHelp[] =
    "Converts SRC into DST; DST's extension (.bmp, .gif, .jpg, .png, .tif) picks\n"
    "the format, --mode bw writes packed 1-bit rows without a header.\n"
    "  --mode M        grey, rgb, cmyk, indexed (256-colour palette) or bw; by\n"
    "                  default SRC's own mode. Bitmap sources always go to 1-bit\n"
    "                  rows and grey sources stay grey.\n"
    "  --size-mode N   0 keep the size; 1 width W (when smaller); 2 height H (when\n"
    "                  smaller); 3 fit in W x H; 4 longest side W (when smaller);\n"
    "                  5 height H; 6 exactly W x H, resolution scaled by H;\n"
    "                  7 rescale from SRC's resolution to R; 8 keep the size, at R;\n"
    "                  9 exactly W x H at R. Sides keep their proportion and the\n"
    "                  resolution scales with them, except where stated. Default: 3\n"
    "                  with --width and --height, 1 with --width, 2 with --height,\n"
    "                  8 with --dpi alone, else 0.\n"
    "  --width W, --height H   the sizes the size mode uses\n"
    "  --dpi R         resolution in dots per inch for size modes 7, 8 and 9; by\n"
    "                  default SRC's own\n"
    "  --quality Q     JPEG quality 0..100 of a .jpg DST; default 70\n"
    "  --plane-cap BYTES   heap for image planes (suffix K, M or G allowed); the\n"
    "                  rest goes to a temporary file in TMPDIR\n"
    "Prints \"wrote DST: W x H\". Ctrl-C stops the conversion and removes DST.\n";

struct ConvertOptions {
    std::string Source;
    std::string Target;
    int Mode = -1;
    long SizeMode = -1;
    unsigned long Width = 0;
    unsigned long Height = 0;
    long Dpi = -1;
    long Quality = -1;
    unsigned long long PlaneCap = 0;
    bool HasWidth = false;
    bool HasHeight = false;
};

int UsageError(const std::string& why)
{
    fprintf(stderr, "rastik convert: %s\n%s", why.c_str(), kUsage);
    return kExitUsage;
}

int ModeOfName(const std::string& name)
{
    if (name == "grey") return kModeGrey;
    if (name == "rgb") return kModeRgb;
    if (name == "cmyk") return kModeCmyk;
    if (name == "indexed") return kModeIndexed;
    if (name == "bw") return kModeBlackWhite;
    return -1;
}

// A byte count with an optional binary suffix K, M or G.
bool ParseBytes(std::string text, unsigned long long& bytes)
{
    unsigned shift = 0;
    if (!text.empty()) {
        char last = text.back();
        if (last == 'K' || last == 'k') shift = 10;
        else if (last == 'M' || last == 'm') shift = 20;
        else if (last == 'G' || last == 'g') shift = 30;
        if (shift) text.pop_back();
    }
    unsigned long value = 0;
    if (!ParseUnsigned(text, value) || value == 0) return false;
    bytes = static_cast<unsigned long long>(value) << shift;
    return true;
}

// Sets one option from its value; an error text when the value is bad.
std::string SetOption(ConvertOptions& o, const std::string& name, const std::string& value)
{
    unsigned long n = 0;
    if (name == "--mode") {
        o.Mode = ModeOfName(value);
        return o.Mode < 0 ? "--mode takes grey, rgb, cmyk, indexed or bw" : "";
    }
    if (name == "--plane-cap")
        return ParseBytes(value, o.PlaneCap) ? "" : "--plane-cap takes a positive byte count";
    if (!ParseUnsigned(value, n)) return name + " takes a whole number";
    if (name == "--quality") {
        o.Quality = static_cast<long>(n);
        return n > 100 ? "--quality takes 0 to 100" : "";
    }
    if (name == "--size-mode") {
        o.SizeMode = static_cast<long>(n);
        return n > 9 ? "--size-mode takes 0 to 9" : "";
    }
    if (name == "--width") {
        o.Width = n;
        o.HasWidth = true;
        return n < 1 || n > 0x1FFFFFFFul ? "--width takes 1 to 536870911" : "";
    }
    if (name == "--height") {
        o.Height = n;
        o.HasHeight = true;
        return n < 1 || n > 0x7FFFFFFFul ? "--height takes 1 to 2147483647" : "";
    }
    o.Dpi = static_cast<long>(n);
    return n < 1 || n > 0x7FFFFFFFul ? "--dpi takes 1 to 2147483647" : "";
}

bool IsValueOption(const std::string& name)
{
    return name == "--mode" || name == "--size-mode" || name == "--width" || name == "--height" ||
           name == "--dpi" || name == "--quality" || name == "--plane-cap";
}

// Parses the arguments; kExitOk to go on, else the status to exit with.
int ParseArgs(const std::vector<std::string>& args, ConvertOptions& o, bool& help)
{
    std::vector<std::string> paths;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string a = args[i];
        if (a == "--help" || a == "-h") {
            help = true;
            return kExitOk;
        }
        if (a.size() < 2 || a[0] != '-' || a[1] != '-') {
            if (!a.empty() && a[0] == '-' && a != "-") return UsageError("unknown option '" + a + "'");
            paths.push_back(a);
            continue;
        }
        std::string value;
        size_t eq = a.find('=');
        if (eq != std::string::npos) {
            value = a.substr(eq + 1);
            a = a.substr(0, eq);
        }
        if (!IsValueOption(a)) return UsageError("unknown option '" + a + "'");
        if (eq == std::string::npos) {
            if (i + 1 >= args.size()) return UsageError(a + " needs a value");
            value = args[++i];
        }
        std::string error = SetOption(o, a, value);
        if (!error.empty()) return UsageError(error);
    }
    if (paths.size() != 2) return UsageError("SRC and DST are needed");
    o.Source = paths[0];
    o.Target = paths[1];
    return kExitOk;
}

// Default size mode and the sizes each mode needs.
int CheckSizeMode(ConvertOptions& o)
{
    if (o.SizeMode < 0) {
        if (o.HasWidth && o.HasHeight) o.SizeMode = 3;
        else if (o.HasWidth) o.SizeMode = 1;
        else if (o.HasHeight) o.SizeMode = 2;
        else o.SizeMode = o.Dpi > 0 ? 8 : 0;
    }
    long m = o.SizeMode;
    bool needsWidth = m == 1 || m == 3 || m == 4 || m == 6 || m == 9;
    bool needsHeight = m == 2 || m == 3 || m == 5 || m == 6 || m == 9;
    if (needsWidth && !o.HasWidth) return UsageError("--size-mode " + std::to_string(m) + " needs --width");
    if (needsHeight && !o.HasHeight) return UsageError("--size-mode " + std::to_string(m) + " needs --height");
    return kExitOk;
}

// Dots per inch of a resolution in a resolution unit (0/1 inch, 2 mm, 3 cm,
// 4 m, 5 point, 6 pica, 7 twip), truncated as the conversion does it.
long DotsPerInch(float resolution, uint32_t unit)
{
    static const float kFactor[8] = {1.0f, 1.0f, 25.3995f, 2.53995f, 0.0253995f, 72.0f, 6.0f, 1440.0f};
    float dpi = resolution * (unit < 8 ? kFactor[unit] : 1.0f);
    if (!(dpi >= 1.0f)) return 72;  // below one dot per inch counts as 72, as in the conversion
    if (dpi >= 2147483647.0f) return 0x7FFFFFFF;
    return static_cast<long>(dpi);
}

// Fills the mode and resolution that default to the source's own.
bool TakeSourceDefaults(ConvertOptions& o)
{
    if (o.Mode >= 0 && o.Dpi > 0) return true;
    std::unique_ptr<CRastik> codec = OpenImageForRead(o.Source);
    if (!codec) return false;
    if (o.Mode < 0) o.Mode = static_cast<int>(codec->ColorMode);
    if (o.Dpi <= 0) o.Dpi = DotsPerInch(codec->XResolution, codec->ResolutionUnit);
    return true;
}

int Convert(const ConvertOptions& o)
{
    if (o.PlaneCap) SetPlaneHeapCap(o.PlaneCap);
    bool existed = FileExists(o.Target.c_str());
    int width = 0, height = 0, ok = 0;
    bool interrupted = false;
    {
        ToolProgress progress("converting");
        if (o.Quality >= 0)
            ok = ImgProcEx(o.Source.c_str(), o.Target.c_str(), o.Mode, static_cast<int>(o.SizeMode),
                           static_cast<int>(o.Dpi), static_cast<unsigned>(o.Width), static_cast<int>(o.Height),
                           &width, &height, 1, static_cast<unsigned>(o.Quality));
        else
            ok = ImgProc(o.Source.c_str(), o.Target.c_str(), o.Mode, static_cast<int>(o.SizeMode),
                         static_cast<int>(o.Dpi), static_cast<unsigned>(o.Width), static_cast<int>(o.Height),
                         &width, &height, 1);
        interrupted = ToolProgress::Interrupted();
    }
    if (!ok) {
        // A stopped or failed write removes its target itself; a target made
        // by this run is never left behind.
        if (!existed && FileExists(o.Target.c_str())) DeleteFile(o.Target.c_str());
        if (interrupted) fprintf(stderr, "rastik convert: interrupted\n");
        else fprintf(stderr, "rastik convert: cannot convert %s to %s\n", o.Source.c_str(), o.Target.c_str());
        return kExitFailed;
    }
    printf("wrote %s: %d x %d\n", o.Target.c_str(), width, height);
    return kExitOk;
}

int RunConvert(const std::vector<std::string>& args)
{
    ConvertOptions o;
    bool help = false;
    int status = ParseArgs(args, o, help);
    if (help) {
        printf("%s%s", kUsage, kHelp);
        return kExitOk;
    }
    if (status != kExitOk) return status;
    if ((status = CheckSizeMode(o)) != kExitOk) return status;
    if (!TakeSourceDefaults(o)) return kExitFailed;
    return Convert(o);
}

const RegisterCommand kConvert({"convert",
                                "[--mode M] [--size-mode N] [--width W] [--height H] [--dpi R] [--quality Q] SRC DST",
                                "convert an image file to another format, size, resolution or colour mode",
                                RunConvert});

}  // namespace
