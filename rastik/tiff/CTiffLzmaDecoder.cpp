// LZMA strips through liblzma.
#include "rastik/tiff/CTiffLzmaDecoder.h"

namespace {

// Memory the decoder may take for a stream's dictionary: an xz stream
// names its own, up to 1.5 GiB; streams that need more than this (writers
// use 8 MiB by default) end at once.
constexpr uint64_t kMostDecoderMemory = 64u << 20;

}  // namespace

CTiffLzmaDecoder::~CTiffLzmaDecoder()
{
    lzma_end(&m_stream);
}

bool CTiffLzmaDecoder::Restart()
{
    lzma_end(&m_stream);
    m_stream = LZMA_STREAM_INIT;
    return lzma_stream_decoder(&m_stream, kMostDecoderMemory, LZMA_IGNORE_CHECK) == LZMA_OK;
}

CTiffStreamDecoder::Step CTiffLzmaDecoder::Decode(const uint8_t*& in, size_t& inLeft, uint8_t*& out, size_t& outLeft)
{
    m_stream.next_in = in;
    m_stream.avail_in = inLeft;
    m_stream.next_out = out;
    m_stream.avail_out = outLeft;
    lzma_ret r = lzma_code(&m_stream, LZMA_RUN);
    in = m_stream.next_in;
    inLeft = m_stream.avail_in;
    out = m_stream.next_out;
    outLeft = m_stream.avail_out;
    return r == LZMA_OK ? kGoOn : kEnded;
}
