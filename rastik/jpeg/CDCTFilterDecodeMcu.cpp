// Band side of the DCT decoder: delivering bands of MCU rows interleaved or
// planar, the restart points between MCUs, the six MCU routines, block
// decoding, the inverse DCT and the conversion of samples into bytes.
#include <cstring>
#include <new>

#include "rastik/CDCTFilter.h"
#include "rastik/jpeg/DctDecoder.h"
#include "rastik/jpeg/JpegMarkers.h"

uint32_t CDCTFilter::Decoder(uint8_t* buffer, int& nBytes)
{
    if (!m_bDecoding || !buffer) return kFailure;
    uint32_t bandBytes = m_dwMcuHeight * m_dwWidth * m_dwComponents;
    uint32_t mcuRows = nBytes > 0 ? static_cast<uint32_t>(nBytes) / bandBytes : 0;
    for (uint32_t c = 0; c < m_dwComponents; ++c) m_pOutput[c] = buffer + c;
    m_dwOutStep = m_dwComponents;
    m_dwOutRowStride = m_dwWidth * m_dwComponents;
    // One component is delivered inverted (255 - sample), as the
    // interleaving step has always done with it.
    m_bUprightGrey = false;
    uint32_t rowsDone = 0;
    uint32_t result = DecodeBand(mcuRows, true, rowsDone);
    uint32_t delivered = 0;
    if (result != kFailure) result = FinishBand(rowsDone, true, m_dwWidth * m_dwComponents, delivered);
    nBytes = result == kFailure ? 0 : static_cast<int>(delivered);
    return result;
}

uint32_t CDCTFilter::L_Decoder(uint8_t** planes, uint32_t& nBytes)
{
    if (!m_bDecoding || !planes) return kFailure;
    for (uint32_t c = 0; c < m_dwComponents; ++c) {
        if (!planes[c]) return kFailure;
        m_pOutput[c] = planes[c];
    }
    uint32_t bandBytes = m_dwMcuHeight * m_dwWidth * m_dwComponents;
    m_dwOutStep = 1;
    m_dwOutRowStride = m_dwWidth;
    m_bUprightGrey = true;
    uint32_t rowsDone = 0;
    uint32_t result = DecodeBand(nBytes / bandBytes, false, rowsDone);
    uint32_t delivered = 0;
    if (result != kFailure) result = FinishBand(rowsDone, false, m_dwWidth * m_dwComponents, delivered);
    nBytes = result == kFailure ? 0 : delivered;
    return result;
}

// Decodes up to mcuRows MCU rows (no more than the image still has) into
// the outputs; at every restart point the next marker is read (with hunt,
// bytes before it are passed over), and the end-of-image marker stops the
// band. rowsDone receives the image rows of the MCU rows completed.
uint32_t CDCTFilter::DecodeBand(uint32_t mcuRows, bool hunt, uint32_t& rowsDone)
{
    if (m_dwRowsToDeliver > 0 && m_bEndOfImage) return m_bDecoding = false, kFailure;
    uint32_t rowsLeft = (m_dwRowsToDeliver + m_dwMcuHeight - 1) / m_dwMcuHeight;
    if (mcuRows > rowsLeft) mcuRows = rowsLeft;
    m_dwMcuColumn = 0;
    m_dwMcuRow = 0;
    uint32_t completed = 0;
    for (uint32_t row = 0; row < mcuRows && !m_bEndOfImage; ++row) {
        for (uint32_t i = 0; i < m_dwMcusPerRow; ++i) {
            if ((this->*m_pMcuRoutine)() != 0) return m_bDecoding = false, kFailure;
            if (++m_dwRestartCount < m_dwRestartInterval) continue;
            Move_NextChar();
            uint32_t marker = ReadRestartMarker(hunt);
            if (marker == kFailure) return m_bDecoding = false, kFailure;
            if (marker == jpegmarker::kEoi) {
                m_bEndOfImage = true;
                if (i + 1 < m_dwMcusPerRow) break;  // the row stays incomplete
            }
            m_dwRestartCount = 0;
            for (int32_t& predictor : m_DCPredictor) predictor = 0;
        }
        if (m_dwMcuColumn == 0) ++completed;
    }
    rowsDone = completed * m_dwMcuHeight;
    return 0;
}

