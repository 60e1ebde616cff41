// Decoded rows of a tiled TIFF plane, a band of tiles at a time.
#include "rastik/tiff/CTiffTileReader.h"

#include <cstring>
#include <new>

#include "rastik/support/CPoolScope.h"
#include "rastik/support/CWorkerPool.h"
#include "rastik/tiff/CTiffStripBytes.h"
#include "rastik/tiff/TiffDecoderTable.h"

namespace {

// Stored bytes of the tiles decoded at once on the pool; a tile that stores
// more is decoded on the calling thread through the window.
constexpr uint64_t kMostHeld = 16u << 20;

// Copies bits bits from src (from its first bit) to dst from bit at on,
// most significant bit first.
void CopyBits(const uint8_t* src, uint8_t* dst, uint64_t at, uint64_t bits)
{
    for (uint64_t i = 0; i < bits; ++i, ++at) {
        uint8_t mask = static_cast<uint8_t>(0x80u >> (at & 7));
        if ((src[i >> 3] >> (7 - (i & 7))) & 1)
            dst[at >> 3] |= mask;
        else
            dst[at >> 3] &= static_cast<uint8_t>(~mask);
    }
}

}  // namespace

CTiffTileReader::CTiffTileReader(CFile& file, const TiffTilePlan& plan)
    : m_file(file), m_plan(plan), m_predictor(plan.predictor, plan.shape, plan.littleEndian)
{
}

CTiffTileReader::~CTiffTileReader() = default;

