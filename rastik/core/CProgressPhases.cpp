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

void CProgressPhases::Plan(bool convert, bool resample, bool resampleFirst)
{
    m_resampleFirst = resampleFirst;
    m_weight[kConvert] = convert ? 2 : 0;
    m_weight[kResample] = resample ? 1 : 0;
}

void CProgressPhases::Follow()
{
    m_weight[kConvert] = m_weight[kResample] = m_weight[kWrite] = 0;
}

void CProgressPhases::Enter(Phase phase)
{
    static const Phase kOrder[4] = {kRead, kConvert, kResample, kWrite};
    static const Phase kResampleFirstOrder[4] = {kRead, kResample, kConvert, kWrite};
    const Phase* order = m_resampleFirst ? kResampleFirstOrder : kOrder;
    uint32_t before = 0, total = 0;
    bool reached = false;
    for (int i = 0; i < 4; ++i) {
        if (order[i] == phase) reached = true;
        if (!reached) before += m_weight[order[i]];
        total += m_weight[order[i]];
    }
    int64_t span = static_cast<int64_t>(m_end) - m_start;
    int64_t from = m_start + span * before / total;
    int64_t to = m_start + span * (before + m_weight[phase]) / total;
    SetProgressRange(static_cast<int32_t>(from), static_cast<int32_t>(to));
}
