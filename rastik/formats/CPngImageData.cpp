// PNG image data in pieces: filtering, the pieces' compression on the pool,
// and the zlib stream they make, written in order.
#include "rastik/formats/CPngImageData.h"

#include <zlib.h>

#include <algorithm>
#include <utility>

#include "rastik/formats/CPngChunkWriter.h"
#include "rastik/support/Allocates.h"
#include "rastik/support/ByteOrder.h"
#include "rastik/support/CDeflatePiece.h"

namespace {

// zlib's default strength.
constexpr int kLevel = 6;
constexpr uint32_t kColorTypePalette = 3;
// Filtered bytes of a piece, about.
constexpr uint64_t kPieceBytes = 512 * 1024;
// Data of an IDAT chunk: a new chunk every 64 KiB of stream.
constexpr size_t kChunkBytes = 65536;
// zlib stream header: deflate with a 32 KiB window (0x78), default
// strength, header check bits making the pair a multiple of 31 (0x9C).
constexpr uint8_t kZlibHeader[2] = {0x78, 0x9C};

}  // namespace

struct CPngImageData::Piece {
    explicit Piece(int strategy) : deflater(kLevel, strategy) {}
    std::vector<uint8_t> dictionary;  // the stream's bytes before the piece
    std::vector<uint8_t> data;        // filtered rows
    size_t size = 0;                  // bytes of data held
    bool last = false;
    bool compressed = false;
    std::shared_ptr<CWorkerPool::CJob> job;  // while on the pool
    CDeflatePiece deflater;
};

CPngImageData::CPngImageData(CPngChunkWriter& output, const PngWriteHead& head, CWorkerPool* pool)
    : m_output(output),
      m_pool(pool),
      m_filter(head.Width, head.Height, head.Channels, head.ColorType == kColorTypePalette),
      m_height(head.Height),
      m_pieceRows(PieceRows(static_cast<uint64_t>(m_filter.RowBytes()) + 1)),
      m_strategy(head.ColorType == kColorTypePalette ? Z_DEFAULT_STRATEGY : Z_FILTERED)
{
}

CPngImageData::~CPngImageData()
{
    for (auto& piece : m_pieces)
        if (piece->job) m_pool->WaitFor(*piece->job, 0);
}

uint32_t CPngImageData::PieceRows(uint64_t rowBytes)
{
    uint64_t rows = rowBytes ? kPieceBytes / rowBytes : 1;
    return static_cast<uint32_t>(std::clamp<uint64_t>(rows, 1, UINT32_MAX));
}

bool CPngImageData::Open()
{
    const size_t places = m_pool ? m_pool->Threads() + 1 : 1;
    const size_t rowBytes = m_filter.RowBytes();
    const size_t pieceBytes = (rowBytes + 1) * std::min(m_pieceRows, m_height);
    const bool held = rastik::Allocates([&] {
        m_row.assign(rowBytes, 0);
        m_prior.assign(rowBytes, 0);
        m_idat.reserve(kChunkBytes);
        for (size_t i = 0; i < places; ++i) {
            m_pieces.push_back(std::make_unique<Piece>(m_strategy));
            m_pieces.back()->data.resize(pieceBytes);
            m_pieces.back()->dictionary.reserve(CDeflatePiece::kWindow);
        }
    });
    return held && Begin(0);
}

bool CPngImageData::Begin(uint64_t k)
{
    const size_t places = m_pieces.size();
    while (m_written + places <= k)
        if (!WriteOldest()) return false;
    Piece& piece = *m_pieces[k % places];
    piece.dictionary.clear();
    if (k > 0) {
        const Piece& before = *m_pieces[(k - 1) % places];
        size_t take = std::min(before.size, CDeflatePiece::kWindow);
        const uint8_t* end = before.data.data() + before.size;
        piece.dictionary.assign(end - take, end);
    }
    piece.size = 0;
    piece.last = false;
    piece.compressed = false;
    m_filling = k;
    return true;
}

bool CPngImageData::Commit()
{
    if (m_pieces.empty() || m_rows >= m_height) return false;
    Piece& piece = *m_pieces[m_filling % m_pieces.size()];
    m_filter.Filter(m_row.data(), m_prior.data(), piece.data.data() + piece.size);
    piece.size += m_filter.RowBytes() + 1;
    std::swap(m_row, m_prior);
    ++m_rows;
    if (m_rows % m_pieceRows != 0 && m_rows != m_height) return true;
    piece.last = m_rows == m_height;
    Hand(piece);
    return piece.last || Begin(m_filling + 1);
}

void CPngImageData::Hand(Piece& piece)
{
    Piece* p = &piece;
    auto compress = [p](uint32_t) {
        p->compressed = p->deflater.Compress(p->dictionary.data(), p->dictionary.size(), p->data.data(), p->size,
                                             p->last);
    };
    if (m_pool)
        piece.job = m_pool->Start(1, compress);
    else
        compress(0);
}

bool CPngImageData::WriteOldest()
{
    Piece& piece = *m_pieces[m_written % m_pieces.size()];
    if (piece.job) {
        // The workers take the pieces in order: rather than wait for the
        // oldest, this thread compresses the newest if none has taken it.
        Piece& newest = *m_pieces[m_filling % m_pieces.size()];
        if (!piece.job->Done(0) && newest.job && &newest != &piece) m_pool->TryRun(*newest.job);
        m_pool->WaitFor(*piece.job, 0);
        piece.job.reset();
    }
    if (!piece.compressed) return false;
    if (m_written == 0) Append(kZlibHeader, sizeof kZlibHeader);
    const std::vector<uint8_t>& out = piece.deflater.Output();
    Append(out.data(), out.size());
    m_adler = CDeflatePiece::CombineAdler(m_adler, piece.deflater.Adler(), piece.size);
    ++m_written;
    if (piece.last) {
        // The stream ends with the Adler-32 of the filtered rows, big-endian.
        uint8_t adler[4];
        rastik::PutBE32(adler, m_adler);
        Append(adler, sizeof adler);
        if (!m_idat.empty()) m_output.WriteChunk("IDAT", m_idat.data(), static_cast<uint32_t>(m_idat.size()));
        m_idat.clear();
    }
    return true;
}

bool CPngImageData::Finish()
{
    if (m_rows != m_height || m_pieces.empty()) return false;
    while (m_written <= m_filling)
        if (!WriteOldest()) return false;
    return true;
}

void CPngImageData::Append(const uint8_t* data, size_t size)
{
    while (size > 0) {
        size_t take = std::min(size, kChunkBytes - m_idat.size());
        m_idat.insert(m_idat.end(), data, data + take);
        data += take;
        size -= take;
        if (m_idat.size() == kChunkBytes) {
            m_output.WriteChunk("IDAT", m_idat.data(), static_cast<uint32_t>(kChunkBytes));
            m_idat.clear();
        }
    }
}
