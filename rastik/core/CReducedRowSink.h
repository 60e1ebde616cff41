// The sink of a reduced read (and of a preview, which is one): takes the
// source rows and columns the reduced sampler selects into the target
// planes (one per colour channel, rows of BytesPerRow(width x 8) bytes),
// with progress and Esc over every row handed over or passed. Rows that
// come in order are selected by their stored position, so a bottom-up file
// fills the target from its last row; rows of any order by their image row.
#pragma once

#include <cstdint>

#include "rastik/CRastik.h"
#include "rastik/core/CReducedSampler.h"
#include "rastik/core/CRowProgress.h"
#include "rastik/core/CRowSink.h"

class CReducedRowSink : public CRowSink {
public:
    CReducedRowSink(CRastik& image, const CRowLayout& layout, uint32_t width, uint32_t height, uint8_t* const* planes,
                    uint32_t planeCount);

    bool Wants(uint32_t row) const noexcept override;
    bool Done() const noexcept override;
    CStatus Put(uint32_t row, const uint8_t* const* samples, CRowColumns columns) noexcept override;
    CStatus Pass(uint32_t row) noexcept override;

private:
    // The target row image row row becomes, or -1 when it is not taken.
    int64_t TargetOf(uint32_t row) const;
    // Sample of colour plane c at column x of a row in the layout.
    uint8_t Sample(const uint8_t* const* samples, uint32_t x, uint32_t c) const;
    CStatus Step();

    CRastik& m_image;
    CRowLayout m_layout;
    CReducedSampler m_sampler;
    uint8_t* m_planes[kMaxChannels] = {};
    uint32_t m_planeCount;
    uint32_t m_height;
    uint32_t m_stride;
    CRowProgress m_progress;
    size_t m_taken = 0;
};
