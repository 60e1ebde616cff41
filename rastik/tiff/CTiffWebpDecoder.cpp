// WebP strips through libwebp.
#include "rastik/tiff/CTiffWebpDecoder.h"

#include <webp/decode.h>

#include <cstring>
#include <new>

#include "rastik/tiff/CTiffStripBytes.h"

namespace {

// Strips whose rows take more than this are refused.
constexpr uint64_t kMostStripBytes = 256u << 20;

}  // namespace

bool CTiffWebpDecoder::Start(CTiffStripBytes& bytes)
{
    m_rows.clear();
    m_at = 0;
    if (!Takes(m_shape.bits, m_shape.samples)) return false;
    const uint8_t* data = bytes.Begin();
    size_t size = static_cast<size_t>(bytes.End() - bytes.Begin());
    int width = 0, height = 0;
    try {
        // libwebp decodes from memory.
        if (bytes.HasMore()) {
            bytes.Gather(m_stored);
            data = m_stored.data(), size = m_stored.size();
        }
        if (!WebPGetInfo(data, size, &width, &height)) return false;
        uint64_t rows = static_cast<uint64_t>(height);
        if (static_cast<uint32_t>(width) != m_shape.width || (m_shape.rows && rows > m_shape.rows)) return false;
        if (rows * m_rowBytes > kMostStripBytes) return false;
        m_rows.resize(rows * m_rowBytes);
    } catch (const std::bad_alloc&) {
        return false;
    }
    uint8_t* made = m_shape.samples == 4
                        ? WebPDecodeRGBAInto(data, size, m_rows.data(), m_rows.size(), static_cast<int>(m_rowBytes))
                        : WebPDecodeRGBInto(data, size, m_rows.data(), m_rows.size(), static_cast<int>(m_rowBytes));
    // A damaged image gives no rows.
    if (!made) m_rows.assign(m_rows.size(), 0);
    return true;
}

uint8_t* CTiffWebpDecoder::DecodeRow(uint8_t* row)
{
    if (m_at + m_rowBytes <= m_rows.size()) {
        uint8_t* held = m_rows.data() + m_at;
        m_at += m_rowBytes;
        return held;
    }
    memset(row, 0, m_rowBytes);
    return row;
}

void CTiffWebpDecoder::SkipRows(uint32_t count, uint8_t*)
{
    m_at += static_cast<size_t>(count) * m_rowBytes;
}
