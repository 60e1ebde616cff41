// Progress bar, Ctrl-C handling and codec opening for the rastik tool.
#include "rastik/ToolSupport.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

volatile sig_atomic_t g_interrupted = 0;
constexpr int32_t kRangeStart = 0;
constexpr int32_t kRangeEnd = 1000;

void OnSigint(int)
{
    g_interrupted = 1;
}

}  // namespace

ToolProgress::ToolProgress(const char* label) : m_label(label), m_tty(isatty(STDERR_FILENO) != 0)
{
    g_interrupted = 0;
    struct sigaction sa = {};
    sa.sa_handler = OnSigint;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    SetProgressRange(kRangeStart, kRangeEnd);
    SetProgressCallback(&ToolProgress::OnProgress, this);
}

ToolProgress::~ToolProgress()
{
    SetProgressCallback(nullptr, nullptr);
    if (m_tty && m_lastPercent >= 0) fprintf(stderr, "\r\033[K");
    signal(SIGINT, SIG_DFL);
}

bool ToolProgress::Interrupted()
{
    return g_interrupted != 0;
}

void ToolProgress::OnProgress(int32_t position, int32_t start, int32_t end, void* user)
{
    auto* self = static_cast<ToolProgress*>(user);
    if (g_interrupted) PostKeyDown(VK_ESCAPE);
    // The bar spans the range set here: a conversion hands parts of it to
    // its phases, and the bar moves once across all of them.
    (void)start;
    (void)end;
    if (!self->m_tty) return;
    long percent = (static_cast<long>(position) - kRangeStart) * 100 / (kRangeEnd - kRangeStart);
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    self->Draw(static_cast<int>(percent));
}

void ToolProgress::Draw(int percent)
{
    if (percent == m_lastPercent) return;
    m_lastPercent = percent;
    constexpr int kWidth = 30;
    int filled = percent * kWidth / 100;
    fprintf(stderr, "\r%s [", m_label.c_str());
    for (int i = 0; i < kWidth; ++i) fputc(i < filled ? '#' : ' ', stderr);
    fprintf(stderr, "] %3d%%", percent);
    fflush(stderr);
}

std::unique_ptr<CRastik> OpenImageForRead(const std::string& path, std::string* why, uint32_t page)
{
    auto fail = [&](const char* reason) {
        if (why) *why = reason;
        else fprintf(stderr, "rastik: %s: %s\n", path.c_str(), reason);
        return std::unique_ptr<CRastik>();
    };
    if (access(path.c_str(), R_OK) != 0) return fail(strerror(errno));
    unsigned type = DetectFileType(path.c_str());
    if (type == 0) return fail("not an image file of a known format");
    std::unique_ptr<CRastik> codec(NewRastikInstance(type, path.c_str()));
    if (!codec) return fail("no codec for this format");
    codec->SetWarningMsg(1);
    codec->Page = page;
    CFileException error;
    if (!codec->File.Open(path.c_str(), CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary, &error))
        return fail("cannot open the file");
    if (!codec->ReadImageHead()) return fail("cannot read the image header");
    return codec;
}

long RoundedDotsPerInch(float resolution, uint32_t unit)
{
    static const float kFactor[8] = {1.0f, 1.0f, 25.3995f, 2.53995f, 0.0253995f, 72.0f, 6.0f, 1440.0f};
    double dpi = static_cast<double>(resolution * (unit < 8 ? kFactor[unit] : 1.0f)) + 0.5;
    if (!(dpi >= 1.0)) return 72;  // as the conversion takes a resolution that rounds to 0
    if (dpi >= 2147483647.0) return 0x7FFFFFFF;
    return static_cast<long>(dpi);
}

namespace {

// The file types the tool names, and whether the library writes them.
struct FileTypeRow {
    unsigned type;
    const char* name;
    bool written;
};
const FileTypeRow kFileTypes[] = {
    {kTypeBmp, "BMP", true},   {kTypeGif, "GIF", true}, {kTypeJpeg, "JPEG", true},
    {kTypePict, "PICT", false}, {kTypeTiff, "TIFF", true}, {kTypePng, "PNG", true},
    {kTypeBlackWhite, "black and white", true},
};

const FileTypeRow* FindFileType(unsigned type)
{
    for (const FileTypeRow& row : kFileTypes)
        if (row.type == type) return &row;
    return nullptr;
}

}  // namespace

const char* FileTypeName(unsigned type)
{
    const FileTypeRow* row = FindFileType(type);
    return row ? row->name : "unknown";
}

bool FileTypeIsWritten(unsigned type)
{
    const FileTypeRow* row = FindFileType(type);
    return row && row->written;
}

const char* ColorModeName(unsigned mode)
{
    switch (mode) {
    case kModeBitmap: return "bitmap";
    case kModeGrey: return "grey";
    case kModeRgb: return "RGB";
    case kModeCmyk: return "CMYK";
    case kModeIndexed: return "indexed";
    case kModeOther: return "other";
    default: return "unknown";
    }
}

bool ParseJsonFileArgs(const std::vector<std::string>& args, const char* command, const char* help, bool& json,
                       std::string& path, int* status)
{
    json = false;
    path.clear();
    *status = 2;
    for (const std::string& a : args) {
        if (a == "--json") {
            json = true;
        } else if (a == "--help" || a == "-h") {
            printf("%s", help);
            *status = 0;
            return false;
        } else if (!a.empty() && a[0] == '-') {
            fprintf(stderr, "rastik %s: unknown option '%s'\n", command, a.c_str());
            return false;
        } else if (path.empty()) {
            path = a;
        } else {
            fprintf(stderr, "rastik %s: one FILE only\n", command);
            return false;
        }
    }
    if (path.empty()) {
        fprintf(stderr, "usage: rastik %s [--json] FILE\n", command);
        return false;
    }
    return true;
}

const char kMaxPixelsHelp[] =
    "  --max-pixels N  refuse images of more than N pixels (width x height)\n"
    "                  in their header, before any memory is taken for them\n";

bool TakeMaxPixels(std::vector<std::string>& args, const char* command)
{
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] != "--max-pixels") continue;
        unsigned long n = 0;
        if (i + 1 >= args.size() || !ParseUnsigned(args[i + 1], n) || n == 0) {
            fprintf(stderr, "rastik %s: --max-pixels takes a positive whole number\n", command);
            return false;
        }
        SetMaxPixels(n);
        args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
        --i;
    }
    return true;
}

bool ParseUnsigned(const std::string& text, unsigned long& value)
{
    if (text.empty() || text.size() > 10) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    value = strtoul(text.c_str(), nullptr, 10);
    return true;
}
