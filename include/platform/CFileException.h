// File exception with the cause codes hosts and codecs test for (disk full is 13).
#pragma once

#include <string>

#include "platform/CObject.h"
#include "platform/PlatformApi.h"

class PLATFORM_API CFileException : public CObject {
public:
    enum Cause {
        none = 0,
        generic = 1,
        fileNotFound = 2,
        badPath = 3,
        tooManyOpenFiles = 4,
        accessDenied = 5,
        invalidFile = 6,
        removeCurrentDir = 7,
        directoryFull = 8,
        badSeek = 9,
        hardIO = 10,
        sharingViolation = 11,
        lockViolation = 12,
        diskFull = 13,
        endOfFile = 14
    };

    CFileException(int cause = none, int osError = 0, const std::string& fileName = std::string())
        : m_cause(cause), m_lOsError(osError), m_strFileName(fileName) {}

    // Maps an errno value to the cause code.
    static int OsErrorToCause(int err);

    int m_cause;
    int m_lOsError;
    std::string m_strFileName;
};
