// Pieces of a deflate stream through zlib: raw deflate (no zlib header or
// checksum of its own) with a 32 KiB window and zlib's default memory.
#include "rastik/support/CDeflatePiece.h"

#include <climits>
#include <new>

namespace {

constexpr int kRawWindowBits = -15;
constexpr int kMemLevel = 8;

}  // namespace

CDeflatePiece::CDeflatePiece(int level, int strategy) : m_level(level), m_strategy(strategy) {}

CDeflatePiece::~CDeflatePiece()
{
    if (m_ready) deflateEnd(&m_zs);
}

bool CDeflatePiece::Compress(const uint8_t* dictionary, size_t dictionarySize, const uint8_t* data, size_t size,
                             bool last)
{
    if (!m_ready) {
        if (deflateInit2(&m_zs, m_level, Z_DEFLATED, kRawWindowBits, kMemLevel, m_strategy) != Z_OK) return false;
        m_ready = true;
    } else if (deflateReset(&m_zs) != Z_OK) {
        return false;
    }
    if (dictionarySize > kWindow) {
        dictionary += dictionarySize - kWindow;
        dictionarySize = kWindow;
    }
    if (dictionarySize > 0 && deflateSetDictionary(&m_zs, dictionary, static_cast<uInt>(dictionarySize)) != Z_OK)
        return false;
    m_output.clear();
    m_adler = 1;
    // zlib counts in 32 bits: a large piece goes in slices.
    constexpr size_t kSlice = size_t{1} << 30;
    for (size_t at = 0; at < size || at == 0; at += kSlice) {
        size_t n = size - at < kSlice ? size - at : kSlice;
        bool end = at + n >= size;
        m_adler = static_cast<uint32_t>(adler32(m_adler, data + at, static_cast<uInt>(n)));
        if (!Run(data + at, n, end ? (last ? Z_FINISH : Z_SYNC_FLUSH) : Z_NO_FLUSH)) return false;
        if (end) break;
    }
    return true;
}

bool CDeflatePiece::Run(const uint8_t* data, size_t size, int flush)
{
    m_zs.next_in = const_cast<Bytef*>(data);
    m_zs.avail_in = static_cast<uInt>(size);
    try {
        if (m_output.capacity() == 0) m_output.reserve(deflateBound(&m_zs, static_cast<uLong>(size)) + 64);
        for (;;) {
            size_t used = m_output.size();
            size_t room = m_output.capacity() > used ? m_output.capacity() - used : 0;
            if (room < 64) room = used < 4096 ? 4096 : used;
            if (room > UINT_MAX) room = UINT_MAX;
            m_output.resize(used + room);
            m_zs.next_out = m_output.data() + used;
            m_zs.avail_out = static_cast<uInt>(room);
            int rc = deflate(&m_zs, flush);
            m_output.resize(used + room - m_zs.avail_out);
            if (rc == Z_STREAM_END) return true;
            if (rc != Z_OK && rc != Z_BUF_ERROR) return false;
            // Done when zlib took every byte and left room behind it.
            if (flush != Z_FINISH && m_zs.avail_in == 0 && m_zs.avail_out > 0) return true;
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
}

uint32_t CDeflatePiece::CombineAdler(uint32_t stream, uint32_t piece, size_t size)
{
    return static_cast<uint32_t>(adler32_combine(stream, piece, static_cast<z_off_t>(size)));
}
