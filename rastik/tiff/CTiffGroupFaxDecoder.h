// CCITT Group 3 (compression 3, ITU-T T.4, coded as T4Options says) and
// Group 4 (compression 4, ITU-T T.6) strips as rows of the decoder table:
// the fax code decoder (CTiffCcittDecoder) on the strip's window. A strip
// starts a page of its own: its first row is coded against a white row.
#pragma once

#include "rastik/tiff/CTiffCcittDecoder.h"
#include "rastik/tiff/CTiffCoderDecoder.h"

class CTiffGroupFaxDecoder : public CTiffCoderDecoder<CTiffCcittDecoder> {
public:
    CTiffGroupFaxDecoder(const TiffRowShape& shape, CTiffCcittDecoder::Coding coding);

    // False for a width the fax decoder cannot take.
    // Rows passed over are still decoded: the row below may be coded
    // against them.
    bool Start(CTiffStripBytes& bytes) override;
};

// Group 3 and Group 4 decoders for the table.
class CTiffGroup3Decoder : public CTiffGroupFaxDecoder {
public:
    explicit CTiffGroup3Decoder(const TiffRowShape& shape)
        : CTiffGroupFaxDecoder(shape, CTiffCcittDecoder::kGroup3)
    {
    }
};

class CTiffGroup4Decoder : public CTiffGroupFaxDecoder {
public:
    explicit CTiffGroup4Decoder(const TiffRowShape& shape)
        : CTiffGroupFaxDecoder(shape, CTiffCcittDecoder::kGroup4)
    {
    }
};
