// CCITT fax decoding of TIFF strips: Modified Huffman rows (compression 2,
// every row on a byte boundary), ITU-T T.4 (compression 3, Group 3) with or
// without end-of-line codes, byte-aligned or not, one-dimensional rows or,
// with T4Options bit 0, rows whose tag bit after the end-of-line code says
// one- or two-dimensional, and ITU-T T.6 (compression 4, Group 4), every
// row two-dimensional against the row above.
//
// Rows come out as packed 1-bit pixels, most significant bit first, white
// runs as 0 bits and black runs as 1 bits, (width + 7) / 8 bytes, the bits
// past the width 0; the photometric interpretation then says which shows as
// white. Bytes of a file whose bits run from the least significant
// (FillOrder 2) must be turned round before they come here (CTiffStripBytes
// does so).
//
// Damaged data never stops a strip with an error: a row that cannot be
// decoded whole keeps the runs decoded before the fault and is white from
// there. Group 3 data then goes on at the next end-of-line code; T.6 data,
// which has none, ends at the fault, and so does any data at its end: the
// rows after it are white. Every row costs work bounded by its width.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class CTiffStripBytes;

class CTiffCcittDecoder {
public:
    enum Coding { kModifiedHuffman, kGroup3, kGroup4 };
    // T4Options bits.
    static constexpr uint32_t kTwoDimensional = 1;
    static constexpr uint32_t kUncompressedMode = 2;
    static constexpr uint32_t kFillBits = 4;
    static constexpr uint32_t kMaxWidth = 1u << 30;

    // t4Options counts for Group 3 only; uncompressed mode (bit 1) is not
    // decoded: a row that uses it ends there as damaged.
    CTiffCcittDecoder(uint32_t width, Coding coding, uint32_t t4Options = 0);

    // Whether the width can be decoded (1 to kMaxWidth).
    bool Ok() const { return m_width > 0 && m_width <= kMaxWidth; }
    uint32_t RowBytes() const { return static_cast<uint32_t>((static_cast<uint64_t>(m_width) + 7) / 8); }

    // Starts a strip on [data, data + size), which must stay alive while
    // rows are decoded.
    void Start(const uint8_t* data, size_t size);
    // Starts a strip on the window of today's strip reader, which is asked
    // for more as the window runs out.
    void Start(CTiffStripBytes& bytes);

    // Decodes the next row into row (RowBytes() bytes). False when the row
    // could not be decoded whole (it then holds what was), also for every
    // row after the strip's data ended.
    bool DecodeRow(uint8_t* row);
    // Passes over the next row (its runs are still decoded: the row below
    // may be coded against it). False as for DecodeRow.
    bool SkipRow();

    // How one run code or one mode code of a lookup table reads.
    struct Code {
        uint16_t value;  // run length, or the mode
        uint8_t bits;    // code length; 0: no code starts so
        uint8_t kind;
    };

private:
    // How a row ended: whole, at an end-of-line code (left unread), at a
    // code no table knows, or at the end of the data.
    enum Status : uint8_t { kWhole, kEol, kInvalid, kEnded };

    bool Decode();
    Status StartRow(bool& twoDimensional);
    Status ReadTag(bool& twoDimensional);
    Status Decode1D();
    Status Decode2D();
    Status Horizontal(int32_t& a0, uint32_t colour);
    Status ReadRun(uint32_t colour, uint32_t& run);
    bool ScanToEol();
    void AddChange(uint32_t at);
    void Grow();
    Status EndRow(Status status, int32_t a0);
    void Render(uint8_t* row) const;

    // Bit reader: m_acc holds the next bits from its top, m_count of them
    // counted; bits below those are the following data or 0. m_count < 0
    // once codes were read past the end of the data.
    void Fill();
    bool MoreBytes();
    uint32_t Peek(unsigned n) const { return static_cast<uint32_t>(m_acc >> (64 - n)); }
    void Consume(unsigned n)
    {
        m_acc <<= n;
        m_count -= static_cast<int>(n);
    }

    uint32_t m_width;
    Coding m_coding;
    uint32_t m_options;

    const uint8_t* m_at = nullptr;
    const uint8_t* m_end = nullptr;
    CTiffStripBytes* m_strip = nullptr;
    uint64_t m_acc = 0;
    int m_count = 0;

    // Changing elements (columns where the colour turns) of the row being
    // decoded and of the row above, in column order (a run of no pixels
    // gives two at one column), each list closed by three entries of the
    // width.
    std::vector<uint32_t> m_current;
    std::vector<uint32_t> m_reference;
    uint32_t m_changes = 0;
    uint32_t m_budget = 0;  // codes the row may still read
    bool m_resync = false;  // Group 3: look for the next end-of-line code
    bool m_dead = true;     // no more rows in the strip's data
};
