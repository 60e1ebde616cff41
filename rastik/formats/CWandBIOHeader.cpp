// Bitmap headers of the black-and-white writer: the file and information
// headers and the palette.
#include <cstdint>
#include <cstring>

#include "platform/CFileException.h"
#include "rastik/CWandBIO.h"
#include "rastik/General.h"
#include "rastik/Messages.h"
#include "rastik/formats/BmpHeaderLayout.h"

int CWandBIO::WriteHeader()
{
    if (ColorChannels > 3) {
        ShowRastikMessage(kMsgBmpChannels);
        return 0;
    }
    if (ColorMode == kModeGrey) {
        uint8_t ramp[256 * 4];
        for (int i = 0; i < 256; ++i) {
            ramp[4 * i] = ramp[4 * i + 1] = ramp[4 * i + 2] = static_cast<uint8_t>(i);
            ramp[4 * i + 3] = 0;
        }
        PaletteSize = 256;
        if (!SetPalette(ramp, 256)) return 0;
    }
    int result = WriteHeaderBytes();
    FreeBuffer(&Palette);
    return result;
}

int CWandBIO::WriteHeaderBytes()
{
    int32_t xPels = 0, yPels = 0;
    if (!BmpPelsPerMetre(XResolution, ResolutionUnit, &xPels) ||
        !BmpPelsPerMetre(YResolution, ResolutionUnit, &yPels)) {
        ShowRastikMessage(kMsgResolutionUnit);
        return 0;
    }
    // Rows of Width x channels bytes rounded to whole 4-byte words; the
    // recorded file size is rounded the same way.
    uint64_t offset = kBmpHeadersBytes + 4ull * PaletteSize;
    uint64_t rowBytes = (static_cast<uint64_t>(Width) * ColorChannels + 3) & ~3ull;
    uint64_t fileSize = (offset + rowBytes * Height + 3) & ~3ull;
    if (fileSize > 0xFFFFFFFFull || Width > static_cast<uint32_t>(INT32_MAX) ||
        Height > static_cast<uint32_t>(INT32_MAX))
        return 0;

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
    try {
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
    } catch (const CFileException& e) {
        ShowFileError(e);
        return 0;
    }
    return 1;
}
