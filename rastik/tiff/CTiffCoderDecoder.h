// A TIFF decoder whose rows come from a row coder of its own (the fax code
// decoder, the LogLuv decoder, the JPEG decoder): a row is decoded into the
// row it is given and passed over by the coder, which steps over a row as
// cheaply as its data allows. A subclass builds the coder from the strip's
// row shape and starts it on each strip.
#pragma once

#include <utility>

#include "rastik/tiff/CTiffDecoder.h"

template <class Coder>
class CTiffCoderDecoder : public CTiffDecoder {
public:
    uint8_t* DecodeRow(uint8_t* row) override
    {
        m_coder.DecodeRow(row);
        return row;
    }
    void SkipRows(uint32_t count, uint8_t*) override
    {
        for (uint32_t i = 0; i < count; ++i) m_coder.SkipRow();
    }

protected:
    template <class... CoderArgs>
    explicit CTiffCoderDecoder(const TiffRowShape& shape, CoderArgs&&... args)
        : CTiffDecoder(shape), m_coder(std::forward<CoderArgs>(args)...)
    {
    }

    Coder m_coder;
};
