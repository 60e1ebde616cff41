// Field access of a data file's header; the layout is stated in DataFileHeader.h.
#include "chronik/DataFileHeader.h"

#include <cstring>

#include "chronik/FileWords.h"

using chronik::GetWord;
using chronik::PutWord;

DataFileHeader DataFileHeader::Decode(const uint8_t* p)
{
    DataFileHeader h;
    h.secondsPerFile = GetWord(p + kSpanOffset);
    h.creationTime = GetWord(p + kCreationOffset);
    h.lastEventTime = GetWord(p + kLastEventOffset);
    h.wordsPerBlock = GetWord(p + kWordsPerBlockOffset);
    h.nextFreeBlock = GetWord(p + kNextFreeOffset);
    return h;
}

void DataFileHeader::Encode(uint8_t* p) const
{
    memset(p, 0, kSize);
    memcpy(p, kMagic, kMagicLength);
    PutWord(p + kSpanOffset, secondsPerFile);
    PutWord(p + kCreationOffset, creationTime);
    PutWord(p + kLastEventOffset, lastEventTime);
    PutWord(p + kWordsPerBlockOffset, wordsPerBlock);
    PutWord(p + kNextFreeOffset, nextFreeBlock);
}

bool DataFileHeader::HasMagic(const uint8_t* p)
{
    return memcmp(p, kMagic, kMagicLength) == 0;
}
