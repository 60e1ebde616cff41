// Header side of the DCT encoder: checking the parameters, choosing layout
// and tables, and writing the marker segments up to the start of the scan.
// All segment fields are big-endian.
#include <cmath>
#include <new>

#include "platform/CFile.h"
#include "rastik/CDCTFilter.h"
#include "rastik/jpeg/DctCoder.h"
#include "rastik/jpeg/JpegMarkers.h"

namespace {

constexpr uint32_t kBadParameter = 0x80000002u;
constexpr uint32_t kBadTable = 0x80000001u;
constexpr uint32_t kMaxDimension = 65535;  // the frame header holds 16-bit sizes
constexpr uint32_t kDCEntries = 16;
constexpr uint32_t kACEntries = 256;

// Number of symbols of a DHT table: the sum of its 16 code-length counts.
uint32_t SymbolCount(const uint8_t* table)
{
    uint32_t n = 0;
    for (int i = 0; i < 16; ++i) n += table[i];
    return n;
}

// Index of table in list (null-terminated, at most four entries), appending it
// when it is new.
uint32_t TableIndex(const uint8_t** list, const uint8_t* table)
{
    uint32_t i = 0;
    while (list[i] && list[i] != table) ++i;
    list[i] = table;
    return i;
}

uint32_t ListLength(const uint8_t* const* list)
{
    uint32_t n = 0;
    while (list[n]) ++n;
    return n;
}

}  // namespace

uint32_t CDCTFilter::FailHeader()
{
    Free_Memory();
    m_dwHeight = 0;
    return kFailure;
}

uint32_t CDCTFilter::Encode_Header(int stream, const DCTINFO* info)
{
    Free_Memory();
    m_bDecoding = false;  // an image being decoded is abandoned
    if (!m_pWorkArea || !m_pOutBuffer || !info) return FailHeader();
    m_nStream = stream;
    m_dwHeight = info->dwHeight;
    m_dwWidth = info->dwWidth;
    m_dwComponents = info->dwComponents;
    if (m_dwHeight == 0 || m_dwWidth == 0 || m_dwComponents == 0 || m_dwComponents > 4 ||
        m_dwWidth > kMaxDimension || m_dwHeight > kMaxDimension)
        return FailHeader();

    const uint8_t* quantTables[5] = {};
    const uint8_t* dcTables[5] = {};
    const uint8_t* acTables[5] = {};
    if (Correct_Parameter(info, quantTables, dcTables, acTables) != 0) return FailHeader();

    m_pWritePos = m_pOutBuffer;
    m_pBufferLimit = m_pOutBuffer + kOutBufferSize;
    Write_16_Bit(jpegmarker::kSoi);
    WriteJfifSegment();
    if (info->pszPreviewFile &&
        !WritePreviewSegment(info, HeaderTailBytes(quantTables, dcTables, acTables)))
        return FailHeader();
    WriteAdobeSegment();
    WriteQuantSegment(quantTables);
    if (!WriteHuffSegment(dcTables, acTables)) return FailHeader();
    WriteFrameSegment();
    WriteScanSegment();
    StartScan();
    return m_dwWidth * m_dwMcuWidth * m_dwComponents;
}

uint32_t CDCTFilter::Correct_Parameter(const DCTINFO* info, const uint8_t** quantTables,
                                       const uint8_t** dcTables, const uint8_t** acTables)
{
    m_nTransform = (m_dwComponents >= 3 && info->dwTransform != 0) ? 1 : 0;
    m_dQuantScale = info->dQuantScale;
    // A negative or non-finite scale would give quantisers of 0 or garbage.
    if (!std::isfinite(m_dQuantScale) || m_dQuantScale < 0.0) return kBadParameter;
    uint32_t result = ChooseLayout(info);
    if (result == 0) result = ChooseQuantTables(info, quantTables);
    if (result == 0) result = ChooseHuffTables(info, dcTables, acTables);
    m_nDensityUnit = 1;
    m_dwXDensity = info->dwXDensity;
    m_dwYDensity = info->dwYDensity;
    return result;
}

