// Wildcard directory scan, case-insensitive like the original platform.
#include "platform/CFileFind.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>

bool CFileFind::FindFile(const char* pattern)
{
    Close();
    std::string pat = pattern && *pattern ? pattern : "*";
    std::string name = pat;
    size_t slash = pat.rfind('/');
    if (slash != std::string::npos) {
        m_dir = pat.substr(0, slash);
        if (m_dir.empty()) m_dir.assign(1, '/');
        name = pat.substr(slash + 1);
    } else {
        m_dir.clear();
    }
    if (name == "*.*") name.assign(1, '*');
    if (name.empty()) return false;

    DIR* d = opendir(m_dir.empty() ? "." : m_dir.c_str());
    if (!d) return false;
    while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n == "." || n == "..") continue;
        if (fnmatch(name.c_str(), n.c_str(), FNM_CASEFOLD) == 0) m_names.push_back(n);
    }
    closedir(d);
    std::sort(m_names.begin(), m_names.end());
    return !m_names.empty();
}

bool CFileFind::FindNextFile()
{
    if (m_next >= m_names.size()) {
        m_hasCurrent = false;
        return false;
    }
    ++m_next;
    m_hasCurrent = true;
    return m_next < m_names.size();
}

void CFileFind::Close()
{
    m_names.clear();
    m_dir.clear();
    m_next = 0;
    m_hasCurrent = false;
}

std::string CFileFind::GetFileName() const
{
    return m_hasCurrent ? m_names[m_next - 1] : std::string();
}

std::string CFileFind::GetFilePath() const
{
    if (!m_hasCurrent) return std::string();
    if (m_dir.empty()) return GetFileName();
    // Appended piece by piece: g++ 12 at -O3 warns falsely (-Wrestrict) about
    // a literal joined to a temporary string.
    std::string path = m_dir;
    if (path != "/") path += '/';
    path += GetFileName();
    return path;
}

bool CFileFind::IsDirectory() const
{
    struct stat st;
    return m_hasCurrent && stat(GetFilePath().c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CFileFind::IsDots() const
{
    std::string n = GetFileName();
    return n == "." || n == "..";
}

uint64_t CFileFind::GetLength() const
{
    struct stat st;
    if (!m_hasCurrent || stat(GetFilePath().c_str(), &st) != 0) return 0;
    return static_cast<uint64_t>(st.st_size);
}
