// Header side of the DCT decoder: the marker segments from the start of the
// image up to and including the scan header, the Huffman decoding tables,
// and the choice of MCU layout and routine. Segment fields are big-endian;
// every length field counts itself.
#include <cstring>

#include "rastik/CDCTFilter.h"
#include "rastik/General.h"
#include "rastik/jpeg/DctDecoder.h"
#include "rastik/jpeg/JpegMarkers.h"
#include "rastik/support/ByteOrder.h"
#include "rastik/support/CScopedBuffer.h"

namespace {

constexpr uint32_t kMalformed = 0x80000002u;
constexpr uint32_t kUnsupported = 0x80000003u;
constexpr uint32_t kWorkAreaSamples = 256;  // per component
constexpr uint32_t kDCSymbols = 16;
constexpr uint32_t kACSymbols = 256;

uint32_t GreatestCommonDivisor(uint32_t a, uint32_t b)
{
    if (a < b) std::swap(a, b);
    while (b != 0) {
        uint32_t r = a % b;
        a = b;
        b = r;
    }
    return a;
}

}  // namespace

void CDCTFilter::Initialize_Parameter()
{
    m_nDensityUnit = -1;
    m_dwXDensity = 0;
    m_dwYDensity = 0;
    m_dwRestartInterval = 0;
    m_nTransform = -1;
    m_dwThumbnail = 0;
    m_dwTablesDefined = 0;
    m_dwComponents = 0;
    m_bFrameSeen = false;
    m_bDecoding = false;
    m_bEndOfImage = false;
    m_pReadPos = m_pReadEnd = m_pOutBuffer;
    m_bStreamEnd = false;
    m_bReadFailed = false;
    Move_NextChar();
}

uint32_t CDCTFilter::FailDecodeHeader()
{
    m_bDecoding = false;
    return kFailure;
}

uint32_t CDCTFilter::Decode_Header(int stream, DCTINFO* info)
{
    if (!m_pWorkArea || !m_pOutBuffer) return kFailure;
    Free_Memory();  // an encoding under way is abandoned
    m_pWritePos = m_pOutBuffer;
    Initialize_Parameter();
    m_nStream = stream;
    if (Read_16_Bit() != jpegmarker::kSoi) return FailDecodeHeader();
    for (;;) {
        uint32_t marker = ReadMarker();
        if (marker == jpegmarker::kSos) break;
        // Progressive, lossless, hierarchical and arithmetic-coded frames.
        bool refused = marker >= jpegmarker::kSof2 && marker <= jpegmarker::kSof15 && marker != jpegmarker::kDht && marker != jpegmarker::kDac;
        if (refused || Interpret_Tag(marker) != 0) return FailDecodeHeader();
    }
    if (Interpret_Tag(jpegmarker::kSos) != 0 || !CheckLayout()) return FailDecodeHeader();
    if (info) {
        info->dwWidth = m_dwWidth;
        info->dwHeight = m_dwHeight;
        info->dwComponents = m_dwComponents;
        info->dQuantScale = 0;
        info->dwTransform = 1;
        info->dwThumbnail = m_dwThumbnail;
        info->dwDensityUnit = m_nDensityUnit;
        info->dwXDensity = m_dwXDensity;
        info->dwYDensity = m_dwYDensity;
    }
    m_pBlock = m_Block;
    m_bDecoding = true;
    return Correct_Parameter() * m_dwWidth * m_dwComponents;
}

// The frame must fit the work area: every component's blocks in an MCU of
// at most 256 samples, and each component sampled an integral fraction of
// the MCU in both directions.
bool CDCTFilter::CheckLayout()
{
    uint32_t maxH = 1, maxV = 1;
    for (uint32_t c = 0; c < m_dwComponents; ++c) {
        maxH = std::max(maxH, m_dwHSampling[c]);
        maxV = std::max(maxV, m_dwVSampling[c]);
    }
    if (64 * maxH * maxV > kWorkAreaSamples) return false;
    for (uint32_t c = 0; c < m_dwComponents; ++c)
        if (maxH % m_dwHSampling[c] != 0 || maxV % m_dwVSampling[c] != 0) return false;
    m_dwMcuWidth = 8 * maxH;
    m_dwMcuHeight = 8 * maxV;
    return true;
}

