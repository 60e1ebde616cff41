// The write side of diagnostic data files: naming, creation with the whole
// initial layout, and the append of a batch to a node's block chain. The
// layout is stated in DataFileHeader.h, DirectoryEntry.h and BlockHeader.h.
//
// File name: "KORVAL" + yyyymmddhhmmss of the local clock at creation + ".API".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "chronik/BlockHeader.h"
#include "chronik/DirectoryEntry.h"
#include "platform/CFile.h"
#include "platform/Win32.h"

class CDataFileWriter {
public:
    // A fresh file stops after the header of the last primary block.
    static constexpr uint32_t kFreshLength =
        BlockHeader::BlockOffset(DirectoryEntry::kEntries - 1) + BlockHeader::kSize;
    static constexpr uint32_t kChainWalkLimitMs = 5000;

    enum AppendResult { Stored, NotStored, ChainDamaged };

    // "KORVALyyyymmddhhmmss.API" for the local clock, or for a given local time.
    static std::string MakeDataFileName();
    static std::string MakeDataFileName(const SYSTEMTIME& localTime);

    // Creates (or truncates) the file with the whole initial layout; false when
    // it cannot be opened for exclusive use or written (error: the system's
    // error), and then no part of it is left. durable: the file is on the disk
    // when this returns (its directory entry is the caller's to sync).
    static bool CreateDataFile(const std::string& path, uint32_t secondsPerFile, uint32_t eventTime,
                               bool durable = false, int* error = nullptr);

    // Appends the codes to the chain of the node in an open data file, as
    // records of at most 1024 codes with the same time. The words (and any
    // new overflow blocks) are written first, then the chain's headers, the
    // link out of the old end of the chain last, so an append that fails or
    // is interrupted leaves the chain as it was; a failed one also cuts the
    // file back to its length. durable: the words are synced to the disk
    // before the headers are written, and the headers before this returns.
    // ChainDamaged: the file has no magic or is cut short before its blocks,
    // does not list the node (2 to 129), or its walk stopped at a damaged
    // link or at the 5000 ms limit; nothing stored. NotStored after a failed
    // write or sync sets error to the system's error.
    static AppendResult Append(CFile& file, uint32_t node, uint32_t eventTime, const uint32_t* codes,
                               uint32_t count, bool durable = false, int* error = nullptr);

private:
    struct ChainEnd {
        uint32_t block;
        uint32_t used;
    };
    // A block whose payload is full and the block the chain goes on in.
    struct Link {
        uint32_t full;
        uint32_t next;
    };
    // The words of a batch: its records one after the other, and where each begins.
    struct Records {
        std::vector<uint32_t> words;
        std::vector<size_t> starts;
    };
    static AppendResult FindAppendPosition(CFile& file, uint32_t node, uint64_t length, uint32_t& nextFree,
                                           ChainEnd& end);
    static Records RecordWords(uint32_t eventTime, const uint32_t* codes, uint32_t count);
    static void WriteWords(CFile& file, const Records& records, uint32_t eventTime, uint32_t& nextFree,
                           ChainEnd& end, std::vector<Link>& links);
    static BlockHeader OverflowHeader(const Records& records, size_t k, uint32_t block, uint32_t eventTime);
    static void Commit(CFile& file, const ChainEnd& end, const std::vector<Link>& links, uint32_t eventTime);
};
