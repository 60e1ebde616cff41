// Band side of the DCT encoder: accepting bands, the four MCU routines that
// turn the band's samples into blocks, the forward DCT and the coding of
// blocks into the scan. Inside a conversion with worker threads, a band's
// MCUs are transformed on the workers while this thread codes them in order.
#include "rastik/CDCTFilter.h"
#include "rastik/jpeg/DctCoder.h"
#include "rastik/jpeg/DctMcuBlocks.h"
#include "rastik/support/CPoolScope.h"

namespace {

constexpr auto Shifted = DctShifted;
constexpr auto Inverted = DctInverted;

}  // namespace

uint32_t CDCTFilter::Encoder(const uint8_t* band, int count)
{
    return EncodeBand(band, count, false);
}

uint32_t CDCTFilter::EncoderAhead(const uint8_t* band, int count)
{
    return EncodeBand(band, count, true);
}

uint32_t CDCTFilter::EncoderAhead(const uint8_t* const* planes, uint32_t rows)
{
    if (!TakesBands()) return kFailure;
    if (!planes || rows == 0) return kBadBand;
    for (uint32_t c = 0; c < m_dwComponents; ++c)
        if (!planes[c]) return kBadBand;
    return EncodePlanes(planes, rows, true);
}

uint32_t CDCTFilter::EncodeBand(const uint8_t* band, int count, bool ahead)
{
    if (!TakesBands()) return kFailure;
    uint64_t rowBytes = static_cast<uint64_t>(m_dwComponents) * m_dwWidth;
    if (!band || count <= 0 || static_cast<uint64_t>(count) % rowBytes != 0) return kBadBand;
    uint32_t rows = static_cast<uint32_t>(static_cast<uint64_t>(count) / rowBytes);
    const uint8_t* planes[4] = {};
    for (uint32_t c = 0; c < m_dwComponents; ++c) planes[c] = band + static_cast<size_t>(c) * rows * m_dwWidth;
    return EncodePlanes(planes, rows, ahead);
}

uint32_t CDCTFilter::EncodePlanes(const uint8_t* const* planes, uint32_t rows, bool ahead)
{
    if (rows > m_dwHeight) return kFailure;
    if (rows < m_dwHeight && rows % m_dwMcuHeight != 0) return kBadBand;
    if (!AppendAhead()) {
        Free_Memory();
        return kFailure;
    }

    m_dwHeight -= rows;
    for (uint32_t c = 0; c < m_dwComponents; ++c) m_pPlane[c] = planes[c];
    m_dwBandRows = rows;
    m_dwMcuColumn = 0;
    m_dwMcuRow = 0;
    uint32_t mcus = (rows + m_dwMcuHeight - 1) / m_dwMcuHeight * m_dwMcusPerRow;
    uint32_t result = m_dwHeight;
    CWorkerPool* pool = CPoolScope::Lent();
    if (pool && mcus >= 2 * kMcusPerItem) {
        StartMcusOnPool(*pool, mcus);
        if (!ahead && !AppendAhead()) {
            Free_Memory();
            result = kFailure;
        }
        mcus = 0;
    }
    for (uint32_t i = 0; i < mcus; ++i) {
        if ((this->*m_pMcuRoutine)() != 0) {
            Free_Memory();
            result = kFailure;
            break;
        }
    }
    for (const uint8_t*& plane : m_pPlane) plane = nullptr;
    return result;
}

// 8 x 8 MCU, one block per component, samples taken as they are.
uint32_t CDCTFilter::Encode_NoTransform_MCU1111()
{
    DctCoder::McuSpan span = DctCoder::NextMcu(*this, 8);
    for (uint32_t c = 0; c < m_dwComponents; ++c)
        DctCoder::FillArea<8>(ComponentArea(c), m_pPlane[c] + span.offset, m_dwWidth, span, Shifted);
    for (uint32_t c = 0; c < m_dwComponents; ++c) DctCoder::TransformAndCodeArea(*this, ComponentArea(c), c);
    return m_bMissingCode ? 1 : 0;
}

// 16 x 16 MCU: components 0 and 3 four blocks each, components 1 and 2 one
// block of 2 x 2 averages. Samples of images with other than three
// components are inverted.
uint32_t CDCTFilter::Encode_NoTransform_MCU4114()
{
    DctCoder::McuSpan span = DctCoder::NextMcu(*this, 16);
    for (uint32_t c = 0; c < m_dwComponents; ++c) {
        if (m_dwComponents == 3)
            DctCoder::FillArea<16>(ComponentArea(c), m_pPlane[c] + span.offset, m_dwWidth, span, Shifted);
        else
            DctCoder::FillArea<16>(ComponentArea(c), m_pPlane[c] + span.offset, m_dwWidth, span, Inverted);
    }
    for (uint32_t c = 0; c < m_dwComponents; ++c) {
        if (c == 0 || c == 3) {
            DctCoder::CodeQuadrants(*this, c);
        } else {
            DctCoder::LoadReduced(*this, ComponentArea(c), 2);
            DctCoder::TransformAndCode(*this, c);
        }
    }
    return m_bMissingCode ? 1 : 0;
}

// 8 x 8 MCU: planes 0..2 are R, G, B and become Y, Cb, Cr; a fourth plane
// (K) is inverted.
uint32_t CDCTFilter::Encode_Transform_MCU1111()
{
    DctCoder::McuSpan span = DctCoder::NextMcu(*this, 8);
    DctCoder::FillYCbCr<8>(*this, span, Inverted);
    for (uint32_t c = 0; c < m_dwComponents; ++c) DctCoder::TransformAndCodeArea(*this, ComponentArea(c), c);
    return m_bMissingCode ? 1 : 0;
}

// 16 x 16 MCU: Y four blocks, Cb and Cr one block each of 2 x 2 sums shifted
// right by 2, an inverted K four blocks.
uint32_t CDCTFilter::Encode_Transform_MCU4114()
{
    DctCoder::McuSpan span = DctCoder::NextMcu(*this, 16);
    DctCoder::FillYCbCr<16>(*this, span, Inverted);
    DctCoder::CodeQuadrants(*this, 0);
    for (uint32_t c = 1; c <= 2; ++c) {
        DctCoder::LoadReduced(*this, ComponentArea(c), 0);
        DctCoder::TransformAndCode(*this, c);
    }
    if (m_dwComponents == 4) DctCoder::CodeQuadrants(*this, 3);
    return m_bMissingCode ? 1 : 0;
}

void CDCTFilter::Fast_FDCT(int32_t* block)
{
    DctCoder::Fdct(block);
}

void CDCTFilter::Encode_Unit(uint32_t component)
{
    DctCoder::EncodeBlock(*this, component);
}

void CDCTFilter::ENCODE_DC(int32_t difference)
{
    if (!m_pCurDC) return;
    DctCoder::Bits b{m_dwBitBuffer, m_dwFreeBits};
    DctCoder::PutValue(*this, b, m_pCurDC, 0, difference);
    m_dwBitBuffer = b.acc;
    m_dwFreeBits = b.free;
}

void CDCTFilter::ENCODE_AC(uint32_t run, int32_t value)
{
    if (!m_pCurAC || run > 15) return;
    DctCoder::Bits b{m_dwBitBuffer, m_dwFreeBits};
    DctCoder::PutValue(*this, b, m_pCurAC, run << 4, value);
    m_dwBitBuffer = b.acc;
    m_dwFreeBits = b.free;
}
