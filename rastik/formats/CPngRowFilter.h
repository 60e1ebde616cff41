// The filter of each row of a written PNG. Rows of 8-bit grey and colour
// images try all five filters (none, sub, up, average, Paeth) and keep the
// one whose bytes, read as signed, sum smallest in magnitude, the earlier
// filter on a tie; palette rows are stored unfiltered. A single row leaves
// out the filters that look at the row above, a single column those that
// look at the pixel to the left; the row above the first is zero.
#pragma once

#include <cstdint>
#include <vector>

#include "rastik/support/NonCopyable.h"

class CPngRowFilter : private NonCopyable {
public:
    // An image of width x height pixels of pixelBytes bytes (one per sample).
    CPngRowFilter(uint32_t width, uint32_t height, uint32_t pixelBytes, bool palette);

    uint32_t RowBytes() const { return m_rowBytes; }
    // Filters row (prior: the row above, zero for the first) into out:
    // the filter type byte, then rowBytes filtered bytes.
    void Filter(const uint8_t* row, const uint8_t* prior, uint8_t* out);

private:
    enum Type : uint8_t { kNone = 0, kSub = 1, kUp = 2, kAverage = 3, kPaeth = 4 };
    // Filters row by type into out (without the type byte); the sum of the
    // magnitudes of its bytes, or more than limit when it has passed it.
    uint64_t Apply(Type type, const uint8_t* row, const uint8_t* prior, uint8_t* out, uint64_t limit) const;

    uint32_t m_rowBytes;
    uint32_t m_pixelBytes;
    uint8_t m_types = 0;  // bit t: filter type t is tried
    std::vector<uint8_t> m_best, m_trial;
};
