// The exported functions of the store. Nothing is thrown to a host: a failure
// inside ends the call with its documented result (nothing stored, null).
#include "chronik/CChronikApp.h"
#include "chronik/CDiagReader.h"
#include "chronik/CDiagWriter.h"
#include "chronik/CIndexFile.h"
#include "chronik/FileWords.h"
#include "chronik/chronik.h"

extern "C" void Write(uint32_t node, uint32_t time, uint32_t count, const uint32_t* codes, const char* dir)
{
    try {
        CDiagWriter::Write(node, time, count, codes, chronik::DirectoryOf(dir));
    } catch (...) {
    }
}

extern "C" const DiagRecordList* Read(uint32_t start, uint32_t end, const char* dir, uint32_t stationFilter,
                                      int32_t fromFirstFile)
{
    try {
        return CDiagReader::Read(start, end, chronik::DirectoryOf(dir), stationFilter, fromFirstFile != 0);
    } catch (...) {
        return nullptr;
    }
}

extern "C" const DiagRecordList* ReadSingleFile(const char* path, uint32_t stationFilter)
{
    try {
        return CDiagReader::ReadSingleFile(path ? path : "", stationFilter);
    } catch (...) {
        return nullptr;
    }
}

extern "C" void RebuildIndex(const char* dir)
{
    try {
        CChronikApp& app = CChronikApp::Get();
        CIndexFile::RebuildIndex(chronik::DirectoryOf(dir), app.MaxFiles(), app.m_fileSpan);
    } catch (...) {
    }
}

extern "C" void SetConfigData(uint32_t maxFiles, uint32_t fileSpan)
{
    CChronikApp& app = CChronikApp::Get();
    app.m_maxFiles = maxFiles;
    app.m_fileSpan = fileSpan;
}

extern "C" void SetReadPacing(int32_t on)
{
    CChronikApp::Get().m_readPacing = on != 0;
}
