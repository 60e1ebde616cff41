// Window over the stored bytes of a TIFF strip.
#include "rastik/tiff/CTiffStripBytes.h"

#include <algorithm>
#include <cstring>

#include "rastik/General.h"

namespace {

// Strips up to this size are read with one call; larger ones in windows.
constexpr uint64_t kWindowBytes = 1u << 20;
// Decoders keep a few bytes (a PackBits literal at most) across a refill.
constexpr uint64_t kSmallestWindow = 4096;

struct BitReversal {
    uint8_t table[256];
    constexpr BitReversal() : table()
    {
        for (int i = 0; i < 256; ++i) {
            int r = 0;
            for (int b = 0; b < 8; ++b)
                if (i & (1 << b)) r |= 0x80 >> b;
            table[i] = static_cast<uint8_t>(r);
        }
    }
};
constexpr BitReversal kReversed;

}  // namespace

CTiffStripBytes::CTiffStripBytes(CFile& file, uint64_t fileLength, bool reverseBits)
    : m_file(file), m_fileLength(fileLength), m_reverse(reverseBits)
{
}

CTiffStripBytes::~CTiffStripBytes()
{
    FreeBuffer(&m_own);
}

bool CTiffStripBytes::Reserve(uint64_t largest, uint64_t least)
{
    uint64_t want = std::max(least, std::clamp(largest, kSmallestWindow, kWindowBytes));
    if (want > 0xFFFFFFFFu) return false;
    if (m_own && m_ownCapacity >= want) return true;
    FreeBuffer(&m_own);
    m_buffer = nullptr;
    m_capacity = m_ownCapacity = 0;
    m_own = static_cast<uint8_t*>(AllocBuffer(static_cast<uint32_t>(want), 0, 0));
    if (!m_own) return false;
    m_buffer = m_own;
    m_capacity = m_ownCapacity = static_cast<uint32_t>(want);
    return true;
}

uint32_t CTiffStripBytes::Fetch(uint64_t offset, uint64_t count, uint8_t* out)
{
    uint64_t from = std::min(offset, m_fileLength);
    uint64_t bytes = std::min(offset + count, m_fileLength) - from;
    if (bytes == 0) return 0;
    m_file.Seek(static_cast<int64_t>(from), CFile::begin);
    uint32_t got = m_file.Read(out, static_cast<uint32_t>(bytes));
    if (m_reverse)
        for (uint32_t i = 0; i < got; ++i) out[i] = kReversed.table[out[i]];
    return got;
}

void CTiffStripBytes::StartHeld(uint8_t* bytes, uint32_t count)
{
    m_buffer = bytes;
    m_capacity = count + kHeldSlack;
    m_have = count;
    m_next = m_stop = 0;
}

void CTiffStripBytes::Start(uint64_t offset, uint64_t count)
{
    m_buffer = m_own;
    m_capacity = m_ownCapacity;
    m_have = 0;
    m_next = std::min(offset, m_fileLength);
    m_stop = std::min(offset + count, m_fileLength);
    if (m_stop < m_next) m_stop = m_next;
    ReadMore();
}

void CTiffStripBytes::ReadMore()
{
    uint64_t room = std::min<uint64_t>(m_capacity - m_have, m_stop - m_next);
    if (room == 0) return;
    uint8_t* at = m_buffer + m_have;
    // Other readers may share the file: every read says where it reads.
    m_file.Seek(static_cast<int64_t>(m_next), CFile::begin);
    uint32_t got = m_file.Read(at, static_cast<uint32_t>(room));
    if (m_reverse)
        for (uint32_t i = 0; i < got; ++i) at[i] = kReversed.table[at[i]];
    m_have += got;
    m_next += got;
    // A file that ends early ends the strip there.
    if (got < room) m_stop = m_next;
}

void CTiffStripBytes::Compact(const uint8_t*& keep)
{
    uint32_t kept = static_cast<uint32_t>(End() - keep);
    memmove(m_buffer, keep, kept);
    m_have = kept;
    keep = m_buffer;
    ReadMore();
}

bool CTiffStripBytes::Refill(const uint8_t*& keep)
{
    if (!HasMore()) return false;
    Compact(keep);
    return true;
}

uint8_t* CTiffStripBytes::Take(const uint8_t*& at, uint32_t n)
{
    uint32_t have = static_cast<uint32_t>(End() - at);
    if (have < n) {
        Compact(at);
        have = m_have;
        if (have < n) memset(m_buffer + have, 0, n - have);
    }
    uint8_t* bytes = m_buffer + (at - m_buffer);
    at += std::min(have, n);
    return bytes;
}

void CTiffStripBytes::Skip(const uint8_t*& at, uint64_t n)
{
    uint64_t inWindow = static_cast<uint64_t>(End() - at);
    if (n <= inWindow) {
        at += n;
        return;
    }
    m_next = std::min(m_next + (n - inWindow), m_stop);
    m_have = 0;
    at = m_buffer;
}

void CTiffStripBytes::Gather(std::vector<uint8_t>& whole)
{
    whole.assign(Begin(), End());
    const uint8_t* keep = End();
    while (Refill(keep)) {
        whole.insert(whole.end(), keep, End());
        keep = End();
    }
}
