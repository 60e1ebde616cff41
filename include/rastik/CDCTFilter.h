// The library's own baseline JPEG encoder: turns bands of planar 8-bit
// samples (up to four components) into one interleaved, Huffman-coded
// sequential scan with a JFIF header, an optional Photoshop preview resource
// and an Adobe segment, written through the encoded-data stream.
#pragma once

#include <array>
#include <cstdint>

#include "rastik/CCodecFilter.h"
#include "rastik/DCTINFO.h"
#include "rastik/RastikApi.h"

class RASTIK_API CDCTFilter : public CCodecFilter {
    friend struct DctCoder;

public:
    static constexpr uint32_t kWorkAreaBytes = 4096;  // four areas of 256 int32 samples
    static constexpr uint32_t kFailure = 0xFFFFFFFFu;
    static constexpr uint32_t kBadBand = 0xFFFFFFFEu;

    CDCTFilter();
    CDCTFilter(const CDCTFilter& other);
    CDCTFilter& operator=(const CDCTFilter& other);
    ~CDCTFilter() override;

    // Starts an image on the given stream: writes the whole header into the
    // output buffer and returns the byte size of one band (width x MCU height
    // x components), or 0xFFFFFFFF.
    uint32_t Encode_Header(int stream, const DCTINFO* info) override;
    // Encodes a band: component c's rows follow component c-1's, width bytes
    // per row, a band of r rows holding component c at c x r x width. Bands
    // are MCU-height rows except the last. Returns the rows still to encode,
    // 0xFFFFFFFE for a malformed byte count, 0xFFFFFFFF for too many rows or a
    // failed MCU (the image is then abandoned).
    uint32_t Encoder(const uint8_t* band, int count) override;
    // Writes the tail of the scan and the end-of-image marker and flushes:
    // 0, or 0xFFFFFFFF when rows are missing or a write failed.
    uint32_t Encode_EOD() override;
    // Moves the whole bytes of the bit accumulator into the buffer and writes
    // the buffer to the stream: 0 or 0xFFFFFFFF.
    uint32_t FlushEncodeData() override;

    uint32_t GetMcuWidth() const { return m_dwMcuWidth; }
    uint32_t GetMcuHeight() const { return m_dwMcuHeight; }
    uint32_t GetMcusPerRow() const { return m_dwMcusPerRow; }
    uint32_t GetRowsToEncode() const { return m_dwHeight; }

    // Zig-zag position to natural position; entries 64..79 are 63 so that a
    // run carried past the end still lands inside the block.
    static const uint32_t ZigZagToNormal[80];
    // Scale factors of the fast forward DCT in natural order, 16384 x s(u) x s(v).
    static const uint32_t COSINEXY[64];
    // Number of significant bits of v, for v in 0..2047, made when the library
    // is built (constant data, shared by every thread); dwSizeIsInitial says
    // it is ready and is always 1.
    static const std::array<uint32_t, 2048> CSizeZZ;
    static const uint32_t dwSizeIsInitial;
    // Built-in quantisation tables (zig-zag order): 0 luminance, 1 chrominance
    // for the 8 x 8 MCU, 2 chrominance for the 16 x 16 MCU.
    static const uint8_t Default_Quant_Table[3][64];
    // Built-in Huffman tables: 16 code-length counts, then the symbols. Set A
    // (quantisation scale 0.25 or more) is tables 0 and 1, set B tables 2 and 3.
    static const uint8_t Default_Huff_DC_Table[4][16 + 12];
    static const uint8_t Default_Huff_AC_Table[4][16 + 162];

protected:
    // One encoder code-table entry: the Huffman code shifted left by the
    // symbol's number of extra bits, and the code length plus that number.
    struct HuffCode {
        int32_t code;
        int32_t length;
    };
    using McuRoutine = uint32_t (CDCTFilter::*)();

    // Checks the parameters of DCTINFO and chooses layout, selectors and the
    // tables to write; each list holds up to four tables and a null entry.
    // 0, or 0x80000002 for a bad parameter.
    uint32_t Correct_Parameter(const DCTINFO* info, const uint8_t** quantTables,
                               const uint8_t** dcTables, const uint8_t** acTables);
    // Builds the encoder code table of a DHT table (counts and symbols) for
    // destination 0..3 (DC) or 16..19 (AC): 0, or 0x80000001 when the table
    // cannot be allocated or is not a valid code.
    uint32_t Create_Huffman_Table(const uint8_t* table, uint32_t destination);
    // Quantises and codes the block at m_pBlock as a block of component c.
    void Encode_Unit(uint32_t component);
    void ENCODE_DC(int32_t difference);
    void ENCODE_AC(uint32_t run, int32_t value);
    // Appends the low count bits of bits (count 1..31) to the scan.
    void WriteBit(uint32_t bits, uint32_t count);
    // Header bytes: stored as they are, without stuffing or limit check.
    void Write_8_Bit(uint32_t value);
    void Write_16_Bit(uint32_t value);
    void Write_Stream(const uint8_t* bytes, uint32_t length);
    // Forward DCT in place on 64 samples in natural order.
    void Fast_FDCT(int32_t* block);
    uint32_t Encode_NoTransform_MCU1111();
    uint32_t Encode_NoTransform_MCU4114();
    uint32_t Encode_Transform_MCU1111();
    uint32_t Encode_Transform_MCU4114();
    // Frees the eight encoder code tables.
    void Free_Memory();

