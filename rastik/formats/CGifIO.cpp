// GIF reading: the blocks up to the first image descriptor with the colour
// tables and the transparent colour, and the image rows (in file order,
// interlaced or not) into the index plane, a reduced image or the preview.
#include "rastik/CGifIO.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "platform/DefaultPalette.h"
#include "rastik/General.h"
#include "rastik/Messages.h"
#include "rastik/core/CPlaneRowStream.h"
#include "rastik/core/CRowSource.h"
#include "rastik/core/CStatus.h"
#include "rastik/formats/CGifLzwDecoder.h"
#include "rastik/formats/GifBlocks.h"
#include "rastik/support/ByteOrder.h"

namespace {

// The header read's result for a file that is not a GIF at all.
constexpr int kNotGif = -1;
// LZW packs at most 4,093 pixels (the longest string) into a 12-bit code,
// so no byte of image data holds more than 2,731 pixels.
constexpr uint64_t kMaxPixelsPerDataByte = 2731;

bool SameLetters(const uint8_t* bytes, const char* text, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        uint8_t a = bytes[i], b = static_cast<uint8_t>(text[i]);
        if (a >= 'a' && a <= 'z') a = static_cast<uint8_t>(a - 32);
        if (b >= 'a' && b <= 'z') b = static_cast<uint8_t>(b - 32);
        if (a != b) return false;
    }
    return true;
}

// Interlaced rows come in four passes: every 8th row from 0, every 8th from
// 4, every 4th from 2, every 2nd from 1.
class RowOrder {
public:
    RowOrder(uint32_t height, bool interlaced) : m_height(height), m_interlaced(interlaced) {}
    uint32_t Row() const { return m_row; }
    void Next()
    {
        static const uint32_t kStart[4] = {0, 4, 2, 1};
        static const uint32_t kStep[4] = {8, 8, 4, 2};
        if (!m_interlaced) {
            ++m_row;
            return;
        }
        m_row += kStep[m_pass];
        while (m_row >= m_height && ++m_pass < 4) m_row = kStart[m_pass];
    }

private:
    uint32_t m_height;
    bool m_interlaced;
    uint32_t m_pass = 0;
    uint32_t m_row = 0;
};

}  // namespace

// The payload of the image's data sub-blocks: a length byte, that many
// bytes, and so on up to a zero length or the end of the file.
class CGifIO::SubBlocks : public CGifLzwDecoder::Source {
public:
    explicit SubBlocks(CGifIO& codec) : m_codec(codec) {}
    uint32_t More(uint8_t* to, uint32_t room) override
    {
        uint32_t got = 0;
        while (got < room && !m_done) {
            if (m_left == 0 && (m_left = static_cast<uint32_t>(m_codec.ReadNextBit())) == 0) {
                m_done = true;
                break;
            }
            uint32_t take = std::min(m_left, room - got);
            uint32_t read = m_codec.File.Read(to + got, take);
            got += read;
            m_left -= read;
            if (read < take) m_done = true;
        }
        return got;
    }

private:
    CGifIO& m_codec;
    uint32_t m_left = 0;
    bool m_done = false;
};

CGifIO::CGifIO(const char* path)
{
    Path = path;
}

CGifIO::~CGifIO() = default;

int CGifIO::ReadNextBit()
{
    uint8_t b = 0;
    return File.Read(&b, 1) == 1 ? b : 0;
}

CStatus CGifIO::ReadHead()
{
    int message = ReadHeadBlocks();
    if (message == 0) return CStatus::Ok();
    ReleaseTransparencyRecord();
    return CStatus::Failed(message == kNotGif ? 0 : message);
}

int CGifIO::HeadReadError() const
{
    return kMsgBadHeader;
}

