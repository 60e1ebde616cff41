// One conversion of `rastik convert`: the checks that name the cause of a
// failure before any work (a source that is missing, not an image of a known
// format or refused by its codec; a format that cannot be written; a
// destination that cannot be created), then the conversion itself, which
// writes the format the destination names, with the library's messages.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "rastik/ConvertOptions.h"
#include "rastik/rastik.h"

class CFileConversion {
public:
    CFileConversion(const ConvertOptions& options, std::string source, std::string target);
    ~CFileConversion();
    CFileConversion(const CFileConversion&) = delete;
    CFileConversion& operator=(const CFileConversion&) = delete;

    // Converts. kExitOk after "wrote DST: W x H" on standard output; else
    // kExitFailed after one line naming the cause on standard error. A
    // failed or interrupted conversion leaves no destination behind that it
    // made.
    int Run();
    // Whether Ctrl-C stopped the conversion.
    bool Interrupted() const { return m_interrupted; }

private:
    // Each check: true to go on, else false with m_cause set.
    bool CheckSource();
    bool CheckTargetFormat();
    bool CheckTargetCreatable();
    bool Convert(int* width, int* height);
    // The option that keeps a bitmap target to its colour channels.
    unsigned ColourOnlyOption() const;
    int Fail(const std::string& what) const;
    // The library's messages since the last call, as "ID: text".
    std::string TakeMessages();
    static void OnMessage(int id, const char* text, void* user);

    const ConvertOptions& m_options;
    std::string m_source;
    std::string m_target;
    int m_mode = -1;
    long m_dpi = -1;
    std::string m_cause;
    bool m_interrupted = false;
    std::vector<std::string> m_messages;
};
