// LZMA strips (compression 34925): each strip is one .xz stream (LZMA2
// and the filters before it), decoded by liblzma a row at a time. The
// stream's checks are not verified, so rows decoded before damage stay.
#pragma once

#include <lzma.h>

#include "rastik/tiff/CTiffStreamDecoder.h"

class CTiffLzmaDecoder : public CTiffStreamDecoder {
public:
    using CTiffStreamDecoder::CTiffStreamDecoder;
    ~CTiffLzmaDecoder() override;

protected:
    bool Restart() override;
    Step Decode(const uint8_t*& in, size_t& inLeft, uint8_t*& out, size_t& outLeft) override;

private:
    lzma_stream m_stream = LZMA_STREAM_INIT;
};
