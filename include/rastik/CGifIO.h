// Codec for GIF files, file-type code 3: reads the first image of a GIF87a or
// GIF89a file (whole, reduced or as a preview) with its colour table and
// transparent colour, and writes an indexed or two-colour image as a GIF87a
// file with one global colour table.
#pragma once

#include <cstdint>

#include "rastik/CRastik.h"
#include "rastik/RastikApi.h"

class CGifLzwDecoder;

class RASTIK_API CGifIO : public CRastik {
public:
    explicit CGifIO(const char* path);
    ~CGifIO() override;

    // Reading is the base class's, from the header read and the row source
    // below; these two set ReadMode first. The header read refuses a file
    // that is not GIF silently and a malformed one with 27601.
    int ReadImageData() override;
    int ReadPrevImageData(uint32_t& width, uint32_t& height, uint8_t*& buffer) override;
    int WriteHeader() override;
    int WriteFile() override;

    // The blocks of the file as read or written; multi-byte fields are
    // little-endian.
    // Header: signature "GIF" and version "87a" or "89a".
    uint8_t Header[6] = {};
    // Logical screen: width u16, height u16, flags (bit 7 global colour
    // table, bits 4-6 colour resolution - 1, bits 0-2 table size: 2^(n+1)
    // entries), background index, aspect ratio.
    uint8_t ScreenDescriptor[7] = {};
    // Graphic control extension (label 0xF9): block size (4), flags (bit 0:
    // a transparent colour is named), delay u16, transparent index, terminator.
    uint8_t GraphicControl[6] = {};
    // First blocks of the plain text (label 0x01) and application (label 0xFF)
    // extensions: block size (12, 11) and its bytes.
    uint8_t PlainTextHeader[13] = {};
    uint8_t ApplicationHeader[12] = {};
    // Image descriptor after the separator ',': left u16, top u16, width u16,
    // height u16, flags (bit 7 local colour table, bit 6 interlaced, bits 0-2
    // table size as above).
    uint8_t ImageDescriptor[9] = {};
    int32_t InterlaceFlag = 0;
    // 1: preview, 2: whole image.
    int32_t ReadMode = 0;

    // Transparency record, made when a file names a transparent colour
    // (FormatCount 1): FormatBuffers[0] is the image as one layer, 60 32-bit
    // fields in host order (fields 1-4: 0, 0, Width, Height; 5: the row
    // stride; 6-9: fields 1-4 again; 10: 6; 16: 100; 26-28: 1; others 0).
    // FormatBuffers[1] is the mask record: its first field is the address of
    // a mask plane (Height rows of BytesPerLine bytes) the host allocates and
    // stores there before ReadImageData; the read fills it with 255, and 0
    // where a pixel is the transparent colour. Without an address the mask
    // stays unfilled.
    static constexpr uint32_t kLayerRecordBytes = 240;
    static constexpr uint32_t kMaskRecordBytes = 396;

protected:
    CStatus ReadHead() override;
    int HeadReadError() const override;
    std::unique_ptr<CRowSource> OpenRowSource(RowPurpose purpose) override;

private:
    class SubBlocks;
    class RowSource;

    // Reading of the blocks up to the first image: 0, or the id of the
    // message that refuses the file (-1: not a GIF, refused silently).
    int ReadHeadBlocks();
    int ReadExtension();
    int ReadColorTable(uint32_t entries, uint8_t* rgb);
    void MakePalette(const uint8_t* rgb, uint32_t entries);
    int MakeTransparencyRecord();
    void ReleaseTransparencyRecord();
    uint8_t* MaskPlane() const;

    // The next byte of the file, 0 when none is left.
    int ReadNextBit();
    // A two-colour row: the low bit of each decoded index.
    void TurnTo8BitsLineData(const uint8_t* source, uint8_t* destination);

    // Bits per pixel of the colour table written: 1 for two colours, else
    // enough for PaletteSize entries.
    uint32_t TableBits() const;
    CStatus WriteBlocks();
    CStatus iEncodeGIF_LZW();

    // File position of the first data sub-block and the minimum code size.
    uint64_t m_dataPos = 0;
    uint32_t m_minCodeSize = 0;
};
