// Row access to heap and spilled channel planes.
#include "rastik/core/CPlaneRows.h"

#include "rastik/General.h"

CPlaneRows::CPlaneRows(CRastik& image, uint32_t rowsPerRead) : m_image(image), m_rowsPerRead(rowsPerRead)
{
    uint64_t bytes = static_cast<uint64_t>(image.BytesPerLine) * rowsPerRead;
    uint32_t planes = image.ChannelCount < static_cast<uint32_t>(kMaxChannels) ? image.ChannelCount : kMaxChannels;
    for (int i = 0; i < kMaxChannels; ++i) m_cachedRow[i] = -1;
    for (uint32_t c = 0; c < planes; ++c) {
        if (image.ChannelKind[c] != kChannelTemp) continue;
        if (bytes == 0 || bytes > 0xFFFFFFFFu) {
            m_ready = false;
            return;
        }
        m_buffers[c] = static_cast<uint8_t*>(AllocBuffer(static_cast<uint32_t>(bytes), 1, 0));
        if (!m_buffers[c]) {
            m_ready = false;
            return;
        }
    }
}

CPlaneRows::~CPlaneRows()
{
    for (uint8_t*& b : m_buffers) FreeBuffer(&b);
}

const uint8_t* CPlaneRows::Rows(uint32_t c, uint32_t row, uint32_t rows)
{
    // Rows of windowed planes are reached through the plane-row stream only.
    if (c >= static_cast<uint32_t>(kMaxChannels) || rows > m_rowsPerRead || m_image.PlaneWindow()) return nullptr;
    if (static_cast<uint64_t>(row) + rows > m_image.Height) return nullptr;
    if (m_image.ChannelKind[c] == kChannelHeap)
        return m_image.ChannelData[c] + static_cast<size_t>(row) * m_image.BytesPerLine;
    if (!m_buffers[c]) return nullptr;
    if (m_cachedRow[c] == static_cast<int64_t>(row) && m_cachedRows[c] >= rows) return m_buffers[c];
    m_cachedRow[c] = -1;
    if (!m_image.ReadPlaneRows(c, row, rows, m_buffers[c])) return nullptr;
    m_cachedRow[c] = row;
    m_cachedRows[c] = rows;
    return m_buffers[c];
}

uint8_t* CPlaneRows::Target(uint32_t c, uint32_t row)
{
    if (c >= static_cast<uint32_t>(kMaxChannels) || row >= m_image.Height || m_image.PlaneWindow()) return nullptr;
    if (m_image.ChannelKind[c] == kChannelHeap)
        return m_image.ChannelData[c] + static_cast<size_t>(row) * m_image.BytesPerLine;
    m_cachedRow[c] = -1;
    return m_buffers[c];
}

bool CPlaneRows::Store(uint32_t c, uint32_t row)
{
    if (c >= static_cast<uint32_t>(kMaxChannels)) return false;
    if (m_image.ChannelKind[c] == kChannelHeap) return true;
    if (!m_buffers[c]) return false;
    return m_image.WritePlaneRows(c, row, 1, m_buffers[c]) != 0;
}
