// Statuses of file failures.
#include "rastik/core/CStatus.h"

#include "platform/CFileException.h"
#include "rastik/Messages.h"

CStatus CStatus::FileFailure(const CFileException& error)
{
    return Failed(error.m_cause == CFileException::diskFull ? kMsgDiskFull : 0);
}
