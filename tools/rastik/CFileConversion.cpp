// One conversion of `rastik convert`, with the checks that name a failure's
// cause and the library's messages folded into the error line.
#include "rastik/CFileConversion.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "rastik/Command.h"
#include "rastik/ToolSupport.h"

namespace {

// The codecs' own JPEG quality, taken when --quality is not given.
constexpr unsigned kDefaultJpegQuality = 70;

// ".ext" of a path, or "no extension".
std::string ExtensionOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "no extension";
    std::string quoted(1, '\'');  // appended: g++ 12 -O3 warns falsely on a literal + a temporary
    quoted += path.substr(dot);
    return quoted += '\'';
}

}  // namespace

CFileConversion::CFileConversion(const ConvertOptions& options, std::string source, std::string target)
    : m_options(options), m_source(std::move(source)), m_target(std::move(target)), m_mode(options.Mode),
      m_dpi(options.Dpi)
{
    SetMessageSink(&CFileConversion::OnMessage, this);
}

CFileConversion::~CFileConversion()
{
    SetMessageSink(nullptr, nullptr);
}

void CFileConversion::OnMessage(int id, const char* text, void* user)
{
    auto* self = static_cast<CFileConversion*>(user);
    std::string message = text ? text : "";
    self->m_messages.push_back(id ? std::to_string(id) + ": " + message : message);
}

std::string CFileConversion::TakeMessages()
{
    std::string all;
    for (const std::string& m : m_messages) all += (all.empty() ? "" : "; ") + m;
    m_messages.clear();
    return all;
}

int CFileConversion::Fail(const std::string& what) const
{
    fprintf(stderr, "rastik convert: %s\n", what.c_str());
    return kExitFailed;
}

bool CFileConversion::CheckSource()
{
    std::string why;
    std::unique_ptr<CRastik> codec = OpenImageForRead(m_source, &why, static_cast<uint32_t>(m_options.Page));
    if (!codec) {
        std::string messages = TakeMessages();
        m_cause = m_source + ": " + why + (messages.empty() ? "" : " (" + messages + ")");
        return false;
    }
    if (m_mode < 0) m_mode = static_cast<int>(codec->ColorMode);
    if (m_dpi <= 0) m_dpi = RoundedDotsPerInch(codec->XResolution, codec->ResolutionUnit);
    return true;
}

bool CFileConversion::CheckTargetFormat()
{
    unsigned type = m_mode == kModeBlackWhite ? static_cast<unsigned>(kTypeBlackWhite) : DetectFileType(m_target.c_str());
    if (type == 0) {
        m_cause = m_target + ": no format can be written for " + ExtensionOf(m_target);
        return false;
    }
    std::unique_ptr<CRastik> writer(NewRastikInstance(type, m_target.c_str()));
    if (!writer || !FileTypeIsWritten(type)) {
        m_cause = m_target + ": " + FileTypeName(type) + " files cannot be written";
        return false;
    }
    return true;
}

bool CFileConversion::CheckTargetCreatable()
{
    const char* path = m_target.c_str();
    struct stat st;
    if (stat(path, &st) == 0) {
        if (S_ISDIR(st.st_mode)) m_cause = "cannot write " + m_target + ": " + strerror(EISDIR);
        else if (access(path, W_OK) != 0) m_cause = "cannot write " + m_target + ": " + strerror(errno);
        return m_cause.empty();
    }
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0) {
        m_cause = "cannot create " + m_target + ": " + strerror(errno);
        return false;
    }
    close(fd);
    unlink(path);
    return true;
}

// A mode given for a bitmap target writes its colour channels only: 24-bit
// pixels for RGB, as without an alpha plane.
unsigned CFileConversion::ColourOnlyOption() const
{
    return m_options.Mode >= 0 && DetectFileType(m_target.c_str()) == kTypeBmp ? kImgProcColourOnly : 0;
}

bool CFileConversion::Convert(int* width, int* height)
{
    if (m_options.PlaneCap) SetPlaneHeapCap(m_options.PlaneCap);
    SetRastikThreads(static_cast<uint32_t>(m_options.Threads));
    unsigned quality = m_options.Quality >= 0 ? static_cast<unsigned>(m_options.Quality) : kDefaultJpegQuality;
    bool existed = access(m_target.c_str(), F_OK) == 0;
    int ok = 0;
    {
        ToolProgress progress("converting");
        ok = ImgProcPage(m_source.c_str(), m_target.c_str(), m_mode, static_cast<int>(m_options.SizeMode),
                         static_cast<int>(m_dpi), static_cast<unsigned>(m_options.Width),
                         static_cast<int>(m_options.Height), width, height, 1, quality,
                         kImgProcTargetFormat | m_options.WriterOptions | ColourOnlyOption(),
                         static_cast<uint32_t>(m_options.Page));
        m_interrupted = ToolProgress::Interrupted();
    }
    if (ok) return true;
    // A stopped or failed write removes its target itself; a target made by
    // this run is never left behind.
    if (!existed) unlink(m_target.c_str());
    std::string messages = TakeMessages();
    // The conversion's own cause first, unless a codec showed it already.
    const char* text = nullptr;
    if (int cause = GetImgProcFailure(&text)) {
        std::string why = std::to_string(cause) + ": " + text;
        if (messages.find(why) == std::string::npos) messages = messages.empty() ? why : why + "; " + messages;
    }
    if (m_interrupted) m_cause = "interrupted";
    else m_cause = "cannot convert " + m_source + " to " + m_target + (messages.empty() ? "" : ": " + messages);
    return false;
}

int CFileConversion::Run()
{
    int width = 0, height = 0;
    if (!CheckSource() || !CheckTargetFormat() || !CheckTargetCreatable() || !Convert(&width, &height))
        return Fail(m_cause);
    // Warnings of a conversion that succeeded (a truncated source, say).
    std::string messages = TakeMessages();
    if (!messages.empty()) fprintf(stderr, "rastik convert: %s: %s\n", m_source.c_str(), messages.c_str());
    printf("wrote %s: %d x %d\n", m_target.c_str(), width, height);
    return kExitOk;
}
