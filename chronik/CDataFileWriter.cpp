// Creation of diagnostic data files and the append of a batch to a node's
// block chain.
#include "chronik/CDataFileWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "chronik/CBlockChain.h"
#include "chronik/DataFileHeader.h"
#include "chronik/FileWords.h"
#include "platform/CFileException.h"

using chronik::WriteWordAt;

std::string CDataFileWriter::MakeDataFileName()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    return MakeDataFileName(now);
}

std::string CDataFileWriter::MakeDataFileName(const SYSTEMTIME& t)
{
    char name[64];
    snprintf(name, sizeof name, "KORVAL%04d%02d%02d%02d%02d%02d.API", t.wYear % 10000, t.wMonth % 100,
             t.wDay % 100, t.wHour % 100, t.wMinute % 100, t.wSecond % 100);
    return name;
}

bool CDataFileWriter::CreateDataFile(const std::string& path, uint32_t secondsPerFile, uint32_t eventTime,
                                     bool durable, int* error)
{
    CFile file;
    CFileException openError;
    if (!file.Open(path.c_str(), CFile::modeWrite | CFile::modeCreate | CFile::shareExclusive | CFile::typeBinary,
                   &openError)) {
        if (error) *error = openError.m_lOsError ? openError.m_lOsError : EIO;
        return false;
    }

    // The whole initial layout is built in memory; the magic goes in last
    // (when durable, once the rest is on the disk), so a file cut short while
    // being made is never taken for a data file.
    std::vector<uint8_t> image(kFreshLength, 0);
    DataFileHeader{secondsPerFile, eventTime, eventTime, BlockHeader::kPayloadWords, DirectoryEntry::kEntries}
        .Encode(image.data());
    for (uint32_t i = 0; i < DirectoryEntry::kEntries; ++i) {
        uint32_t block = BlockHeader::BlockOffset(i);
        DirectoryEntry{i + DirectoryEntry::kFirstNode, block}.Encode(&image[DirectoryEntry::kDirectoryOffset], i);
        BlockHeader::Fresh(block, eventTime).Encode(&image[block]);
    }
    constexpr uint32_t kMagicLength = DataFileHeader::kMagicLength;
    try {
        file.Seek(kMagicLength, CFile::begin);
        file.Write(&image[kMagicLength], kFreshLength - kMagicLength);
        if (durable) file.Sync();
        file.Seek(0, CFile::begin);
        file.Write(image.data(), kMagicLength);
        if (durable) file.Sync();
        file.Close();
    } catch (const CFileException& e) {
        if (error) *error = e.m_lOsError ? e.m_lOsError : EIO;
        file.Abort();
        DeleteFile(path.c_str());
        return false;
    }
    return true;
}

// The end of the node's chain and the file's block counter. A file cut short
// before its blocks, without the magic or without the node's block cannot
// take events readers would see: the writer goes on in a new file, as for a
// chain whose walk stopped at damage or at the time limit.
CDataFileWriter::AppendResult CDataFileWriter::FindAppendPosition(CFile& file, uint32_t node, uint64_t length,
                                                                  uint32_t& nextFree, ChainEnd& end)
{
    // Header and block directory in one read.
    uint8_t head[BlockHeader::kFirstBlockOffset];
    file.Seek(0, CFile::begin);
    if (file.Read(head, sizeof head) != sizeof head || !DataFileHeader::HasMagic(head)) return ChainDamaged;
    nextFree = DataFileHeader::Decode(head).nextFreeBlock;
    const uint8_t* directory = head + DirectoryEntry::kDirectoryOffset;
    uint32_t firstBlock = 0;
    bool found = false;
    for (uint32_t i = 0; i < DirectoryEntry::kEntries && !found; ++i) {
        DirectoryEntry entry = DirectoryEntry::Decode(directory, i);
        if (entry.address == node) {
            firstBlock = entry.blockOffset;
            found = true;
        }
    }
    bool listable = node >= DirectoryEntry::kFirstNode && node < DirectoryEntry::kFirstNode + DirectoryEntry::kEntries;
    if (!found) return listable ? ChainDamaged : NotStored;

    CBlockChain chain(file, length, firstBlock, kChainWalkLimitMs);
    while (chain.Next(false)) {
    }
    if (chain.Stop() != ChainStop::End) return ChainDamaged;
    end = {chain.Offset(), chain.Header().used};
    return Stored;
}

CDataFileWriter::Records CDataFileWriter::RecordWords(uint32_t eventTime, const uint32_t* codes, uint32_t count)
{
    // time, count, codes; more than 1024 codes make several records.
    Records r;
    r.words.reserve(count + 2 * (count / BlockHeader::kMaxCodesPerRecord + 1));
    uint32_t done = 0;
    do {
        uint32_t n = std::min(count - done, BlockHeader::kMaxCodesPerRecord);
        r.starts.push_back(r.words.size());
        r.words.push_back(eventTime);
        r.words.push_back(n);
        r.words.insert(r.words.end(), codes + done, codes + done + n);
        done += n;
    } while (done < count);
    return r;
}

