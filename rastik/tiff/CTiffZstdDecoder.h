// Zstandard strips (compression 50000): each strip is one Zstandard frame,
// decoded by libzstd a row at a time; data after the frame is ignored.
#pragma once

#include "rastik/tiff/CTiffStreamDecoder.h"

struct ZSTD_DCtx_s;

class CTiffZstdDecoder : public CTiffStreamDecoder {
public:
    explicit CTiffZstdDecoder(const TiffRowShape& shape);
    ~CTiffZstdDecoder() override;

protected:
    bool Restart() override;
    Step Decode(const uint8_t*& in, size_t& inLeft, uint8_t*& out, size_t& outLeft) override;

private:
    ZSTD_DCtx_s* m_context = nullptr;
};