// Sampling factors only choose the layout: with two or more components and a
// first component sampled 2 in either direction, components 0 and 3 are 2 x 2
// and 1 and 2 are 1 x 1 in a 16 x 16 MCU; otherwise everything is 1 x 1 in an
// 8 x 8 MCU.
uint32_t CDCTFilter::ChooseLayout(const DCTINFO* info)
{
    for (uint32_t c = 0; c < m_dwComponents; ++c) {
        if (info->pHSampling && info->pHSampling[c] != 1 && info->pHSampling[c] != 2) return kBadParameter;
        if (info->pVSampling && info->pVSampling[c] != 1 && info->pVSampling[c] != 2) return kBadParameter;
    }
    uint32_t h0 = info->pHSampling ? info->pHSampling[0] : 1;
    uint32_t v0 = info->pVSampling ? info->pVSampling[0] : 1;
    bool large = m_dwComponents >= 2 && (h0 >= 2 || v0 >= 2);
    for (uint32_t c = 0; c < 4; ++c) {
        uint32_t factor = (large && (c == 0 || c == 3)) ? 2 : 1;
        m_dwHSampling[c] = factor;
        m_dwVSampling[c] = factor;
    }
    m_dwMcuWidth = m_dwMcuHeight = large ? 16 : 8;
    return 0;
}

uint32_t CDCTFilter::ChooseQuantTables(const DCTINFO* info, const uint8_t** quantTables)
{
    if (info->ppQuantTables) {
        for (uint32_t c = 0; c < m_dwComponents; ++c) {
            if (!info->ppQuantTables[c]) return kBadParameter;
            m_dwQuantSelector[c] = TableIndex(quantTables, info->ppQuantTables[c]);
        }
        return 0;
    }
    bool twoTables = m_nTransform || m_dwMcuWidth == 16;
    quantTables[0] = Default_Quant_Table[0];
    if (twoTables) quantTables[1] = Default_Quant_Table[m_dwMcuWidth == 16 ? 2 : 1];
    for (uint32_t c = 0; c < 4; ++c) m_dwQuantSelector[c] = (twoTables && (c == 1 || c == 2)) ? 1 : 0;
    return 0;
}

uint32_t CDCTFilter::ChooseHuffTables(const DCTINFO* info, const uint8_t** dcTables, const uint8_t** acTables)
{
    if (info->pHuffTables) {
        for (uint32_t c = 0; c < m_dwComponents; ++c) {
            const uint8_t* dc = info->pHuffTables[2 * c];
            const uint8_t* ac = info->pHuffTables[2 * c + 1];
            if (!dc || !ac || SymbolCount(dc) > kDCEntries || SymbolCount(ac) > kACEntries)
                return kBadParameter;
            m_dwDCSelector[c] = TableIndex(dcTables, dc);
            m_dwACSelector[c] = TableIndex(acTables, ac);
        }
        return 0;
    }
    uint32_t first = m_dQuantScale >= 0.25 ? 0 : 2;  // set A or set B
    bool twoTables = m_nTransform || m_dwMcuWidth == 16;
    dcTables[0] = Default_Huff_DC_Table[first];
    acTables[0] = Default_Huff_AC_Table[first];
    if (twoTables) {
        dcTables[1] = Default_Huff_DC_Table[first + 1];
        acTables[1] = Default_Huff_AC_Table[first + 1];
    }
    for (uint32_t c = 0; c < 4; ++c) {
        uint32_t selector = (twoTables && (c == 1 || c == 2)) ? 1 : 0;
        m_dwDCSelector[c] = selector;
        m_dwACSelector[c] = selector;
    }
    return 0;
}

uint32_t CDCTFilter::Create_Huffman_Table(const uint8_t* table, uint32_t destination)
{
    bool dc = destination < 16;
    uint32_t index = dc ? destination : destination - 16;
    if (index > 3) return kBadTable;
    uint32_t entries = dc ? kDCEntries : kACEntries;
    if (SymbolCount(table) > entries) return kBadTable;
    HuffCode*& codes = dc ? m_pDCCode[index] : m_pACCode[index];
    if (!codes) codes = new (std::nothrow) HuffCode[entries];
    if (!codes) return kBadTable;
    for (uint32_t s = 0; s < entries; ++s) codes[s] = HuffCode{0, 0};

    const uint8_t* symbols = table + 16;
    uint32_t code = 0;
    for (uint32_t length = 1; length <= 16; ++length) {
        for (uint32_t n = table[length - 1]; n > 0; --n, ++symbols) {
            uint32_t symbol = *symbols;
            if (symbol >= entries) return kBadTable;
            uint32_t extra = dc ? symbol : (symbol & 15);
            codes[symbol] = HuffCode{static_cast<int32_t>(code << extra), static_cast<int32_t>(length + extra)};
            ++code;
        }
        // Codes must fit their length, and the all-ones code stays unused.
        if (code >= (1u << length)) return kBadTable;
        code <<= 1;
    }
    return 0;
}

