// SGI LogLuv and LogL strips (compression 34676) as rows of the decoder
// table: each strip is gathered whole and run-length decoded row by row
// (CTiffLogLuvDecoder), the pixels shown as RGB (LogLuv) or grey (LogL)
// bytes.
#pragma once

#include <memory>
#include <vector>

#include "rastik/tiff/CTiffDecoder.h"
#include "rastik/tiff/CTiffLogLuvDecoder.h"

class CTiffSgiLogDecoder : public CTiffDecoder {
public:
    explicit CTiffSgiLogDecoder(const TiffRowShape& shape);

    // Rows of 8-bit bytes: three a pixel (LogLuv) or one (LogL).
    static bool Takes(uint32_t bits, uint32_t samples) { return bits == 8 && (samples == 1 || samples == 3); }

    // False when the photometric interpretation and samples do not agree.
    bool Start(CTiffStripBytes& bytes) override;
    uint8_t* DecodeRow(uint8_t* row) override;
    void SkipRows(uint32_t count, uint8_t* row) override;

private:
    CTiffLogLuvDecoder m_log;
    std::vector<uint8_t> m_whole;  // the strip's bytes
};
