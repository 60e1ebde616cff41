// Retried opens of store files.
#include "chronik/CRetryOpen.h"

#include "platform/CFileException.h"
#include "platform/Win32.h"

bool CRetryOpen::Open(CFile& file, const std::string& path, unsigned flags, int attempts,
                      bool* notFound)
{
    if (notFound) *notFound = false;
    for (int i = 0; i < attempts; ++i) {
        CFileException error;
        if (file.Open(path.c_str(), flags, &error)) return true;
        bool hopeless = error.m_cause == CFileException::fileNotFound ||
                        error.m_cause == CFileException::badPath ||
                        error.m_cause == CFileException::accessDenied;
        if (hopeless) {
            if (notFound) *notFound = error.m_cause == CFileException::fileNotFound;
            return false;
        }
        if (i + 1 < attempts) Sleep(kRetryMilliseconds);
    }
    return false;
}
