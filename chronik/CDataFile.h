// The diagnostic data file: one pre-formatted file per stretch of time with one
// block chain per network node. Layout (all numbers unsigned 32-bit
// little-endian words, times in seconds since 1970-01-01 00:00 UTC):
//
//   DataFileHeader, offset 0, 100 bytes
//     0  30 bytes  magic "KORVAL DIAGNOSE DATABASE V1.00", no terminating zero
//     30           seconds per file (from the index header at creation)
//     34           creation time (time of the event that made the file)
//     38           time of the last stored event
//     42           512, payload words per block
//     46           next free block number (128 after creation)
//     50 50 bytes  zero
//   BlockDirectory, offset 100: 128 entries of 8 bytes, entry i holds the node
//     address i + 2 and the offset of block i.
//   Blocks of 2072 bytes; block n lies at 1124 + 2072 * n. 128 primary blocks,
//   then overflow blocks appended at the end. Each block is a 24-byte header
//     0   first time (primary: creation time; overflow: time of the event
//         whose record opened it)
//     4   last time: time of the last event written into the block
//     8   payload start (block offset + 24)
//     12  used payload words * 2 + continued bit (bit 0: full, chain goes on)
//     16  offset of the next block of the chain, 0 while there is none
//     20  leading-word word: L * 2 + all-codes bit; L words at the start of
//         the payload finish a record begun in the previous block; the bit is
//         1 when all L are codes, 0 when the first is the record's code count
//   followed by 512 payload words. A fresh file stops after the header of the
//   last primary block: 264292 bytes.
//   Event record: time, count n (at most 1024), n codes; records follow one
//   another without gaps along a chain. The writer never stores a time of 0,
//   so readers take a zero time, like a count above 1024 or leading words
//   that do not continue the previous block's record, as the end of what
//   reached the disk.
//
// File name: "KORVAL" + yyyymmddhhmmss of the local clock at creation + ".API".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/CFile.h"
#include "platform/Win32.h"

// One event as taken from a block chain, before it gets its texts.
struct RawEvent {
    uint32_t code;
    uint32_t time;
    int32_t beforeRange;
};

class CDataFile {
public:
    static constexpr char kMagic[] = "KORVAL DIAGNOSE DATABASE V1.00";
    static constexpr uint32_t kMagicLength = 30;
    static constexpr uint32_t kSpanOffset = 30;
    static constexpr uint32_t kCreationOffset = 34;
    static constexpr uint32_t kLastEventOffset = 38;
    static constexpr uint32_t kWordsPerBlockOffset = 42;
    static constexpr uint32_t kNextFreeOffset = 46;
    static constexpr uint32_t kDirectoryOffset = 100;
    static constexpr uint32_t kDirectoryEntries = 128;
    static constexpr uint32_t kFirstNode = 2;
    static constexpr uint32_t kFirstBlockOffset = 1124;
    static constexpr uint32_t kBlockSize = 2072;
    static constexpr uint32_t kBlockHeaderSize = 24;
    static constexpr uint32_t kPayloadWords = 512;
    static constexpr uint32_t kFullBlockWord = kPayloadWords * 2 + 1;
    static constexpr uint32_t kMaxCodesPerRecord = 1024;
    static constexpr uint32_t kFreshLength =
        kFirstBlockOffset + kBlockSize * (kDirectoryEntries - 1) + kBlockHeaderSize;
    static constexpr uint32_t kChainWalkLimitMs = 5000;

    enum AppendResult { Stored, NotStored, ChainDamaged };

    static uint32_t BlockOffset(uint32_t blockNumber) { return kFirstBlockOffset + kBlockSize * blockNumber; }

    // "KORVALyyyymmddhhmmss.API" for the local clock, or for a given local time.
    static std::string MakeDataFileName();
    static std::string MakeDataFileName(const SYSTEMTIME& localTime);

    // Creates (or truncates) the file with the whole initial layout; false when
    // it cannot be opened for exclusive use or written (error: the system's
    // error), and then no part of it is left. durable: the file is on the disk
    // when this returns (its directory entry is the caller's to sync).
    static bool CreateDataFile(const std::string& path, uint32_t secondsPerFile, uint32_t eventTime,
                               bool durable = false, int* error = nullptr);

    static bool HasMagic(CFile& file);

    // Appends the codes to the chain of the node in an open data file, as
    // records of at most 1024 codes with the same time. The words (and any
    // new overflow blocks) are written first, then the chain's headers, the
    // link out of the old end of the chain last, so an append that fails or
    // is interrupted leaves the chain as it was; a failed one also cuts the
    // file back to its length. durable: the words are synced to the disk
    // before the headers are written, and the headers before this returns.
    // ChainDamaged: the file has no magic or is cut short before its blocks,
    // does not list the node (2 to 129), or the chain cannot be walked (bad
    // links, a loop, the walk outlasting 5000 ms); nothing stored. NotStored
    // after a failed write or sync sets error to the system's error.
    static AppendResult Append(CFile& file, uint32_t node, uint32_t eventTime, const uint32_t* codes,
                               uint32_t count, bool durable = false, int* error = nullptr);

    // Appends the events of the chain from blockOffset whose records lie at or
    // before end (records before start too, marked beforeRange) to out. Bad
    // links, loops and short files end the chain; what was read is kept.
    static void ReadBlockChain(CFile& file, uint32_t blockOffset, uint32_t start, uint32_t end,
                               std::vector<RawEvent>& out);
    // The same with the file's length already known (one call per file, not per chain).
    static void ReadBlockChain(CFile& file, uint64_t length, uint32_t blockOffset, uint32_t start, uint32_t end,
                               std::vector<RawEvent>& out);

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
    // The record a block leaves unfinished for the next block of its chain.
    struct Carry {
        bool open = false;
        bool countRead = false;  // false: the record's count comes next
        uint32_t time = 0;
        uint32_t codes = 0;      // codes still to come
    };
    static bool IsBlockBoundary(uint64_t offset);
    static bool FindChainEnd(CFile& file, uint32_t firstBlock, uint64_t length, ChainEnd& end,
                             bool& damaged);
    static std::vector<uint32_t> RecordWords(uint32_t eventTime, const uint32_t* codes, uint32_t count,
                                             std::vector<size_t>& recordStarts);
    static void WriteWords(CFile& file, const std::vector<uint32_t>& words, const std::vector<size_t>& recordStarts,
                           uint32_t eventTime, uint32_t& nextFree, ChainEnd& end, std::vector<Link>& links);
    static uint32_t LeadingWordWord(const std::vector<uint32_t>& words, const std::vector<size_t>& recordStarts,
                                    size_t k);
    static void Commit(CFile& file, const ChainEnd& end, const std::vector<Link>& links, uint32_t eventTime);
    static void ReadOneBlock(const uint8_t* block, uint32_t available, uint32_t start, uint32_t end, Carry& carry,
                             std::vector<RawEvent>& out, bool& stop);
    static bool ReadLeadingWords(const uint8_t* block, uint32_t used, uint32_t start, Carry& carry,
                                 std::vector<RawEvent>& out, uint32_t& index);
};
