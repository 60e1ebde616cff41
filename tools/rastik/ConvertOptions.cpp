// Parsing of the options of `rastik convert`.
#include "rastik/ConvertOptions.h"

#include <cstdio>

#include "rastik/Command.h"
#include "rastik/ToolSupport.h"

const char kConvertUsage[] =
    "usage: rastik convert [--mode grey|rgb|cmyk|indexed|bw] [--size-mode N] [--width W]\n"
    "                      [--height H] [--dpi R] [--quality Q] [--plane-cap BYTES]\n"
    "                      [--max-pixels N] [--page N]\n"
    "                      [--compression none|lzw|packbits|deflate|jpeg]\n"
    "                      [--byte-order ii|mm] [--bigtiff]\n"
    "                      [--no-thumbnail] [--threads N] SRC DST\n"
    "       rastik convert [OPTIONS] SRC... --out-dir DIR [--format EXT] [--jobs N]\n";

const char kConvertHelp[] =
    "Converts SRC into DST, written in the format DST's extension names (.bmp,\n"
    ".gif, .jpg, .png, .tif); --mode bw writes packed 1-bit rows without a header.\n"
    "  --mode M        grey, rgb, cmyk, indexed (256-colour palette) or bw; by\n"
    "                  default SRC's own mode. Grey sources stay grey and\n"
    "                  two-colour sources keep their two colours; a mode DST's\n"
    "                  format cannot hold becomes the nearest one it can (a\n"
    "                  two-colour image goes to JPEG as grey, CMYK to a bitmap\n"
    "                  as RGB). A bitmap keeps an alpha plane (32-bit pixels)\n"
    "                  unless a mode is given.\n"
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
    "                  default SRC's own, rounded to a whole number\n"
    "  --quality Q     JPEG quality 0..100 of a .jpg DST or of a JPEG-compressed\n"
    "                  .tif DST; default 70\n"
    "  --plane-cap BYTES   heap for image planes (suffix K, M or G allowed); the\n"
    "                  rest goes to a temporary file in TMPDIR\n"
    "  --max-pixels N  refuse a SRC of more than N pixels (width x height) in its\n"
    "                  header, before any memory is taken for it\n"
    "  --page N        page N of a SRC of several (a TIFF file's directories, 0\n"
    "                  the first, as `rastik info` lists them); default 0\n"
    "  --compression C none, lzw, packbits, deflate or jpeg for a .tif DST; by\n"
    "                  default SRC's own when it is a TIFF file, else none.\n"
    "                  Two-colour images are always stored uncompressed, palette\n"
    "                  images asked for jpeg as deflate.\n"
    "  --byte-order B  ii (little-endian) or mm (big-endian) for a .tif DST; by\n"
    "                  default SRC's own when it is a TIFF file, else ii\n"
    "  --bigtiff       write a .tif DST as BigTIFF (64-bit offsets); without it\n"
    "                  only a DST that would pass 4 GiB is BigTIFF\n"
    "  --no-thumbnail  no embedded JPEG thumbnail in a .tif DST\n"
    "  --threads N     threads of one conversion, 1 to 256; default: one per\n"
    "                  processor (in a batch, the processors shared out among\n"
    "                  the jobs). DST is the same whatever N is.\n"
    "Prints \"wrote DST: W x H\". Ctrl-C stops the conversion and removes DST.\n"
    "\n"
    "Batch: converts every SRC with the same options into DIR (made when\n"
    "missing), each named after its source with the extension EXT (default:\n"
    "the source's own).\n"
    "  --jobs N        conversions at a time, each in a process of its own;\n"
    "                  default: one per processor (with --threads, the\n"
    "                  processors divided by N threads). Unless both are given,\n"
    "                  jobs times threads stays within the processors.\n"
    "A failed file is reported and the others go on; the summary counts them\n"
    "and the exit status is 1 when any failed. Ctrl-C stops every running\n"
    "conversion and removes their partial outputs.\n";

