// Progress sub-ranges of the phases of one conversion.
#include "rastik/core/CProgressPhases.h"

#include "rastik/General.h"

CProgressPhases::CProgressPhases()
{
    GetProgressRange(&m_start, &m_end);
}

CProgressPhases::~CProgressPhases()
{
    SetProgressRange(m_start, m_end);
}

void CProgressPhases::Plan(bool convert, bool resample)
{
    m_weight[kConvert] = convert ? 2 : 0;
    m_weight[kResample] = resample ? 1 : 0;
}

void CProgressPhases::Enter(Phase phase)
{
    uint32_t before = 0, total = 0;
    for (int i = 0; i < 4; ++i) {
        if (i < phase) before += m_weight[i];
        total += m_weight[i];
    }
    int64_t span = static_cast<int64_t>(m_end) - m_start;
    int64_t from = m_start + span * before / total;
    int64_t to = m_start + span * (before + m_weight[phase]) / total;
    SetProgressRange(static_cast<int32_t>(from), static_cast<int32_t>(to));
}
