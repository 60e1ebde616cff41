// The write path of the store: chooses the data file of an event through the
// index (rolling over to a new file after the configured span, dropping the
// oldest beyond the file limit), appends the record and keeps the index's end
// time up to date. The index stays open for exclusive use throughout, which
// serialises all writers and readers of the directory.
//
// Nothing already stored is lost when a step fails: a new data file is made
// (and, when durable, synced with its directory) and listed before the record
// goes in, and the oldest file is dropped only after the record is stored.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "chronik/CDataFileWriter.h"
#include "chronik/CIndexFile.h"
#include "platform/CFile.h"

class CDiagWriter {
public:
    // 0 when the batch is stored; otherwise the system's error of the step
    // that failed (EINVAL for a node outside 2 to 129, a missing code list or
    // a zero time; EWOULDBLOCK when the directory stayed locked), and nothing
    // stored.
    static int Write(uint32_t node, uint32_t eventTime, uint32_t count, const uint32_t* codes,
                     const std::string& dir);

    static constexpr int kAttempts = 201;

private:
    struct Batch {
        uint32_t node;
        uint32_t time;
        uint32_t count;
        const uint32_t* codes;
    };

    static int WriteWithIndex(CFile& index, const Batch& batch, const std::string& dir);
    // The listed entries with a data-file name, each name once, in index order;
    // with checkFiles only those whose data files exist.
    static std::vector<IndexEntry> UsableEntries(const std::string& dir, const std::vector<IndexEntry>& listed,
                                                 bool checkFiles);
    // Position of the entry with the latest start (the later one of equals).
    static size_t Newest(const std::vector<IndexEntry>& entries);
    // Creates a data file for an event and lists it at the end of entries
    // (and of the index); a file that cannot be listed is removed again.
    static int AddDataFile(CFile& index, const std::string& dir, uint32_t secondsPerFile, uint32_t eventTime,
                           std::vector<IndexEntry>& entries);
    // A name from the local clock that no file of the directory and no entry
    // has yet (a later second when the current one is taken).
    static std::string NewDataFileName(const std::string& dir, const std::vector<IndexEntry>& entries);
    // Appends the batch to the data file of entries[current], going on in a
    // new data file when that one's chain cannot be walked.
    static int Append(CFile& index, const std::string& dir, uint32_t secondsPerFile, const Batch& batch,
                      std::vector<IndexEntry>& entries, size_t current);
    static CDataFileWriter::AppendResult AppendToFile(const std::string& path, const Batch& batch, int& error);
    // Drops the oldest entries beyond the file limit from the index, then
    // deletes their files (only those the index no longer lists).
    static void DropOldest(CFile& index, const std::string& dir, std::vector<IndexEntry>& entries);
};
