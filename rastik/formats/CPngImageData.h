// The image data of a written PNG, compressed on the conversion's worker
// pool. Rows are filtered in order as they come; the filtered stream is cut
// every PieceRows rows (a number fixed by the row size alone, so the file is
// the same whatever the thread count) and each piece is deflated on its own,
// primed with the 32 KiB of stream before it. The pieces' outputs, between
// the zlib header and the stream's Adler-32, make one zlib stream, written
// in IDAT chunks of 64 KiB. Memory: one piece per thread and one filling.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "rastik/formats/CPngRowFilter.h"
#include "rastik/support/CWorkerPool.h"
#include "rastik/support/NonCopyable.h"

class CPngChunkWriter;
struct PngWriteHead;

class CPngImageData : private NonCopyable {
public:
    // pool: null to compress every piece on this thread.
    CPngImageData(CPngChunkWriter& output, const PngWriteHead& head, CWorkerPool* pool);
    // Waits for the pieces still being compressed.
    ~CPngImageData();

    // Takes the buffers; false when memory is short.
    bool Open();
    // Room for the next row, unfiltered (width x channels samples).
    uint8_t* Row() { return m_row.data(); }
    // Takes the row in Row(); false when a piece could not be compressed.
    // File failures throw.
    bool Commit();
    // After the last row: the rest of the stream. False as for Commit.
    bool Finish();

    // Rows of a piece for rows of rowBytes filtered bytes (type byte
    // included): about half a MiB, at least one row.
    static uint32_t PieceRows(uint64_t rowBytes);

private:
    struct Piece;
    // Makes piece k (the next) the one filling, once the piece that held its
    // place is written; false as for Commit.
    bool Begin(uint64_t k);
    void Hand(Piece& piece);
    // Waits for the oldest piece not yet written and writes it.
    bool WriteOldest();
    void Append(const uint8_t* data, size_t size);

    CPngChunkWriter& m_output;
    CWorkerPool* m_pool;
    CPngRowFilter m_filter;
    uint32_t m_height;
    uint32_t m_pieceRows;
    int m_strategy;
    std::vector<uint8_t> m_row, m_prior;
    std::vector<std::unique_ptr<Piece>> m_pieces;  // piece k fills place k % size
    uint64_t m_filling = 0;  // piece now filling
    uint64_t m_written = 0;  // pieces written
    uint32_t m_rows = 0;     // rows taken
    uint32_t m_adler = 1;
    std::vector<uint8_t> m_idat;  // stream bytes not yet in a chunk
};
