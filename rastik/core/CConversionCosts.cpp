// Plane costs of a conversion, worked out before anything is allocated.
#include "rastik/core/CConversionCosts.h"

#include <algorithm>

#include "rastik/General.h"

int CConversionCosts::Make(uint32_t planes, uint32_t width, uint32_t height)
{
    if (m_used >= kSlots) return -1;
    Set& set = m_sets[m_used];
    uint64_t plane = static_cast<uint64_t>(BytesPerRow(width * 8)) * height;
    for (uint32_t i = 0; i < planes; ++i) {
        if (plane <= m_heapLeft) {
            m_heapLeft -= plane;
            set.heap += plane;
        } else {
            set.spilled += plane;
        }
    }
    m_spilled += set.spilled;
    m_planes += set.heap + set.spilled;
    m_peakSpilled = std::max(m_peakSpilled, m_spilled);
    m_peakPlanes = std::max(m_peakPlanes, m_planes);
    return m_used++;
}

void CConversionCosts::Release(int slot)
{
    if (slot < 0 || slot >= m_used) return;
    Set& set = m_sets[slot];
    m_heapLeft += set.heap;
    m_spilled -= set.spilled;
    m_planes -= set.heap + set.spilled;
    set = Set();
}
