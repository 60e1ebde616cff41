// The temporary file a replaced target is written into: in the target's own
// directory (so that the rename stays on one file system), hidden, keeping
// the target's extension.
#include "rastik/core/CReplacedTarget.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

CReplacedTarget::~CReplacedTarget()
{
    if (!m_temp.empty()) unlink(m_temp.c_str());
}

bool CReplacedTarget::Open(const char* path)
{
    struct stat st {};
    if (!path || !m_temp.empty() || lstat(path, &st) != 0) return false;
    if (!S_ISREG(st.st_mode) || st.st_nlink != 1 || st.st_uid != geteuid()) return false;
    const std::string target(path);
    const size_t slash = target.find_last_of('/');
    const size_t baseAt = slash == std::string::npos ? 0 : slash + 1;
    const std::string base = target.substr(baseAt);
    const size_t dot = base.find_last_of('.');
    const std::string ext = dot == std::string::npos || dot == 0 ? std::string() : base.substr(dot);
    std::string name = target.substr(0, baseAt) + "." + base + ".XXXXXX" + ext;
    const int fd = mkstemps(name.data(), static_cast<int>(ext.size()));
    if (fd < 0) return false;
    const bool moded = fchmod(fd, st.st_mode & 07777) == 0;
    close(fd);
    m_temp = name;
    if (!moded) {
        unlink(m_temp.c_str());
        m_temp.clear();
        return false;
    }
    m_target = target;
    return true;
}

bool CReplacedTarget::Commit()
{
    if (m_temp.empty()) return false;
    if (rename(m_temp.c_str(), m_target.c_str()) != 0) return false;
    m_temp.clear();
    return true;
}
