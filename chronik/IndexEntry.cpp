// Field access of index entries; the layout is stated in IndexEntry.h.
#include "chronik/IndexEntry.h"

#include <algorithm>
#include <cstring>

#include "chronik/FileWords.h"

using chronik::GetWord;
using chronik::PutWord;

IndexEntry IndexEntry::Decode(const uint8_t* p)
{
    IndexEntry e;
    e.start = GetWord(p + kStartOffset);
    e.end = GetWord(p + kEndOffset);
    const char* name = reinterpret_cast<const char*>(p + kNameOffset);
    e.name.assign(name, strnlen(name, kNameLength));
    return e;
}

void IndexEntry::Encode(uint8_t* p) const
{
    memset(p, 0, kSize);
    PutWord(p + kStartOffset, start);
    PutWord(p + kEndOffset, end);
    memcpy(p + kNameOffset, name.data(), std::min<size_t>(name.size(), kNameLength));
}
