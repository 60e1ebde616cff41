// Input side of the DCT decoder: bytes read ahead from the encoded-data
// stream into the codec's buffer, header bytes, the bit reader of the scan,
// Huffman symbols and the markers met at restart points.
#include <cstring>

#include "rastik/CDCTFilter.h"
#include "rastik/Exports.h"
#include "rastik/jpeg/DctDecoder.h"
#include "rastik/jpeg/JpegMarkers.h"

// Makes at least need bytes available from m_pReadPos, reading the stream
// into the buffer behind the bytes still unused; false when the stream ends
// first. A null stream reads as zeros.
bool CDCTFilter::FillInput(uint32_t need)
{
    size_t left = static_cast<size_t>(m_pReadEnd - m_pReadPos);
    if (left >= need) return true;
    if (m_bStreamEnd || !m_pOutBuffer) return false;
    if (left) std::memmove(m_pOutBuffer, m_pReadPos, left);
    size_t room = kOutBufferSize - left;
    std::memset(m_pOutBuffer + left, 0, room);
    int got = ReadEncodedData(m_nStream, reinterpret_cast<char*>(m_pOutBuffer + left), static_cast<int>(room));
    if (got <= 0) {
        got = 0;
        m_bStreamEnd = true;
    }
    m_pReadPos = m_pOutBuffer;
    m_pReadEnd = m_pOutBuffer + left + static_cast<size_t>(got);
    return left + static_cast<size_t>(got) >= need;
}

// Gives the bytes read ahead but not used back to the encoded-data file, so
// that it stands right behind the image, as if read byte by byte.
void CDCTFilter::ReleaseReadAhead()
{
    size_t unread = static_cast<size_t>(m_pReadEnd - m_pReadPos);
    m_pReadPos = m_pReadEnd = m_pOutBuffer;
    if (unread == 0 || m_nStream != 1 || !g_pEncodedDataFile) return;
    try {
        g_pEncodedDataFile->Seek(-static_cast<int64_t>(unread), CFile::current);
    } catch (const CFileException&) {
        // The file stays where the reads left it.
    }
}

uint32_t CDCTFilter::Read_8_Bit()
{
    if (m_pReadPos == m_pReadEnd && !FillInput(1)) {
        m_bReadFailed = true;
        return 0;
    }
    return *m_pReadPos++;
}

uint32_t CDCTFilter::Read_16_Bit()
{
    uint32_t high = Read_8_Bit();
    return high << 8 | Read_8_Bit();
}

void CDCTFilter::Skip_Pointer(uint32_t count)
{
    while (count > 0) {
        if (m_pReadPos == m_pReadEnd && !FillInput(1)) {
            m_bReadFailed = true;
            return;
        }
        size_t step = std::min<size_t>(count, static_cast<size_t>(m_pReadEnd - m_pReadPos));
        m_pReadPos += step;
        count -= static_cast<uint32_t>(step);
    }
}

// A marker: 0xFF and the marker code. Fill bytes (0xFF) before the code
// are allowed.
uint32_t CDCTFilter::ReadMarker()
{
    uint32_t word = Read_16_Bit();
    while (word == jpegmarker::kFill && !m_bReadFailed) word = 0xFF00 | Read_8_Bit();
    return word;
}

uint32_t CDCTFilter::ReadBit(uint32_t count)
{
    if (count == 0 || count > 16) return 0;
    DctDecoder::Bits b = DctDecoder::Load(*this);
    if (b.count < count) DctDecoder::Fill(*this, b);
    uint32_t v = DctDecoder::Take(b, count);
    DctDecoder::Save(*this, b);
    return v;
}

uint32_t CDCTFilter::RECEIVE_EXTEND(uint32_t size)
{
    if (size == 0 || size > 16) return 0;
    return static_cast<uint32_t>(DctDecoder::Extend(ReadBit(size), size));
}

uint32_t CDCTFilter::DECODE()
{
    if (!m_pCurHuffman) return DctDecoder::kBadSymbol;
    DctDecoder::Bits b = DctDecoder::Load(*this);
    if (b.count < 16) DctDecoder::Fill(*this, b);
    uint32_t symbol = DctDecoder::Symbol(*m_pCurHuffman, b);
    DctDecoder::Save(*this, b);
    return symbol;
}

// The reader never takes a byte beyond the scan data it needs for more than
// the bits in hand, and stops at markers, so dropping the bits in hand
// leaves the stream at the next byte boundary.
void CDCTFilter::Move_NextChar()
{
    m_qwReadBits = 0;
    m_dwReadCount = 0;
    m_dwPadBits = 0;
    m_bSegmentEnd = false;
}

// The marker at a restart point, after Move_NextChar. With hunt, bytes
// before it are passed over until a word of 0xFFD0 or above (other than
// fill) turns up; without, the next word must be a marker. 0xFFFFFFFF when
// the stream ends first or the word is no marker.
uint32_t CDCTFilter::ReadRestartMarker(bool hunt)
{
    m_bReadFailed = false;
    uint32_t word = ReadMarker();
    if (m_bReadFailed) return kFailure;
    if (!hunt) return jpegmarker::IsMarker(word) ? word : kFailure;
    while (word < jpegmarker::kRst0 || word == jpegmarker::kFill) {
        word = ((word << 8) | Read_8_Bit()) & 0xFFFF;
        if (m_bReadFailed) return kFailure;
    }
    return word;
}
