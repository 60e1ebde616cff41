// A private directory for one fuzzing process. The inputs a target writes
// live there, and so do the library's own temporary files (TMPDIR points
// into it), so that after every input the directory shows what an operation
// left behind: anything but the inputs is a fault.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "platform/MessageSink.h"

class CFuzzScratch {
public:
    // The process's scratch directory, made on first use: under
    // $RASTIK_FUZZ_SCRATCH (scripts/fuzz.sh points it into memory), else
    // under TMPDIR or /tmp.
    static CFuzzScratch& Get();

    std::string Path(const std::string& name) const { return m_dir + "/" + name; }
    // Writes one input file (name may lie in a directory made by MakeDir).
    // Aborts when it cannot: the target would test nothing.
    std::string Write(const std::string& name, const uint8_t* data, size_t size);
    // A directory for inputs; it must be empty again at EndInput.
    std::string MakeDir(const std::string& name);
    // Declares a file an operation may make and keep (a store's index).
    void Expect(const std::string& name) { m_inputs.insert(name); }
    // Removes the inputs and the directories; aborts, naming it, when
    // anything else is left.
    void EndInput();

    CFuzzScratch(const CFuzzScratch&) = delete;
    CFuzzScratch& operator=(const CFuzzScratch&) = delete;

private:
    CFuzzScratch();
    ~CFuzzScratch();
    void RemoveAll(const std::string& dir);

    std::string m_dir;
    std::set<std::string> m_inputs;
    std::set<std::string> m_dirs;
};

// Stops the process with a message: a wrong result the sanitizers cannot
// see (a preview larger than asked, a target left behind), reported to the
// fuzzer like a crash.
[[noreturn]] void FuzzFault(const char* what, const std::string& detail = std::string());

// The bytes of a file; empty when it cannot be read.
std::vector<uint8_t> FuzzReadFile(const std::string& path);

// 32-bit FNV-1a of the input: the choices a target makes per input (planes
// in memory or spilled, sizes asked for) follow from it, so every input
// replays exactly.
uint32_t FuzzHash(const uint8_t* data, size_t size);

// Sends the library's messages nowhere: hostile input makes many. Inline, so
// that it reaches the message sink of the library the program links.
inline void FuzzQuietMessages()
{
    SetMessageSink([](int, const char*, void*) {}, nullptr);
}
