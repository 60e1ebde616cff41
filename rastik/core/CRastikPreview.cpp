// Preview sizing, the row and column sampler that reduced reads feed, and the
// conversion of reduced planes into the bottom-up 24-bit preview buffer.
#include <cstring>

#include "rastik/CRastik.h"
#include "rastik/Convert.h"
#include "rastik/Exports.h"
#include "rastik/General.h"

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

uint16_t CRastik::PathFileType()
{
    if (m_typedPath != Path) {
        m_typedPath = Path;
        m_pathType = DetectFileType(Path);
    }
    return m_pathType;
}

int CRastik::AddToReduceData(uint16_t outRow, const uint8_t* sourceRow, uint8_t** planes)
{
    if (!sourceRow || !planes || PrevWidth == 0 || Width == 0) return 1;
    uint32_t stride = BytesPerRow(static_cast<uint32_t>(PrevWidth) * 8);
    size_t rowAt = static_cast<size_t>(outRow) * stride;
    // The ratio is a 32-bit float; its products are taken at full precision.
    float ratio = static_cast<float>(PrevWidth) / static_cast<float>(Width);
    uint32_t channels = ChannelCount ? ChannelCount : 1;

    if (ColorMode == kModeRgb || ColorMode == kModeCmyk) {
        uint16_t type = PathFileType();
        bool bgr = type == kTypeBmp || type == kTypeBgr;
        uint32_t colors = ColorChannels < channels ? ColorChannels : channels;
        for (uint32_t k = 0; k < colors; ++k) {
            if (bgr && k > 2) break;
            uint8_t* out = planes[bgr ? 2 - k : k];
            if (!out) continue;
            out += rowAt;
            uint32_t i = 0;
            for (uint32_t j = 0; j < Width && i < PrevWidth; ++j) {
                if (static_cast<uint32_t>(static_cast<double>(ratio) * j) != i) continue;
                size_t at = (!bgr && PlanarRows) ? j + static_cast<size_t>(Width) * k
                                                 : k + static_cast<size_t>(channels) * j;
                out[i++] = sourceRow[at];
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
    uint32_t i = 0;
    for (uint32_t j = 0; j < Width && i < PrevWidth; ++j) {
        if (static_cast<uint32_t>(static_cast<double>(ratio) * j) != i) continue;
        size_t p = PlanarRows ? j : static_cast<size_t>(channels) * j;
        uint8_t v;
        if (BitsPerChannel == 4) {
            uint8_t b = sourceRow[p / 2];
            v = (p % 2 == 0) ? static_cast<uint8_t>(b >> 4) : static_cast<uint8_t>(b & 0x0F);
        } else if (BitsPerChannel == 1) {
            v = static_cast<uint8_t>((sourceRow[p / 8] >> (7 - p % 8)) & 1);
        } else {
            v = sourceRow[p];
        }
        out[i++] = v;
    }
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