CDataFileWriter::AppendResult CDataFileWriter::Append(CFile& file, uint32_t node, uint32_t eventTime,
                                                      const uint32_t* codes, uint32_t count, bool durable,
                                                      int* error)
{
    if (error) *error = 0;
    if ((count > 0 && !codes) || eventTime == 0) {
        if (error) *error = EINVAL;
        return NotStored;
    }
    uint64_t length = file.GetLength();
    uint32_t nextFree = 0;
    ChainEnd chainEnd{};
    AppendResult position = FindAppendPosition(file, node, length, nextFree, chainEnd);
    if (position != Stored) return position;
    Records records = RecordWords(eventTime, codes, count);

    // New blocks go behind everything in the file; the counter must say so and
    // leave room for the blocks this append may need.
    uint64_t blocksNeeded = records.words.size() / BlockHeader::kPayloadWords + 1;
    auto blockEnd = [](uint64_t n) {
        return uint64_t(BlockHeader::kFirstBlockOffset) + uint64_t(BlockHeader::kBlockSize) * n;
    };
    if (nextFree < DirectoryEntry::kEntries || blockEnd(nextFree) < length ||
        blockEnd(nextFree + blocksNeeded) > 0xFFFFFFFFull)
        return ChainDamaged;

    bool committed = false;
    try {
        std::vector<Link> links;
        WriteWords(file, records, eventTime, nextFree, chainEnd, links);
        if (durable) file.Sync();
        Commit(file, chainEnd, links, eventTime);
        committed = true;
        if (durable) file.Sync();
    } catch (const CFileException& e) {
        if (error) *error = e.m_lOsError ? e.m_lOsError : EIO;
        // Nothing refers to the words written so far; a file they made longer
        // is cut back.
        if (!committed) {
            try {
                if (file.GetLength() > length) file.SetLength(length);
            } catch (const CFileException&) {
            }
        }
        return NotStored;
    }
    return Stored;
}

// The header of an overflow block at offset block opened at word k: its
// leading words are those of k's record still to write (at most a block's
// payload), all codes unless the count is among them; none when k begins a
// record.
BlockHeader CDataFileWriter::OverflowHeader(const Records& records, size_t k, uint32_t block, uint32_t eventTime)
{
    BlockHeader h = BlockHeader::Fresh(block, eventTime);
    auto next = std::upper_bound(records.starts.begin(), records.starts.end(), k);
    size_t recordStart = *(next - 1);
    size_t recordEnd = next == records.starts.end() ? records.words.size() : *next;
    if (k == recordStart) return h;
    h.leading = std::min(static_cast<uint32_t>(recordEnd - k), BlockHeader::kPayloadWords);
    h.allCodes = k != recordStart + 1;
    return h;
}

// Writes the record words after the chain's end, opening overflow blocks at
// the end of the file as blocks fill, then the block counter and the file's
// last-event time. None of it is reachable from the chain until Commit.
void CDataFileWriter::WriteWords(CFile& file, const Records& records, uint32_t eventTime, uint32_t& nextFree,
                                 ChainEnd& end, std::vector<Link>& links)
{
    uint32_t firstNew = nextFree;
    std::vector<uint8_t> run;
    uint64_t runStart = uint64_t(end.block) + BlockHeader::kSize + 4ull * end.used;
    auto flushRun = [&]() {
        if (run.empty()) return;
        file.Seek(static_cast<int64_t>(runStart), CFile::begin);
        file.Write(run.data(), static_cast<uint32_t>(run.size()));
        run.clear();
    };
    for (size_t k = 0; k < records.words.size(); ++k) {
        if (end.used == BlockHeader::kPayloadWords) {
            flushRun();
            uint32_t newBlock = BlockHeader::BlockOffset(nextFree++);
            uint8_t header[BlockHeader::kSize];
            OverflowHeader(records, k, newBlock, eventTime).Encode(header);
            file.Seek(newBlock, CFile::begin);
            file.Write(header, BlockHeader::kSize);
            links.push_back({end.block, newBlock});
            end = {newBlock, 0};
            runStart = uint64_t(newBlock) + BlockHeader::kSize;
        }
        uint8_t w[4];
        chronik::PutWord(w, records.words[k]);
        run.insert(run.end(), w, w + 4);
        ++end.used;
    }
    flushRun();
    if (nextFree != firstNew) WriteWordAt(file, DataFileHeader::kNextFreeOffset, nextFree);
    WriteWordAt(file, DataFileHeader::kLastEventOffset, eventTime);
    file.Flush();
}

// Makes the written words part of the chain, from its new end backwards: the
// link out of the block that was the chain's end (or, without new blocks,
// its used-word count) is written last.
void CDataFileWriter::Commit(CFile& file, const ChainEnd& end, const std::vector<Link>& links, uint32_t eventTime)
{
    // The new end's last time, payload start and used words, in one write.
    BlockHeader tail = BlockHeader::Fresh(end.block, eventTime);
    tail.used = end.used;
    uint8_t header[BlockHeader::kSize];
    tail.Encode(header);
    constexpr uint32_t kFrom = BlockHeader::kLastTimeOffset, kTo = BlockHeader::kUsedOffset + 4;
    file.Seek(uint64_t(end.block) + kFrom, CFile::begin);
    file.Write(header + kFrom, kTo - kFrom);
    for (auto it = links.rbegin(); it != links.rend(); ++it) {
        WriteWordAt(file, uint64_t(it->full) + BlockHeader::kLastTimeOffset, eventTime);
        WriteWordAt(file, uint64_t(it->full) + BlockHeader::kNextOffset, it->next);
        WriteWordAt(file, uint64_t(it->full) + BlockHeader::kUsedOffset, BlockHeader::kFullUsedWord);
    }
    file.Flush();
}
