// Bitmaps whose pixel data is a JPEG (compression 4) or PNG (compression 5)
// file, from the pixel-data offset to the end of the file: read by the
// library's JPEG and PNG codecs.
#include <cstring>

#include "rastik/CBmpIO.h"
#include "rastik/CJpgIO.h"
#include "rastik/CPngIO.h"
#include "rastik/General.h"
#include "rastik/Messages.h"
#include "rastik/core/CRowSource.h"
#include "rastik/formats/BmpHeaderLayout.h"

int CBmpIO::DescribeEmbedded(uint64_t length)
{
    uint32_t offset = BmpFileHeader.OffBits;
    if (offset >= length) return kMsgBadHeader;
    std::unique_ptr<CRastik> inner;
    if (BmpInfoHeader.Compression == kBmpJpeg) {
        auto jpeg = std::make_unique<CJpgIO>(Path);
        jpeg->SetSource(File, offset, length - offset);
        inner = std::move(jpeg);
    } else {
        auto png = std::make_unique<CPngIO>(Path);
        png->SetStart(offset);
        inner = std::move(png);
    }
    // The refusal is this codec's own message.
    inner->ShowMessages = 0;
    if (!inner->ReadImageHead() || inner->ColorMode == kModeCmyk || inner->Width > 0x1FFFFFFF) return kMsgBadHeader;
    uint64_t stride = BytesPerRow(inner->Width * 8);
    if (stride * inner->Height > 0xFFFFFFFFull || stride * inner->ChannelCount > 0xFFFFFFFFull) return kMsgBadHeader;
    Width = inner->Width;
    Height = inner->Height;
    ColorMode = inner->ColorMode;
    PaletteSize = inner->PaletteSize;
    BitsPerChannel = m_fileBitsPerChannel = inner->BitsPerChannel;
    ChannelCount = m_fileChannels = inner->ChannelCount;
    ColorChannels = inner->ColorChannels;
    FileBitCount = BmpInfoHeader.BitCount;
    FreeBuffer(&Palette);
    if (PaletteSize > 0 && inner->Palette) {
        Palette = static_cast<uint8_t*>(AllocBuffer(PaletteSize * 4, 0, 0));
        if (!Palette) return kMsgBadHeader;
        memcpy(Palette, inner->Palette, PaletteSize * 4);
    }
    m_embedded = std::move(inner);
    m_store = PixelStore::kEmbedded;
    return 0;
}

std::unique_ptr<CRowSource> CBmpIO::OpenEmbeddedSource(RowPurpose purpose)
{
    if (!m_embedded) return nullptr;
    // The planes the host asked for.
    m_embedded->ChannelCount = ChannelCount;
    m_embedded->BitsPerChannel = BitsPerChannel;
    m_embedded->UseColorChannels = UseColorChannels;
    m_embedded->BytesPerLine = BytesPerLine;
    return RowSourceOf(*m_embedded, purpose);
}
