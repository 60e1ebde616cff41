// Progress and Esc poll of row loops.
#include "rastik/core/CRowProgress.h"

#include "rastik/Exports.h"
#include "rastik/General.h"

CRowProgress::CRowProgress(uint32_t total, uint32_t done, int32_t* escaped)
    : m_done(done), m_total(total), m_escFlag(escaped)
{
    int32_t end = 0;
    GetProgressRange(&m_start, &end);
    m_span = GetProgressSpan();
}

void CRowProgress::Show(uint32_t done)
{
    StepProgress(m_start, m_span, done, m_total);
}

bool CRowProgress::Step()
{
    Show(++m_done);
    if (GetEscapeKB() == 0) return true;
    m_escaped = true;
    if (m_escFlag) *m_escFlag = 1;
    return false;
}
