// Deflate strips: whole strips through libdeflate, the rest through zlib.
#include "rastik/tiff/CTiffDeflateDecoder.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "rastik/support/InflateBound.h"
#include "rastik/tiff/CTiffStripBytes.h"

namespace {

// Strips whose rows take more than this inflate as a stream.
constexpr uint64_t kMostWholeBytes = 16u << 20;

}  // namespace

CTiffDeflateDecoder::CTiffDeflateDecoder(const TiffRowShape& shape) : CTiffDecoder(shape)
{
    m_whole = libdeflate_alloc_decompressor();
}

CTiffDeflateDecoder::~CTiffDeflateDecoder()
{
    if (m_whole) libdeflate_free_decompressor(m_whole);
    if (m_streamReady) inflateEnd(&m_stream);
}

bool CTiffDeflateDecoder::Start(CTiffStripBytes& bytes)
{
    KeepWindow(bytes);
    m_inWhole = false;
    m_pending = WholeRoom() != 0;
    return m_pending || StartStream();
}

uint64_t CTiffDeflateDecoder::WholeRoom() const
{
    uint64_t stored = static_cast<uint64_t>(m_bytes->End() - m_bytes->Begin());
    uint64_t room = static_cast<uint64_t>(m_shape.rows) * m_rowBytes;
    room = std::min(room, rastik::InflateBound(stored));
    if (!m_whole || m_bytes->HasMore() || room > kMostWholeBytes) return 0;
    return room;
}

bool CTiffDeflateDecoder::InflateWhole(uint8_t* out, uint64_t room, uint64_t& made)
{
    const uint64_t stored = static_cast<uint64_t>(m_bytes->End() - m_bytes->Begin());
    size_t in = 0, size = 0;
    libdeflate_result r = libdeflate_zlib_decompress_ex(m_whole, m_bytes->Begin(), stored, out, room, &in, &size);
    // A stream that would make more than the strip's rows, or a damaged
    // one, goes as a stream: that keeps the rows before the fault.
    if (r != LIBDEFLATE_SUCCESS) return false;
    made = size;
    return true;
}

void CTiffDeflateDecoder::Begin()
{
    if (!m_pending) return;
    m_pending = false;
    const uint64_t room = WholeRoom();
    try {
        m_rows.resize(room);
    } catch (const std::bad_alloc&) {
        m_rows.clear();
    }
    m_rowAt = 0;
    m_inWhole = m_rows.size() == room && InflateWhole(m_rows.data(), room, m_decoded);
    if (!m_inWhole && !StartStream()) m_ended = true;
}

void CTiffDeflateDecoder::DecodeRows(uint8_t* rows, uint32_t count)
{
    const uint64_t bytes = static_cast<uint64_t>(count) * m_rowBytes;
    const uint64_t room = m_pending ? std::min(WholeRoom(), bytes) : 0;
    uint64_t made = 0;
    // Fewer rows than the strip's, as at the image's end, inflate whole too
    // when the stream makes no more than them (it is then all the strip
    // holds); a longer one goes through the strip's own rows.
    if (room == 0 || !InflateWhole(rows, room, made)) {
        CTiffDecoder::DecodeRows(rows, count);
        return;
    }
    // Every row of the strip is made: what follows reads as 0.
    memset(rows + made, 0, bytes - made);
    m_pending = false;
    m_inWhole = true;
    m_decoded = m_rowAt = 0;
}

bool CTiffDeflateDecoder::StartStream()
{
    int r = m_streamReady ? inflateReset(&m_stream) : inflateInit(&m_stream);
    if (r != Z_OK) return false;
    m_streamReady = true;
    m_stream.next_in = const_cast<Bytef*>(m_bytes->Begin());
    m_stream.avail_in = static_cast<uInt>(m_bytes->End() - m_bytes->Begin());
    m_ended = false;
    return true;
}

uint8_t* CTiffDeflateDecoder::DecodeRow(uint8_t* row)
{
    Begin();
    if (!m_inWhole) {
        InflateRow(row);
        return row;
    }
    uint64_t have = m_decoded > m_rowAt ? std::min<uint64_t>(m_decoded - m_rowAt, m_rowBytes) : 0;
    if (have == m_rowBytes) {
        uint8_t* held = m_rows.data() + m_rowAt;
        m_rowAt += m_rowBytes;
        return held;
    }
    if (have) memcpy(row, m_rows.data() + m_rowAt, have);
    memset(row + have, 0, m_rowBytes - have);
    m_rowAt += m_rowBytes;
    return row;
}

void CTiffDeflateDecoder::SkipRows(uint32_t count, uint8_t* row)
{
    Begin();
    if (m_inWhole) {
        m_rowAt += static_cast<uint64_t>(count) * m_rowBytes;
        return;
    }
    for (uint32_t i = 0; i < count && !m_ended; ++i) InflateRow(row);
}

void CTiffDeflateDecoder::InflateRow(uint8_t* row)
{
    m_stream.next_out = row;
    m_stream.avail_out = m_rowBytes;
    while (!m_ended && m_stream.avail_out > 0) {
        if (m_stream.avail_in == 0) {
            const uint8_t* keep = m_bytes->End();
            if (!m_bytes->Refill(keep)) break;
            m_stream.next_in = const_cast<Bytef*>(keep);
            m_stream.avail_in = static_cast<uInt>(m_bytes->End() - keep);
        }
        int r = inflate(&m_stream, Z_NO_FLUSH);
        // The end of the stream, or data that cannot go on, ends the strip
        // (a check that does not match comes after the rows it checks);
        // wanting more input refills the window.
        if (r != Z_OK && (r != Z_BUF_ERROR || m_stream.avail_in > 0)) m_ended = true;
    }
    if (m_stream.avail_out) memset(m_stream.next_out, 0, m_stream.avail_out);
}
