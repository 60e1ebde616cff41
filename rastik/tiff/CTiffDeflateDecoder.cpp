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
    m_bytes = &bytes;
    m_inWhole = InflateWhole();
    return m_inWhole || StartStream();
}

bool CTiffDeflateDecoder::InflateWhole()
{
    uint64_t stored = static_cast<uint64_t>(m_bytes->End() - m_bytes->Begin());
    uint64_t room = static_cast<uint64_t>(m_shape.rows) * m_rowBytes;
    room = std::min(room, rastik::InflateBound(stored));
    if (!m_whole || m_bytes->HasMore() || room == 0 || room > kMostWholeBytes) return false;
    try {
        m_rows.resize(room);
    } catch (const std::bad_alloc&) {
        return false;
    }
    size_t in = 0, out = 0;
    libdeflate_result r = libdeflate_zlib_decompress_ex(m_whole, m_bytes->Begin(), stored, m_rows.data(), room, &in,
                                                        &out);
    // A stream that would make more than the strip's rows, or a damaged
    // one, goes as a stream: that keeps the rows before the fault.
    if (r != LIBDEFLATE_SUCCESS) return false;
    m_decoded = out;
    m_at = 0;
    return true;
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
    if (!m_inWhole) {
        InflateRow(row);
        return row;
    }
    uint64_t have = m_decoded > m_at ? std::min<uint64_t>(m_decoded - m_at, m_rowBytes) : 0;
    if (have == m_rowBytes) {
        uint8_t* held = m_rows.data() + m_at;
        m_at += m_rowBytes;
        return held;
    }
    if (have) memcpy(row, m_rows.data() + m_at, have);
    memset(row + have, 0, m_rowBytes - have);
    m_at += m_rowBytes;
    return row;
}

void CTiffDeflateDecoder::SkipRows(uint32_t count, uint8_t* row)
{
    if (m_inWhole) {
        m_at += static_cast<uint64_t>(count) * m_rowBytes;
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