uint32_t CDCTFilter::Interpret_Tag(uint32_t marker)
{
    switch (marker) {
    case jpegmarker::kSof0:
    case jpegmarker::kSof1:
        return ReadFrameSegment();
    case jpegmarker::kDht: return Create_Huffman_Table();
    case jpegmarker::kSos: return ReadScanSegment();
    case jpegmarker::kEoi: return kMalformed;  // end of image before the scan
    case jpegmarker::kDqt: return ReadQuantSegment();
    case jpegmarker::kDri: return ReadRestartSegment();
    case jpegmarker::kApp0: return JFIF_Decoder();
    case jpegmarker::kApp13: return ReadPhotoshopSegment();
    case jpegmarker::kApp14: return ReadAdobeSegment();
    default: return jpegmarker::IsMarker(marker) ? SkipSegment() : kMalformed;
    }
}

uint32_t CDCTFilter::SkipSegment()
{
    uint32_t length = Read_16_Bit();
    if (length < 2 || m_bReadFailed) return kMalformed;
    Skip_Pointer(length - 2);
    return m_bReadFailed ? kMalformed : 0;
}

// SOF: precision 8, height, width, then per component an identifier,
// H << 4 | V and a quantisation selector. The factors are reduced by their
// greatest common divisor, so 2 x 2 throughout decodes as 1 x 1.
uint32_t CDCTFilter::ReadFrameSegment()
{
    uint32_t length = Read_16_Bit();
    if (Read_8_Bit() != 8) return kUnsupported;
    m_dwHeight = Read_16_Bit();
    m_dwWidth = Read_16_Bit();
    if (m_dwHeight == 0 || m_dwWidth == 0) return kMalformed;
    uint32_t count = Read_8_Bit();
    if (count == 0) return kMalformed;
    if (count > 4 || length != 8 + 3 * count) return kUnsupported;
    uint32_t divisor = 0;
    for (uint32_t c = 0; c < count; ++c) {
        m_ComponentId[c] = static_cast<uint8_t>(Read_8_Bit());
        uint32_t factors = Read_8_Bit();
        m_dwHSampling[c] = factors >> 4;
        m_dwVSampling[c] = factors & 15;
        m_dwQuantSelector[c] = Read_8_Bit();
        if (m_dwHSampling[c] == 0 || m_dwVSampling[c] == 0 || m_dwQuantSelector[c] > 3) return kMalformed;
        divisor = GreatestCommonDivisor(divisor, GreatestCommonDivisor(m_dwHSampling[c], m_dwVSampling[c]));
    }
    for (uint32_t c = 0; c < count; ++c) {
        m_dwHSampling[c] /= divisor;
        m_dwVSampling[c] /= divisor;
    }
    m_dwComponents = count;
    m_bFrameSeen = true;
    return m_bReadFailed ? kMalformed : 0;
}

// SOS: one scan holding every component of the frame in frame order, with
// the full spectral range and no successive approximation.
uint32_t CDCTFilter::ReadScanSegment()
{
    uint32_t length = Read_16_Bit();
    uint32_t count = Read_8_Bit();
    if (!m_bFrameSeen) return kMalformed;
    if (count != m_dwComponents) return kUnsupported;
    if (length != 6 + 2 * count) return kMalformed;
    for (uint32_t c = 0; c < count; ++c) {
        if (Read_8_Bit() != m_ComponentId[c]) return kUnsupported;
        uint32_t selectors = Read_8_Bit();
        m_dwDCSelector[c] = selectors >> 4;
        m_dwACSelector[c] = selectors & 15;
        if (m_dwDCSelector[c] > 3 || m_dwACSelector[c] > 3) return kMalformed;
        uint32_t needed = (1u << m_dwQuantSelector[c]) | (16u << m_dwDCSelector[c]) | (256u << m_dwACSelector[c]);
        if ((m_dwTablesDefined & needed) != needed) return kMalformed;
    }
    uint32_t start = Read_8_Bit(), end = Read_8_Bit(), approximation = Read_8_Bit();
    if (start != 0 || end != 63 || approximation != 0 || m_bReadFailed) return kMalformed;
    return 0;
}

// DQT: one to four tables of 8-bit quantisers in zig-zag order, each kept
// multiplied by the scale factor of its natural position.
uint32_t CDCTFilter::ReadQuantSegment()
{
    uint32_t left = Read_16_Bit() - 2;
    if (left != 65 && left != 130 && left != 195 && left != 260) return kMalformed;
    for (; left > 0; left -= 65) {
        uint32_t table = Read_8_Bit();
        if (table > 3) return kMalformed;  // 16-bit quantisers or destination above 3
        for (uint32_t i = 0; i < 64; ++i) {
            uint32_t q = Read_8_Bit();
            if (q == 0) return kMalformed;
            m_QuantTable[table][i] = static_cast<int32_t>(q * COSINEXY[ZigZagToNormal[i]]);
        }
        m_dwTablesDefined |= 1u << table;
    }
    return m_bReadFailed ? kMalformed : 0;
}

