// SGI LogLuv and LogL strips (compression 34676) as rows of the decoder
// table: each strip is gathered whole and run-length decoded row by row
// (CTiffLogLuvDecoder), the pixels shown as RGB (LogLuv) or grey (LogL)
// bytes.
#pragma once

#include <memory>
#include <vector>

#include "rastik/tiff/CTiffCoderDecoder.h"
#include "rastik/tiff/CTiffLogLuvDecoder.h"

class CTiffSgiLogDecoder : public CTiffCoderDecoder<CTiffLogLuvDecoder> {
public:
    explicit CTiffSgiLogDecoder(const TiffRowShape& shape);

    // False when the photometric interpretation and samples do not agree.
    bool Start(CTiffStripBytes& bytes) override;

private:
    std::vector<uint8_t> m_whole;  // the strip's bytes
};
