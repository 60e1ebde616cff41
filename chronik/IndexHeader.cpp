// Field access of the index header; the layout is stated in IndexHeader.h.
#include "chronik/IndexHeader.h"

#include <cstring>

#include "chronik/FileWords.h"

using chronik::GetWord;
using chronik::PutWord;

IndexHeader IndexHeader::Decode(const uint8_t* p)
{
    IndexHeader h;
    h.secondsPerFile = GetWord(p + kSpanOffset);
    h.count = GetWord(p + kCountOffset);
    h.length = GetWord(p + kLengthOffset);
    return h;
}

void IndexHeader::Encode(uint8_t* p) const
{
    memcpy(p, kMagic, kMagicLength);
    PutWord(p + kSpanOffset, secondsPerFile);
    PutWord(p + kCountOffset, count);
    PutWord(p + kLengthOffset, length);
}

bool IndexHeader::HasMagic(const uint8_t* p)
{
    return memcmp(p, kMagic, kMagicLength) == 0;
}
