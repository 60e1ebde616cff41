// Field access of block-directory entries; the layout is stated in DirectoryEntry.h.
#include "chronik/DirectoryEntry.h"

#include "chronik/FileWords.h"

using chronik::GetWord;
using chronik::PutWord;

DirectoryEntry DirectoryEntry::Decode(const uint8_t* directory, uint32_t i)
{
    const uint8_t* e = directory + Position(i);
    return {GetWord(e + kAddressOffset), GetWord(e + kBlockOffsetOffset)};
}

void DirectoryEntry::Encode(uint8_t* directory, uint32_t i) const
{
    uint8_t* e = directory + Position(i);
    PutWord(e + kAddressOffset, address);
    PutWord(e + kBlockOffsetOffset, blockOffset);
}
