// One piece of a deflate stream compressed on its own, so the pieces of a
// stream can be compressed on different threads: a raw deflate of the
// piece's bytes, primed with the bytes before it (up to the 32 KiB window)
// as its dictionary, ending on a byte boundary (a sync flush) so the next
// piece's output follows it directly, or with the final block for the last
// piece. The Adler-32 of the piece's bytes comes with it; the stream's
// checksum is the pieces' combined in order.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "rastik/support/NonCopyable.h"

class CDeflatePiece : private NonCopyable {
public:
    // The window, and so the most dictionary a piece uses.
    static constexpr size_t kWindow = 32768;

    // level and strategy as zlib takes them.
    CDeflatePiece(int level, int strategy);
    ~CDeflatePiece();

    // Compresses data (size bytes) after dictionary (the stream's bytes just
    // before it; only the last kWindow count). False when zlib fails or
    // memory is short.
    bool Compress(const uint8_t* dictionary, size_t dictionarySize, const uint8_t* data, size_t size, bool last);

    const std::vector<uint8_t>& Output() const { return m_output; }
    uint32_t Adler() const { return m_adler; }
    // The Adler-32 of a stream's bytes followed by a piece of size bytes.
    static uint32_t CombineAdler(uint32_t stream, uint32_t piece, size_t size);

private:
    // deflate over data into m_output until flush is done.
    bool Run(const uint8_t* data, size_t size, int flush);

    int m_level;
    int m_strategy;
    bool m_ready = false;
    z_stream m_zs{};
    std::vector<uint8_t> m_output;
    uint32_t m_adler = 1;
};
