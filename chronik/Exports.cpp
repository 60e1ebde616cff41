// The exported functions of the store. Nothing is thrown to a host: a failure
// inside ends the call with its documented result (0 with errno telling why,
// or null). Every call holds the process-wide object's lock from start to end.
#include <cerrno>
#include <mutex>

#include "chronik/CChronikApp.h"
#include "chronik/CDiagReader.h"
#include "chronik/CDiagWriter.h"
#include "chronik/CIndexFile.h"
#include "chronik/FileWords.h"
#include "chronik/chronik.h"

namespace {
// 1 for success; 0 with errno set to the error otherwise.
int32_t Status(int error)
{
    if (!error) return 1;
    errno = error;
    return 0;
}

// body's result, computed while this thread holds the lock of the calls.
template <typename Body>
auto Serialised(Body body)
{
    CChronikApp& app = CChronikApp::Get();
    std::lock_guard<CCallLock> lock(app.m_lock);
    return body(app);
}
}  // namespace

extern "C" int32_t Write(uint32_t node, uint32_t time, uint32_t count, const uint32_t* codes, const char* dir)
{
    return Status(Serialised([&](CChronikApp&) {
        try {
            return CDiagWriter::Write(node, time, count, codes, chronik::DirectoryOf(dir));
        } catch (...) {
            return ENOMEM;
        }
    }));
}

extern "C" const DiagRecordList* Read(uint32_t start, uint32_t end, const char* dir, uint32_t stationFilter,
                                      int32_t fromFirstFile)
{
    return Serialised([&](CChronikApp&) -> const DiagRecordList* {
        try {
            return CDiagReader::Read(start, end, chronik::DirectoryOf(dir), stationFilter, fromFirstFile != 0);
        } catch (...) {
            return nullptr;
        }
    });
}

extern "C" const DiagRecordList* ReadSingleFile(const char* path, uint32_t stationFilter)
{
    return Serialised([&](CChronikApp&) -> const DiagRecordList* {
        try {
            return CDiagReader::ReadSingleFile(path ? path : "", stationFilter);
        } catch (...) {
            return nullptr;
        }
    });
}

extern "C" int32_t RebuildIndex(const char* dir)
{
    return Status(Serialised([&](CChronikApp& app) {
        try {
            return CIndexFile::RebuildIndex(chronik::DirectoryOf(dir), app.MaxFiles(), app.m_fileSpan,
                                            app.m_durable);
        } catch (...) {
            return ENOMEM;
        }
    }));
}

extern "C" void SetConfigData(uint32_t maxFiles, uint32_t fileSpan)
{
    Serialised([&](CChronikApp& app) {
        app.m_maxFiles = maxFiles;
        app.m_fileSpan = fileSpan;
    });
}

extern "C" void SetReadPacing(int32_t on)
{
    Serialised([&](CChronikApp& app) { app.m_readPacing = on != 0; });
}

extern "C" void SetDurability(int32_t on)
{
    Serialised([&](CChronikApp& app) { app.m_durable = on != 0; });
}