uint32_t CDCTFilter::ReadRestartSegment()
{
    if (Read_16_Bit() != 4) return kMalformed;
    m_dwRestartInterval = Read_16_Bit();
    return m_bReadFailed ? kMalformed : 0;
}

// DHT: one or more tables, each a class and destination byte, 16 code
// counts and the symbols.
uint32_t CDCTFilter::Create_Huffman_Table()
{
    uint32_t length = Read_16_Bit();
    if (length < 2 + 18 || length > 2 + 832) return kMalformed;
    uint32_t left = length - 2;
    while (left >= 1) {
        uint32_t result = ReadHuffmanTable(left);
        if (result != 0) return result;
    }
    return 0;
}

// One table of a DHT segment; left counts the segment's bytes still unread.
uint32_t CDCTFilter::ReadHuffmanTable(uint32_t& left)
{
    uint32_t kind = Read_8_Bit();
    bool dc = kind < 16;
    uint32_t destination = dc ? kind : (kind & 15);
    if (destination > 3) return kMalformed;
    uint8_t counts[16];
    uint32_t total = 0;
    for (uint8_t& n : counts) {
        n = static_cast<uint8_t>(Read_8_Bit());
        total += n;
    }
    if (left < 17 + total || total > (dc ? kDCSymbols : kACSymbols)) return kMalformed;
    left -= 17 + total;
    HuffDecode& t = dc ? m_DCDecode[destination] : m_ACDecode[destination];
    if (!DctDecoder::AssignCodes(t, counts)) return kMalformed;
    t.SymbolCount = total;
    for (uint32_t i = 0; i < total; ++i) t.Symbols[i] = static_cast<uint8_t>(Read_8_Bit());
    if (m_bReadFailed) return kMalformed;
    DctDecoder::BuildLookahead(t);
    m_dwTablesDefined |= (dc ? 16u : 256u) << destination;
    return 0;
}

// An application segment whose fixed part is fixed bytes long (length field
// included) and begins with the 5-byte identifier id: true when the segment
// has them and its fields follow; otherwise the segment is passed over and
// result is what to report.
bool CDCTFilter::OpenAppSegment(const uint8_t* id, uint32_t fixed, uint32_t& length, uint32_t& result)
{
    length = Read_16_Bit();
    result = kMalformed;
    if (length < 2 || m_bReadFailed) return false;
    uint32_t read = 0;
    bool match = length >= fixed;
    for (; match && read < 5; ++read) match = Read_8_Bit() == id[read];
    if (!match) {
        Skip_Pointer(length - 2 - read);
        result = m_bReadFailed ? kMalformed : 0;
    }
    return match;
}

// APP0: a JFIF segment gives the density and announces a thumbnail, whose
// pixels are skipped with the rest of the segment; other APP0 segments are
// skipped.
uint32_t CDCTFilter::JFIF_Decoder()
{
    static const uint8_t kJfif[5] = {'J', 'F', 'I', 'F', 0};
    uint32_t length = 0, result = 0;
    if (!OpenAppSegment(kJfif, 16, length, result)) return result;
    Read_16_Bit();  // version
    m_nDensityUnit = static_cast<int32_t>(Read_8_Bit());
    m_dwXDensity = Read_16_Bit();
    m_dwYDensity = Read_16_Bit();
    uint32_t thumbWidth = Read_8_Bit(), thumbHeight = Read_8_Bit();
    m_dwThumbnail = (thumbWidth && thumbHeight) ? 1 : 0;
    // The thumbnail's 3 x width x height bytes are the rest of the segment.
    Skip_Pointer(length - 16);
    return m_bReadFailed ? kMalformed : 0;
}

// APP13: the segment's content is read whole and walked by
// ReadResolutionResource.
uint32_t CDCTFilter::ReadPhotoshopSegment()
{
    uint32_t length = Read_16_Bit();
    if (length < 2 || m_bReadFailed) return kMalformed;
    uint32_t size = length - 2;
    CScopedBuffer content(AllocBuffer(size + 1, 0, 0));
    if (!content.p) {
        Skip_Pointer(size);
        return m_bReadFailed ? kMalformed : 0;
    }
    for (uint32_t i = 0; i < size; ++i) content.p[i] = static_cast<uint8_t>(Read_8_Bit());
    if (m_bReadFailed) return kMalformed;
    ReadResolutionResource(content.p, size);
    return 0;
}

