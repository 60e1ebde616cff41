// Retried opens of store files.
#include "chronik/CRetryOpen.h"

#include <cerrno>

#include "platform/CFileException.h"
#include "platform/Win32.h"

bool CRetryOpen::Open(CFile& file, const std::string& path, unsigned flags, int attempts, int* osError)
{
    int lastError = EWOULDBLOCK;
    for (int i = 0; i < attempts; ++i) {
        CFileException error;
        if (file.Open(path.c_str(), flags, &error)) return true;
        lastError = error.m_lOsError ? error.m_lOsError : EIO;
        bool hopeless = error.m_cause == CFileException::fileNotFound ||
                        error.m_cause == CFileException::badPath ||
                        error.m_cause == CFileException::accessDenied;
        if (hopeless) break;
        if (i + 1 < attempts) Sleep(kRetryMilliseconds);
    }
    if (osError) *osError = lastError;
    return false;
}
