// The library's own baseline JPEG codec. The encoder turns bands of planar
// 8-bit samples (up to four components) into one interleaved, Huffman-coded
// sequential scan with a JFIF header, an optional Photoshop preview resource
// and an Adobe segment, written through the encoded-data stream. The decoder
// reads such a stream (sequential, Huffman-coded, 8-bit, all components in
// one scan, restart markers allowed) and delivers whole MCU rows of samples,
// interleaved or planar, in fixed memory.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "rastik/CCodecFilter.h"
#include "rastik/DCTINFO.h"
#include "rastik/RastikApi.h"

class CStoredRows;
class CWorkerPool;

class RASTIK_API CDCTFilter : public CCodecFilter {
    friend struct DctCoder;
    friend struct DctDecoder;

public:
    static constexpr uint32_t kWorkAreaBytes = 4096;  // four areas of 256 int32 samples
    static constexpr uint32_t kFailure = 0xFFFFFFFFu;
    static constexpr uint32_t kBadBand = 0xFFFFFFFEu;

    CDCTFilter();
    CDCTFilter(const CDCTFilter& other);
    CDCTFilter& operator=(const CDCTFilter& other);
    ~CDCTFilter() override;

    // Starts decoding an image from the given stream (selector 1 reads the
    // encoded-data file): reads the markers up to and including the scan
    // header, fills info when it is given (size, components, density, JFIF
    // thumbnail flag) and returns the byte size of one band of MCU rows
    // (MCU height x width x components), or 0xFFFFFFFF for a stream it
    // cannot decode.
    uint32_t Decode_Header(int stream, DCTINFO* info) override;
    // Decodes as many whole MCU rows as nBytes (the buffer size) holds and
    // delivers them pixel-interleaved; one-component images come out
    // inverted (255 - sample). nBytes becomes the number of valid bytes.
    // Returns the image rows still to come (0 when the image is complete),
    // or 0xFFFFFFFF; after a failure only a new header helps.
    uint32_t Decoder(uint8_t* buffer, int& nBytes) override;
    // The same into planes[c] (one per component, each nBytes / components
    // bytes), left planar; one-component images come out upright.
    uint32_t L_Decoder(uint8_t** planes, uint32_t& nBytes);

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
    // Encoder, leaving the band's MCUs to the worker pool of the calling
    // conversion when it has one: the call returns while they are coded, and
    // the band must stay as it is until the next Encoder, EncoderAhead or
    // Encode_EOD, which appends its bits to the scan first. The scan is the
    // one Encoder writes.
    uint32_t EncoderAhead(const uint8_t* band, int count);
    // EncoderAhead for a band of rows rows held in place: component c's rows
    // follow one another at planes[c], width bytes each.
    uint32_t EncoderAhead(const uint8_t* const* planes, uint32_t rows);
    // Encodes every row of an image of three components, straight after
    // Encode_Header, from stored rows on the worker pool of the calling
    // conversion: the pool's threads take runs of MCU rows from the file and
    // code them, and this thread appends their bits in order, telling next
    // the rows appended after each band (false from next stops the image).
    // Returns 0, or 0xFFFFFFFF without a pool, for a row the file did not
    // give, a missing code or a stop (the image is then abandoned). The scan
    // is the one Encoder writes from the same rows.
    uint32_t EncoderStored(const CStoredRows& stored, const std::function<bool(uint32_t rows)>& next);
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
    uint32_t GetRowsToDeliver() const { return m_dwRowsToDeliver; }
    uint32_t GetRestartInterval() const { return m_dwRestartInterval; }
    // Colour transform of the image being decoded: 0 none, 1 from YCbCr.
    int32_t GetTransform() const { return m_nTransform; }

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

    // Huffman decoding table of one DHT table. Codes are canonical: the
    // codes of length l run from FirstCode[l] to End[l] - 1 (End[l] is 0 when
    // there are none, End[16] is 0x10000) and stand for the symbols from
    // FirstSymbol[l] on. Lookahead holds, for every value of the next
    // kLookaheadBits bits, the length and symbol of a code no longer than
    // that (length << 8 | symbol), or 0.
    static constexpr uint32_t kLookaheadBits = 9;
    struct HuffDecode {
        int32_t FirstCode[17];
        int32_t End[17];
        int32_t FirstSymbol[17];
        uint32_t SymbolCount;
        uint8_t Symbols[256];  // a DC table holds at most 16
        uint16_t Lookahead[1u << kLookaheadBits];
    };

