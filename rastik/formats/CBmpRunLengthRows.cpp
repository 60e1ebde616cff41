// Run-length bitmap rows. The data is a sequence of two-byte codes:
// count > 0, value: a run of count pixels (8-bit: value; 4-bit: the high
// and the low nibble of value in turn). count 0 is an escape, its second
// byte: 0 end of line, 1 end of bitmap, 2 a delta move (two more bytes:
// right, down), 3..255 an absolute run of that many pixels stored one by
// one (8-bit: a byte each; 4-bit: two to a byte, high nibble first),
// padded to a whole 16-bit word. Pixels a delta or the end of the bitmap
// passes over are index 0; a run past the row's end is clipped.
#include "rastik/formats/CBmpRunLengthRows.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr uint32_t kBufferBytes = 1u << 16;
constexpr uint8_t kEndOfLine = 0;
constexpr uint8_t kEndOfBitmap = 1;
constexpr uint8_t kDelta = 2;
}  // namespace

CBmpRunLengthRows::CBmpRunLengthRows(CFile& file, uint32_t offset, uint32_t width, uint32_t height, uint32_t bits)
    : CRowSource(width, height, [] {
          CRowLayout l;
          l.Order = CPlaneRowStream::kBottomUp;
          return l;
      }()),
      m_file(file), m_offset(offset), m_bits(bits)
{
}

CStatus CBmpRunLengthRows::Start()
{
    m_file.Seek(m_offset, CFile::begin);
    m_buffer.resize(kBufferBytes);
    m_pos = m_end = 0;
    m_x = m_nextX = m_blankRows = 0;
    m_ended = false;
    return CStatus::Ok();
}

bool CBmpRunLengthRows::Refill()
{
    m_pos = 0;
    m_end = m_file.Read(m_buffer.data(), kBufferBytes);
    return m_end > 0;
}

bool CBmpRunLengthRows::Next(uint8_t* byte)
{
    if (m_pos == m_end && !Refill()) return false;
    *byte = m_buffer[m_pos++];
    return true;
}

void CBmpRunLengthRows::PutRun(uint8_t* row, uint32_t count, uint8_t value)
{
    uint32_t end = std::min(Width(), m_x + count);
    if (row && m_bits == 8) {
        if (m_x < end) memset(row + m_x, value, end - m_x);
    } else if (row) {
        const uint8_t pair[2] = {static_cast<uint8_t>(value >> 4), static_cast<uint8_t>(value & 15)};
        for (uint32_t x = m_x; x < end; ++x) row[x] = pair[(x - m_x) & 1];
    }
    m_x = std::min(Width(), m_x + count);
}

bool CBmpRunLengthRows::CopyBytes(uint8_t* row, uint32_t count)
{
    while (count > 0) {
        if (m_pos == m_end && !Refill()) return false;
        uint32_t n = static_cast<uint32_t>(std::min<size_t>(count, m_end - m_pos));
        uint32_t fit = m_x < Width() ? std::min(n, Width() - m_x) : 0;
        if (row) memcpy(row + m_x, m_buffer.data() + m_pos, fit);
        m_x += fit;
        m_pos += n;
        count -= n;
    }
    return true;
}

bool CBmpRunLengthRows::PutAbsolute(uint8_t* row, uint32_t count)
{
    uint32_t bytes = m_bits == 8 ? count : (count + 1) / 2;
    uint8_t byte = 0;
    if (m_bits == 8) {
        if (!CopyBytes(row, count)) return false;
    } else {
        for (uint32_t i = 0; i < bytes; ++i) {
            if (!Next(&byte)) return false;
            if (!row) continue;
            if (m_x < Width()) row[m_x++] = static_cast<uint8_t>(byte >> 4);
            if (m_x < Width() && 2 * i + 1 < count) row[m_x++] = static_cast<uint8_t>(byte & 15);
        }
        if (!row) m_x = std::min(Width(), m_x + count);
    }
    return bytes % 2 == 0 || Next(&byte);
}

bool CBmpRunLengthRows::Escape(uint8_t code, uint8_t* row, bool* rowEnds)
{
    *rowEnds = true;
    if (code == kEndOfLine) return true;
    if (code == kEndOfBitmap) {
        m_ended = true;
        return true;
    }
    if (code == kDelta) {
        uint8_t right = 0, down = 0;
        if (!Next(&right) || !Next(&down)) return false;
        m_x = std::min(Width(), m_x + right);
        *rowEnds = down > 0;
        if (down > 0) {
            m_blankRows = down - 1u;
            m_nextX = m_x;
        }
        return true;
    }
    *rowEnds = false;
    return PutAbsolute(row, code);
}

CStatus CBmpRunLengthRows::Read(uint8_t* const* rows)
{
    memset(rows[0], 0, Width());
    return Decode(rows[0]);
}

CStatus CBmpRunLengthRows::Skip()
{
    return Decode(nullptr);
}

CStatus CBmpRunLengthRows::Decode(uint8_t* row)
{
    if (m_blankRows > 0) {
        --m_blankRows;
        return CStatus::Ok();
    }
    if (m_ended) return CStatus::Ok();
    m_x = m_nextX;
    m_nextX = 0;
    for (;;) {
        uint8_t count = 0, value = 0;
        if (m_end - m_pos >= 2) {
            count = m_buffer[m_pos];
            value = m_buffer[m_pos + 1];
            m_pos += 2;
        } else if (!Next(&count) || !Next(&value)) {
            return CStatus::Failed();
        }
        if (count > 0) {
            PutRun(row, count, value);
            continue;
        }
        bool rowEnds = false;
        if (!Escape(value, row, &rowEnds)) return CStatus::Failed();
        if (rowEnds) return CStatus::Ok();
    }
}
