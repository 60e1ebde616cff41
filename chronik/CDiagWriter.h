// The write path of the store: chooses the data file of an event through the
// index (rolling over to a new file after the configured span, dropping the
// oldest at the file limit), appends the record and keeps the index's end
// time up to date. The index stays open for exclusive use throughout, which
// serialises all writers and readers of the directory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "chronik/CDataFile.h"
#include "chronik/CIndexFile.h"
#include "platform/CFile.h"

class CDiagWriter {
public:
    static void Write(uint32_t node, uint32_t eventTime, uint32_t count, const uint32_t* codes,
                      const std::string& dir);

    static constexpr int kAttempts = 201;

private:
    static void WriteWithIndex(CFile& index, uint32_t node, uint32_t eventTime, uint32_t count,
                               const uint32_t* codes, const std::string& dir);
    // The listed entries with a data-file name, each name once, in index order;
    // with checkFiles only those whose data files exist.
    static std::vector<IndexEntry> UsableEntries(const std::string& dir, const std::vector<IndexEntry>& listed,
                                                 bool checkFiles);
    // Position of the entry with the latest start (the later one of equals).
    static size_t Newest(const std::vector<IndexEntry>& entries);
    // Creates a data file for an event and adds its entry at the end of entries.
    static bool AddDataFile(const std::string& dir, uint32_t secondsPerFile, uint32_t eventTime,
                            std::vector<IndexEntry>& entries);
    // A name from the local clock that no file of the directory and no entry
    // has yet (a later second when the current one is taken).
    static std::string NewDataFileName(const std::string& dir, const std::vector<IndexEntry>& entries);
    static CDataFile::AppendResult AppendToFile(const std::string& path, uint32_t node, uint32_t eventTime,
                                                uint32_t count, const uint32_t* codes);
};
