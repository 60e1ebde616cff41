// Field access of block headers; the layout is stated in BlockHeader.h.
#include "chronik/BlockHeader.h"

#include "chronik/FileWords.h"

using chronik::GetWord;
using chronik::PutWord;

BlockHeader BlockHeader::Decode(const uint8_t* p)
{
    BlockHeader h;
    h.firstTime = GetWord(p + kFirstTimeOffset);
    h.lastTime = GetWord(p + kLastTimeOffset);
    h.payloadStart = GetWord(p + kPayloadStartOffset);
    uint32_t usedWord = GetWord(p + kUsedOffset);
    h.used = usedWord >> 1;
    h.continued = (usedWord & 1) != 0;
    h.next = GetWord(p + kNextOffset);
    uint32_t leadingWord = GetWord(p + kLeadingOffset);
    h.leading = leadingWord >> 1;
    h.allCodes = (leadingWord & 1) != 0;
    return h;
}

void BlockHeader::Encode(uint8_t* p) const
{
    PutWord(p + kFirstTimeOffset, firstTime);
    PutWord(p + kLastTimeOffset, lastTime);
    PutWord(p + kPayloadStartOffset, payloadStart);
    PutWord(p + kUsedOffset, UsedWord());
    PutWord(p + kNextOffset, next);
    PutWord(p + kLeadingOffset, LeadingWord());
}

BlockHeader BlockHeader::Fresh(uint32_t block, uint32_t time)
{
    BlockHeader h;
    h.firstTime = time;
    h.lastTime = time;
    h.payloadStart = block + kSize;
    return h;
}
