// Little-endian 32-bit words in memory and in files, and the path rules of a
// store directory. Every field of the store's files is read and written
// through these, one word at a time, in the files' byte order.
#pragma once

#include <cstdint>
#include <string>

#include "platform/CFile.h"

namespace chronik {

uint32_t GetWord(const uint8_t* p);
void PutWord(uint8_t* p, uint32_t value);

// Reads the word at offset; false when the file ends before it.
bool ReadWordAt(CFile& file, uint64_t offset, uint32_t& value);
// Writes the word at offset; throws CFileException on failure.
void WriteWordAt(CFile& file, uint64_t offset, uint32_t value);

// The directory as used in paths: an empty or null directory is the current
// directory.
std::string DirectoryOf(const char* dir);
// dir + "/" + name, with the directory rule above.
std::string JoinPath(const std::string& dir, const std::string& name);

}  // namespace chronik
