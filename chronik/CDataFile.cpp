// Creation, appending and chain reading of diagnostic data files; the layout is
// stated in CDataFile.h.
#include "chronik/CDataFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "chronik/FileWords.h"
#include "platform/CFileException.h"

using chronik::GetWord;
using chronik::PutWord;
using chronik::ReadWordAt;
using chronik::WriteWordAt;

std::string CDataFile::MakeDataFileName()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    return MakeDataFileName(now);
}

std::string CDataFile::MakeDataFileName(const SYSTEMTIME& t)
{
    char name[64];
    snprintf(name, sizeof name, "KORVAL%04d%02d%02d%02d%02d%02d.API", t.wYear % 10000, t.wMonth % 100,
             t.wDay % 100, t.wHour % 100, t.wMinute % 100, t.wSecond % 100);
    return name;
}

bool CDataFile::CreateDataFile(const std::string& path, uint32_t secondsPerFile, uint32_t eventTime, bool durable,
                               int* error)
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
    PutWord(&image[kSpanOffset], secondsPerFile);
    PutWord(&image[kCreationOffset], eventTime);
    PutWord(&image[kLastEventOffset], eventTime);
    PutWord(&image[kWordsPerBlockOffset], kPayloadWords);
    PutWord(&image[kNextFreeOffset], kDirectoryEntries);
    for (uint32_t i = 0; i < kDirectoryEntries; ++i) {
        uint32_t block = BlockOffset(i);
        PutWord(&image[kDirectoryOffset + 8 * i], i + kFirstNode);
        PutWord(&image[kDirectoryOffset + 8 * i + 4], block);
        PutWord(&image[block], eventTime);
        PutWord(&image[block + 4], eventTime);
        PutWord(&image[block + 8], block + kBlockHeaderSize);
        // used words, next block and leading-word word stay 0
    }
    try {
        file.Seek(kSpanOffset, CFile::begin);
        file.Write(&image[kSpanOffset], kFreshLength - kSpanOffset);
        if (durable) file.Sync();
        file.Seek(0, CFile::begin);
        file.Write(kMagic, kMagicLength);
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

bool CDataFile::HasMagic(CFile& file)
{
    char magic[kMagicLength];
    file.Seek(0, CFile::begin);
    return file.Read(magic, kMagicLength) == kMagicLength && memcmp(magic, kMagic, kMagicLength) == 0;
}

bool CDataFile::IsBlockBoundary(uint64_t offset)
{
    return offset >= kFirstBlockOffset && (offset - kFirstBlockOffset) % kBlockSize == 0;
}

// Follows the chain from firstBlock to the block that is not full. Links must
// point at block boundaries inside the file and always forward (overflow
// blocks are only ever added behind the existing ones), so a damaged chain
// cannot loop.
bool CDataFile::FindChainEnd(CFile& file, uint32_t firstBlock, uint64_t length, ChainEnd& end,
                             bool& damaged)
{
    uint32_t startTick = GetTickCount();
    uint32_t block = firstBlock;
    damaged = true;
    for (;;) {
        if (GetTickCount() - startTick > kChainWalkLimitMs) return false;
        if (!IsBlockBoundary(block) || uint64_t(block) + kBlockHeaderSize > length) return false;
        uint8_t header[kBlockHeaderSize];
        file.Seek(block, CFile::begin);
        if (file.Read(header, kBlockHeaderSize) != kBlockHeaderSize) return false;
        uint32_t usedWord = GetWord(header + 12);
        if (usedWord & 1) {
            uint32_t next = GetWord(header + 16);
            if (next <= block) return false;
            block = next;
            continue;
        }
        uint32_t used = usedWord >> 1;
        if (GetWord(header + 8) != block + kBlockHeaderSize || used > kPayloadWords) return false;
        end.block = block;
        end.used = used;
        damaged = false;
        return true;
    }
}

std::vector<uint32_t> CDataFile::RecordWords(uint32_t eventTime, const uint32_t* codes, uint32_t count,
                                             std::vector<size_t>& recordStarts)
{
    // time, count, codes; more than 1024 codes make several records.
    std::vector<uint32_t> words;
    words.reserve(count + 2 * (count / kMaxCodesPerRecord + 1));
    uint32_t done = 0;
    do {
        uint32_t n = std::min(count - done, kMaxCodesPerRecord);
        recordStarts.push_back(words.size());
        words.push_back(eventTime);
        words.push_back(n);
        words.insert(words.end(), codes + done, codes + done + n);
        done += n;
    } while (done < count);
    return words;
}

CDataFile::AppendResult CDataFile::Append(CFile& file, uint32_t node, uint32_t eventTime, const uint32_t* codes,
                                          uint32_t count, bool durable, int* error)
{
    if (error) *error = 0;
    if ((count > 0 && !codes) || eventTime == 0) {
        if (error) *error = EINVAL;
        return NotStored;
    }
    uint64_t length = file.GetLength();

    // Header and block directory in one read. A file cut short before its
    // blocks, without the magic or without the node's block cannot take
    // events readers would see: the writer goes on in a new file, as for a
    // chain it cannot walk.
    uint8_t head[kFirstBlockOffset];
    file.Seek(0, CFile::begin);
    if (file.Read(head, kFirstBlockOffset) != kFirstBlockOffset || memcmp(head, kMagic, kMagicLength) != 0)
        return ChainDamaged;
    const uint8_t* directory = head + kDirectoryOffset;
    uint32_t firstBlock = 0;
    bool found = false;
    for (uint32_t i = 0; i < kDirectoryEntries && !found; ++i) {
        if (GetWord(directory + 8 * i) == node) {
            firstBlock = GetWord(directory + 8 * i + 4);
            found = true;
        }
    }
    if (!found) return node >= kFirstNode && node < kFirstNode + kDirectoryEntries ? ChainDamaged : NotStored;

    ChainEnd chainEnd{};
    bool damaged = false;
    if (!FindChainEnd(file, firstBlock, length, chainEnd, damaged)) return damaged ? ChainDamaged : NotStored;

    std::vector<size_t> recordStarts;
    std::vector<uint32_t> words = RecordWords(eventTime, codes, count, recordStarts);

    // New blocks go behind everything in the file; the counter must say so and
    // leave room for the blocks this append may need.
    uint32_t nextFree = GetWord(head + kNextFreeOffset);
    uint64_t blocksNeeded = words.size() / kPayloadWords + 1;
    if (nextFree < kDirectoryEntries || uint64_t(kFirstBlockOffset) + uint64_t(kBlockSize) * nextFree < length ||
        uint64_t(kFirstBlockOffset) + uint64_t(kBlockSize) * (nextFree + blocksNeeded) > 0xFFFFFFFFull)
        return ChainDamaged;

    bool committed = false;
    try {
        std::vector<Link> links;
        WriteWords(file, words, recordStarts, eventTime, nextFree, chainEnd, links);
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

// The leading-word word of an overflow block opened at word k: the words of
// k's record still to write (at most a block's payload), twice, plus 1 when
// they are all codes; 0 when k begins a record.
uint32_t CDataFile::LeadingWordWord(const std::vector<uint32_t>& words, const std::vector<size_t>& recordStarts,
                                    size_t k)
{
    auto next = std::upper_bound(recordStarts.begin(), recordStarts.end(), k);
    size_t recordStart = *(next - 1);
    size_t recordEnd = next == recordStarts.end() ? words.size() : *next;
    uint32_t remaining = static_cast<uint32_t>(recordEnd - k);
    uint32_t leading = std::min(remaining, kPayloadWords);
    if (k == recordStart) return 0;
    return k == recordStart + 1 ? leading * 2 : leading * 2 + 1;
}

// Writes the record words after the chain's end, opening overflow blocks at
// the end of the file as blocks fill, then the block counter and the file's
// last-event time. None of it is reachable from the chain until Commit.
void CDataFile::WriteWords(CFile& file, const std::vector<uint32_t>& words, const std::vector<size_t>& recordStarts,
                           uint32_t eventTime, uint32_t& nextFree, ChainEnd& end, std::vector<Link>& links)
{
    uint32_t firstNew = nextFree;
    std::vector<uint8_t> run;
    uint64_t runStart = uint64_t(end.block) + kBlockHeaderSize + 4ull * end.used;
    auto flushRun = [&]() {
        if (run.empty()) return;
        file.Seek(static_cast<int64_t>(runStart), CFile::begin);
        file.Write(run.data(), static_cast<uint32_t>(run.size()));
        run.clear();
    };
    for (size_t k = 0; k < words.size(); ++k) {
        if (end.used == kPayloadWords) {
            flushRun();
            uint32_t newBlock = BlockOffset(nextFree++);
            uint8_t header[kBlockHeaderSize];
            PutWord(header, eventTime);
            PutWord(header + 4, eventTime);
            PutWord(header + 8, newBlock + kBlockHeaderSize);
            PutWord(header + 12, 0);
            PutWord(header + 16, 0);
            PutWord(header + 20, LeadingWordWord(words, recordStarts, k));
            file.Seek(newBlock, CFile::begin);
            file.Write(header, kBlockHeaderSize);
            links.push_back({end.block, newBlock});
            end = {newBlock, 0};
            runStart = uint64_t(newBlock) + kBlockHeaderSize;
        }
        uint8_t w[4];
        PutWord(w, words[k]);
        run.insert(run.end(), w, w + 4);
        ++end.used;
    }
    flushRun();
    if (nextFree != firstNew) WriteWordAt(file, kNextFreeOffset, nextFree);
    WriteWordAt(file, kLastEventOffset, eventTime);
    file.Flush();
}

// Makes the written words part of the chain, from its new end backwards: the
// link out of the block that was the chain's end (or, without new blocks,
// its used-word count) is written last.
void CDataFile::Commit(CFile& file, const ChainEnd& end, const std::vector<Link>& links, uint32_t eventTime)
{
    uint8_t tail[12];  // last time, payload start, used words
    PutWord(tail, eventTime);
    PutWord(tail + 4, end.block + kBlockHeaderSize);
    PutWord(tail + 8, end.used * 2);
    file.Seek(uint64_t(end.block) + 4, CFile::begin);
    file.Write(tail, sizeof tail);
    for (auto it = links.rbegin(); it != links.rend(); ++it) {
        WriteWordAt(file, uint64_t(it->full) + 4, eventTime);
        WriteWordAt(file, uint64_t(it->full) + 16, it->next);
        WriteWordAt(file, uint64_t(it->full) + 12, kFullBlockWord);
    }
    file.Flush();
}

// The leading words of a block finish the record the previous block left
// open; they must say so (their count and kind), or the chain ends here.
bool CDataFile::ReadLeadingWords(const uint8_t* block, uint32_t used, uint32_t start, Carry& carry,
                                 std::vector<RawEvent>& out, uint32_t& index)
{
    uint32_t firstTime = GetWord(block);
    uint32_t leadWord = GetWord(block + 20);
    const uint8_t* payload = block + kBlockHeaderSize;
    index = 0;
    if (!carry.open) return leadWord == 0;
    if (firstTime != carry.time) return false;
    if (!carry.countRead) {
        carry.codes = GetWord(payload);
        if ((leadWord & 1) || carry.codes > kMaxCodesPerRecord) return false;
        if ((leadWord >> 1) != std::min(carry.codes + 1, kPayloadWords)) return false;
        index = 1;  // the count of the record begun earlier
    } else if (!(leadWord & 1) || (leadWord >> 1) != std::min(carry.codes, kPayloadWords)) {
        return false;
    }
    uint32_t leading = std::min(leadWord >> 1, used);
    int32_t before = firstTime < start ? 1 : 0;
    for (; index < leading; ++index, --carry.codes) out.push_back({GetWord(payload + 4 * index), firstTime, before});
    carry.countRead = true;
    carry.open = carry.codes > 0;
    return true;
}

void CDataFile::ReadOneBlock(const uint8_t* block, uint32_t available, uint32_t start, uint32_t end, Carry& carry,
                             std::vector<RawEvent>& out, bool& stop)
{
    uint32_t firstTime = GetWord(block);
    uint32_t used = GetWord(block + 12) >> 1;
    stop = true;
    if (used == 0) return;
    if (end < firstTime) return;

    uint32_t present = (available - kBlockHeaderSize) / 4;
    bool cut = used > present;
    used = std::min({used, kPayloadWords, present});
    uint32_t index = 0;
    if (!ReadLeadingWords(block, used, start, carry, out, index)) return;

    const uint8_t* payload = block + kBlockHeaderSize;
    uint32_t rest = used - index;
    while (rest > 0) {
        uint32_t time = GetWord(payload + 4 * index++);
        --rest;
        if (time == 0 || time > end) return;
        carry = {true, false, time, 0};
        if (rest == 0) break;
        uint32_t n = GetWord(payload + 4 * index++);
        --rest;
        if (n > kMaxCodesPerRecord) return;
        int32_t before = time < start ? 1 : 0;
        uint32_t take = std::min(n, rest);
        for (uint32_t j = 0; j < take; ++j) out.push_back({GetWord(payload + 4 * index++), time, before});
        rest -= take;
        carry = {n > take, true, time, n - take};
    }
    stop = cut;
}

void CDataFile::ReadBlockChain(CFile& file, uint32_t blockOffset, uint32_t start, uint32_t end,
                               std::vector<RawEvent>& out)
{
    ReadBlockChain(file, file.GetLength(), blockOffset, start, end, out);
}

void CDataFile::ReadBlockChain(CFile& file, uint64_t length, uint32_t blockOffset, uint32_t start, uint32_t end,
                               std::vector<RawEvent>& out)
{
    uint8_t buffer[kBlockSize];
    uint32_t block = blockOffset;
    Carry carry;
    for (;;) {
        if (!IsBlockBoundary(block) || uint64_t(block) + kBlockHeaderSize > length) return;
        file.Seek(block, CFile::begin);
        uint32_t got = file.Read(buffer, kBlockSize);
        if (got < kBlockHeaderSize) return;
        bool stop = false;
        ReadOneBlock(buffer, got, start, end, carry, out, stop);
        if (stop || !(GetWord(buffer + 12) & 1)) return;
        uint32_t next = GetWord(buffer + 16);
        if (next <= block) return;  // links only ever point forward
        block = next;
    }
}