namespace {

int UsageError(const std::string& why)
{
    fprintf(stderr, "rastik convert: %s\n%s", why.c_str(), kConvertUsage);
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

// Options that take text; an error text when the value is bad.
bool SetTextOption(ConvertOptions& o, const std::string& name, const std::string& value, std::string& error)
{
    if (name == "--mode") {
        o.Mode = ModeOfName(value);
        if (o.Mode < 0) error = "--mode takes grey, rgb, cmyk, indexed or bw";
    } else if (name == "--compression") {
        o.WriterOptions &= ~(kImgProcCompressionNone | kImgProcCompressionLzw | kImgProcCompressionPackBits |
                             kImgProcCompressionDeflate | kImgProcCompressionJpeg);
        if (value == "none") o.WriterOptions |= kImgProcCompressionNone;
        else if (value == "lzw") o.WriterOptions |= kImgProcCompressionLzw;
        else if (value == "packbits") o.WriterOptions |= kImgProcCompressionPackBits;
        else if (value == "deflate") o.WriterOptions |= kImgProcCompressionDeflate;
        else if (value == "jpeg") o.WriterOptions |= kImgProcCompressionJpeg;
        else error = "--compression takes none, lzw, packbits, deflate or jpeg";
    } else if (name == "--byte-order") {
        o.WriterOptions &= ~(kImgProcLittleEndian | kImgProcBigEndian);
        if (value == "ii") o.WriterOptions |= kImgProcLittleEndian;
        else if (value == "mm") o.WriterOptions |= kImgProcBigEndian;
        else error = "--byte-order takes ii or mm";
    } else if (name == "--plane-cap") {
        if (!ParseBytes(value, o.PlaneCap)) error = "--plane-cap takes a positive byte count";
    } else if (name == "--out-dir") {
        o.OutDir = value;
        if (value.empty()) error = "--out-dir takes a directory";
    } else if (name == "--format") {
        o.Format = !value.empty() && value[0] == '.' ? value.substr(1) : value;
        if (o.Format.empty() || o.Format.find('/') != std::string::npos) error = "--format takes an extension";
    } else {
        return false;
    }
    return true;
}

// Sets one option from its value; an error text when the value is bad.
std::string SetOption(ConvertOptions& o, const std::string& name, const std::string& value)
{
    std::string error;
    if (SetTextOption(o, name, value, error)) return error;
    unsigned long n = 0;
    if (!ParseUnsigned(value, n)) return name + " takes a whole number";
    if (name == "--quality") {
        o.Quality = static_cast<long>(n);
        return n > 100 ? "--quality takes 0 to 100" : "";
    }
    if (name == "--size-mode") {
        o.SizeMode = static_cast<long>(n);
        return n > 9 ? "--size-mode takes 0 to 9" : "";
    }
    if (name == "--jobs") {
        o.Jobs = n;
        return n < 1 || n > 1024 ? "--jobs takes 1 to 1024" : "";
    }
    if (name == "--max-pixels") {
        o.MaxPixels = n;
        return n < 1 ? "--max-pixels takes a positive whole number" : "";
    }
    if (name == "--page") {
        o.Page = n;
        return n > 65535 ? "--page takes 0 to 65535" : "";
    }
    if (name == "--threads") {
        o.Threads = n;
        return n < 1 || n > 256 ? "--threads takes 1 to 256" : "";
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
    for (const char* n : {"--mode", "--size-mode", "--width", "--height", "--dpi", "--quality", "--plane-cap",
                          "--out-dir", "--format", "--jobs", "--threads", "--compression", "--byte-order",
                          "--max-pixels", "--page"})
        if (name == n) return true;
    return false;
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
    std::string mode = "--size-mode ";
    mode += std::to_string(m);  // appended: g++ 12 -O3 warns falsely on a literal + a temporary
    if (needsWidth && !o.HasWidth) return UsageError(mode + " needs --width");
    if (needsHeight && !o.HasHeight) return UsageError(mode + " needs --height");
    return kExitOk;
}

// The paths: SRC DST, or the sources of a batch.
int TakePaths(std::vector<std::string>& paths, ConvertOptions& o)
{
    if (o.IsBatch()) {
        if (paths.empty()) return UsageError("a batch needs at least one SRC");
        o.Sources = std::move(paths);
        return kExitOk;
    }
    if (!o.Format.empty() || o.Jobs) return UsageError("--format and --jobs go with --out-dir");
    if (paths.size() != 2) return UsageError("SRC and DST are needed");
    o.Sources = {paths[0]};
    o.Target = paths[1];
    return kExitOk;
}

}  // namespace

int ParseConvertOptions(const std::vector<std::string>& args, ConvertOptions& o)
{
    std::vector<std::string> paths;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string a = args[i];
        if (a == "--help" || a == "-h") {
            o.Help = true;
            return kExitOk;
        }
        if (a == "--no-thumbnail") {
            o.WriterOptions |= kImgProcNoThumbnail;
            continue;
        }
        if (a == "--bigtiff") {
            o.WriterOptions |= kImgProcBigTiff;
            continue;
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
    int status = TakePaths(paths, o);
    return status == kExitOk ? CheckSizeMode(o) : status;
}
