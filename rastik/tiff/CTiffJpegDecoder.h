// JPEG-compressed TIFF strips and tiles (compression 7) through libjpeg,
// from memory. The JPEGTables stream, when the file has one, is read first
// (an abbreviated stream of tables only); each strip or tile is then an
// abbreviated (or whole) image stream decoded with those tables. Colour
// follows the photometric interpretation, not the stream's markers:
// YCbCr (6) comes out as RGB converted by libjpeg, whatever the
// subsampling; RGB (2) stays RGB; grey (0, 1) one sample; RGB or grey
// with an extra sample (alpha) every component as stored; CMYK (5) four
// samples, turned back to ink values when an Adobe marker says the stream
// holds them inverted. Asked to keep YCbCr, the decoder hands YCbCr
// samples instead, each unit's chroma repeated over its pixels (as libtiff
// takes old-style JPEG data for its own YCbCr conversion; CTiffYCbCrRows
// converts them). libjpeg's errors end the strip (caught, no message
// shown), its warnings are silenced; data that ends early decodes as
// libjpeg pads it.
//
// Rows come out as width x OutputSamples() bytes, interleaved.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

struct TiffJpegState;

class CTiffJpegDecoder {
public:
    CTiffJpegDecoder(uint32_t photometric, uint32_t samplesPerPixel, const uint8_t* tables = nullptr,
                     size_t tablesSize = 0, bool keepYCbCr = false);
    ~CTiffJpegDecoder();
    CTiffJpegDecoder(const CTiffJpegDecoder&) = delete;
    CTiffJpegDecoder& operator=(const CTiffJpegDecoder&) = delete;

    // Whether the photometric and samples are handled and the tables (if
    // any) were read.
    bool Ok() const { return m_ok; }
    uint32_t OutputSamples() const { return m_samples; }

    // Starts a strip or tile on [data, data + size), which must stay alive
    // while rows are decoded. The stream must be width samples wide and at
    // most height rows high (its own height counts). False when it is not.
    bool Start(const uint8_t* data, size_t size, uint32_t width, uint32_t height);
    // Rows of the stream's frame, top down. False (the row zeroed) past its
    // height, after a libjpeg error, or when no strip is started.
    bool DecodeRow(uint8_t* row);
    bool SkipRow();
    // Rows of the started stream's frame.
    uint32_t Rows() const { return m_rows; }

private:
    bool ReadTables(const uint8_t* tables, size_t size);
    bool Decode(uint8_t* row);
    void Abort();

    std::unique_ptr<TiffJpegState> m_state;
    uint32_t m_photometric;
    bool m_keepYCbCr;
    uint32_t m_samples = 0;
    bool m_ok = false;
    bool m_started = false;
    bool m_invert = false;
    uint32_t m_width = 0;
    uint32_t m_rows = 0;
    uint32_t m_next = 0;
};
