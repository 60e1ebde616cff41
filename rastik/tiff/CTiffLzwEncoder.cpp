// The LZW coder of TIFF strips.
#include "rastik/tiff/CTiffLzwEncoder.h"

#include <algorithm>

#include "rastik/support/Allocates.h"
#include "rastik/support/PixelRows.h"
#include "rastik/tiff/TiffTags.h"

using namespace tiff::lzw;

namespace {

// Last code assigned before the table is cleared.
constexpr uint32_t kLastCode = 4094;
// The table: a prime number of slots, a few probes per byte.
constexpr uint32_t kSlots = 5051;
// A slot's key holds the table generation above the string (prefix code,
// byte: 20 bits), so that clearing the table is one increment; slots of
// older generations count as empty.
constexpr uint32_t kStringBits = 20;
constexpr uint32_t kGenerations = 1u << (32 - kStringBits);

// First slot of string (w, c): the string scattered over the whole table
// by a multiplicative hash, so that the short strings of differenced rows
// (prefixes and bytes near 0) do not crowd a few slots.
inline uint32_t Slot(uint32_t w, uint32_t c)
{
    uint32_t mixed = ((w << 8) | c) * 0x9E3779B1u;
    return static_cast<uint32_t>((static_cast<uint64_t>(mixed) * kSlots) >> 32);
}

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
    if (!rastik::Allocates([&] {
            m_out.resize(bound);
            m_diff.resize(m_rowBytes);
            m_keys.resize(kSlots);
            m_codes.resize(kSlots);
        }))
        return false;
    m_reservedRows = rows;
    return true;
}

void CTiffLzwEncoder::ResetTable()
{
    if (++m_generation == kGenerations) {
        std::fill(m_keys.begin(), m_keys.end(), 0);
        m_generation = 1;
    }
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
    if (m_next >= kTableSize) return;
    uint32_t code = m_next++;
    m_keys[slot] = (m_generation << kStringBits) | (w << 8) | c;
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
    uint32_t w = 0;
    const uint32_t* keys = m_keys.data();
    const uint16_t* codes = m_codes.data();
    const uint8_t* d = m_diff.data();
    for (uint32_t r = 0; r < rowCount; ++r) {
        rastik::DifferenceSamples(rows + static_cast<size_t>(r) * m_rowBytes, m_rowBytes, m_samples, m_diff.data());
        // The first byte of the strip starts the current string, which
        // carries on from row to row.
        uint32_t i = 0;
        if (r == 0) w = d[i++];
        for (; i < m_rowBytes; ++i) {
            const uint32_t c = d[i];
            const uint32_t generation = m_generation << kStringBits;
            const uint32_t key = generation | (w << 8) | c;
            uint32_t h = Slot(w, c);
            const uint32_t step = h == 0 ? 1 : kSlots - h;
            uint32_t k;
            while ((k = keys[h]) != key && (k & ~((1u << kStringBits) - 1)) == generation)
                h = h >= step ? h - step : h + kSlots - step;
            if (k == key) {
                w = codes[h];
                continue;
            }
            AddString(w, h, static_cast<uint8_t>(c));
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
