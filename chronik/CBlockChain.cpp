// The block-chain walk shared by the data file's writer and reader.
#include "chronik/CBlockChain.h"

#include "platform/Win32.h"

CBlockChain::CBlockChain(CFile& file, uint64_t fileLength, uint32_t firstBlock, uint32_t limitMs)
    : m_file(file), m_length(fileLength), m_block(firstBlock), m_limitMs(limitMs), m_startTick(GetTickCount())
{
}

bool CBlockChain::Fail(ChainStop why)
{
    m_done = true;
    m_stop = why;
    return false;
}

bool CBlockChain::Next(bool wholeBlock)
{
    if (m_done) return false;
    if (m_started) {
        if (!m_header.continued) return Fail(m_afterLast);
        if (m_header.next <= m_block) return Fail(ChainStop::DamagedLink);
        m_block = m_header.next;
    }
    m_started = true;
    if (m_limitMs && GetTickCount() - m_startTick > m_limitMs) return Fail(ChainStop::TimeLimit);
    if (!BlockHeader::IsBlockBoundary(m_block) || uint64_t(m_block) + BlockHeader::kSize > m_length)
        return Fail(ChainStop::DamagedLink);
    m_file.Seek(m_block, CFile::begin);
    m_available = m_file.Read(m_bytes, wholeBlock ? BlockHeader::kBlockSize : BlockHeader::kSize);
    if (m_available < BlockHeader::kSize) return Fail(ChainStop::DamagedLink);
    m_header = BlockHeader::Decode(m_bytes);
    // The last block is where an append goes on: its header must say where
    // its payload lies and how much of it is used.
    if (!m_header.continued &&
        (m_header.payloadStart != m_block + BlockHeader::kSize || m_header.used > BlockHeader::kPayloadWords))
        m_afterLast = ChainStop::DamagedLink;
    return true;
}