// Bytes of the segments that follow the preview resource.
uint32_t CDCTFilter::HeaderTailBytes(const uint8_t* const* quantTables, const uint8_t* const* dcTables,
                                     const uint8_t* const* acTables) const
{
    uint32_t bytes = 0;
    if ((m_dwComponents == 4 && m_nTransform) || (m_dwComponents == 3 && !m_nTransform)) bytes += 16;
    bytes += 4 + 65 * ListLength(quantTables);
    bytes += 4;
    for (uint32_t t = 0; dcTables[t]; ++t) bytes += 17 + SymbolCount(dcTables[t]);
    for (uint32_t t = 0; acTables[t]; ++t) bytes += 17 + SymbolCount(acTables[t]);
    bytes += 2 + 8 + 3 * m_dwComponents;
    bytes += 2 + 6 + 2 * m_dwComponents;
    return bytes;
}

// APP0: "JFIF", version 1.2, density in dots per inch, no thumbnail.
void CDCTFilter::WriteJfifSegment()
{
    static const uint8_t kJfif[5] = {'J', 'F', 'I', 'F', 0};
    Write_16_Bit(jpegmarker::kApp0);
    Write_16_Bit(16);
    Write_Stream(kJfif, sizeof kJfif);
    Write_16_Bit(0x0102);
    Write_8_Bit(static_cast<uint32_t>(m_nDensityUnit));
    Write_16_Bit(m_dwXDensity);
    Write_16_Bit(m_dwYDensity);
    Write_8_Bit(0);
    Write_8_Bit(0);
}

// APP13: a Photoshop thumbnail resource (id 1036) holding the bytes of a JPEG
// file. Its 4-byte fields carry their values modulo 65,536. The whole header
// must fit in the output buffer, so a file that does not fit is refused, as is
// one of 65,536 bytes or more (its length would not survive the 16-bit fields).
bool CDCTFilter::WritePreviewSegment(const DCTINFO* info, uint32_t tailBytes)
{
    static const uint8_t kPhotoshop[14] = {'P', 'h', 'o', 't', 'o', 's', 'h', 'o', 'p', ' ', '3', '.', '0', 0};
    static const uint8_t kResource[4] = {'8', 'B', 'I', 'M'};
    CFile file;
    if (!file.Open(info->pszPreviewFile, CFile::modeRead | CFile::typeBinary)) return false;
    try {
        uint64_t length = file.GetLength();
        uint32_t dataBytes = static_cast<uint32_t>(length % 65536);
        uint32_t pad = dataBytes & 1;
        uint32_t segmentBytes = 2 + 56 + dataBytes + pad;
        if (length != dataBytes || BufferedBytes() + segmentBytes + tailBytes > kOutBufferSize) {
            file.Close();
            return false;
        }
        auto write32 = [this](uint32_t value) {
            Write_16_Bit(0);
            Write_16_Bit(value & 0xFFFF);
        };
        uint32_t width = static_cast<uint32_t>(info->dwPreviewWidth);
        uint32_t height = static_cast<uint32_t>(info->dwPreviewHeight);
        uint32_t rowBytes = (3 * width + 3) & ~3u;
        Write_16_Bit(jpegmarker::kApp13);
        Write_16_Bit(dataBytes + 56 + pad);
        Write_Stream(kPhotoshop, sizeof kPhotoshop);
        Write_Stream(kResource, sizeof kResource);
        Write_16_Bit(0x040C);
        Write_16_Bit(0);  // empty name
        write32(dataBytes + 28);
        write32(1);  // format: JPEG
        write32(width);
        write32(height);
        write32(rowBytes);
        write32(rowBytes * height);
        write32(dataBytes);
        Write_16_Bit(24);  // bits per pixel
        Write_16_Bit(1);   // planes
        if (file.Read(m_pWritePos, dataBytes) != dataBytes) {
            file.Close();
            return false;
        }
        m_pWritePos += dataBytes;
        if (pad) Write_8_Bit(0);
        file.Close();
    } catch (const CFileException&) {
        file.Abort();
        return false;
    }
    return true;
}

// APP14 "Adobe": written for three components without transform (RGB, byte
// 0) and four components with transform (YCCK, byte 2).
void CDCTFilter::WriteAdobeSegment()
{
    static const uint8_t kAdobe[15] = {0xFF, 0xEE, 0x00, 0x0E, 'A', 'd', 'o', 'b', 'e',
                                       0x00, 0x64, 0x80, 0x00, 0x00, 0x00};
    if (m_dwComponents == 3 && !m_nTransform) {
        Write_Stream(kAdobe, sizeof kAdobe);
        Write_8_Bit(0);
    } else if (m_dwComponents == 4 && m_nTransform) {
        Write_Stream(kAdobe, sizeof kAdobe);
        Write_8_Bit(2);
    }
}

