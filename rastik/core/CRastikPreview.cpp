// Preview sizing, the row and column sampler that reduced reads feed, and the
// conversion of reduced planes into the bottom-up 24-bit preview buffer.
#include <cstring>

#include "rastik/CRastik.h"
#include "rastik/Convert.h"
#include "rastik/Exports.h"
#include "rastik/General.h"
#include "rastik/core/CReducedSampler.h"
#include "rastik/support/CScopedBuffer.h"
#include "rastik/support/PixelRows.h"

namespace {

// Preview rows are the pixel rows of a bottom-up 24-bit bitmap.
uint32_t PreviewRowBytes(uint32_t width)
{
    return (width * 24 + 31) / 32 * 4;
}

}  // namespace

int CRastik::GetPrevDataSize()
{
    PrevWidth = static_cast<uint16_t>(Width);
    PrevHeight = static_cast<uint16_t>(Height);
    uint32_t maxSize = MaxPrevSize > 0 ? static_cast<uint32_t>(MaxPrevSize) : 96u;
    if (maxSize >= Width && maxSize >= Height) return 1;
    // The scale is held as a 32-bit float: 1000 / 96 rounds up to 10.416667,
    // and the quotients, taken at full precision, fall just short of 96 and
    // 48, so a 1000 x 500 image previews at 95 x 47.
    float scale = static_cast<float>(Width > Height ? Width : Height) / static_cast<float>(maxSize);
    double w = static_cast<double>(Width) / static_cast<double>(scale);
    double h = static_cast<double>(Height) / static_cast<double>(scale);
    PrevWidth = static_cast<uint16_t>(w);
    PrevHeight = static_cast<uint16_t>(h);
    if (PrevWidth == 0) PrevWidth = 1;
    if (PrevHeight == 0) PrevHeight = 1;
    return 1;
}

const std::vector<uint32_t>& CRastik::ReduceColumns()
{
    if (m_reduceColumnsFor[0] != PrevWidth || m_reduceColumnsFor[1] != Width) {
        m_reduceColumns = CReducedSampler::Positions(Width, PrevWidth);
        m_reduceColumnsFor[0] = PrevWidth;
        m_reduceColumnsFor[1] = Width;
    }
    return m_reduceColumns;
}

int CRastik::AddToReduceData(uint16_t outRow, const uint8_t* sourceRow, uint8_t** planes)
{
    if (!sourceRow || !planes || PrevWidth == 0 || Width == 0) return 1;
    const std::vector<uint32_t>& columns = ReduceColumns();
    const size_t taken = columns.size();
    uint32_t stride = BytesPerRow(static_cast<uint32_t>(PrevWidth) * 8);
    size_t rowAt = static_cast<size_t>(outRow) * stride;
    uint32_t channels = ChannelCount ? ChannelCount : 1;

    if (ColorMode == kModeRgb || ColorMode == kModeCmyk) {
        uint32_t colors = ColorChannels < channels ? ColorChannels : channels;
        for (uint32_t k = 0; k < colors; ++k) {
            if (BgrSamples && k > 2) break;
            uint8_t* out = planes[BgrSamples ? 2 - k : k];
            if (!out) continue;
            out += rowAt;
            for (size_t i = 0; i < taken; ++i) {
                size_t j = columns[i];
                out[i] = sourceRow[(!BgrSamples && PlanarRows) ? j + static_cast<size_t>(Width) * k : k + channels * j];
            }
        }
        return 1;
    }
    if (ColorMode != kModeIndexed && ColorMode != kModeBitmap && ColorMode != kModeGrey &&
        ColorMode != kModeOther)
        return 1;
    uint8_t* out = planes[0];
    if (!out) return 1;
    out += rowAt;
    for (size_t i = 0; i < taken; ++i) {
        size_t p = PlanarRows ? columns[i] : static_cast<size_t>(channels) * columns[i];
        out[i] = BitsPerChannel == 1 || BitsPerChannel == 4 ? rastik::PixelAt(sourceRow, p, BitsPerChannel) : sourceRow[p];
    }
    return 1;
}