    int32_t* ComponentArea(uint32_t component) { return m_pWorkArea + 256 * component; }

    // --- image and layout ---
    uint32_t m_dwWidth = 0;
    uint32_t m_dwHeight = 0;  // rows still to encode
    uint32_t m_dwComponents = 0;
    uint32_t m_dwHSampling[4] = {};
    uint32_t m_dwVSampling[4] = {};
    uint32_t m_dwQuantSelector[4] = {};
    uint32_t m_dwDCSelector[4] = {};
    uint32_t m_dwACSelector[4] = {};
    // Divisors of the four quantisation tables, indexed by zig-zag position.
    int32_t m_QuantTable[4][64] = {};
    // The same divisors in natural order, for finding the non-zero values of
    // a block without walking it in zig-zag order.
    int32_t m_QuantNatural[4][64] = {};
    // Multipliers and shifts that divide by the divisors exactly (zig-zag order).
    uint32_t m_QuantMultiplier[4][64] = {};
    uint8_t m_QuantShift[4][64] = {};
    int32_t m_nTransform = 0;
    int32_t m_nDensityUnit = 1;
    uint32_t m_dwXDensity = 0;
    uint32_t m_dwYDensity = 0;
    double m_dQuantScale = 0.0;
    uint32_t m_dwMcuWidth = 8;
    uint32_t m_dwMcuHeight = 8;
    uint32_t m_dwMcusPerRow = 0;

    // --- current band ---
    uint32_t m_dwMcuColumn = 0;  // pixels
    uint32_t m_dwMcuRow = 0;     // rows
    uint32_t m_dwBandRows = 0;
    const uint8_t* m_pPlane[4] = {};

    // --- coding state ---
    int32_t* m_pWorkArea = nullptr;  // kWorkAreaBytes, owned
    int32_t m_Block[64] = {};
    int32_t* m_pBlock = m_Block;
    int32_t m_DCPredictor[4] = {};
    const int32_t* m_pCurQuant = nullptr;
    const HuffCode* m_pCurDC = nullptr;
    const HuffCode* m_pCurAC = nullptr;
    uint32_t m_dwBitBuffer = 0;    // filled from its top
    uint32_t m_dwFreeBits = 32;    // bits still free in m_dwBitBuffer
    HuffCode* m_pDCCode[4] = {};   // 16 entries each, owned
    HuffCode* m_pACCode[4] = {};   // 256 entries each, owned
    McuRoutine m_pMcuRoutine = &CDCTFilter::Encode_NoTransform_MCU1111;
    // Set when a buffer flush inside the scan wrote short; reported by Encode_EOD.
    bool m_bWriteFailed = false;
    // Set when a block needed a symbol its Huffman table has no code for.
    bool m_bMissingCode = false;

private:
    void CopyFrom(const CDCTFilter& other);
    uint32_t FailHeader();
    uint32_t ChooseLayout(const DCTINFO* info);
    uint32_t ChooseQuantTables(const DCTINFO* info, const uint8_t** quantTables);
    uint32_t ChooseHuffTables(const DCTINFO* info, const uint8_t** dcTables, const uint8_t** acTables);
    uint32_t HeaderTailBytes(const uint8_t* const* quantTables, const uint8_t* const* dcTables,
                             const uint8_t* const* acTables) const;
    void WriteJfifSegment();
    bool WritePreviewSegment(const DCTINFO* info, uint32_t tailBytes);
    void WriteAdobeSegment();
    void WriteQuantSegment(const uint8_t* const* quantTables);
    bool WriteHuffSegment(const uint8_t* const* dcTables, const uint8_t* const* acTables);
    void WriteFrameSegment();
    void WriteScanSegment();
    void StartScan();
    // Writes out the buffer so the bit writer has room; a short write is
    // remembered and the buffer emptied, so the scan goes on within bounds.
    void FlushForRoom();
    // Stores the whole bytes of the accumulator with byte stuffing.
    void DrainWholeBytes();
};
