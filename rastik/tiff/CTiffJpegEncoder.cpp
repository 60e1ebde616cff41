// The JPEG coder of TIFF strips. The DCT encoder writes a complete JFIF
// stream into memory; its marker segments (each 0xFF, the marker, a 16-bit
// big-endian length that counts itself, the content) are then sorted into
// the strip and the tables streams.
#include "rastik/tiff/CTiffJpegEncoder.h"

#include <algorithm>
#include <new>

#include "rastik/CDCTFilter.h"
#include "rastik/support/PixelRows.h"

namespace {

constexpr uint8_t kMarker = 0xFF;
constexpr uint8_t kStartOfImage = 0xD8, kEndOfImage = 0xD9;
constexpr uint8_t kFrame = 0xC0, kScan = 0xDA, kQuantTables = 0xDB, kHuffTables = 0xC4;
// The frame header holds 16-bit sizes.
constexpr uint32_t kMostSize = 65535;
constexpr uint32_t kMaxComponents = 4;
// Sampling factors of the components of YCbCr: luminance 2 x 2, chrominance 1 x 1.
constexpr uint8_t kYccSampling[3] = {2, 1, 1};
// The rows of the tables stream's image.
constexpr uint32_t kTableRows = 16;

void AppendMarker(std::vector<uint8_t>& out, uint8_t marker)
{
    out.push_back(kMarker);
    out.push_back(marker);
}

}  // namespace

// The DCT encoder with its flushed bytes appended to a vector.
class CTiffJpegEncoder::Filter : public CDCTFilter {
public:
    std::vector<uint8_t>* Out = nullptr;

protected:
    int WriteOut(const uint8_t* bytes, int count) override
    {
        try {
            Out->insert(Out->end(), bytes, bytes + count);
        } catch (const std::bad_alloc&) {
            return 0;
        }
        return count;
    }
};

CTiffJpegEncoder::CTiffJpegEncoder(uint32_t width, uint32_t samples, bool ycc, uint32_t quality)
    : m_width(width), m_samples(samples), m_ycc(ycc && samples == 3), m_quality(quality > 100 ? 100 : quality)
{
}

CTiffJpegEncoder::~CTiffJpegEncoder() = default;

bool CTiffJpegEncoder::Takes(uint32_t width, uint32_t samples)
{
    return width > 0 && width <= kMostSize && samples > 0 && samples <= kMaxComponents;
}

std::unique_ptr<CTiffStripEncoder> CTiffJpegEncoder::Twin() const
{
    return std::make_unique<CTiffJpegEncoder>(m_width, m_samples, m_ycc, m_quality);
}

uint32_t CTiffJpegEncoder::RowUnit() const
{
    return m_ycc ? 16 : 8;
}

bool CTiffJpegEncoder::Reserve(uint32_t rows)
{
    uint64_t bytes = static_cast<uint64_t>(m_width) * m_samples * std::max(rows, kTableRows);
    if (!Takes(m_width, m_samples) || rows == 0 || rows > kMostSize || bytes > 0x7FFFFFFFull) return false;
    try {
        if (!m_filter) m_filter = std::make_unique<Filter>();
        m_planar.resize(bytes);
    } catch (const std::bad_alloc&) {
        return false;
    }
    m_filter->Out = &m_stream;
    m_reservedRows = rows;
    return true;
}

bool CTiffJpegEncoder::EncodeStream(uint32_t rows)
{
    DCTINFO info;
    info.dwWidth = m_width;
    info.dwHeight = rows;
    info.dwComponents = m_samples;
    info.pHSampling = m_ycc ? kYccSampling : nullptr;
    info.pVSampling = m_ycc ? kYccSampling : nullptr;
    info.dQuantScale = 1.0 - static_cast<double>(m_quality) / 100.0;
    info.dwTransform = m_ycc ? 1 : 0;
    m_stream.clear();
    const int bytes = static_cast<int>(static_cast<uint64_t>(m_width) * m_samples * rows);
    if (m_filter->Encode_Header(0, &info) == CDCTFilter::kFailure) return false;
    uint32_t left = m_filter->Encoder(m_planar.data(), bytes);
    if (left != 0) return false;
    return m_filter->Encode_EOD() == 0;
}

bool CTiffJpegEncoder::Encode(const uint8_t* rows, uint32_t rowCount)
{
    if (rowCount == 0 || rowCount > m_reservedRows) return false;
    uint8_t* planes[kMaxComponents] = {};
    for (uint32_t c = 0; c < m_samples; ++c)
        planes[c] = m_planar.data() + static_cast<size_t>(c) * rowCount * m_width;
    const size_t rowBytes = static_cast<size_t>(m_width) * m_samples;
    for (uint32_t r = 0; r < rowCount; ++r) {
        rastik::SplitSamples(rows + r * rowBytes, m_width, m_samples, planes);
        for (uint32_t c = 0; c < m_samples; ++c) planes[c] += m_width;
    }
    try {
        return EncodeStream(rowCount) && SplitStream(&m_strip, nullptr);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool CTiffJpegEncoder::MakeTables(std::vector<uint8_t>& tables)
{
    if (!m_filter && !Reserve(kTableRows)) return false;
    // Any image gives the tables; a grey one of one MCU row is the least work.
    std::fill(m_planar.begin(), m_planar.begin() + static_cast<size_t>(m_width) * m_samples * kTableRows, 128);
    try {
        return EncodeStream(kTableRows) && SplitStream(nullptr, &tables);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool CTiffJpegEncoder::SplitStream(std::vector<uint8_t>* strip, std::vector<uint8_t>* tables) const
{
    const std::vector<uint8_t>& s = m_stream;
    if (s.size() < 4 || s[0] != kMarker || s[1] != kStartOfImage) return false;
    for (std::vector<uint8_t>* out : {strip, tables}) {
        if (!out) continue;
        out->clear();
        AppendMarker(*out, kStartOfImage);
    }
    for (size_t at = 2; at + 4 <= s.size();) {
        if (s[at] != kMarker) return false;
        const uint8_t marker = s[at + 1];
        const size_t end = at + 2 + (static_cast<size_t>(s[at + 2]) << 8 | s[at + 3]);
        if (end > s.size()) return false;
        if (marker == kScan) {
            // The scan's entropy-coded data and the end of image follow.
            if (strip) strip->insert(strip->end(), s.begin() + static_cast<ptrdiff_t>(at), s.end());
            if (tables) AppendMarker(*tables, kEndOfImage);
            return true;
        }
        // The frame goes to the strip, the tables to the tables; the JFIF
        // and Adobe segments are left out.
        std::vector<uint8_t>* out = nullptr;
        if (marker == kFrame) out = strip;
        else if (marker == kQuantTables || marker == kHuffTables) out = tables;
        const auto from = s.begin() + static_cast<ptrdiff_t>(at);
        if (out) out->insert(out->end(), from, from + static_cast<ptrdiff_t>(end - at));
        at = end;
    }
    return false;
}