    // --- decoding building blocks ---
    // Reads the segment that follows marker: 0, 0x80000002 for a malformed
    // one, 0x80000003 for one this decoder does not support.
    uint32_t Interpret_Tag(uint32_t marker);
    uint32_t JFIF_Decoder();
    // Reads a DHT segment into the decoding tables.
    uint32_t Create_Huffman_Table();
    void Initialize_Parameter();
    // Chooses the MCU layout and routine of the frame just read and resets
    // the scan state; returns the MCU height.
    uint32_t Correct_Parameter();
    // Decodes the next block of component c into m_pBlock, dequantised:
    // 0, or 0x80000002 for a bad code or run.
    uint32_t Decode_Unit(uint32_t component);
    uint32_t Decode_NoTransform_MCU1111();
    uint32_t Decode_NoTransform_MCUx11x();
    uint32_t Decode_NoTransform_MCU();
    uint32_t Decode_Transform_MCU1111();
    uint32_t Decode_Transform_MCUx11x();
    uint32_t Decode_Transform_MCU();
    // Inverse DCT in place on m_pBlock; outputs are (sample - 128) x 2^17.
    void Fast_IDCT();
    // Header bytes, big-endian; 0 once the stream has ended.
    uint32_t Read_8_Bit();
    uint32_t Read_16_Bit();
    void Skip_Pointer(uint32_t count);
    // Next symbol of the current Huffman table, or 0xFFFFFFFF for a code it
    // does not hold.
    uint32_t DECODE();
    // The next size bits as a signed coefficient value.
    uint32_t RECEIVE_EXTEND(uint32_t size);
    // The next count (0..16) bits of the scan, without stuffed zero bytes.
    uint32_t ReadBit(uint32_t count);
    // Drops the bits in hand: the next read starts at a byte boundary.
    void Move_NextChar();
    // Stores value (a transform output with level shift and rounding) as a
    // byte and advances out; see the routine for the clamping rules.
    void Write_Char(uint8_t*& out, int32_t value);
    // Interleaves the planes of a band in place (planes of length /
    // components bytes each); one component is inverted instead. 1, or 0
    // when the temporary copy cannot be allocated.
    uint32_t InterleavePlanes(uint8_t* buffer, uint32_t length, uint32_t components);

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
    // A band whose MCUs are coded on the pool, its bits not yet in the scan:
    // runs of them transformed and coded on the pool's threads, their bits
    // appended to the scan in order on this one.
    struct BandAhead;
    struct BandAheadEnd {
        void operator()(BandAhead* band) const;
    };
    // Hands the mcus MCUs of the current band to the pool's threads and returns.
    void StartMcusOnPool(CWorkerPool& pool, uint32_t mcus);
    // Appends the bits of the band on the pool, once coded, and the DC
    // predictors it leaves. False on a missing code or a failed item; true
    // when no band is on the pool.
    bool AppendAhead();
    // The same for a band of runs that is not the filter's; while it waits
    // for runs on other threads, this thread codes runs of next (if any).
    bool AppendRuns(BandAhead& ahead, BandAhead* next);
    // DctMcuBlocks' kind of the MCU routine.
    uint32_t McuKind() const;
    // Stored-row coding: what its items share, and a band of count items
    // from firstItem on handed to the pool into ahead.
    struct StoredCoding;
    void StartStoredOnPool(CWorkerPool& pool, const StoredCoding& coding, uint32_t firstItem, uint32_t count,
                           std::unique_ptr<BandAhead, BandAheadEnd>& ahead);
    // Whether Encode_Header began an image that takes bands.
    bool TakesBands() const { return m_pDCCode[0] && m_pACCode[0] && m_pWorkArea; }
    // The band of Encoder and EncoderAhead, left on the pool when ahead.
    uint32_t EncodeBand(const uint8_t* band, int count, bool ahead);
    // The band's rows, component c's at planes[c]: checked against the
    // image's rows left, then coded, or left on the pool when ahead.
    uint32_t EncodePlanes(const uint8_t* const* planes, uint32_t rows, bool ahead);
    // Appends bits bits (most significant first) to the scan.
    void AppendBits(const uint8_t* bytes, uint32_t bits);
    // The same for bits from .. to - 1 of bytes.
    void AppendBitRange(const uint8_t* bytes, uint32_t from, uint32_t to);
    // MCUs of one item of pooled coding. Shorter items spend more on their
    // own set-up and hand-over than they gain in balance.
    static constexpr uint32_t kMcusPerItem = 256;

