// GIF writing: a GIF87a file with one global colour table, one image of the
// index plane (one index per byte, top row first, not interlaced), the block
// terminator and the trailer.
#include <cstring>
#include <memory>
#include <new>

#include "rastik/CGifIO.h"
#include "rastik/General.h"
#include "rastik/Messages.h"
#include "rastik/core/COperation.h"
#include "rastik/core/CPlaneRowStream.h"
#include "rastik/formats/CGifLzwEncoder.h"
#include "rastik/formats/GifBlocks.h"
#include "rastik/support/ByteOrder.h"

namespace {

constexpr uint8_t kSignature[6] = {'G', 'I', 'F', '8', '7', 'a'};
constexpr uint32_t kMaxSide = 0xFFFF;

}  // namespace

uint32_t CGifIO::TableBits() const
{
    if (ColorMode == kModeBitmap) return 1;
    uint32_t bits = 1;
    if (PaletteSize == 0 || PaletteSize > 256) return 8;
    while ((1u << bits) < PaletteSize) ++bits;
    return bits;
}

int CGifIO::WriteHeader()
{
    COperation op(*this, COperation::kWrite);
    return op.Run([&] { return WriteBlocks(); });
}

CStatus CGifIO::WriteBlocks()
{
    // One index plane of a two-colour or indexed image.
    if ((ColorMode != kModeBitmap && ColorMode != kModeIndexed) || ColorChannels != 1 || ChannelCount < 1)
        return CStatus::Failed(kMsgImageType);
    if (Width == 0 || Height == 0 || Width > kMaxSide || Height > kMaxSide) return CStatus::Failed();
    InterlaceFlag = 0;
    uint32_t bits = TableBits();
    uint32_t entries = 1u << bits;

    memcpy(Header, kSignature, sizeof Header);
    rastik::PutLE16(ScreenDescriptor, static_cast<uint16_t>(Width));
    rastik::PutLE16(ScreenDescriptor + 2, static_cast<uint16_t>(Height));
    // Global table, colour resolution and table size from the bits per pixel.
    ScreenDescriptor[4] = static_cast<uint8_t>(gif::kTableFlag | ((bits - 1) << 4) | (bits - 1));
    ScreenDescriptor[5] = 0;
    ScreenDescriptor[6] = 0;
    memset(ImageDescriptor, 0, sizeof ImageDescriptor);
    rastik::PutLE16(ImageDescriptor + 4, static_cast<uint16_t>(Width));
    rastik::PutLE16(ImageDescriptor + 6, static_cast<uint16_t>(Height));

    // Table entries red, green, blue from the palette's blue, green, red;
    // entries past the palette are black. An image without a palette is
    // black and white (two colours) or grey.
    uint8_t table[3 * 256] = {};
    for (uint32_t i = 0; i < entries; ++i) {
        uint8_t* t = table + 3 * i;
        if (Palette && i < PaletteSize) {
            t[0] = Palette[4 * i + 2];
            t[1] = Palette[4 * i + 1];
            t[2] = Palette[4 * i];
        } else if (!Palette) {
            t[0] = t[1] = t[2] = static_cast<uint8_t>(i * 255 / (entries - 1));
        }
    }
    File.Write(Header, sizeof Header);
    File.Write(ScreenDescriptor, sizeof ScreenDescriptor);
    File.Write(table, 3 * entries);
    File.Write(&gif::kImageSeparator, 1);
    File.Write(ImageDescriptor, sizeof ImageDescriptor);
    return CStatus::Ok();
}

int CGifIO::WriteFile()
{
    COperation op(*this, COperation::kWrite);
    return op.Run([&] {
        if (!WriteHeader()) return op.Of(0);
        if (CStatus s = iEncodeGIF_LZW(); !s) return s;
        const uint8_t end[2] = {0x00, gif::kTrailer};
        File.Write(end, sizeof end);
        File.Flush();
        return CStatus::Ok();
    });
}

CStatus CGifIO::iEncodeGIF_LZW()
{
    std::unique_ptr<CGifLzwEncoder> encoder(new (std::nothrow) CGifLzwEncoder(File));
    if (!encoder) return CStatus::Failed(kMsgNoBuffer);
    CPlaneRowStream rows(*this, CPlaneRowStream::kDrain, CPlaneRowStream::kTopDown, 1);
    rows.LeaveMessagesToStatus();
    if (!rows.Open()) return rows.Status() ? CStatus::Failed() : rows.Status();
    encoder->Start(TableBits());
    for (uint32_t y = 0; y < Height; ++y) {
        const uint8_t* row = rows.Row(0);
        if (!row) return rows.Status() ? CStatus::Failed() : rows.Status();
        encoder->Add(row, Width);
        if (!rows.Advance()) return rows.Status();
    }
    if (rows.Finish() != CPlaneRowStream::kDone) return rows.Status();
    encoder->Finish();
    return CStatus::Ok();
}