// Accounts for a band of rowsDone rows: the rows still to come, or 0 for the
// last band, which (with checkEnd) must be followed by the end-of-image
// marker. delivered receives the valid bytes of the band.
uint32_t CDCTFilter::FinishBand(uint32_t rowsDone, bool checkEnd, uint32_t rowBytes, uint32_t& delivered)
{
    if (m_dwRowsToDeliver >= rowsDone) {
        m_dwRowsToDeliver -= rowsDone;
        delivered = rowsDone * rowBytes;
        if (m_dwRowsToDeliver == 0) ReleaseReadAhead();
        return m_dwRowsToDeliver;
    }
    if (checkEnd && !m_bEndOfImage) {
        Move_NextChar();
        if (ReadRestartMarker(true) != jpegmarker::kEoi) return m_bDecoding = false, kFailure;
        m_bEndOfImage = true;
    }
    delivered = m_dwRowsToDeliver * rowBytes;
    m_dwRowsToDeliver = 0;
    ReleaseReadAhead();
    return 0;
}

uint32_t CDCTFilter::Decode_Unit(uint32_t component)
{
    if (component >= m_dwComponents) return 0x80000002u;
    m_pCurQuant = m_QuantTable[m_dwQuantSelector[component]];
    m_pCurHuffman = &m_ACDecode[m_dwACSelector[component]];
    DctDecoder::Bits b = DctDecoder::Load(*this);
    bool hasAc;
    bool ok = DctDecoder::DecodeBlock(*this, b, component, m_pBlock, hasAc);
    DctDecoder::Save(*this, b);
    return ok ? 0 : 0x80000002u;
}

void CDCTFilter::Fast_IDCT()
{
    DctInverseTransform(m_pBlock, m_pBlock, 8);
}

// More than one component: v >> 17, 0 for negative v and 255 for v of
// 2^25 and more. One component: the same, inverted.
void CDCTFilter::Write_Char(uint8_t*& out, int32_t value)
{
    uint8_t byte = DctDecoder::Clamp(value);
    *out++ = m_dwComponents == 1 ? static_cast<uint8_t>(255 - byte) : byte;
}

uint32_t CDCTFilter::InterleavePlanes(uint8_t* buffer, uint32_t length, uint32_t components)
{
    if (components <= 1) {
        for (uint32_t i = 0; i < length; ++i) buffer[i] = static_cast<uint8_t>(255 - buffer[i]);
        return 1;
    }
    uint8_t* copy = new (std::nothrow) uint8_t[length];
    if (!copy) return 0;
    std::memcpy(copy, buffer, length);
    uint32_t plane = length / components;
    for (uint32_t i = 0; i < plane; ++i)
        for (uint32_t c = 0; c < components; ++c) buffer[i * components + c] = copy[c * plane + i];
    delete[] copy;
    return 1;
}

// The six routines differ in what they assume of the frame (the 1111 forms:
// an 8 x 8 MCU of one block per component; the x11x forms: components 1 and
// 2 of one block each, repeated across the MCU; the others: any sampling);
// they share the decoding of the MCU's blocks and their conversion into
// bytes, with or without YCbCr to RGB.
uint32_t CDCTFilter::Decode_Transform_MCU1111() { return DctDecoder::Mcu(*this, true); }
uint32_t CDCTFilter::Decode_Transform_MCUx11x() { return DctDecoder::Mcu(*this, true); }
uint32_t CDCTFilter::Decode_Transform_MCU() { return DctDecoder::Mcu(*this, true); }

uint32_t CDCTFilter::Decode_NoTransform_MCU1111() { return DctDecoder::Mcu(*this, false); }
uint32_t CDCTFilter::Decode_NoTransform_MCUx11x() { return DctDecoder::Mcu(*this, false); }
uint32_t CDCTFilter::Decode_NoTransform_MCU() { return DctDecoder::Mcu(*this, false); }