bool CTiffTileReader::Open(uint32_t readAhead, uint32_t)
{
    const TiffDecoderEntry* entry = m_plan.decoder;
    if (!entry || !m_plan.offsets || !m_plan.counts || m_plan.shape.width == 0 || m_plan.shape.rows == 0 ||
        m_plan.width == 0 || m_plan.height == 0)
        return false;
    m_fileLength = m_file.GetLength();
    m_tileRowBytes = m_plan.TileRowBytes();
    m_stride = m_plan.BandStride();
    m_rowsOnly = entry->seeksRows && readAhead < m_plan.height;
    uint64_t largest = 0;
    const uint64_t tiles = static_cast<uint64_t>(m_plan.Across()) * m_plan.Down();
    for (uint64_t i = 0; i < tiles; ++i) largest = std::max<uint64_t>(largest, m_plan.counts[i]);
    uint64_t least = 0;
    if (entry->seeksRows) {
        least = m_tileRowBytes;
        if (m_rowsOnly) largest = m_tileRowBytes;
    }
    try {
        m_band.assign(m_rowsOnly ? m_stride : m_plan.BandBytes(), 0);
        if (!m_plan.Aligned()) m_joined.assign((static_cast<uint64_t>(m_plan.width) * m_plan.shape.bits *
                                                    m_plan.shape.samples + 7) / 8, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    m_bytes = std::make_unique<CTiffStripBytes>(m_file, m_fileLength, m_plan.reverseBits);
    if (!m_bytes->Reserve(largest, least)) return false;
    m_decoder = entry->make(m_plan.shape);
    if (!m_decoder) return false;
    CWorkerPool* pool = CPoolScope::Lent();
    if (pool && pool->Threads() > 1 && m_plan.Across() > 1 && !entry->seeksRows) m_pool = pool;
    return true;
}

const uint8_t* CTiffTileReader::Row(uint32_t r)
{
    if (!m_decoder || r >= m_plan.height) return nullptr;
    try {
        if (r < m_first || r >= m_first + m_rows) {
            uint32_t first = m_rowsOnly ? r : r - r % m_plan.shape.rows;
            uint32_t rows = m_rowsOnly ? 1 : std::min(m_plan.shape.rows, m_plan.height - first);
            m_first = 0xFFFFFFFFu, m_rows = 0;
            if (!(m_pool ? FillOnPool(first, rows) : Fill(first, rows))) return nullptr;
            m_first = first, m_rows = rows;
        }
        const uint8_t* row = m_band.data() + (r - m_first) * m_stride;
        return m_plan.Aligned() ? row : Join(row);
    } catch (const CFileException&) {
        return nullptr;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

bool CTiffTileReader::Fill(uint32_t first, uint32_t rows)
{
    const uint32_t band = first / m_plan.shape.rows, skip = first % m_plan.shape.rows;
    for (uint32_t c = 0; c < m_plan.Across(); ++c) {
        uint32_t tile = band * m_plan.Across() + c;
        m_bytes->Start(m_plan.offsets[tile], m_plan.counts[tile]);
        if (!DecodeTile(*m_decoder, *m_bytes, m_band.data() + static_cast<size_t>(c) * m_tileRowBytes, skip, rows))
            return false;
    }
    return true;
}

uint64_t CTiffTileReader::StoredRoom(uint32_t tile) const
{
    return std::min<uint64_t>(m_plan.counts[tile], m_fileLength) + CTiffStripBytes::kHeldSlack;
}

// The band's tiles are read on this thread a chunk at a time and each chunk
// decoded on the pool; a tile too large for a chunk is decoded here.
bool CTiffTileReader::FillOnPool(uint32_t first, uint32_t rows)
{
    const uint32_t band = first / m_plan.shape.rows, skip = first % m_plan.shape.rows;
    std::vector<Piece> pieces;
    uint64_t held = 0;
    for (uint32_t c = 0; c < m_plan.Across(); ++c) {
        uint32_t tile = band * m_plan.Across() + c;
        uint64_t room = StoredRoom(tile);
        if (room > kMostHeld) {
            m_bytes->Start(m_plan.offsets[tile], m_plan.counts[tile]);
            uint8_t* out = m_band.data() + static_cast<size_t>(c) * m_tileRowBytes;
            if (!DecodeTile(*m_decoder, *m_bytes, out, skip, rows)) return false;
            continue;
        }
        if (held + room > kMostHeld && !DecodePieces(pieces, skip, rows)) return false;
        if (pieces.empty()) held = 0;
        Piece p;
        p.column = c, p.tile = tile, p.at = held;
        pieces.push_back(p);
        held += room;
    }
    return DecodePieces(pieces, skip, rows);
}

// Reads the pieces' stored bytes, decodes them on the pool and empties the
// list; false when a tile is not data of its compression.
bool CTiffTileReader::DecodePieces(std::vector<Piece>& pieces, uint32_t skip, uint32_t rows)
{
    if (pieces.empty()) return true;
    m_stored.resize(pieces.back().at + StoredRoom(pieces.back().tile));
    for (Piece& p : pieces)
        p.bytes = m_bytes->Fetch(m_plan.offsets[p.tile], m_plan.counts[p.tile], m_stored.data() + p.at);
    bool ran = m_pool->Run(static_cast<uint32_t>(pieces.size()), [&](uint32_t i) {
        Piece& p = pieces[i];
        std::unique_ptr<CTiffDecoder> decoder = m_plan.decoder->make(m_plan.shape);
        CTiffStripBytes bytes(m_file, 0, false);
        bytes.StartHeld(m_stored.data() + p.at, p.bytes);
        uint8_t* out = m_band.data() + static_cast<size_t>(p.column) * m_tileRowBytes;
        p.ok = decoder && DecodeTile(*decoder, bytes, out, skip, rows);
    });
    bool ok = ran && std::all_of(pieces.begin(), pieces.end(), [](const Piece& p) { return p.ok; });
    pieces.clear();
    return ok;
}

bool CTiffTileReader::DecodeTile(CTiffDecoder& decoder, CTiffStripBytes& bytes, uint8_t* out, uint32_t skip,
                                 uint32_t rows) const
{
    if (!decoder.Start(bytes)) return false;
    if (skip) decoder.SkipRows(skip, out);
    for (uint32_t r = 0; r < rows; ++r, out += m_stride) {
        uint8_t* row = decoder.DecodeRow(out);
        if (row != out) memcpy(out, row, m_tileRowBytes);
        if (m_predictor.Active()) m_predictor.Undo(out);
    }
    return true;
}

const uint8_t* CTiffTileReader::Join(const uint8_t* row)
{
    const uint64_t pixelBits = static_cast<uint64_t>(m_plan.shape.bits) * m_plan.shape.samples;
    const uint64_t tileBits = pixelBits * m_plan.shape.width;
    for (uint32_t c = 0; c < m_plan.Across(); ++c) {
        uint64_t columns = std::min<uint64_t>(m_plan.shape.width, m_plan.width - static_cast<uint64_t>(c) * m_plan.shape.width);
        CopyBits(row + static_cast<size_t>(c) * m_tileRowBytes, m_joined.data(), c * tileBits, columns * pixelBits);
    }
    return m_joined.data();
}
