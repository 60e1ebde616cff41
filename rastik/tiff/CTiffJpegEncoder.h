// JPEG coder of TIFF strips (compression 7) through the library's own DCT
// encoder. Every strip is an abbreviated baseline stream of its rows (start
// of image, frame, scan, end of image); the quantisation and Huffman tables
// they share stand once in the JPEGTables stream of the directory (start of
// image, the table segments, end of image). RGB rows are stored as YCbCr
// with the chrominance sampled 2 x 2; other rows keep their samples as they
// are, each a component of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "rastik/tiff/CTiffStripEncoder.h"

class CTiffJpegEncoder : public CTiffStripEncoder {
public:
    // Rows of width pixels of samples (1 to 4) 8-bit samples; ycc for three
    // RGB samples stored as YCbCr; quality 0..100 (more is taken as 100).
    CTiffJpegEncoder(uint32_t width, uint32_t samples, bool ycc, uint32_t quality);
    ~CTiffJpegEncoder() override;
    CTiffJpegEncoder(const CTiffJpegEncoder&) = delete;
    CTiffJpegEncoder& operator=(const CTiffJpegEncoder&) = delete;

    // Whether rows of width pixels of samples samples can be coded.
    static bool Takes(uint32_t width, uint32_t samples);

    std::unique_ptr<CTiffStripEncoder> Twin() const override;
    // The MCU height: 16 for YCbCr, else 8.
    uint32_t RowUnit() const override;
    bool Reserve(uint32_t rows) override;
    bool Encode(const uint8_t* rows, uint32_t rowCount) override;
    const uint8_t* Data() const override { return m_strip.data(); }
    uint32_t Length() const override { return static_cast<uint32_t>(m_strip.size()); }

    // The tables stream every strip refers to; false when it cannot be made.
    bool MakeTables(std::vector<uint8_t>& tables);

private:
    class Filter;

    // The rows of m_planar as one complete stream into m_stream.
    bool EncodeStream(uint32_t rows);
    // Splits m_stream: the frame and the scan into strip, the table
    // segments into tables (either may be null); false for a stream not
    // laid out as the encoder writes it.
    bool SplitStream(std::vector<uint8_t>* strip, std::vector<uint8_t>* tables) const;

    uint32_t m_width;
    uint32_t m_samples;
    bool m_ycc;
    uint32_t m_quality;
    uint32_t m_reservedRows = 0;
    std::unique_ptr<Filter> m_filter;
    std::vector<uint8_t> m_planar;
    std::vector<uint8_t> m_stream;
    std::vector<uint8_t> m_strip;
};