int CGifIO::ReadHeadBlocks()
{
    ReleaseTransparencyRecord();
    InterlaceFlag = 0;
    memset(GraphicControl, 0, sizeof GraphicControl);
    memset(PlainTextHeader, 0, sizeof PlainTextHeader);
    memset(ApplicationHeader, 0, sizeof ApplicationHeader);
    File.Seek(0, CFile::begin);
    if (File.Read(Header, sizeof Header) != sizeof Header) return kNotGif;
    if (!SameLetters(Header, "GIF", 3) || !(SameLetters(Header + 3, "87a", 3) || SameLetters(Header + 3, "89a", 3)))
        return kNotGif;
    if (File.Read(ScreenDescriptor, sizeof ScreenDescriptor) != sizeof ScreenDescriptor) return kMsgBadHeader;

    // The global table, replaced by a local one; without either the size
    // bits of the screen still give the palette size.
    uint8_t rgb[3 * 256];
    uint32_t entries = gif::TableEntries(ScreenDescriptor[4]);
    bool table = (ScreenDescriptor[4] & gif::kTableFlag) != 0;
    if (table && !ReadColorTable(entries, rgb)) return kMsgBadHeader;

    for (;;) {
        int block = ReadNextBit();
        if (block == gif::kImageSeparator) break;
        if (block != gif::kExtensionIntroducer || ReadExtension() != 0) return kMsgBadHeader;
    }

    if (File.Read(ImageDescriptor, sizeof ImageDescriptor) != sizeof ImageDescriptor) return kMsgBadHeader;
    InterlaceFlag = (ImageDescriptor[8] & gif::kInterlaceFlag) != 0;
    if (ImageDescriptor[8] & gif::kTableFlag) {
        entries = gif::TableEntries(ImageDescriptor[8]);
        table = true;
        if (!ReadColorTable(entries, rgb)) return kMsgBadHeader;
    }
    // The image's own size; its place on the logical screen is not used.
    uint32_t width = rastik::GetLE16(ImageDescriptor + 4);
    uint32_t height = rastik::GetLE16(ImageDescriptor + 6);
    if (width == 0 || height == 0) return kMsgBadHeader;
    // The data starts with its minimum code size.
    m_minCodeSize = static_cast<uint32_t>(ReadNextBit());
    if (m_minCodeSize < CGifLzwDecoder::kMinCodeSizeLow || m_minCodeSize > CGifLzwDecoder::kMinCodeSizeHigh)
        return kMsgBadHeader;
    m_dataPos = File.GetPosition();
    // A file far too short for its image is refused before a host makes
    // planes for it; shorter data within that bound decodes as truncated.
    uint64_t length = File.GetLength();
    if (length < m_dataPos || (length - m_dataPos) * kMaxPixelsPerDataByte < static_cast<uint64_t>(width) * height)
        return kMsgBadHeader;

    MakePalette(table ? rgb : nullptr, entries);
    if (!Palette) return kMsgNoBuffer;
    Width = width;
    Height = height;
    ColorMode = entries == 2 ? kModeBitmap : kModeIndexed;
    ChannelCount = ColorChannels = 1;
    BitsPerChannel = entries == 2 ? 1 : 8;
    FileBitCount = 8;
    ResolutionUnit = 1;
    XResolution = YResolution = 72.0f;
    BytesPerLine = BytesPerRow(Width * 8);
    if (TransparentIndex >= 0 && !MakeTransparencyRecord()) return kMsgNoBuffer;
    return 0;
}

int CGifIO::ReadColorTable(uint32_t entries, uint8_t* rgb)
{
    return File.Read(rgb, 3 * entries) == 3 * entries;
}

// An extension after its introducer: the label, then data sub-blocks up to
// a zero length. The first sub-block of the graphic control, plain text and
// application extensions is kept; the graphic control names the transparent
// colour. 0, or a message id for a sub-block that cannot be read.
int CGifIO::ReadExtension()
{
    int label = ReadNextBit();
    uint8_t data[256];
    bool first = true;
    for (;;) {
        uint32_t length = static_cast<uint32_t>(ReadNextBit());
        if (length == 0) break;
        if (File.Read(data, length) != length) return kMsgBadHeader;
        if (!first) continue;
        first = false;
        if (label == gif::kGraphicControlLabel) {
            GraphicControl[0] = static_cast<uint8_t>(length);
            memcpy(GraphicControl + 1, data, std::min<uint32_t>(length, 4));
            if (length >= 4 && (data[0] & gif::kTransparentFlag)) TransparentIndex = data[3];
        } else if (label == gif::kPlainTextLabel) {
            PlainTextHeader[0] = static_cast<uint8_t>(length);
            memcpy(PlainTextHeader + 1, data, std::min<uint32_t>(length, sizeof PlainTextHeader - 1));
        } else if (label == gif::kApplicationLabel) {
            ApplicationHeader[0] = static_cast<uint8_t>(length);
            memcpy(ApplicationHeader + 1, data, std::min<uint32_t>(length, sizeof ApplicationHeader - 1));
        }
    }
    return 0;
}

// Palette entries blue, green, red, 0 from the table's red, green, blue.
// Without a table: black and white for two colours, else the system's
// default palette.
void CGifIO::MakePalette(const uint8_t* rgb, uint32_t entries)
{
    FreeBuffer(&Palette);
    PaletteSize = entries;
    Palette = static_cast<uint8_t*>(AllocBuffer(4 * entries, 0, 0));
    if (!Palette) return;
    PALETTEENTRY system[256];
    if (!rgb && entries != 2) GetDefaultPaletteEntries(0, entries, system);
    for (uint32_t i = 0; i < entries; ++i) {
        uint8_t* e = Palette + 4 * i;
        if (rgb) {
            e[0] = rgb[3 * i + 2];
            e[1] = rgb[3 * i + 1];
            e[2] = rgb[3 * i];
        } else if (entries == 2) {
            e[0] = e[1] = e[2] = i ? 255 : 0;
        } else {
            e[0] = system[i].peBlue;
            e[1] = system[i].peGreen;
            e[2] = system[i].peRed;
        }
        e[3] = 0;
    }
}

