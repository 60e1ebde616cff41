// Picture rows: reading and skipping stored rows in file order, and the row
// decoders that turn a stored row of 1, 2, 4, 8, 16 or 32 bits per pixel
// into the planes' rows (indexes or grey levels, or red, green and blue).
#include <cstring>

#include "rastik/CPicIO.h"
#include "rastik/General.h"
#include "rastik/formats/CPictRowLayout.h"
#include "rastik/formats/CPictSource.h"
#include "rastik/support/PackBits.h"
#include "rastik/support/PixelRows.h"

int CPicIO::BeginRows()
{
    EndRows();
    if (!m_layout || Width == 0) return 0;
    // Unpacked rows keep room for a trailing half unit of 16-bit data.
    m_stored = static_cast<uint8_t*>(AllocBuffer(m_layout->StoredCapacity() + 2, 1, 0));
    m_unpacked = static_cast<uint8_t*>(AllocBuffer(m_layout->RowBytes + 2, 1, 0));
    if (!m_stored || !m_unpacked) return 0;
    File.Seek(DataOffset, CFile::begin);
    m_rows = std::make_unique<CPictSource>(File);
    return 1;
}

void CPicIO::EndRows()
{
    m_rows.reset();
    FreeBuffer(&m_stored);
    FreeBuffer(&m_unpacked);
}

int CPicIO::SkipRow()
{
    return m_rows && m_layout->Skip(*m_rows) ? 1 : 0;
}

int CPicIO::ReadRow(uint8_t* const* planes)
{
    uint32_t length = 0;
    if (!m_rows || !m_layout->Read(*m_rows, m_stored, &length)) return 0;
    switch (Pixmap.pixelSize) {
    case 1:
    case 2:
    case 4:
    case 8: ReadIndexLineData(planes[0], m_stored, length); break;
    case 16: ReadOne16LineData(planes, m_stored, length); break;
    case 32: ReadOne32LineData(planes, m_stored, length); break;
    default: return 0;
    }
    return 1;
}

// A packed row is expanded to the row's bytes; a row that unpacks short
// leaves the rest 0. Unpacked rows are used as they are.
const uint8_t* CPicIO::UnpackedRow(const uint8_t* stored, uint32_t length)
{
    if (!m_layout->Packed) return stored;
    size_t done = rastik::UnpackBits(stored, length, m_unpacked, m_layout->RowBytes, m_layout->Unit);
    if (done < m_layout->RowBytes) memset(m_unpacked + done, 0, m_layout->RowBytes - done);
    return m_unpacked;
}

void CPicIO::ReadIndexLineData(uint8_t* out, const uint8_t* packed, uint32_t length)
{
    rastik::UnpackPixels(UnpackedRow(packed, length), Width, Pixmap.pixelSize, out, m_indexMap);
}

void CPicIO::Read16Bytes(uint8_t high, uint8_t low, uint8_t* rgb)
{
    uint32_t v = (static_cast<uint32_t>(high) << 8) | low;
    rgb[0] = static_cast<uint8_t>(((v >> 10) & 0x1F) << 3);
    rgb[1] = static_cast<uint8_t>(((v >> 5) & 0x1F) << 3);
    rgb[2] = static_cast<uint8_t>((v & 0x1F) << 3);
}

void CPicIO::ReadOne16LineData(uint8_t* const* out, const uint8_t* packed, uint32_t length)
{
    const uint8_t* row = UnpackedRow(packed, length);
    for (uint32_t x = 0; x < Width; ++x) {
        uint8_t rgb[3];
        Read16Bytes(row[2 * x], row[2 * x + 1], rgb);
        out[0][x] = rgb[0];
        out[1][x] = rgb[1];
        out[2][x] = rgb[2];
    }
}

// Packed 32-bit rows hold each component's row in turn (alpha first when
// there are four); unpacked ones interleave pixels of pad or alpha, red,
// green and blue, or of red, green and blue alone.
void CPicIO::ReadOne32LineData(uint8_t* const* out, const uint8_t* packed, uint32_t length)
{
    const uint8_t* row = UnpackedRow(packed, length);
    size_t w = Width;
    uint32_t step = m_layout->PixelBytes;
    if (step == 0) {
        const uint8_t* red = row + (Pixmap.cmpCount == 4 ? w : 0);
        for (size_t c = 0; c < 3; ++c) memcpy(out[c], red + c * w, w);
        return;
    }
    const uint8_t* p = row + (step == 4 ? 1 : 0);
    for (size_t x = 0; x < w; ++x, p += step) {
        out[0][x] = p[0];
        out[1][x] = p[1];
        out[2][x] = p[2];
    }
}
