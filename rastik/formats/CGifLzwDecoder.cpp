// GIF LZW decoding into pixel indexes.
#include "rastik/formats/CGifLzwDecoder.h"

#include <cstring>

bool CGifLzwDecoder::Start(uint32_t minCodeSize, Source* source)
{
    if (!source || minCodeSize < kMinCodeSizeLow || minCodeSize > kMinCodeSizeHigh) return false;
    m_source = source;
    m_bufferLength = 0;
    m_bits = rastik::CLsbBitReader(m_buffer, m_buffer);
    m_dataEnded = false;
    m_minCodeSize = minCodeSize;
    m_clear = 1u << minCodeSize;
    m_endCode = m_clear + 1;
    m_ended = false;
    m_failed = false;
    m_pendingAt = m_pendingEnd = 0;
    // Root codes stand for themselves.
    for (uint32_t i = 0; i < m_clear; ++i) {
        m_prefix[i] = kNoCode;
        m_suffix[i] = static_cast<uint8_t>(i);
        m_first[i] = static_cast<uint8_t>(i);
        m_length[i] = 1;
    }
    ResetTable();
    return true;
}

void CGifLzwDecoder::ResetTable()
{
    m_width = m_minCodeSize + 1;
    m_next = m_clear + 2;
    m_previous = kNoCode;
}

bool CGifLzwDecoder::Refill()
{
    if (m_dataEnded) return false;
    // Bytes already taken whole are dropped; a partly read byte stays, and
    // the new reader passes over the bits of it that were read.
    uint64_t consumed = 8ull * m_bufferLength - m_bits.BitsLeft();
    uint32_t from = static_cast<uint32_t>(consumed / 8);
    memmove(m_buffer, m_buffer + from, m_bufferLength - from);
    m_bufferLength -= from;
    uint32_t got = m_source->More(m_buffer + m_bufferLength, kBufferBytes - m_bufferLength);
    if (got == 0) {
        m_dataEnded = true;
    } else {
        m_bufferLength += got;
    }
    m_bits = rastik::CLsbBitReader(m_buffer, m_buffer + m_bufferLength);
    m_bits.Skip(static_cast<unsigned>(consumed % 8));
    return got != 0;
}

uint32_t CGifLzwDecoder::NextCode()
{
    uint32_t code = 0;
    while (!m_bits.Read(m_width, code)) {
        if (!Refill()) {
            code = m_bits.Peek(m_width);
            m_bits.Skip(m_width);
            m_ended = true;
            return code;
        }
    }
    return code;
}

bool CGifLzwDecoder::Code(uint32_t code, uint8_t* out, uint32_t room, uint32_t* written)
{
    *written = 0;
    if (code == m_clear) {
        ResetTable();
        return true;
    }
    if (code == m_endCode) {
        m_ended = true;
        return true;
    }
    if (code > m_next || (code == m_next && m_previous == kNoCode)) return false;
    // The previous string plus the first pixel of this one becomes the next
    // entry; for the code being defined that pixel is the previous string's
    // first, and the entry made is the code itself.
    if (m_previous != kNoCode && m_next < kMaxCodes) {
        m_prefix[m_next] = static_cast<uint16_t>(m_previous);
        m_suffix[m_next] = code == m_next ? m_first[m_previous] : m_first[code];
        m_first[m_next] = m_first[m_previous];
        m_length[m_next] = static_cast<uint16_t>(m_length[m_previous] + 1);
        ++m_next;
    }
    if (m_next >= (1u << m_width) && m_width < kMaxWidth) ++m_width;
    m_previous = code;

    // The string is written from its last pixel back along the prefixes.
    uint32_t length = m_length[code];
    uint8_t* at = length <= room ? out : m_pending;
    uint8_t* p = at + length;
    for (uint32_t c = code, i = 0; i < length; ++i) {
        *--p = m_suffix[c];
        c = m_prefix[c];
    }
    if (at == out) {
        *written = length;
    } else {
        memcpy(out, m_pending, room);
        *written = room;
        m_pendingAt = room;
        m_pendingEnd = length;
    }
    return true;
}

bool CGifLzwDecoder::Pixels(uint8_t* out, uint32_t count)
{
    if (m_failed) return false;
    uint32_t done = 0;
    if (m_pendingAt < m_pendingEnd) {
        uint32_t n = m_pendingEnd - m_pendingAt < count ? m_pendingEnd - m_pendingAt : count;
        memcpy(out, m_pending + m_pendingAt, n);
        m_pendingAt += n;
        done = n;
    }
    while (done < count) {
        if (m_ended) {
            memset(out + done, 0, count - done);
            return true;
        }
        uint32_t written = 0;
        if (!Code(NextCode(), out + done, count - done, &written)) {
            m_failed = true;
            return false;
        }
        done += written;
    }
    return true;
}
