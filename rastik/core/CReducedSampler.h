// The sampling rule of reduced reads and previews: source row r is taken
// when the integer part of r x (target height / source height) equals the
// number of target rows made so far, and likewise for columns. The ratios
// are 32-bit floats and their products are taken at full precision, so
// every codec reduces an image to the same pixels.
#pragma once

#include <cstdint>
#include <vector>

class CReducedSampler {
public:
    CReducedSampler(uint32_t sourceWidth, uint32_t sourceHeight, uint32_t width, uint32_t height);

    // Whether source row r is the next row the reduced image takes (rows
    // are asked in ascending order).
    bool Wants(uint32_t r) const
    {
        return m_made < m_height && static_cast<uint32_t>(static_cast<double>(m_rowRatio) * r) == m_made;
    }
    // Counts a taken row; the target row it became.
    uint32_t Take() { return m_made++; }
    // Target rows made so far, and whether all are made.
    uint32_t RowsMade() const { return m_made; }
    bool Done() const { return m_made >= m_height; }
    // The source row of every target row, in order.
    const std::vector<uint32_t>& Rows() const { return m_rows; }
    // The source column of every target column, in order (fewer than the
    // target width when the target is wider than the source).
    const std::vector<uint32_t>& Columns() const { return m_columns; }

    // Source positions that map to target positions 0, 1, 2, ... under the
    // rule, for count targets over size sources.
    static std::vector<uint32_t> Positions(uint32_t size, uint32_t count);

private:
    float m_rowRatio;
    uint32_t m_height;
    uint32_t m_made = 0;
    std::vector<uint32_t> m_rows;
    std::vector<uint32_t> m_columns;
};
