// The decoder of a TIFF compression whose strips are one stream of a
// general-purpose compressor, decoded a row at a time: the stream is fed
// from the strip's window as it runs out, and what it does not give (its
// end, or data that cannot go on) reads as 0. A subclass is the
// compressor's decoding step.
#pragma once

#include <cstddef>
#include <cstdint>

#include "rastik/tiff/CTiffDecoder.h"

class CTiffStreamDecoder : public CTiffDecoder {
public:
    using CTiffDecoder::CTiffDecoder;

    // False when the compressor cannot start a stream.
    bool Start(CTiffStripBytes& bytes) override;
    uint8_t* DecodeRow(uint8_t* row) override;

protected:
    enum Step { kGoOn, kEnded };
    // Starts a new stream; false when the compressor cannot.
    virtual bool Restart() = 0;
    // Decodes from [in, in + inLeft) into [out, out + outLeft), moving
    // both on: kEnded at the stream's end or at data that cannot go on.
    // With inLeft 0 it gives only what the compressor holds back.
    virtual Step Decode(const uint8_t*& in, size_t& inLeft, uint8_t*& out, size_t& outLeft) = 0;

private:
    size_t m_inLeft = 0;
    bool m_ended = true;
};