// DQT: each table scaled, truncated to 1..255; the encoder keeps the matching
// divisors of the fast DCT's unnormalised outputs.
void CDCTFilter::WriteQuantSegment(const uint8_t* const* quantTables)
{
    uint32_t count = ListLength(quantTables);
    Write_16_Bit(jpegmarker::kDqt);
    Write_16_Bit(2 + 65 * count);
    for (uint32_t t = 0; t < count; ++t) {
        Write_8_Bit(t);
        for (uint32_t i = 0; i < 64; ++i) {
            double scaled = quantTables[t][i] * m_dQuantScale + 1.0;
            uint32_t value = scaled > 255.0 ? 255 : static_cast<uint32_t>(scaled);
            Write_8_Bit(value);
            m_QuantTable[t][i] = static_cast<int32_t>((value * COSINEXY[ZigZagToNormal[i]]) >> 2);
            m_QuantNatural[t][ZigZagToNormal[i]] = m_QuantTable[t][i];
            DctCoder::Reciprocal(static_cast<uint32_t>(m_QuantTable[t][i]), &m_QuantMultiplier[t][i], &m_QuantShift[t][i]);
        }
    }
}

// DHT: DC tables (destinations 0..), then AC tables (destinations 16..), each
// followed by the construction of its encoder code table.
bool CDCTFilter::WriteHuffSegment(const uint8_t* const* dcTables, const uint8_t* const* acTables)
{
    uint32_t length = 2;
    for (uint32_t t = 0; dcTables[t]; ++t) length += 17 + SymbolCount(dcTables[t]);
    for (uint32_t t = 0; acTables[t]; ++t) length += 17 + SymbolCount(acTables[t]);
    Write_16_Bit(jpegmarker::kDht);
    Write_16_Bit(length);
    for (int pass = 0; pass < 2; ++pass) {
        const uint8_t* const* list = pass == 0 ? dcTables : acTables;
        for (uint32_t t = 0; list[t]; ++t) {
            uint32_t destination = pass == 0 ? t : 16 + t;
            Write_8_Bit(destination);
            Write_Stream(list[t], 16 + SymbolCount(list[t]));
            if (Create_Huffman_Table(list[t], destination) != 0) return false;
        }
    }
    return true;
}

// SOF0: baseline, 8-bit samples; component identifiers 1..n.
void CDCTFilter::WriteFrameSegment()
{
    Write_16_Bit(jpegmarker::kSof0);
    Write_16_Bit(8 + 3 * m_dwComponents);
    Write_8_Bit(8);
    Write_16_Bit(m_dwHeight);
    Write_16_Bit(m_dwWidth);
    Write_8_Bit(m_dwComponents);
    for (uint32_t c = 0; c < m_dwComponents; ++c) {
        Write_8_Bit(c + 1);
        Write_8_Bit(m_dwHSampling[c] * 16 + m_dwVSampling[c]);
        Write_8_Bit(m_dwQuantSelector[c]);
    }
}

// SOS: one interleaved scan of all components, spectral range 0..63.
void CDCTFilter::WriteScanSegment()
{
    Write_16_Bit(jpegmarker::kSos);
    Write_16_Bit(6 + 2 * m_dwComponents);
    Write_8_Bit(m_dwComponents);
    for (uint32_t c = 0; c < m_dwComponents; ++c) {
        Write_8_Bit(c + 1);
        Write_8_Bit(m_dwDCSelector[c] * 16 + m_dwACSelector[c]);
    }
    Write_8_Bit(0);
    Write_8_Bit(63);
    Write_8_Bit(0);
}

void CDCTFilter::StartScan()
{
    m_dwBitBuffer = 0;
    m_dwFreeBits = 32;
    if (m_nTransform)
        m_pMcuRoutine = m_dwMcuWidth == 8 ? &CDCTFilter::Encode_Transform_MCU1111 : &CDCTFilter::Encode_Transform_MCU4114;
    else
        m_pMcuRoutine = m_dwMcuWidth == 8 ? &CDCTFilter::Encode_NoTransform_MCU1111 : &CDCTFilter::Encode_NoTransform_MCU4114;
    for (int32_t& predictor : m_DCPredictor) predictor = 0;
    m_dwMcusPerRow = (m_dwWidth + m_dwMcuWidth - 1) / m_dwMcuWidth;
    m_dwMcuColumn = 0;
    m_dwMcuRow = 0;
    m_pBlock = m_Block;
    m_bWriteFailed = false;
    m_bMissingCode = false;
    m_dwHeaderLength = BufferedBytes();
    m_nFlushState = 0;
}
