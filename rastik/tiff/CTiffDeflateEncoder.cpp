// The Deflate coder of TIFF strips.
#include "rastik/tiff/CTiffDeflateEncoder.h"

#include <libdeflate.h>

#include "rastik/support/Allocates.h"
#include "rastik/support/PixelRows.h"

namespace {

// The compression level: files about the size other TIFF writers make at
// their default, at a fraction of the time of the higher levels.
constexpr int kLevel = 6;

}  // namespace

CTiffDeflateEncoder::CTiffDeflateEncoder(uint32_t rowBytes, uint32_t samples)
    : m_rowBytes(rowBytes), m_samples(samples ? samples : 1)
{
}

CTiffDeflateEncoder::~CTiffDeflateEncoder()
{
    if (m_compressor) libdeflate_free_compressor(m_compressor);
}

std::unique_ptr<CTiffStripEncoder> CTiffDeflateEncoder::Twin() const
{
    return std::make_unique<CTiffDeflateEncoder>(m_rowBytes, m_samples);
}

bool CTiffDeflateEncoder::Reserve(uint32_t rows)
{
    if (!m_compressor) m_compressor = libdeflate_alloc_compressor(kLevel);
    if (!m_compressor) return false;
    uint64_t bytes = static_cast<uint64_t>(m_rowBytes) * rows;
    if (bytes == 0 || bytes > 0x7FFFFFFFull) return false;
    uint64_t bound = libdeflate_zlib_compress_bound(m_compressor, static_cast<size_t>(bytes));
    if (bound > 0xFFFFFFFFull) return false;
    if (!rastik::Allocates([&] {
            m_diff.resize(bytes);
            m_out.resize(bound);
        }))
        return false;
    m_reservedRows = rows;
    return true;
}

bool CTiffDeflateEncoder::Encode(const uint8_t* rows, uint32_t rowCount)
{
    if (rowCount == 0 || rowCount > m_reservedRows) return false;
    const size_t bytes = static_cast<size_t>(m_rowBytes) * rowCount;
    for (size_t at = 0; at < bytes; at += m_rowBytes)
        rastik::DifferenceSamples(rows + at, m_rowBytes, m_samples, m_diff.data() + at);
    size_t length = libdeflate_zlib_compress(m_compressor, m_diff.data(), bytes, m_out.data(), m_out.size());
    // The buffer holds the bound, so a stream always fits.
    m_length = static_cast<uint32_t>(length);
    return length != 0;
}
