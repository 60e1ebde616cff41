// Directory scan with a wildcard in the last path component ("dir/KORVAL*.API").
// Names match case-insensitively. Usage follows the original platform:
// FindFile, then FindNextFile before reading each entry; FindNextFile returns
// false when the entry it moved to is the last one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/CObject.h"

class CFileFind : public CObject {
public:
    bool FindFile(const char* pattern = nullptr);
    bool FindNextFile();
    void Close();

    std::string GetFileName() const;
    std::string GetFilePath() const;
    bool IsDirectory() const;
    bool IsDots() const;
    uint64_t GetLength() const;

private:
    std::string m_dir;
    std::vector<std::string> m_names;
    size_t m_next = 0;
    bool m_hasCurrent = false;
};
