// LZW decoding of TIFF strips.
#include "rastik/tiff/CTiffLzwDecoder.h"

#include <algorithm>
#include <cstring>

#include "rastik/tiff/CTiffStripBytes.h"

CTiffLzwDecoder::CTiffLzwDecoder()
{
    // Codes below 256 are the bytes themselves.
    for (uint32_t i = 0; i < 256; ++i) {
        m_prefix[i] = 0;
        m_suffix[i] = static_cast<uint8_t>(i);
        m_first[i] = static_cast<uint8_t>(i);
        m_length[i] = 1;
    }
}

void CTiffLzwDecoder::Clear()
{
    m_free = kFirstFree;
    m_width = 9;
    m_previous = -1;
}

bool CTiffLzwDecoder::Start(CTiffStripBytes& bytes)
{
    m_bytes = &bytes;
    m_pendingLeft = 0;
    Clear();
    const uint8_t* data = bytes.Begin();
    size_t size = static_cast<size_t>(bytes.End() - data);
    m_oldForm = size >= 2 && data[0] == 0 && (data[1] & 1) != 0;
    if (m_oldForm)
        m_lsb = rastik::CLsbBitReader(data, bytes.End());
    else
        m_msb = rastik::CMsbBitReader(data, bytes.End());
    int32_t first = READBIT(9);
    m_ended = first < 0;
    return m_ended || first == static_cast<int32_t>(kClear);
}

template <class Reader>
int32_t CTiffLzwDecoder::Bits(Reader& reader, int n)
{
    uint32_t code;
    if (reader.Read(static_cast<unsigned>(n), code)) return static_cast<int32_t>(code);
    if (!m_bytes->Refill(reader) || !reader.Read(static_cast<unsigned>(n), code)) return -1;
    return static_cast<int32_t>(code);
}

int32_t CTiffLzwDecoder::READBIT(int n)
{
    if (!m_bytes || n < 1 || n > 24) return -1;
    return m_oldForm ? Bits(m_lsb, n) : Bits(m_msb, n);
}

void CTiffLzwDecoder::WriteString(uint32_t code, uint8_t* last) const
{
    while (code >= 256) {
        *last-- = m_suffix[code];
        code = m_prefix[code];
    }
    *last = static_cast<uint8_t>(code);
}

void CTiffLzwDecoder::AddEntry(uint8_t byte)
{
    // A full table takes no more entries until the next Clear.
    if (m_free >= kTableSize) return;
    uint32_t prev = static_cast<uint32_t>(m_previous);
    m_prefix[m_free] = static_cast<uint16_t>(prev);
    m_suffix[m_free] = byte;
    m_first[m_free] = m_first[prev];
    m_length[m_free] = static_cast<uint16_t>(m_length[prev] + 1);
    ++m_free;
    uint32_t early = m_oldForm ? 0 : 1;
    if (m_width < 12 && m_free + early == (1u << m_width)) ++m_width;
}

template <class Reader>
void CTiffLzwDecoder::Decode(Reader& reader, uint8_t* row, uint32_t rowBytes)
{
    uint32_t filled = 0;
    while (filled < rowBytes) {
        if (m_pendingLeft) {
            uint32_t n = std::min(m_pendingLeft, rowBytes - filled);
            memcpy(row + filled, m_pending + m_pendingAt, n);
            m_pendingAt += n;
            m_pendingLeft -= n;
            filled += n;
            continue;
        }
        if (m_ended) break;
        int32_t c = Bits(reader, m_width);
        if (c == static_cast<int32_t>(kClear)) {
            Clear();
            continue;
        }
        uint32_t code = static_cast<uint32_t>(c);
        // The end code, the end of the data, a code after Clear that is no
        // byte, or a code beyond the next free one end the strip.
        if (c < 0 || code == kEnd || (m_previous < 0 && code >= 256) || code > m_free ||
            (code == m_free && m_previous < 0)) {
            m_ended = true;
            break;
        }
        bool repeat = code == m_free;
        uint32_t prev = static_cast<uint32_t>(m_previous);
        uint32_t length = repeat ? m_length[prev] + 1u : m_length[code];
        uint8_t first = repeat ? m_first[prev] : m_first[code];
        uint32_t room = rowBytes - filled;
        uint8_t* out = length <= room ? row + filled : m_pending;
        if (repeat) {
            WriteString(prev, out + length - 2);
            out[length - 1] = first;
        } else {
            WriteString(code, out + length - 1);
        }
        if (length <= room) {
            filled += length;
        } else {
            memcpy(row + filled, m_pending, room);
            filled += room;
            m_pendingAt = room;
            m_pendingLeft = length - room;
        }
        if (m_previous >= 0) AddEntry(first);
        m_previous = static_cast<int32_t>(code);
    }
    if (filled < rowBytes) memset(row + filled, 0, rowBytes - filled);
}

void CTiffLzwDecoder::ReadLZWTiff(uint8_t* row, uint32_t rowBytes)
{
    if (m_oldForm)
        Decode(m_lsb, row, rowBytes);
    else
        Decode(m_msb, row, rowBytes);
}
