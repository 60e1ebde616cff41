// Construction, copying and destruction of the DCT encoder, and the release
// of its encoder code tables.
#include "rastik/CDCTFilter.h"

#include <cstring>
#include <new>
#include <tuple>

namespace {

constexpr uint32_t kDCEntries = 16;
constexpr uint32_t kACEntries = 256;

}  // namespace

CDCTFilter::CDCTFilter()
{
    m_pWorkArea = new (std::nothrow) int32_t[kWorkAreaBytes / sizeof(int32_t)]();
}

CDCTFilter::CDCTFilter(const CDCTFilter& other) : CCodecFilter(other)
{
    m_pWorkArea = new (std::nothrow) int32_t[kWorkAreaBytes / sizeof(int32_t)]();
    CopyFrom(other);
}

CDCTFilter& CDCTFilter::operator=(const CDCTFilter& other)
{
    if (this == &other) return *this;
    CCodecFilter::operator=(other);
    Free_Memory();
    CopyFrom(other);
    return *this;
}

CDCTFilter::~CDCTFilter()
{
    delete[] m_pWorkArea;
    Free_Memory();
}

// Copies every part of the coding state; buffers and code tables become this
// object's own. A code table that cannot be allocated stays null, so the copy
// refuses bands until a new header is written.
void CDCTFilter::CopyFrom(const CDCTFilter& other)
{
    m_dwWidth = other.m_dwWidth;
    m_dwHeight = other.m_dwHeight;
    m_dwComponents = other.m_dwComponents;
    std::memcpy(m_dwHSampling, other.m_dwHSampling, sizeof m_dwHSampling);
    std::memcpy(m_dwVSampling, other.m_dwVSampling, sizeof m_dwVSampling);
    std::memcpy(m_dwQuantSelector, other.m_dwQuantSelector, sizeof m_dwQuantSelector);
    std::memcpy(m_dwDCSelector, other.m_dwDCSelector, sizeof m_dwDCSelector);
    std::memcpy(m_dwACSelector, other.m_dwACSelector, sizeof m_dwACSelector);
    std::memcpy(m_QuantTable, other.m_QuantTable, sizeof m_QuantTable);
    std::memcpy(m_QuantNatural, other.m_QuantNatural, sizeof m_QuantNatural);
    std::memcpy(m_QuantMultiplier, other.m_QuantMultiplier, sizeof m_QuantMultiplier);
    std::memcpy(m_QuantShift, other.m_QuantShift, sizeof m_QuantShift);
    m_nTransform = other.m_nTransform;
    m_nDensityUnit = other.m_nDensityUnit;
    m_dwXDensity = other.m_dwXDensity;
    m_dwYDensity = other.m_dwYDensity;
    m_dQuantScale = other.m_dQuantScale;
    m_dwMcuWidth = other.m_dwMcuWidth;
    m_dwMcuHeight = other.m_dwMcuHeight;
    m_dwMcusPerRow = other.m_dwMcusPerRow;
    m_dwMcuColumn = other.m_dwMcuColumn;
    m_dwMcuRow = other.m_dwMcuRow;
    m_dwBandRows = other.m_dwBandRows;
    std::memcpy(m_pPlane, other.m_pPlane, sizeof m_pPlane);
    if (m_pWorkArea && other.m_pWorkArea) std::memcpy(m_pWorkArea, other.m_pWorkArea, kWorkAreaBytes);
    std::memcpy(m_Block, other.m_Block, sizeof m_Block);
    m_pBlock = m_Block;
    std::memcpy(m_DCPredictor, other.m_DCPredictor, sizeof m_DCPredictor);
    m_pCurQuant = nullptr;
    m_pCurDC = nullptr;
    m_pCurAC = nullptr;
    m_dwBitBuffer = other.m_dwBitBuffer;
    m_dwFreeBits = other.m_dwFreeBits;
    m_pMcuRoutine = other.m_pMcuRoutine;
    m_bWriteFailed = other.m_bWriteFailed;
    m_bMissingCode = other.m_bMissingCode;
    bool complete = true;
    for (int t = 0; t < 4; ++t) {
        if (other.m_pDCCode[t]) {
            m_pDCCode[t] = new (std::nothrow) HuffCode[kDCEntries];
            if (m_pDCCode[t]) std::memcpy(m_pDCCode[t], other.m_pDCCode[t], kDCEntries * sizeof(HuffCode));
            else complete = false;
        }
        if (other.m_pACCode[t]) {
            m_pACCode[t] = new (std::nothrow) HuffCode[kACEntries];
            if (m_pACCode[t]) std::memcpy(m_pACCode[t], other.m_pACCode[t], kACEntries * sizeof(HuffCode));
            else complete = false;
        }
    }
    if (!complete) Free_Memory();
    CopyDecodeState(other);
}

// The decoding tables and parameters. The stream position is not shared (the
// bytes read ahead belong to the other object), so the copy does not go on
// decoding the other's image.
void CDCTFilter::CopyDecodeState(const CDCTFilter& other)
{
    std::memcpy(m_DCDecode, other.m_DCDecode, sizeof m_DCDecode);
    std::memcpy(m_ACDecode, other.m_ACDecode, sizeof m_ACDecode);
    std::memcpy(m_ComponentId, other.m_ComponentId, sizeof m_ComponentId);
    std::tie(m_dwRestartInterval, m_dwRestartCount, m_dwThumbnail, m_dwRowsToDeliver, m_dwTablesDefined,
             m_bFrameSeen, m_bEndOfImage) =
        std::tie(other.m_dwRestartInterval, other.m_dwRestartCount, other.m_dwThumbnail, other.m_dwRowsToDeliver,
                 other.m_dwTablesDefined, other.m_bFrameSeen, other.m_bEndOfImage);
    m_pCurHuffman = nullptr;
    m_bDecoding = false;
    m_pReadPos = m_pReadEnd = m_pOutBuffer;
    m_bStreamEnd = m_bReadFailed = false;
    Move_NextChar();
    for (uint8_t*& output : m_pOutput) output = nullptr;
}

void CDCTFilter::Free_Memory()
{
    m_pAhead.reset();  // a band on the pool reads the tables
    for (int t = 0; t < 4; ++t) {
        delete[] m_pDCCode[t];
        delete[] m_pACCode[t];
        m_pDCCode[t] = nullptr;
        m_pACCode[t] = nullptr;
    }
    m_pCurDC = nullptr;
    m_pCurAC = nullptr;
}
