// LZW decoding of TIFF strips.
#include "rastik/tiff/CTiffLzwDecoder.h"

#include <algorithm>
#include <cstring>

#include "rastik/tiff/CTiffStripBytes.h"

using namespace tiff::lzw;

CTiffLzwDecoder::CTiffLzwDecoder(const TiffRowShape& shape) : CTiffDecoder(shape)
{
    // Codes below 256 are the bytes themselves.
    for (uint32_t i = 0; i < 256; ++i) m_table[i] = {0, 1, static_cast<uint8_t>(i), static_cast<uint8_t>(i)};
}

void CTiffLzwDecoder::Clear()
{
    m_free = kFirstFree;
    m_width = kFirstWidth;
    m_previous = -1;
}

bool CTiffLzwDecoder::Start(CTiffStripBytes& bytes)
{
    KeepWindow(bytes);
    m_pendingLeft = 0;
    Clear();
    const uint8_t* data = bytes.Begin();
    size_t size = static_cast<size_t>(bytes.End() - data);
    m_oldForm = size >= 2 && data[0] == 0 && (data[1] & 1) != 0;
    if (m_oldForm)
        m_lsb = rastik::CLsbBitReader(data, bytes.End());
    else
        m_msb = rastik::CMsbBitReader(data, bytes.End());
    int32_t first = READBIT(kFirstWidth);
    m_ended = first < 0;
    return m_ended || first == static_cast<int32_t>(kClear);
}

template <class Reader>
bool CTiffLzwDecoder::MoreBits(Reader& reader, int n, uint32_t& code)
{
    return m_bytes->Refill(reader) && reader.Read(static_cast<unsigned>(n), code);
}

int32_t CTiffLzwDecoder::READBIT(int n)
{
    if (!m_bytes || n < 1 || n > 24) return -1;
    uint32_t code = 0;
    bool got = m_oldForm ? (m_lsb.Read(n, code) || MoreBits(m_lsb, n, code))
                         : (m_msb.Read(n, code) || MoreBits(m_msb, n, code));
    return got ? static_cast<int32_t>(code) : -1;
}

uint32_t CTiffLzwDecoder::TakePending(uint8_t* row, uint32_t rowBytes)
{
    uint32_t n = std::min(m_pendingLeft, rowBytes);
    if (n && row) memcpy(row, m_pending + m_pendingAt, n);
    m_pendingAt += n;
    m_pendingLeft -= n;
    return n;
}

// The string of code, the previous string and its first byte when code is
// the next free one, written from its last byte at last back, following
// prefixes.
inline void CTiffLzwDecoder::Spell(uint32_t code, uint32_t previous, bool repeat, uint8_t* last) const
{
    uint32_t c = code;
    if (repeat) {
        *last-- = m_table[previous].first;
        c = previous;
    }
    while (c >= 256) {
        *last-- = m_table[c].last;
        c = m_table[c].prefix;
    }
    *last = static_cast<uint8_t>(c);
}

uint32_t CTiffLzwDecoder::SplitString(uint32_t code, uint32_t previous, bool repeat, uint32_t length, uint8_t* row,
                                      uint32_t pos, uint32_t rowBytes)
{
    uint32_t room = rowBytes - pos;
    Spell(code, previous, repeat, m_pending + length - 1);
    if (row) memcpy(row + pos, m_pending, room);
    m_pendingAt = room;
    m_pendingLeft = length - room;
    return rowBytes;
}

template <class Reader>
void CTiffLzwDecoder::Decode(Reader& reader, uint8_t* row, uint32_t rowBytes)
{
    uint32_t pos = TakePending(row, rowBytes);
    Entry* const table = m_table;
    uint32_t free = m_free;
    int width = m_width;
    int32_t previous = m_previous;
    // The width grows one code early in the current form.
    const uint32_t early = m_oldForm ? 0 : 1;
    const bool ended = m_ended;
    while (!ended && pos < rowBytes) {
        uint32_t code;
        if (!reader.Read(static_cast<unsigned>(width), code) && !MoreBits(reader, width, code)) break;
        if (code == kClear) {
            free = kFirstFree, width = kFirstWidth, previous = -1;
            continue;
        }
        if (previous < 0) {
            // After Clear only a byte may come; it adds no string.
            if (code >= 256) break;
            if (row) row[pos] = static_cast<uint8_t>(code);
            ++pos;
            previous = static_cast<int32_t>(code);
            continue;
        }
        // The end code, or a code beyond the next free one, ends the strip.
        if (code == kEndOfInformation || code > free) break;
        const Entry& before = table[previous];
        bool repeat = code == free;
        uint8_t first = repeat ? before.first : table[code].first;
        uint32_t length = repeat ? before.length + 1u : table[code].length;
        if (length <= rowBytes - pos) {
            if (row) Spell(code, static_cast<uint32_t>(previous), repeat, row + pos + length - 1);
            pos += length;
        } else {
            pos = SplitString(code, static_cast<uint32_t>(previous), repeat, length, row, pos, rowBytes);
        }
        // A full table takes no more strings until the next Clear.
        if (free < kTableSize) {
            table[free] = {static_cast<uint16_t>(previous), static_cast<uint16_t>(before.length + 1), first, before.first};
            if (++free + early == (1u << width) && width < kMaxWidth) ++width;
        }
        previous = static_cast<int32_t>(code);
    }
    // Every way out of the loop before the row is full ends the strip.
    if (pos < rowBytes) m_ended = true;
    m_free = free;
    m_width = width;
    m_previous = previous;
    if (row && pos < rowBytes) memset(row + pos, 0, rowBytes - pos);
}

void CTiffLzwDecoder::ReadLZWTiff(uint8_t* row, uint32_t rowBytes)
{
    if (m_oldForm)
        Decode(m_lsb, row, rowBytes);
    else
        Decode(m_msb, row, rowBytes);
}

uint8_t* CTiffLzwDecoder::DecodeRow(uint8_t* row)
{
    ReadLZWTiff(row, m_rowBytes);
    return row;
}

void CTiffLzwDecoder::SkipRows(uint32_t count, uint8_t*)
{
    for (uint32_t i = 0; i < count; ++i) ReadLZWTiff(nullptr, m_rowBytes);
}
