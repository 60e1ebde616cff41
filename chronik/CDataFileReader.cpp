// The chain reader of diagnostic data files.
#include "chronik/CDataFileReader.h"

#include <algorithm>

#include "chronik/DataFileHeader.h"
#include "chronik/FileWords.h"

using chronik::GetWord;

bool CDataFileReader::HasMagic(CFile& file)
{
    uint8_t magic[DataFileHeader::kMagicLength];
    file.Seek(0, CFile::begin);
    return file.Read(magic, sizeof magic) == sizeof magic && DataFileHeader::HasMagic(magic);
}

// The leading words of a block finish the record the previous block left
// open; they must say so (their count and kind), or the chain ends here.
bool CDataFileReader::ReadLeadingWords(const BlockHeader& header, const uint8_t* payload, uint32_t used,
                                       uint32_t start, Carry& carry, std::vector<RawEvent>& out, uint32_t& index)
{
    index = 0;
    if (!carry.open) return header.LeadingWord() == 0;
    if (header.firstTime != carry.time) return false;
    constexpr uint32_t kPayloadWords = BlockHeader::kPayloadWords;
    if (!carry.countRead) {
        carry.codes = GetWord(payload);
        if (header.allCodes || carry.codes > BlockHeader::kMaxCodesPerRecord) return false;
        if (header.leading != std::min(carry.codes + 1, kPayloadWords)) return false;
        index = 1;  // the count of the record begun earlier
    } else if (!header.allCodes || header.leading != std::min(carry.codes, kPayloadWords)) {
        return false;
    }
    uint32_t leading = std::min(header.leading, used);
    int32_t before = header.firstTime < start ? 1 : 0;
    for (; index < leading; ++index, --carry.codes)
        out.push_back({GetWord(payload + 4 * index), header.firstTime, before});
    carry.countRead = true;
    carry.open = carry.codes > 0;
    return true;
}

// The records from word index on; false when one lies after the range or
// cannot be a record.
bool CDataFileReader::ReadRecords(const uint8_t* payload, uint32_t index, uint32_t used, uint32_t start,
                                  uint32_t end, Carry& carry, std::vector<RawEvent>& out, ChainStop& why)
{
    uint32_t rest = used - index;
    while (rest > 0) {
        uint32_t time = GetWord(payload + 4 * index++);
        --rest;
        if (time == 0) return (why = ChainStop::DamagedRecord), false;
        if (time > end) return (why = ChainStop::End), false;
        carry = {true, false, time, 0};
        if (rest == 0) break;
        uint32_t n = GetWord(payload + 4 * index++);
        --rest;
        if (n > BlockHeader::kMaxCodesPerRecord) return (why = ChainStop::DamagedRecord), false;
        int32_t before = time < start ? 1 : 0;
        uint32_t take = std::min(n, rest);
        for (uint32_t j = 0; j < take; ++j) out.push_back({GetWord(payload + 4 * index++), time, before});
        rest -= take;
        carry = {n > take, true, time, n - take};
    }
    return true;
}

bool CDataFileReader::ReadOneBlock(const CBlockChain& block, uint32_t start, uint32_t end, Carry& carry,
                                   std::vector<RawEvent>& out, ChainStop& why)
{
    const BlockHeader& header = block.Header();
    why = ChainStop::End;
    if (header.used == 0 || end < header.firstTime) return false;

    uint32_t present = (block.Available() - BlockHeader::kSize) / 4;
    uint32_t used = std::min({header.used, BlockHeader::kPayloadWords, present});
    const uint8_t* payload = block.Bytes() + BlockHeader::kSize;
    uint32_t index = 0;
    if (!ReadLeadingWords(header, payload, used, start, carry, out, index))
        return (why = ChainStop::DamagedRecord), false;
    if (!ReadRecords(payload, index, used, start, end, carry, out, why)) return false;
    if (header.used > present) return (why = ChainStop::DamagedRecord), false;  // the file ends inside the block
    return true;
}

ChainStop CDataFileReader::ReadBlockChain(CFile& file, uint32_t blockOffset, uint32_t start, uint32_t end,
                                          std::vector<RawEvent>& out)
{
    return ReadBlockChain(file, file.GetLength(), blockOffset, start, end, out);
}

ChainStop CDataFileReader::ReadBlockChain(CFile& file, uint64_t length, uint32_t blockOffset, uint32_t start,
                                          uint32_t end, std::vector<RawEvent>& out)
{
    CBlockChain chain(file, length, blockOffset);
    Carry carry;
    while (chain.Next(true)) {
        ChainStop why = ChainStop::End;
        if (!ReadOneBlock(chain, start, end, carry, out, why)) return why;
    }
    return chain.Stop();
}
