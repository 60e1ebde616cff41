// The LZW coder of TIFF strips.
#include "rastik/tiff/CTiffLzwEncoder.h"

#include <algorithm>
#include <new>

namespace {

constexpr uint16_t kClear = 256;
constexpr uint16_t kEndOfInformation = 257;
constexpr uint32_t kFirstFree = 258;
constexpr uint32_t kMaxCodes = 4096;
constexpr uint8_t kFirstWidth = 9;
constexpr uint8_t kMaxWidth = 12;
// Last code assigned before the table is cleared.
constexpr uint32_t kLastCode = 4094;
// The table: a prime number of slots, a few probes per byte.
constexpr uint32_t kSlots = 5051;
constexpr uint32_t kEmpty = 0xFFFFFFFFu;

}  // namespace

CTiffLzwEncoder::CTiffLzwEncoder(uint32_t rowBytes, uint32_t samples)
    : m_rowBytes(rowBytes), m_samples(samples ? samples : 1)
{
}

uint64_t CTiffLzwEncoder::Bound(uint64_t bytes)
{
    // A code of at most 12 bits per byte, the final code, Clear and
    // end-of-information, and a Clear for every 3837 codes.
    uint64_t codes = bytes + 3 + bytes / (kLastCode - kFirstFree + 1) + 1;
    return (codes * kMaxWidth + 7) / 8 + 1;
}

bool CTiffLzwEncoder::Reserve(uint32_t rows)
{
    uint64_t bound = Bound(static_cast<uint64_t>(m_rowBytes) * rows);
    if (bound > 0xFFFFFFFFull) return false;
    try {
        m_out.resize(bound);
        m_keys.resize(kSlots);
        m_codes.resize(kSlots);
    } catch (const std::bad_alloc&) {
        return false;
    }
    m_reservedRows = rows;
    return true;
}

void CTiffLzwEncoder::ResetTable()
{
    std::fill(m_keys.begin(), m_keys.end(), kEmpty);
    m_next = kFirstFree;
    m_width = kFirstWidth;
    m_limit = (1u << kFirstWidth) - 1;
}

void CTiffLzwEncoder::iTIF_LZW_WriteCode(uint16_t code, uint8_t width)
{
    m_bits = (m_bits << width) | code;
    m_pending += width;
    while (m_pending >= 8) {
        m_pending -= 8;
        m_out[m_length++] = static_cast<uint8_t>(m_bits >> m_pending);
    }
}

void CTiffLzwEncoder::Flush()
{
    if (m_pending) m_out[m_length++] = static_cast<uint8_t>(m_bits << (8 - m_pending));
    m_pending = 0;
}

void CTiffLzwEncoder::AddString(uint32_t w, uint32_t slot, uint8_t c)
{
    iTIF_LZW_WriteCode(static_cast<uint16_t>(w), m_width);
    if (m_next >= kMaxCodes) return;
    uint32_t code = m_next++;
    m_keys[slot] = (w << 8) | c;
    m_codes[slot] = static_cast<uint16_t>(code);
    if (code != m_limit) return;
    if (m_width < kMaxWidth) {
        ++m_width;
        m_limit = m_width == kMaxWidth ? kLastCode : (1u << m_width) - 1;
        return;
    }
    iTIF_LZW_WriteCode(kClear, m_width);
    ResetTable();
}

bool CTiffLzwEncoder::iEncodeTIF_LZW(const uint8_t* rows, uint32_t rowCount)
{
    if (rowCount == 0 || rowCount > m_reservedRows || m_rowBytes == 0) return false;
    m_length = 0;
    m_bits = 0;
    m_pending = 0;
    ResetTable();
    iTIF_LZW_WriteCode(kClear, m_width);
    const uint32_t spp = m_samples;
    int64_t w = -1;
    for (uint32_t r = 0; r < rowCount; ++r) {
        const uint8_t* row = rows + static_cast<size_t>(r) * m_rowBytes;
        for (uint32_t i = 0; i < m_rowBytes; ++i) {
            // Horizontal differencing: each sample less the same sample of
            // the pixel before it in the row.
            uint8_t c = static_cast<uint8_t>(i >= spp ? row[i] - row[i - spp] : row[i]);
            if (w < 0) {
                w = c;
                continue;
            }
            uint32_t key = (static_cast<uint32_t>(w) << 8) | c;
            uint32_t h = static_cast<uint32_t>(w) ^ (static_cast<uint32_t>(c) << 4);
            uint32_t step = h == 0 ? 1 : kSlots - h;
            while (m_keys[h] != kEmpty && m_keys[h] != key) h = h >= step ? h - step : h + kSlots - step;
            if (m_keys[h] == key) {
                w = m_codes[h];
                continue;
            }
            AddString(static_cast<uint32_t>(w), h, c);
            w = c;
        }
    }
    iTIF_LZW_WriteCode(static_cast<uint16_t>(w), m_width);
    // The decoder adds a string for that last code too; end-of-information
    // follows at the width it reads with then.
    if (m_next == m_limit && m_width < kMaxWidth) ++m_width;
    iTIF_LZW_WriteCode(kEndOfInformation, m_width);
    Flush();
    return true;
}
