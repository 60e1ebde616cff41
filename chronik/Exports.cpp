// The exported functions of the store.
#include "chronik/CChronikApp.h"
#include "chronik/CDiagReader.h"
#include "chronik/CDiagWriter.h"
#include "chronik/CIndexFile.h"
#include "chronik/FileWords.h"
#include "chronik/chronik.h"

extern "C" void Write(uint32_t node, uint32_t time, uint32_t count, const uint32_t* codes, const char* dir)
{
    CDiagWriter::Write(node, time, count, codes, chronik::DirectoryOf(dir));
}

extern "C" const DiagRecordList* Read(uint32_t start, uint32_t end, const char* dir, uint32_t stationFilter,
                                      int32_t fromFirstFile)
{
    return CDiagReader::Read(start, end, chronik::DirectoryOf(dir), stationFilter, fromFirstFile != 0);
}

extern "C" const DiagRecordList* ReadSingleFile(const char* path, uint32_t stationFilter)
{
    return CDiagReader::ReadSingleFile(path ? path : "", stationFilter);
}

extern "C" void RebuildIndex(const char* dir)
{
    CChronikApp& app = CChronikApp::Get();
    CIndexFile::RebuildIndex(chronik::DirectoryOf(dir), app.MaxFiles(), app.m_fileSpan);
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