int CGifIO::MakeTransparencyRecord()
{
    FormatBuffers[0] = static_cast<uint8_t*>(AllocBuffer(kLayerRecordBytes, 0, 0));
    FormatBuffers[1] = static_cast<uint8_t*>(AllocBuffer(kMaskRecordBytes, 0, 0));
    if (!FormatBuffers[0] || !FormatBuffers[1]) return 0;
    FormatCount = 1;
    // Fields are numbered from 1.
    auto set = [this](uint32_t field, uint32_t value) { memcpy(FormatBuffers[0] + 4 * (field - 1), &value, 4); };
    const uint32_t layer[4] = {0, 0, Width, Height};
    for (uint32_t i = 0; i < 4; ++i) {
        set(1 + i, layer[i]);
        set(6 + i, layer[i]);
    }
    set(5, BytesPerRow(Width * 8));
    set(10, 6);
    set(16, 100);
    for (uint32_t field : {26u, 27u, 28u}) set(field, 1);
    return 1;
}

void CGifIO::ReleaseTransparencyRecord()
{
    for (uint8_t*& b : FormatBuffers) FreeBuffer(&b);
    FormatCount = 0;
    TransparentIndex = -1;
}

uint8_t* CGifIO::MaskPlane() const
{
    if (TransparentIndex < 0 || !FormatBuffers[1]) return nullptr;
    uint8_t* plane = nullptr;
    memcpy(&plane, FormatBuffers[1], sizeof plane);
    return plane;
}

void CGifIO::TurnTo8BitsLineData(const uint8_t* source, uint8_t* destination)
{
    for (uint32_t x = 0; x < Width; ++x) destination[x] = source[x] & 1;
}

int CGifIO::ReadImageData()
{
    ReadMode = 2;
    return CRastik::ReadImageData();
}

int CGifIO::ReadPrevImageData(uint32_t& width, uint32_t& height, uint8_t*& buffer)
{
    ReadMode = 1;
    return CRastik::ReadPrevImageData(width, height, buffer);
}

// The image rows as the LZW data holds them, one index per pixel, in file
// order (interlaced rows in their four passes); rows passed over are decoded
// all the same. A whole read also marks the transparent pixels in the mask
// plane the host provides.
class CGifIO::RowSource : public CRowSource {
public:
    RowSource(CGifIO& codec, bool whole)
        : CRowSource(codec.Width, codec.Height, LayoutOf(codec)), m_codec(codec), m_blocks(codec),
          m_order(codec.Height, codec.InterlaceFlag != 0), m_mask(whole ? codec.MaskPlane() : nullptr)
    {
    }

    CStatus Start() override
    {
        m_decoder.reset(new (std::nothrow) CGifLzwDecoder);
        if (!m_decoder) return CStatus::Failed();
        m_codec.File.Seek(static_cast<int64_t>(m_codec.m_dataPos), CFile::begin);
        if (!m_decoder->Start(m_codec.m_minCodeSize, &m_blocks)) return CStatus::Failed();
        if (m_mask) memset(m_mask, 255, static_cast<size_t>(m_codec.BytesPerLine) * m_codec.Height);
        return CStatus::Ok();
    }
    CStatus Read(uint8_t* const* rows) override
    {
        uint8_t* pixels = rows[0];
        const uint32_t width = m_codec.Width;
        uint32_t row = m_order.Row();
        m_order.Next();
        if (!m_decoder->Pixels(pixels, width)) return CStatus::Failed();
        if (m_codec.ColorMode == kModeBitmap) m_codec.TurnTo8BitsLineData(pixels, pixels);
        if (m_mask) {
            uint8_t* m = m_mask + static_cast<size_t>(row) * m_codec.BytesPerLine;
            const uint8_t transparent = static_cast<uint8_t>(m_codec.TransparentIndex);
            for (uint32_t x = 0; x < width; ++x)
                if (pixels[x] == transparent) m[x] = 0;
        }
        return CStatus::Ok();
    }

protected:
    uint32_t NextRow() const override { return m_order.Row(); }

private:
    static CRowLayout LayoutOf(const CGifIO& codec)
    {
        CRowLayout l;
        l.Order = codec.InterlaceFlag ? CPlaneRowStream::kAnyOrder : CPlaneRowStream::kTopDown;
        // The decoder copies whole strings: straight into the plane is faster.
        l.InPlace = true;
        return l;
    }

    CGifIO& m_codec;
    SubBlocks m_blocks;
    RowOrder m_order;
    uint8_t* m_mask;
    std::unique_ptr<CGifLzwDecoder> m_decoder;
};

std::unique_ptr<CRowSource> CGifIO::OpenRowSource(RowPurpose purpose)
{
    if (Width == 0 || Height == 0 || m_dataPos == 0) return nullptr;
    return std::make_unique<RowSource>(*this, purpose == kWholeImage);
}
