// The index file "Index.API" of a store directory: the list of its data files
// in order of start time, an IndexHeader (IndexHeader.h) followed by the
// IndexEntry records (IndexEntry.h). The index is also the lock of its
// directory: writers, readers and rebuilds hold it open for exclusive use
// while they work.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "chronik/IndexEntry.h"
#include "platform/CFile.h"

class CIndexFile {
public:
    static constexpr char kFileName[] = "Index.API";
    static constexpr int kWriterAttempts = 201;

    struct Contents {
        bool headerRead = false;  // the 43 header bytes are there
        bool magicOk = false;
        uint32_t secondsPerFile = 0;
        uint32_t count = 0;  // the stored entry count
        std::vector<IndexEntry> entries;  // the entries present, at most count
    };

    static std::string IndexPath(const std::string& dir);

    // Reads the header and as many of the counted entries as the file holds.
    static Contents Load(CFile& index);

    // Replaces the entry list: the changed 512-byte sectors of the entries
    // from offset 43, lowest first, then the count and the length, then the
    // file is cut to that length. The new list keeps the order of the old one
    // (entries dropped, new ones at the end), so an update cut short, even
    // between sectors, leaves every entry kept by both lists whole somewhere
    // in the counted ones (some perhaps twice). durable: each step is synced
    // before the next. 0, or the system's error.
    static int StoreEntries(CFile& index, const std::vector<IndexEntry>& entries, bool durable);
    // The end time of entry position, handed to the system at once (throws
    // CFileException).
    static void StoreEndTime(CFile& index, size_t position, uint32_t endTime);

    // True for a name a data file of the directory can have (no path parts).
    static bool IsDataFileName(const std::string& name);

    // Recreates the index of dir from the data files there (deleting those
    // with a wrong magic and, once the new index is written, the oldest beyond
    // maxFiles). durable: the index and its directory entry are synced. 0, or
    // the system's error.
    static int RebuildIndex(const std::string& dir, uint32_t maxFiles, uint32_t secondsPerFile, bool durable);
    // The same on an index already open for exclusive use. The new contents
    // are written only once the scan is complete; a rebuild that gives up
    // leaves the index as it was.
    static int RebuildOpenIndex(CFile& index, const std::string& dir, uint32_t maxFiles, uint32_t secondsPerFile,
                                bool durable);

private:
    // 0 when the file was kept or skipped, else the error that stopped the scan.
    static int ScanDataFile(const std::string& path, const std::string& name, std::vector<IndexEntry>& kept);
    static std::vector<uint8_t> EntryBytes(const std::vector<IndexEntry>& entries);
    static void WriteChangedSectors(CFile& index, const std::vector<uint8_t>& entryBytes, bool durable);
};
