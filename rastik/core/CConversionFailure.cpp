// The per-thread cause of a failed conversion.
#include "rastik/core/CConversionFailure.h"

#include "rastik/Messages.h"

CConversionFailure& CConversionFailure::OfThread()
{
    thread_local CConversionFailure failure;
    return failure;
}

void CConversionFailure::Set(int message, uint64_t first, uint64_t second)
{
    if (message && m_message) return;
    m_message = message;
    m_text = message ? RastikMessageText(message, first, second) : std::string();
}
