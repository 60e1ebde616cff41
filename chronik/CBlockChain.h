// Walks a node's block chain in an open data file, one block at a time, for
// the writer (to find where the chain ends) and the reader (to take its
// records), and tells why the walk stopped. Links must point at block
// boundaries inside the file and always forward (overflow blocks are only
// ever added behind the existing ones), so a damaged chain cannot loop.
#pragma once

#include <cstdint>

#include "chronik/BlockHeader.h"
#include "platform/CFile.h"

// Why a chain walk stopped.
enum class ChainStop {
    End,            // the chain's last block was reached (or the reader had what it wanted)
    DamagedLink,    // a block off a block boundary, behind the previous one or past the end
                    // of the file, or a last block whose header does not describe its own
                    // payload (payload start, more than 512 used words)
    DamagedRecord,  // payload words that cannot be records: a zero time, more than 1024
                    // codes, leading words that do not finish the previous block's record,
                    // used words past the end of the file
    TimeLimit,      // the walk outlasted its time limit
};

class CBlockChain {
public:
    // limitMs: the longest the walk may take by the tick counter; 0 for no limit.
    CBlockChain(CFile& file, uint64_t fileLength, uint32_t firstBlock, uint32_t limitMs = 0);

    // Goes to the chain's next block (the first one on the first call) and
    // reads its header, and with wholeBlock as much of the block as the file
    // holds. False when there is none: Stop() says why.
    bool Next(bool wholeBlock);

    const BlockHeader& Header() const { return m_header; }
    uint32_t Offset() const { return m_block; }
    // The block's bytes (header first) as read by Next(true), and how many.
    const uint8_t* Bytes() const { return m_bytes; }
    uint32_t Available() const { return m_available; }
    ChainStop Stop() const { return m_stop; }

private:
    bool Fail(ChainStop why);

    CFile& m_file;
    uint64_t m_length;
    uint32_t m_block;
    uint32_t m_limitMs;
    uint32_t m_startTick;
    bool m_started = false;
    bool m_done = false;
    ChainStop m_stop = ChainStop::End;
    ChainStop m_afterLast = ChainStop::End;  // what ends the walk after the last block
    BlockHeader m_header;
    uint32_t m_available = 0;
    uint8_t m_bytes[BlockHeader::kBlockSize];
};
