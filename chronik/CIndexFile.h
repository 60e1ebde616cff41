// The index file "Index.API" of a store directory: the list of its data files
// in order of start time. Layout (unsigned 32-bit little-endian words):
//
//   IndexHeader, 43 bytes
//     0   31 bytes  magic "KORVAL DIAGNOSE FILEINDEX V1.00", no terminating zero
//     31            seconds per data file (copied into every new data file)
//     35            number of entries
//     39            length of the index file in bytes (43 + 32 * entries)
//   IndexEntry, from offset 43, 32 bytes each, ascending start time
//     0             start time: the data file's creation time
//     4             end time: the time of the last write (a rebuild takes the
//                   data file's last-event time)
//     8   24 bytes  the data file's name, no terminating zero
//
// The index is also the lock of its directory: writers, readers and rebuilds
// hold it open for exclusive use while they work.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/CFile.h"

struct IndexEntry {
    uint32_t start = 0;
    uint32_t end = 0;
    std::string name;
};

class CIndexFile {
public:
    static constexpr char kMagic[] = "KORVAL DIAGNOSE FILEINDEX V1.00";
    static constexpr uint32_t kMagicLength = 31;
    static constexpr uint32_t kSpanOffset = 31;
    static constexpr uint32_t kCountOffset = 35;
    static constexpr uint32_t kLengthOffset = 39;
    static constexpr uint32_t kHeaderSize = 43;
    static constexpr uint32_t kEntrySize = 32;
    static constexpr uint32_t kNameLength = 24;
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

    // Replaces the entry list: entries from offset 43, then the count and the
    // length, then the file is cut to that length.
    static void StoreEntries(CFile& index, const std::vector<IndexEntry>& entries);
    // The end time of entry position.
    static void StoreEndTime(CFile& index, size_t position, uint32_t endTime);

    // True for a name a data file of the directory can have (no path parts).
    static bool IsDataFileName(const std::string& name);

    // Recreates the index of dir from the data files there (deleting those
    // with a wrong magic and the oldest beyond maxFiles).
    static void RebuildIndex(const std::string& dir, uint32_t maxFiles, uint32_t secondsPerFile);
    // The same on an index already open for exclusive use. The new contents
    // are written only once the scan is complete; a rebuild that gives up
    // leaves the index as it was. False when it gave up.
    static bool RebuildOpenIndex(CFile& index, const std::string& dir, uint32_t maxFiles,
                                 uint32_t secondsPerFile);

private:
    static bool ScanDataFile(const std::string& path, const std::string& name, std::vector<IndexEntry>& kept,
                             bool& gaveUp);
};
