// The strips of a streamed TIFF write.
#include "rastik/tiff/CTiffBlockStrips.h"

#include <new>

CTiffBlockStrips::CTiffBlockStrips(std::unique_ptr<CTiffStripEncoder> coder, uint64_t rowBytes, uint32_t stripRows)
    : m_coder(std::move(coder)), m_rowBytes(rowBytes), m_stripRows(stripRows)
{
}

bool CTiffBlockStrips::Reserve()
{
    if (m_stripRows == 0 || m_rowBytes * m_stripRows > 0x7FFFFFFFull || !m_coder->Reserve(m_stripRows)) return false;
    try {
        m_rows.resize(m_rowBytes * m_stripRows);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

const uint8_t* CTiffBlockStrips::Code(uint32_t& bytes)
{
    uint32_t rows = m_held;
    m_held = 0;
    if (rows == 0 || !m_coder->Encode(m_rows.data(), rows)) return nullptr;
    bytes = m_coder->Length();
    return m_coder->Data();
}
