// Progress and Esc poll of conversion row loops.
#include "rastik/core/CRowProgress.h"

#include "rastik/Exports.h"
#include "rastik/General.h"

CRowProgress::CRowProgress(uint32_t total) : m_total(total)
{
    int32_t end = 0;
    GetProgressRange(&m_start, &end);
    m_span = GetProgressSpan();
}

bool CRowProgress::Step()
{
    ++m_done;
    StepProgress(m_start, m_span, m_done, m_total);
    return GetEscapeKB() == 0;
}
