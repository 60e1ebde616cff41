// The read side of diagnostic data files: the magic check and the chain
// reader, which takes the raw events of one node's block chain within a time
// range. The layout is stated in DataFileHeader.h, DirectoryEntry.h and
// BlockHeader.h. A zero time, a count above 1024 or leading words that do
// not continue the previous block's record are the end of what reached the
// disk: the chain is read up to them.
#pragma once

#include <cstdint>
#include <vector>

#include "chronik/BlockHeader.h"
#include "chronik/CBlockChain.h"
#include "platform/CFile.h"

// One event as taken from a block chain, before it gets its texts.
struct RawEvent {
    uint32_t code;
    uint32_t time;
    int32_t beforeRange;
};

class CDataFileReader {
public:
    static bool HasMagic(CFile& file);

    // Appends the events of the chain from blockOffset whose records lie at or
    // before end (records before start too, marked beforeRange) to out, and
    // tells why the chain ended there: End when it ended or passed the range,
    // otherwise the damage it stopped at. What was read before is kept.
    static ChainStop ReadBlockChain(CFile& file, uint32_t blockOffset, uint32_t start, uint32_t end,
                                    std::vector<RawEvent>& out);
    // The same with the file's length already known (one call per file, not per chain).
    static ChainStop ReadBlockChain(CFile& file, uint64_t length, uint32_t blockOffset, uint32_t start,
                                    uint32_t end, std::vector<RawEvent>& out);

private:
    // The record a block leaves unfinished for the next block of its chain.
    struct Carry {
        bool open = false;
        bool countRead = false;  // false: the record's count comes next
        uint32_t time = 0;
        uint32_t codes = 0;      // codes still to come
    };
    // Reads one block's records; false when the chain ends in it, with why.
    static bool ReadOneBlock(const CBlockChain& block, uint32_t start, uint32_t end, Carry& carry,
                             std::vector<RawEvent>& out, ChainStop& why);
    static bool ReadLeadingWords(const BlockHeader& header, const uint8_t* payload, uint32_t used,
                                 uint32_t start, Carry& carry, std::vector<RawEvent>& out, uint32_t& index);
    static bool ReadRecords(const uint8_t* payload, uint32_t index, uint32_t used, uint32_t start,
                            uint32_t end, Carry& carry, std::vector<RawEvent>& out, ChainStop& why);
};
