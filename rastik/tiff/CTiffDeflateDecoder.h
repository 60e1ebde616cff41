// Deflate decoding of TIFF strips (compression 8, and 32946 of older
// writers): each strip is one zlib stream (RFC 1950: a 2-byte header,
// Deflate blocks, an Adler-32 check) of the strip's rows. Bytes after the
// end of the stream are ignored, and so is the check.
//
// A strip held whole in the window, of rows whose total size is known and
// bounded, is inflated in one call when its first rows are asked for:
// straight into the rows asked for when they are all of the strip's, else
// into a buffer of the strip's rows. The rest, and strips whose data is
// damaged, are inflated as a stream a row at a time, so a damaged strip
// keeps the rows that decode before the fault. Either way no more than the
// strip's rows are made.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <vector>

#include "platform/LargeBlock.h"
#include "rastik/tiff/CTiffDecoder.h"

struct libdeflate_decompressor;

class CTiffDeflateDecoder : public CTiffDecoder {
public:
    explicit CTiffDeflateDecoder(const TiffRowShape& shape);
    ~CTiffDeflateDecoder() override;

    bool Start(CTiffStripBytes& bytes) override;
    uint8_t* DecodeRow(uint8_t* row) override;
    void SkipRows(uint32_t count, uint8_t* row) override;
    void DecodeRows(uint8_t* rows, uint32_t count) override;

private:
    // Bytes of rows a strip held whole inflates into at most: 0 when it
    // must go as a stream.
    uint64_t WholeRoom() const;
    // The whole strip in one call into out (room bytes; the rest of them 0):
    // the bytes made, or false when it must go as a stream.
    bool InflateWhole(uint8_t* out, uint64_t room, uint64_t& made);
    // Inflates the strip held whole, when it has not been, into m_rows,
    // or starts the stream.
    void Begin();
    bool StartStream();
    // The next rowBytes of the stream into row; the rest 0 once it ends.
    void InflateRow(uint8_t* row);

    libdeflate_decompressor* m_whole = nullptr;
    LargeVector<uint8_t> m_rows;  // the strip's rows, inflated whole
    uint64_t m_decoded = 0;       // bytes of m_rows the stream gave
    uint64_t m_rowAt = 0;           // next row's place in m_rows
    bool m_inWhole = false;
    bool m_pending = false;       // a strip held whole, not inflated yet

    z_stream m_stream{};
    bool m_streamReady = false;  // m_stream initialised
    bool m_ended = true;         // the stream gives no more bytes
};
