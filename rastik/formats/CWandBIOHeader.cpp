// Bitmap headers of the black-and-white writer: the file and information
// headers and the palette.
#include <cstdint>
#include <cstring>

#include "platform/CFileException.h"
#include "rastik/CWandBIO.h"
#include "rastik/General.h"
#include "rastik/Messages.h"
#include "rastik/core/COperation.h"
#include "rastik/formats/BmpHeaderLayout.h"
#include "rastik/support/PixelRows.h"

int CWandBIO::WriteHeader()
{
    COperation op(*this, COperation::kWrite);
    return op.Run([&] {
        if (ColorChannels > 3) return CStatus::Failed(kMsgBmpChannels);
        if (ColorMode == kModeGrey) {
            uint8_t ramp[256 * 4];
            rastik::FillGreyRamp(ramp, 256);
            PaletteSize = 256;
            if (!SetPalette(ramp, 256)) return CStatus::Failed();
        }
        CStatus result = WriteHeaderBytes();
        FreeBuffer(&Palette);
        return result;
    });
}

CStatus CWandBIO::WriteHeaderBytes()
{
    int32_t xPels = 0, yPels = 0;
    if (!BmpPelsPerMetre(XResolution, ResolutionUnit, &xPels) ||
        !BmpPelsPerMetre(YResolution, ResolutionUnit, &yPels))
        return CStatus::Failed(kMsgResolutionUnit);
    // Rows of Width x channels bytes rounded to whole 4-byte words; the
    // recorded file size is rounded the same way.
    uint64_t offset = kBmpHeadersBytes + 4ull * PaletteSize;
    uint64_t rowBytes = (static_cast<uint64_t>(Width) * ColorChannels + 3) & ~3ull;
    uint64_t fileSize = (offset + rowBytes * Height + 3) & ~3ull;
    if (fileSize > 0xFFFFFFFFull || Width > static_cast<uint32_t>(INT32_MAX) ||
        Height > static_cast<uint32_t>(INT32_MAX))
        return CStatus::Failed();

    CBmpIO::FileHeader file{CBmpIO::kBmpType, static_cast<uint32_t>(fileSize), 0, 0, static_cast<uint32_t>(offset)};
    CBmpIO::InfoHeader info;
    info.Size = CBmpIO::kInfoHeaderBytes;
    info.Width = static_cast<int32_t>(Width);
    info.Height = static_cast<int32_t>(Height);  // positive: rows bottom-up
    info.Planes = 1;
    info.BitCount = static_cast<uint16_t>(ColorChannels * BitsPerChannel);
    info.XPelsPerMeter = xPels;
    info.YPelsPerMeter = yPels;
    info.ClrUsed = PaletteSize;
    uint8_t h[kBmpHeadersBytes] = {};
    PackBmpHeaders(file, info, h);
    File.Write(h, kBmpHeadersBytes);
    if (PaletteSize > 0) {
        if (Palette) {
            File.Write(Palette, 4 * PaletteSize);
        } else {
            uint8_t zero[4] = {};
            for (uint32_t i = 0; i < PaletteSize; ++i) File.Write(zero, 4);
        }
    }
    File.Flush();
    return CStatus::Ok();
}
