// MCUs of a band made into transformed blocks, for coding in order later.
#include "rastik/jpeg/DctMcuBlocks.h"

#include "rastik/jpeg/DctCoder.h"

namespace {

using Span = DctCoder::McuSpan;

Span SpanOf(const DctMcuBlocks::Band& band, uint32_t mcu, uint32_t size)
{
    const uint32_t column = mcu % band.mcusPerRow * size;
    const uint32_t row = mcu / band.mcusPerRow * size;
    Span span;
    span.offset = static_cast<size_t>(row) * band.width + column;
    span.columns = std::min(size, band.width - column);
    span.rows = std::min(size, band.rows - row);
    return span;
}

int32_t* Area(int32_t* area, uint32_t c)
{
    return area + 256 * c;
}

// The four quadrant blocks of a 16 x 16 area, transformed.
int32_t* Quadrants(const int32_t* area, int32_t* blocks)
{
    for (uint32_t q = 0; q < 4; ++q, blocks += 64) {
        DctCoder::LoadQuadrant(blocks, area, q & 1, q >> 1);
        DctCoder::Fdct(blocks);
    }
    return blocks;
}

// The block of 2 x 2 averages of a 16 x 16 area, transformed.
int32_t* Reduced(const int32_t* area, int32_t rounding, int32_t* blocks)
{
    DctCoder::LoadReduced(blocks, area, rounding);
    DctCoder::Fdct(blocks);
    return blocks + 64;
}

void MakePlain16(const DctMcuBlocks::Band& band, const Span& span, int32_t* area, int32_t* blocks)
{
    for (uint32_t c = 0; c < band.components; ++c) {
        if (band.components == 3)
            DctCoder::FillArea<16>(Area(area, c), band.planes[c] + span.offset, band.width, span, DctShifted);
        else
            DctCoder::FillArea<16>(Area(area, c), band.planes[c] + span.offset, band.width, span, DctInverted);
    }
    for (uint32_t c = 0; c < band.components; ++c)
        blocks = c == 0 || c == 3 ? Quadrants(Area(area, c), blocks) : Reduced(Area(area, c), 2, blocks);
}

void MakeYcc16(const DctMcuBlocks::Band& band, const Span& span, int32_t* area, int32_t* blocks)
{
    const size_t at = span.offset;
    DctCoder::FillYCbCrAreas<16>(band.planes[0] + at, band.planes[1] + at, band.planes[2] + at, band.width, span,
                                 Area(area, 0), Area(area, 1), Area(area, 2));
    if (band.components == 4)
        DctCoder::FillArea<16>(Area(area, 3), band.planes[3] + at, band.width, span, DctInverted);
    blocks = Quadrants(Area(area, 0), blocks);
    blocks = Reduced(Area(area, 1), 0, blocks);
    blocks = Reduced(Area(area, 2), 0, blocks);
    if (band.components == 4) Quadrants(Area(area, 3), blocks);
}

}  // namespace

uint32_t DctMcuBlocks::Order(const Band& band, uint32_t* components)
{
    uint32_t n = 0;
    const bool sixteen = band.kind == kPlain16 || band.kind == kYcc16;
    for (uint32_t c = 0; c < band.components; ++c) {
        const uint32_t blocks = sixteen && (c == 0 || c == 3) ? 4 : 1;
        for (uint32_t b = 0; b < blocks; ++b) components[n++] = c;
    }
    return n;
}

void DctMcuBlocks::Make(const Band& band, uint32_t mcu, int32_t* area, int32_t* blocks)
{
    const uint32_t size = band.kind == kPlain16 || band.kind == kYcc16 ? 16 : 8;
    const Span span = SpanOf(band, mcu, size);
    if (band.kind == kPlain16) return MakePlain16(band, span, area, blocks);
    if (band.kind == kYcc16) return MakeYcc16(band, span, area, blocks);
    const size_t at = span.offset;
    uint32_t c = 0;
    if (band.kind == kYcc8) {
        DctCoder::FillYCbCrAreas<8>(band.planes[0] + at, band.planes[1] + at, band.planes[2] + at, band.width, span,
                                    Area(area, 0), Area(area, 1), Area(area, 2));
        c = 3;
    }
    for (; c < band.components; ++c) {
        if (band.kind == kYcc8)
            DctCoder::FillArea<8>(Area(area, c), band.planes[c] + at, band.width, span, DctInverted);
        else
            DctCoder::FillArea<8>(Area(area, c), band.planes[c] + at, band.width, span, DctShifted);
    }
    for (c = 0; c < band.components; ++c) DctForwardTransform(Area(area, c), blocks + 64 * c);
}