// "Photoshop 3.0" and resource blocks: "8BIM", a 16-bit identifier, a name
// (a length byte and characters, padded to an even length), a 32-bit data
// size and the data, padded to an even length. Resource 1005 (resolution)
// starts with the horizontal resolution as 16.16 fixed point, the vertical
// one 8 bytes further on; their whole parts become the densities in dots
// per inch. Nothing is read past the segment.
void CDCTFilter::ReadResolutionResource(const uint8_t* content, uint32_t size)
{
    static const uint8_t kPhotoshop[14] = {'P', 'h', 'o', 't', 'o', 's', 'h', 'o', 'p', ' ', '3', '.', '0', 0};
    if (size < sizeof kPhotoshop || std::memcmp(content, kPhotoshop, sizeof kPhotoshop) != 0) return;
    rastik::CFieldReader r(content + sizeof kPhotoshop, content + size, false);
    uint16_t id = 0, x = 0, y = 0;
    uint8_t nameLength = 0;
    uint32_t dataSize = 0;
    while (r.Skip(4) && r.U16(id) && r.U8(nameLength) && r.Skip(nameLength + ((nameLength + 1u) & 1u)) &&
           r.U32(dataSize)) {
        if (id == 1005) {
            if (dataSize >= 10 && r.U16(x) && r.Skip(6) && r.U16(y)) {
                m_dwXDensity = x;
                m_dwYDensity = y;
                m_nDensityUnit = 1;
            }
            return;
        }
        if (!r.Skip(size_t(dataSize) + (dataSize & 1u))) return;
    }
}

// APP14 "Adobe": the last byte of the segment's fixed part is the colour
// transform (0 none, 1 YCbCr, 2 YCCK).
uint32_t CDCTFilter::ReadAdobeSegment()
{
    static const uint8_t kAdobe[5] = {'A', 'd', 'o', 'b', 'e'};
    uint32_t length = 0, result = 0;
    if (!OpenAppSegment(kAdobe, 14, length, result)) return result;
    Skip_Pointer(6);  // version and the two flag words
    m_nTransform = static_cast<int32_t>(Read_8_Bit());
    Skip_Pointer(length - 14);
    return m_bReadFailed ? kMalformed : 0;
}

// Layout of the frame just read and the state of a fresh scan.
uint32_t CDCTFilter::Correct_Parameter()
{
    m_dwMcusPerRow = (m_dwWidth + m_dwMcuWidth - 1) / m_dwMcuWidth;
    if (m_dwRestartInterval == 0)
        m_dwRestartInterval = (m_dwHeight + m_dwMcuHeight - 1) / m_dwMcuHeight * m_dwMcusPerRow;
    if (m_nTransform == -1) m_nTransform = m_dwComponents == 3 ? 1 : 0;
    m_nTransform = (m_dwComponents >= 3 && m_nTransform != 0) ? 1 : 0;
    m_dwRestartCount = 0;
    Move_NextChar();
    m_dwRowsToDeliver = m_dwHeight;
    for (int32_t& predictor : m_DCPredictor) predictor = 0;

    // Components 1 and 2 (as far as there are any) one block per MCU.
    bool x11x = true;
    for (uint32_t c = 1; c < 3 && c < m_dwComponents; ++c)
        x11x = x11x && m_dwHSampling[c] == 1 && m_dwVSampling[c] == 1;
    bool small = m_dwMcuWidth == 8 && m_dwMcuHeight == 8;
    if (m_nTransform) {
        m_pMcuRoutine = small ? &CDCTFilter::Decode_Transform_MCU1111
                        : x11x ? &CDCTFilter::Decode_Transform_MCUx11x
                               : &CDCTFilter::Decode_Transform_MCU;
    } else if (m_dwComponents == 3) {
        m_pMcuRoutine = &CDCTFilter::Decode_NoTransform_MCU;
    } else {
        m_pMcuRoutine = small ? &CDCTFilter::Decode_NoTransform_MCU1111
                        : x11x ? &CDCTFilter::Decode_NoTransform_MCUx11x
                               : &CDCTFilter::Decode_NoTransform_MCU;
    }
    return m_dwMcuHeight;
}
