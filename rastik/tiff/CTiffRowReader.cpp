// Decoded rows of a TIFF plane, strip by strip.
#include "rastik/tiff/CTiffRowReader.h"

#include <algorithm>
#include <cstring>

#include "rastik/General.h"
#include "rastik/support/ByteOrder.h"
#include "rastik/tiff/CTiffFaxDecoder.h"
#include "rastik/tiff/CTiffLzwDecoder.h"
#include "rastik/tiff/CTiffPackBitsDecoder.h"
#include "rastik/tiff/CTiffStripBytes.h"
#include "rastik/tiff/TiffTags.h"

namespace {

// Uncompressed rows read with one call in a whole-image read.
constexpr uint64_t kChunkBytes = 1u << 20;

const uint8_t kReverse[16] = {0x0, 0x8, 0x4, 0xC, 0x2, 0xA, 0x6, 0xE, 0x1, 0x9, 0x5, 0xD, 0x3, 0xB, 0x7, 0xF};

uint8_t ReverseBits(uint8_t b)
{
    return static_cast<uint8_t>((kReverse[b & 15] << 4) | kReverse[b >> 4]);
}

}  // namespace

CTiffRowReader::CTiffRowReader(CFile& file, const TiffStripPlan& plan)
    : m_file(file), m_plan(plan), m_rowBytes(plan.RowBytes())
{
}

CTiffRowReader::~CTiffRowReader()
{
    FreeBuffer(&m_rows);
}

bool CTiffRowReader::Open(uint32_t readAhead)
{
    if (m_rowBytes == 0 || m_plan.rowsPerStrip == 0 || m_plan.height == 0) return false;
    m_fileLength = m_file.GetLength();
    uint32_t rows = 1;
    if (m_plan.compression == tiff::kNone) {
        uint64_t fit = std::max<uint64_t>(1, kChunkBytes / m_rowBytes);
        rows = static_cast<uint32_t>(std::min<uint64_t>({std::max<uint32_t>(readAhead, 1), m_plan.rowsPerStrip, fit}));
    }
    m_rows = static_cast<uint8_t*>(AllocBuffer(rows * m_rowBytes, 0, 1));
    if (!m_rows) return false;
    m_rowsHeld = rows;
    if (m_plan.compression == tiff::kNone) return true;
    uint64_t largest = 0;
    for (uint32_t i = 0; i < m_plan.strips; ++i) largest = std::max<uint64_t>(largest, m_plan.counts[i]);
    m_bytes = std::make_unique<CTiffStripBytes>(m_file, m_fileLength, m_plan.reverseBits);
    if (!m_bytes->Reserve(largest)) return false;
    if (m_plan.compression == tiff::kLzw) m_lzw = std::make_unique<CTiffLzwDecoder>();
    if (m_plan.compression == tiff::kPackBits) m_packBits = std::make_unique<CTiffPackBitsDecoder>();
    if (m_plan.compression == tiff::kCcittRle) m_fax = std::make_unique<CTiffFaxDecoder>();
    return m_lzw || m_packBits || m_fax;
}

const uint8_t* CTiffRowReader::Row(uint32_t r)
{
    if (!m_rows || r >= m_plan.height) return nullptr;
    try {
        return m_plan.compression == tiff::kNone ? StoredRow(r) : DecodedRow(r);
    } catch (const CFileException&) {
        return nullptr;
    }
}

const uint8_t* CTiffRowReader::StoredRow(uint32_t r)
{
    if (r >= m_first && r - m_first < m_count) return m_rows + static_cast<size_t>(r - m_first) * m_rowBytes;
    uint32_t strip = r / m_plan.rowsPerStrip;
    uint32_t top = strip * m_plan.rowsPerStrip;
    uint32_t stripRows = std::min(m_plan.rowsPerStrip, m_plan.height - top);
    uint32_t rows = std::min(m_rowsHeld, top + stripRows - r);
    uint64_t bytes = static_cast<uint64_t>(rows) * m_rowBytes;
    uint64_t got = 0;
    if (strip < m_plan.strips) {
        uint64_t skip = static_cast<uint64_t>(r - top) * m_rowBytes;
        uint64_t at = m_plan.offsets[strip] + skip;
        uint64_t stored = m_plan.counts[strip] > skip ? m_plan.counts[strip] - skip : 0;
        if (at < m_fileLength && stored) {
            m_file.Seek(static_cast<int64_t>(at), CFile::begin);
            got = m_file.Read(m_rows, static_cast<uint32_t>(std::min({bytes, stored, m_fileLength - at})));
        }
    }
    memset(m_rows + got, 0, bytes - got);
    if (m_plan.reverseBits)
        for (uint64_t i = 0; i < got; ++i) m_rows[i] = ReverseBits(m_rows[i]);
    m_first = r;
    m_count = rows;
    return m_rows;
}

const uint8_t* CTiffRowReader::DecodedRow(uint32_t r)
{
    uint32_t strip = r / m_plan.rowsPerStrip;
    if ((strip != m_strip || r < m_next) && !StartStrip(strip)) return nullptr;
    for (; m_next < r; ++m_next) {
        if (m_lzw)
            m_lzw->SkipRow(m_rowBytes);
        else
            DecodeRow(m_rows);
    }
    DecodeRow(m_rows);
    ++m_next;
    if (m_plan.differencing) UndoDifferencing(m_rows);
    return m_rows;
}

bool CTiffRowReader::StartStrip(uint32_t strip)
{
    m_strip = strip;
    m_next = strip * m_plan.rowsPerStrip;
    if (strip < m_plan.strips)
        m_bytes->Start(m_plan.offsets[strip], m_plan.counts[strip]);
    else
        m_bytes->Start(0, 0);
    if (m_lzw) return m_lzw->Start(*m_bytes);
    if (m_packBits) m_packBits->Start(*m_bytes);
    if (m_fax) m_fax->Start(*m_bytes);
    return true;
}

void CTiffRowReader::DecodeRow(uint8_t* row)
{
    if (m_lzw)
        m_lzw->ReadLZWTiff(row, m_rowBytes);
    else if (m_packBits)
        m_packBits->ReadPackBitsTiff(row, m_rowBytes);
    else
        m_fax->ReadHuffmanTiff(row, m_plan.width);
}

// Horizontal differencing: every sample but those of the first pixel of a
// row is stored as its difference from the same sample of the pixel before,
// for 16-bit samples as whole samples in the file's byte order.
void CTiffRowReader::UndoDifferencing(uint8_t* row) const
{
    uint32_t step = m_plan.samples;
    if (m_plan.bits == 8) {
        for (uint32_t i = step; i < m_rowBytes; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - step]);
        return;
    }
    if (m_plan.bits != 16) return;
    bool little = m_plan.littleEndian;
    uint32_t count = m_plan.width * step;
    for (uint32_t i = step; i < count; ++i) {
        uint16_t v = static_cast<uint16_t>(rastik::Get16(row + 2 * i, little) + rastik::Get16(row + 2 * (i - step), little));
        rastik::Put16(row + 2 * i, v, little);
    }
}
