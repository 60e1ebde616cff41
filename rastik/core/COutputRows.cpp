// A writer's buffer of whole output rows, granted by the support layer.
#include "rastik/core/COutputRows.h"

#include <algorithm>

#include "rastik/General.h"
#include "rastik/Messages.h"

CStatus COutputRows::Take(uint64_t rowBytes, uint64_t rows)
{
    m_buffer.Reset();
    m_rows = 0;
    if (rowBytes == 0 || rowBytes > 0xFFFFFFFFull) return CStatus::Failed(kMsgNoBuffer);
    // A grant is at most 4 GiB less a byte: whole rows of it.
    uint64_t want = std::min<uint64_t>(std::clamp<uint64_t>(rows, 1, 0xFFFFFFFFull) * rowBytes, 0xFFFFFFFFull / rowBytes * rowBytes);
    uint32_t granted = 0;
    m_buffer.Reset(AllocLargeBuffer(static_cast<uint32_t>(want), static_cast<uint32_t>(rowBytes), &granted, 0));
    if (!m_buffer.p || granted < rowBytes) {
        m_buffer.Reset();
        return CStatus::Failed(kMsgNoBuffer);
    }
    m_rowBytes = static_cast<uint32_t>(rowBytes);
    m_rows = granted / m_rowBytes;
    return CStatus::Ok();
}
