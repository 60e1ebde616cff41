// Creation, appending and chain reading of diagnostic data files; the layout is
// stated in CDataFile.h.
#include "chronik/CDataFile.h"

#include <algorithm>
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

bool CDataFile::CreateDataFile(const std::string& path, uint32_t secondsPerFile, uint32_t eventTime)
{
    CFile file;
    if (!file.Open(path.c_str(), CFile::modeWrite | CFile::modeCreate | CFile::shareExclusive |
                                     CFile::typeBinary))
        return false;

    // The whole initial layout is built in memory; the magic goes in last, so
    // a file cut short while being made is never taken for a data file.
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
        file.Seek(0, CFile::begin);
        file.Write(kMagic, kMagicLength);
        file.Close();
    } catch (const CFileException&) {
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

CDataFile::AppendResult CDataFile::Append(CFile& file, uint32_t node, uint32_t eventTime,
                                          const uint32_t* codes, uint32_t count)
{
    if (count > 0 && !codes) return NotStored;
    uint64_t length = file.GetLength();

    // Header and block directory in one read. A file cut short before its
    // blocks or without the magic cannot take events readers would see: the
    // writer goes on in a new file, as for a chain it cannot walk.
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
    if (!found) return NotStored;

    ChainEnd chainEnd{};
    bool damaged = false;
    if (!FindChainEnd(file, firstBlock, length, chainEnd, damaged)) return damaged ? ChainDamaged : NotStored;

    // The records: time, count, codes; more than 1024 codes make several.
    std::vector<uint32_t> words;
    std::vector<size_t> recordStarts;
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

    // New blocks go behind everything in the file; the counter must say so and
    // leave room for the blocks this append may need.
    uint32_t nextFree = GetWord(head + kNextFreeOffset);
    uint64_t blocksNeeded = words.size() / kPayloadWords + 1;
    if (nextFree < kDirectoryEntries || uint64_t(kFirstBlockOffset) + uint64_t(kBlockSize) * nextFree < length ||
        uint64_t(kFirstBlockOffset) + uint64_t(kBlockSize) * (nextFree + blocksNeeded) > 0xFFFFFFFFull)
        return ChainDamaged;

    struct Link {
        uint32_t full;
        uint32_t next;
    };
    std::vector<Link> links;
    uint32_t block = chainEnd.block;
    uint32_t used = chainEnd.used;
    std::vector<uint8_t> run;
    uint64_t runStart = uint64_t(block) + kBlockHeaderSize + 4ull * used;
    auto flushRun = [&]() {
        if (run.empty()) return;
        file.Seek(static_cast<int64_t>(runStart), CFile::begin);
        file.Write(run.data(), static_cast<uint32_t>(run.size()));
        run.clear();
    };

    try {
        size_t record = 0;
        for (size_t k = 0; k < words.size(); ++k) {
            while (record + 1 < recordStarts.size() && recordStarts[record + 1] <= k) ++record;
            if (used == kPayloadWords) {
                flushRun();
                uint32_t m = nextFree++;
                uint32_t newBlock = BlockOffset(m);
                WriteWordAt(file, kNextFreeOffset, nextFree);
                size_t recordEnd = record + 1 < recordStarts.size() ? recordStarts[record + 1] : words.size();
                uint32_t remaining = static_cast<uint32_t>(recordEnd - k);
                uint32_t leading = remaining < kPayloadWords ? remaining : kPayloadWords;
                uint32_t leadWord = 0;
                if (k == recordStarts[record] + 1) leadWord = leading * 2;
                else if (k > recordStarts[record] + 1) leadWord = leading * 2 + 1;
                uint8_t header[kBlockHeaderSize];
                PutWord(header, eventTime);
                PutWord(header + 4, eventTime);
                PutWord(header + 8, newBlock + kBlockHeaderSize);
                PutWord(header + 12, 0);
                PutWord(header + 16, 0);
                PutWord(header + 20, leadWord);
                file.Seek(newBlock, CFile::begin);
                file.Write(header, kBlockHeaderSize);
                links.push_back({block, newBlock});
                block = newBlock;
                used = 0;
                runStart = uint64_t(newBlock) + kBlockHeaderSize;
            }
            uint8_t w[4];
            PutWord(w, words[k]);
            run.insert(run.end(), w, w + 4);
            ++used;
        }
        flushRun();
        // Commit from the end of the chain backwards: the link out of the block
        // that was the chain's end is written last.
        uint8_t tail[12];  // last time, payload start, used words
        PutWord(tail, eventTime);
        PutWord(tail + 4, block + kBlockHeaderSize);
        PutWord(tail + 8, used * 2);
        file.Seek(uint64_t(block) + 4, CFile::begin);
        file.Write(tail, sizeof tail);
        for (auto it = links.rbegin(); it != links.rend(); ++it) {
            WriteWordAt(file, uint64_t(it->full) + 4, eventTime);
            WriteWordAt(file, uint64_t(it->full) + 16, it->next);
            WriteWordAt(file, uint64_t(it->full) + 12, kFullBlockWord);
        }
        WriteWordAt(file, kLastEventOffset, eventTime);
        file.Flush();
    } catch (const CFileException&) {
        return NotStored;
    }
    return Stored;
}

void CDataFile::ReadOneBlock(const uint8_t* block, uint32_t available, uint32_t start, uint32_t end,
                             std::vector<RawEvent>& out, bool& stop)
{
    uint32_t firstTime = GetWord(block);
    uint32_t used = GetWord(block + 12) >> 1;
    uint32_t leadWord = GetWord(block + 20);
    stop = true;
    if (used == 0) return;
    if (end < firstTime) return;

    uint32_t present = (available - kBlockHeaderSize) / 4;
    bool cut = used > present;
    used = std::min({used, kPayloadWords, present});
    uint32_t leading = std::min(leadWord >> 1, used);
    bool allCodes = (leadWord & 1) != 0;
    const uint8_t* payload = block + kBlockHeaderSize;
    int32_t leadBefore = firstTime < start ? 1 : 0;
    for (uint32_t i = 0; i < leading; ++i) {
        if (i == 0 && !allCodes) continue;  // the count of the record begun earlier
        out.push_back({GetWord(payload + 4 * i), firstTime, leadBefore});
    }

    uint32_t index = leading;
    uint32_t rest = used - leading;
    while (rest > 0) {
        uint32_t time = GetWord(payload + 4 * index++);
        --rest;
        if (time > end) return;
        if (rest == 0) break;
        uint32_t n = GetWord(payload + 4 * index++);
        --rest;
        int32_t before = time < start ? 1 : 0;
        for (uint32_t j = 0; j < n && rest > 0; ++j) {
            out.push_back({GetWord(payload + 4 * index++), time, before});
            --rest;
        }
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
    for (;;) {
        if (!IsBlockBoundary(block) || uint64_t(block) + kBlockHeaderSize > length) return;
        file.Seek(block, CFile::begin);
        uint32_t got = file.Read(buffer, kBlockSize);
        if (got < kBlockHeaderSize) return;
        bool stop = false;
        ReadOneBlock(buffer, got, start, end, out, stop);
        if (stop || !(GetWord(buffer + 12) & 1)) return;
        uint32_t next = GetWord(buffer + 16);
        if (next <= block) return;  // links only ever point forward
        block = next;
    }
}
