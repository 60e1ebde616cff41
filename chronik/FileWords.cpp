// Little-endian word access and directory path rules of the store.
#include "chronik/FileWords.h"

namespace chronik {

uint32_t GetWord(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void PutWord(uint8_t* p, uint32_t value)
{
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value >> 16);
    p[3] = static_cast<uint8_t>(value >> 24);
}

bool ReadWordAt(CFile& file, uint64_t offset, uint32_t& value)
{
    uint8_t b[4];
    file.Seek(static_cast<int64_t>(offset), CFile::begin);
    if (file.Read(b, 4) != 4) return false;
    value = GetWord(b);
    return true;
}

void WriteWordAt(CFile& file, uint64_t offset, uint32_t value)
{
    uint8_t b[4];
    PutWord(b, value);
    file.Seek(static_cast<int64_t>(offset), CFile::begin);
    file.Write(b, 4);
}

std::string DirectoryOf(const char* dir)
{
    if (!dir || !*dir) return ".";
    return dir;
}

std::string JoinPath(const std::string& dir, const std::string& name)
{
    std::string d = dir.empty() ? std::string(".") : dir;
    if (d.back() == '/') return d + name;
    return d + "/" + name;
}

}  // namespace chronik
