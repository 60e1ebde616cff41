// Zstandard strips through libzstd.
#include "rastik/tiff/CTiffZstdDecoder.h"

#include <zstd.h>

namespace {

// A frame names the window it needs; frames that need more than 2^26
// bytes (writers' levels use 2^19 to 2^23) end at once.
constexpr int kMostWindowLog = 26;

}  // namespace

CTiffZstdDecoder::CTiffZstdDecoder(const TiffRowShape& shape) : CTiffStreamDecoder(shape)
{
    m_context = ZSTD_createDCtx();
    if (m_context) ZSTD_DCtx_setParameter(m_context, ZSTD_d_windowLogMax, kMostWindowLog);
}

CTiffZstdDecoder::~CTiffZstdDecoder()
{
    ZSTD_freeDCtx(m_context);
}

bool CTiffZstdDecoder::Restart()
{
    return m_context && !ZSTD_isError(ZSTD_DCtx_reset(m_context, ZSTD_reset_session_only));
}

CTiffStreamDecoder::Step CTiffZstdDecoder::Decode(const uint8_t*& in, size_t& inLeft, uint8_t*& out, size_t& outLeft)
{
    ZSTD_inBuffer input = {in, inLeft, 0};
    ZSTD_outBuffer output = {out, outLeft, 0};
    size_t r = ZSTD_decompressStream(m_context, &output, &input);
    in += input.pos;
    inLeft -= input.pos;
    out += output.pos;
    outLeft -= output.pos;
    // 0: the frame is whole.
    return ZSTD_isError(r) || r == 0 ? kEnded : kGoOn;
}
