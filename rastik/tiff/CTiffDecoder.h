// The decoder of one TIFF compression: it turns the stored bytes of a strip
// (or of a tile) into rows, one after the other from the strip's first row.
// Rows hold RowBytes() bytes in the file's sample layout: samples
// interleaved (one sample per row for a plane of a planar file), depths
// below 8 bits packed most significant bit first. A predictor, where the
// compression allows one, is undone on the rows afterwards (CTiffPredictor);
// decoders never see it. Which decoder serves which compression code, and
// what the directory may expect of it, is the table in TiffDecoderTable.h.
#pragma once

#include <cstdint>
#include <span>

class CTiffStripBytes;
namespace tiff {
struct TiffColourFields;
}

// The rows a decoder makes: width pixels of samples samples of bits bits,
// at most rows of them in a strip (0: not known), of the file's
// PhotometricInterpretation. options: the compression's options tag
// (T4Options for Group 3 fax data); tables: the tables every strip shares
// (JPEGTables), alive as long as the decoder; colour: the fields beyond
// PhotometricInterpretation (TiffColourFields.h), alive as long too.
struct TiffRowShape {
    uint32_t width = 0;
    uint32_t bits = 8;
    uint32_t samples = 1;
    uint32_t rows = 0;
    uint32_t options = 0;
    uint32_t photometric = 1;
    std::span<const uint8_t> tables{};
    const tiff::TiffColourFields* colour = nullptr;

    uint32_t RowBytes() const
    {
        return static_cast<uint32_t>((static_cast<uint64_t>(width) * bits * samples + 7) / 8);
    }
};

class CTiffDecoder {
public:
    explicit CTiffDecoder(const TiffRowShape& shape) : m_shape(shape), m_rowBytes(shape.RowBytes()) {}
    virtual ~CTiffDecoder() = default;
    CTiffDecoder(const CTiffDecoder&) = delete;
    CTiffDecoder& operator=(const CTiffDecoder&) = delete;

    // Starts on the stored bytes of a strip, a window over the file that
    // the decoder refills as it reads. False when they are not data of this
    // compression: the read then fails.
    virtual bool Start(CTiffStripBytes& bytes) = 0;
    // The next row of the strip: decoded into row (RowBytes() bytes), or
    // where the decoder holds it already; either way writable and valid
    // until the next call. What the strip's data does not cover reads as 0;
    // a row past the strip's data is all 0.
    virtual uint8_t* DecodeRow(uint8_t* row) = 0;
    // Passes over the next count rows of the strip; row is room for one
    // row. By default they are decoded.
    virtual void SkipRows(uint32_t count, uint8_t* row);
    // The next count rows of the strip, one after the other into rows
    // (count x RowBytes() bytes). By default row by row.
    virtual void DecodeRows(uint8_t* rows, uint32_t count);

    uint32_t RowBytes() const { return m_rowBytes; }

    // Depths of decoders that give 8-bit grey or three-sample colour rows
    // only (the table's takes).
    static bool TakesGreyOrColour8(uint32_t bits, uint32_t samples) { return bits == 8 && (samples == 1 || samples == 3); }

protected:
    // For decoders that read the strip as they go: keeps the window Start
    // was given and sets the read position to its first byte.
    void KeepWindow(CTiffStripBytes& bytes);

    TiffRowShape m_shape;
    uint32_t m_rowBytes;
    CTiffStripBytes* m_bytes = nullptr;  // the strip's window, once kept
    const uint8_t* m_at = nullptr;       // the next byte to read in it
};
