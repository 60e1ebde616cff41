// PackBits decoding of TIFF strips.
#include "rastik/tiff/CTiffPackBitsDecoder.h"

#include <algorithm>
#include <cstring>

#include "rastik/tiff/CTiffStripBytes.h"

bool CTiffPackBitsDecoder::Start(CTiffStripBytes& bytes)
{
    KeepWindow(bytes);
    m_literal = m_repeat = 0;
    return true;
}

uint8_t* CTiffPackBitsDecoder::DecodeRow(uint8_t* row)
{
    ReadPackBitsTiff(row, m_rowBytes);
    return row;
}

void CTiffPackBitsDecoder::Want(uint32_t n)
{
    if (static_cast<uint32_t>(m_bytes->End() - m_at) < n && m_bytes->HasMore()) m_bytes->Refill(m_at);
}

void CTiffPackBitsDecoder::ReadPackBitsTiff(uint8_t* row, uint32_t rowBytes)
{
    uint32_t filled = 0;
    while (filled < rowBytes) {
        if (m_repeat) {
            uint32_t n = std::min(m_repeat, rowBytes - filled);
            memset(row + filled, m_value, n);
            m_repeat -= n;
            filled += n;
            continue;
        }
        if (m_literal) {
            Want(m_literal);
            uint32_t have = static_cast<uint32_t>(m_bytes->End() - m_at);
            uint32_t n = std::min({m_literal, rowBytes - filled, have});
            if (n == 0) {
                m_literal = 0;  // the data ended inside the copy
                break;
            }
            memcpy(row + filled, m_at, n);
            m_at += n;
            m_literal -= n;
            filled += n;
            continue;
        }
        Want(2);
        if (m_at >= m_bytes->End()) break;
        uint8_t n = *m_at++;
        if (n < 128) {
            m_literal = n + 1u;
        } else if (n > 128) {
            if (m_at >= m_bytes->End()) break;
            m_value = *m_at++;
            m_repeat = 257u - n;
        }
    }
    if (filled < rowBytes) memset(row + filled, 0, rowBytes - filled);
}