    int32_t* ComponentArea(uint32_t component) { return m_pWorkArea + 256 * component; }

    // --- image and layout ---
    uint32_t m_dwWidth = 0;
    uint32_t m_dwHeight = 0;  // encoding: rows still to encode; decoding: image height
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
    // The band EncoderAhead left on the pool (never copied).
    std::unique_ptr<BandAhead, BandAheadEnd> m_pAhead;

    // --- decoding state ---
    HuffDecode m_DCDecode[4] = {};
    HuffDecode m_ACDecode[4] = {};
    const HuffDecode* m_pCurHuffman = nullptr;
    uint8_t m_ComponentId[4] = {};
    uint32_t m_dwRestartInterval = 0;  // MCUs; 0 in the stream means none
    uint32_t m_dwRestartCount = 0;     // MCUs since the last restart
    uint32_t m_dwThumbnail = 0;
    uint32_t m_dwRowsToDeliver = 0;
    // Tables the stream defined: bits 0..3 quantisation, 4..7 DC, 8..11 AC.
    uint32_t m_dwTablesDefined = 0;
    bool m_bFrameSeen = false;
    bool m_bDecoding = false;    // a header was read and no band failed since
    bool m_bEndOfImage = false;  // the end-of-image marker was read
    // Bit reader: unread bits at the top of the buffer. When the scan data
    // ends (a marker or the end of the stream) zero bits are appended and
    // counted in m_dwPadBits; taking any of them means the data was corrupt.
    uint64_t m_qwReadBits = 0;
    uint32_t m_dwReadCount = 0;
    uint32_t m_dwPadBits = 0;
    bool m_bSegmentEnd = false;
    // Read-ahead in the output buffer: bytes from m_pReadPos to m_pReadEnd
    // are read from the stream but not yet used.
    const uint8_t* m_pReadPos = nullptr;
    const uint8_t* m_pReadEnd = nullptr;
    bool m_bStreamEnd = false;   // the stream delivered no more bytes
    bool m_bReadFailed = false;  // a header read found no byte
    // Where MCUs go: component c's sample (x, y) of the band lands at
    // m_pOutput[c] + y x m_dwOutRowStride + x x m_dwOutStep.
    uint8_t* m_pOutput[4] = {};
    uint32_t m_dwOutStep = 1;
    uint32_t m_dwOutRowStride = 0;
    bool m_bUprightGrey = false;  // one component delivered as stored

private:
    void CopyFrom(const CDCTFilter& other);
    void CopyDecodeState(const CDCTFilter& other);
    // Decoding steps.
    uint32_t FailDecodeHeader();
    uint32_t ReadMarker();
    uint32_t ReadFrameSegment();
    uint32_t ReadScanSegment();
    uint32_t ReadQuantSegment();
    uint32_t ReadRestartSegment();
    uint32_t ReadPhotoshopSegment();
    void ReadResolutionResource(const uint8_t* content, uint32_t size);
    uint32_t ReadAdobeSegment();
    bool OpenAppSegment(const uint8_t* id, uint32_t fixed, uint32_t& length, uint32_t& result);
    uint32_t SkipSegment();
    uint32_t ReadHuffmanTable(uint32_t& left);
    bool CheckLayout();
    uint32_t DecodeBand(uint32_t mcuRows, bool hunt, uint32_t& rowsDone);
    uint32_t FinishBand(uint32_t rowsDone, bool checkEnd, uint32_t rowBytes, uint32_t& nBytes);
    uint32_t ReadRestartMarker(bool hunt);
    bool FillInput(uint32_t need);
    void ReleaseReadAhead();
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