int CRastik::PreviewFromReducedData(uint32_t& width, uint32_t& height, uint8_t*& buffer)
{
    buffer = nullptr;
    if (Width == 0 || Height == 0) return 0;
    GetPrevDataSize();
    width = PrevWidth;
    height = PrevHeight;
    // A host may allow previews of up to 65535 x 65535 pixels: sizes in 64 bits.
    uint32_t planeCount = ChannelCount > ColorChannels ? ChannelCount : ColorChannels;
    if (planeCount == 0 || planeCount > static_cast<uint32_t>(kMaxChannels)) return 0;
    uint64_t planeBytes = static_cast<uint64_t>(BytesPerRow(static_cast<uint32_t>(PrevWidth) * 8)) * PrevHeight;
    uint64_t resultBytes = static_cast<uint64_t>(PreviewRowBytes(PrevWidth)) * PrevHeight;
    if (resultBytes > 0xFFFFFFFFull || planeBytes * planeCount > 0xFFFFFFFFull) return 0;
    CScopedBuffer result(AllocBuffer(static_cast<uint32_t>(resultBytes), 1, 0));
    CScopedBuffer work(AllocBuffer(static_cast<uint32_t>(planeBytes * planeCount), 1, 0));
    if (!result.p || !work.p) return 0;
    uint8_t* planes[kMaxChannels] = {};
    for (uint32_t k = 0; k < planeCount; ++k) planes[k] = work.p + static_cast<size_t>(k) * planeBytes;
    if (!ReadReducedData(PrevWidth, PrevHeight, planes)) return 0;
    ReducedDataForPrev(planes, result.p);
    FreeBuffer(&Palette);
    buffer = result.Release();
    return 1;
}

int CRastik::ReducedDataForPrev(uint8_t** planes, uint8_t* buffer)
{
    if (!planes || !buffer) return 1;
    uint32_t stride = BytesPerRow(static_cast<uint32_t>(PrevWidth) * 8);
    uint32_t rowBytes = PreviewRowBytes(PrevWidth);
    for (uint32_t i = 0; i < PrevHeight; ++i) {
        uint8_t* dst = buffer + static_cast<size_t>(PrevHeight - 1 - i) * rowBytes;
        size_t at = static_cast<size_t>(i) * stride;
        for (uint32_t x = 0; x < PrevWidth; ++x, dst += 3) {
            size_t s = at + x;
            switch (ColorMode) {
            case kModeRgb:
                if (PrevIsBgr) {
                    dst[0] = planes[0][s]; dst[1] = planes[1][s]; dst[2] = planes[2][s];
                } else {
                    dst[0] = planes[2][s]; dst[1] = planes[1][s]; dst[2] = planes[0][s];
                }
                break;
            case kModeCmyk: {
                uint8_t cmyk[4] = {planes[0][s], planes[1][s], planes[2][s], planes[3][s]};
                uint8_t rgb[3] = {};
                ConvertPixelParams params{cmyk, rgb, {1, 1, 1, 1}};
                uint32_t scratch = 0;
                ConvertPixel(3, &params, &scratch);
                dst[0] = rgb[2]; dst[1] = rgb[1]; dst[2] = rgb[0];
                break;
            }
            case kModeIndexed:
            case kModeBitmap: {
                uint32_t index = planes[0][s];
                if (Palette && index < PaletteSize) {
                    memcpy(dst, Palette + index * 4, 3);
                } else {
                    dst[0] = dst[1] = dst[2] = 0;
                }
                break;
            }
            case kModeGrey:
            case kModeOther:
                dst[0] = dst[1] = dst[2] = planes[0][s];
                break;
            default:
                break;
            }
        }
    }
    return 1;
}
