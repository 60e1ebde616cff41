// Deflate coder of TIFF strips (compression 8): each strip one zlib stream
// (RFC 1950) of its rows, horizontally differenced first (Predictor 2),
// compressed whole by libdeflate at one fixed level, so that a strip's bytes
// depend on its rows alone.
#pragma once

#include <cstdint>
#include <vector>

#include "rastik/tiff/CTiffStripEncoder.h"

struct libdeflate_compressor;

class CTiffDeflateEncoder : public CTiffStripEncoder {
public:
    // Rows of rowBytes bytes with samples bytes per pixel.
    CTiffDeflateEncoder(uint32_t rowBytes, uint32_t samples);
    ~CTiffDeflateEncoder() override;
    CTiffDeflateEncoder(const CTiffDeflateEncoder&) = delete;
    CTiffDeflateEncoder& operator=(const CTiffDeflateEncoder&) = delete;

    std::unique_ptr<CTiffStripEncoder> Twin() const override;
    bool Reserve(uint32_t rows) override;
    // False when the strip has more rows than reserved.
    bool Encode(const uint8_t* rows, uint32_t rowCount) override;
    const uint8_t* Data() const override { return m_out.data(); }
    uint32_t Length() const override { return m_length; }

private:
    uint32_t m_rowBytes;
    uint32_t m_samples;
    uint32_t m_reservedRows = 0;
    libdeflate_compressor* m_compressor = nullptr;
    std::vector<uint8_t> m_diff;
    std::vector<uint8_t> m_out;
    uint32_t m_length = 0;
};
