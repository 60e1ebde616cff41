// The decoded rows of one TIFF image plane (the interleaved rows, or one
// plane of a file that stores a plane per sample), asked for in ascending
// order: each strip is found at its own offset, strips holding no asked row
// are never read, and a strip is left as soon as the rows asked of it are
// decoded. Uncompressed rows are read many at a time for whole-image reads
// and one at a time, seeking over the others, for reduced reads.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/CFile.h"

class CTiffStripBytes;
class CTiffLzwDecoder;
class CTiffPackBitsDecoder;
class CTiffFaxDecoder;

// What the reader needs to know of a plane's strips.
struct TiffStripPlan {
    uint32_t compression = 1;
    bool differencing = false;  // horizontal differencing (Predictor 2)
    bool reverseBits = false;   // FillOrder 2
    bool littleEndian = true;   // byte order of 16-bit samples
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bits = 8;
    uint32_t samples = 1;       // samples per pixel of a row
    uint32_t rowsPerStrip = 1;
    const uint32_t* offsets = nullptr;
    const uint32_t* counts = nullptr;  // stored bytes of each strip
    uint32_t strips = 0;               // strips the file gives for the plane

    uint32_t RowBytes() const
    {
        return static_cast<uint32_t>((static_cast<uint64_t>(width) * bits * samples + 7) / 8);
    }
};

class CTiffRowReader {
public:
    CTiffRowReader(CFile& file, const TiffStripPlan& plan);
    ~CTiffRowReader();
    CTiffRowReader(const CTiffRowReader&) = delete;
    CTiffRowReader& operator=(const CTiffRowReader&) = delete;

    // Takes the buffers; readAhead: uncompressed rows to read per call.
    // False when memory is short.
    bool Open(uint32_t readAhead);
    // Row r (not below the row asked before): RowBytes() bytes in the
    // file's sample layout. Data the file does not hold reads as 0. Null
    // when the file cannot be read or a strip's LZW data is not LZW.
    const uint8_t* Row(uint32_t r);

private:
    const uint8_t* StoredRow(uint32_t r);
    const uint8_t* DecodedRow(uint32_t r);
    bool StartStrip(uint32_t strip);
    void DecodeRow(uint8_t* row);
    void UndoDifferencing(uint8_t* row) const;

    CFile& m_file;
    TiffStripPlan m_plan;
    uint32_t m_rowBytes;
    uint64_t m_fileLength = 0;

    uint8_t* m_rows = nullptr;  // uncompressed rows, or the decoded row
    uint32_t m_rowsHeld = 0;    // rows m_rows can hold
    uint32_t m_first = 0;       // first row in m_rows
    uint32_t m_count = 0;       // rows in m_rows

    std::unique_ptr<CTiffStripBytes> m_bytes;
    std::unique_ptr<CTiffLzwDecoder> m_lzw;
    std::unique_ptr<CTiffPackBitsDecoder> m_packBits;
    std::unique_ptr<CTiffFaxDecoder> m_fax;
    uint32_t m_strip = 0xFFFFFFFFu;  // strip being decoded
    uint32_t m_next = 0;             // next row its decoder gives
};
