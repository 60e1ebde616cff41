// Field access in both byte orders and bit readers in both bit orders, for
// every codec: plain loads and stores of 16- and 32-bit fields, a field reader
// over a span of bytes that never reads past its end, and a bit reader that
// takes codes least or most significant bit first, also bounded by an end.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rastik {

// --- loads and stores; the caller has checked that the bytes are there ---

inline uint16_t GetBE16(const uint8_t* p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

inline uint32_t GetBE32(const uint8_t* p)
{
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

inline uint16_t GetLE16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t GetLE32(const uint8_t* p)
{
    return p[0] | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

inline void PutBE16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

inline void PutBE32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

inline void PutLE16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

inline void PutLE32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

inline void PutLE64(uint8_t* p, uint64_t v)
{
    PutLE32(p, static_cast<uint32_t>(v));
    PutLE32(p + 4, static_cast<uint32_t>(v >> 32));
}

// The byte order a file names (TIFF's "II" or "MM").
inline uint16_t Get16(const uint8_t* p, bool littleEndian)
{
    return littleEndian ? GetLE16(p) : GetBE16(p);
}

inline uint32_t Get32(const uint8_t* p, bool littleEndian)
{
    return littleEndian ? GetLE32(p) : GetBE32(p);
}

inline uint64_t Get64(const uint8_t* p, bool littleEndian)
{
    uint64_t first = Get32(p, littleEndian), second = Get32(p + 4, littleEndian);
    return littleEndian ? first | second << 32 : first << 32 | second;
}

inline void Put16(uint8_t* p, uint16_t v, bool littleEndian)
{
    if (littleEndian)
        PutLE16(p, v);
    else
        PutBE16(p, v);
}

inline void Put32(uint8_t* p, uint32_t v, bool littleEndian)
{
    if (littleEndian)
        PutLE32(p, v);
    else
        PutBE32(p, v);
}

inline void Put64(uint8_t* p, uint64_t v, bool littleEndian)
{
    Put32(p + (littleEndian ? 0 : 4), static_cast<uint32_t>(v), littleEndian);
    Put32(p + (littleEndian ? 4 : 0), static_cast<uint32_t>(v >> 32), littleEndian);
}

// Reads fields from [data, end) in one byte order. A read that would pass
// the end reads nothing, returns false and leaves the reader failed, so a
// parser may read a whole record and test Ok() once.
class CFieldReader {
public:
    CFieldReader(const uint8_t* data, const uint8_t* end, bool littleEndian)
        : m_begin(data), m_at(data), m_end(end), m_little(littleEndian)
    {
    }

    bool U8(uint8_t& v) { return Take(1) ? (v = m_at[-1], true) : false; }
    bool U16(uint16_t& v) { return Take(2) ? (v = Get16(m_at - 2, m_little), true) : false; }
    bool U32(uint32_t& v) { return Take(4) ? (v = Get32(m_at - 4, m_little), true) : false; }
    // Copies n bytes out.
    bool Bytes(uint8_t* out, size_t n)
    {
        if (!Take(n)) return false;
        for (size_t i = 0; i < n; ++i) out[i] = m_at[static_cast<ptrdiff_t>(i) - static_cast<ptrdiff_t>(n)];
        return true;
    }
    bool Skip(size_t n) { return Take(n); }
    // Moves to byte offset from the start of the span.
    bool Seek(size_t offset)
    {
        if (offset > static_cast<size_t>(m_end - m_begin)) return Fail();
        m_at = m_begin + offset;
        return true;
    }

    size_t Offset() const { return static_cast<size_t>(m_at - m_begin); }
    size_t Left() const { return static_cast<size_t>(m_end - m_at); }
    const uint8_t* Position() const { return m_at; }
    bool Ok() const { return m_ok; }

private:
    bool Take(size_t n)
    {
        if (!m_ok || n > Left()) return Fail();
        m_at += n;
        return true;
    }
    bool Fail()
    {
        m_ok = false;
        return false;
    }

    const uint8_t* m_begin;
    const uint8_t* m_at;
    const uint8_t* m_end;
    bool m_little;
    bool m_ok = true;
};

enum class BitOrder {
    LsbFirst,  // GIF LZW: a code's low bit is the lowest unread bit of a byte
    MsbFirst   // TIFF LZW, CCITT: a code's high bit is the highest unread bit
};

// Reads codes of 1 to 24 bits from [data, end) in the given bit order,
// keeping up to 32 bits in hand so a byte is touched once.
template <BitOrder Order>
class CBitReader {
public:
    CBitReader(const uint8_t* data, const uint8_t* end) : m_at(data), m_end(end) {}

    // The next code of n bits (1 to 24). False, and nothing consumed, when
    // the data ends before the code does.
    bool Read(unsigned n, uint32_t& code)
    {
        if (!Fill(n)) return false;
        code = Take(n);
        return true;
    }
    // The next code without consuming it; bits past the end read as 0.
    uint32_t Peek(unsigned n)
    {
        Fill(n);
        if (Order == BitOrder::LsbFirst) return m_bits & Mask(n);
        return static_cast<uint32_t>((static_cast<uint64_t>(m_bits) << 32 >> m_count) >> (32 - n)) & Mask(n);
    }
    // Drops n bits that Peek saw (n no more than are in hand or left).
    void Skip(unsigned n)
    {
        Fill(n);
        Take(n < m_count ? n : m_count);
    }
    // Drops the rest of a partly read byte.
    void AlignToByte() { Take(m_count % 8); }
    // Bits still to be read.
    uint64_t BitsLeft() const { return m_count + 8ull * static_cast<uint64_t>(m_end - m_at); }
    bool AtEnd() const { return BitsLeft() == 0; }
    // Byte position of the next whole byte not yet taken in hand.
    const uint8_t* Position() const { return m_at; }

private:
    static uint32_t Mask(unsigned n) { return n >= 32 ? 0xFFFFFFFFu : (1u << n) - 1u; }

    bool Fill(unsigned n)
    {
        while (m_count <= 24 && m_at < m_end) {
            if (Order == BitOrder::LsbFirst)
                m_bits |= static_cast<uint32_t>(*m_at++) << m_count;
            else
                m_bits = (m_bits << 8) | *m_at++;
            m_count += 8;
        }
        return m_count >= n;
    }
    uint32_t Take(unsigned n)
    {
        uint32_t code;
        if (Order == BitOrder::LsbFirst) {
            code = m_bits & Mask(n);
            m_bits = n >= 32 ? 0 : m_bits >> n;
        } else {
            code = (m_bits >> (m_count - n)) & Mask(n);
        }
        m_count -= n;
        if (Order == BitOrder::MsbFirst) m_bits &= Mask(m_count);
        return code;
    }

    const uint8_t* m_at;
    const uint8_t* m_end;
    uint32_t m_bits = 0;
    unsigned m_count = 0;
};

using CLsbBitReader = CBitReader<BitOrder::LsbFirst>;
using CMsbBitReader = CBitReader<BitOrder::MsbFirst>;

}  // namespace rastik
