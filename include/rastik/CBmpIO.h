// Codec for Windows and OS/2 bitmaps, file-type code 1: 1-, 4-, 8-, 16-,
// 24- and 32-bit pixels, run-length rows, bit-field pixels and embedded JPEG
// and PNG files read; 1-, 8-, 24- and 32-bit (with alpha) written.
#pragma once

#include <cstdint>

#include "rastik/CRastik.h"
#include "rastik/RastikApi.h"

class RASTIK_API CBmpIO : public CRastik {
public:
    explicit CBmpIO(const char* path);
    ~CBmpIO() override;

    // Reading (ReadImageHead, ReadImageData, ReadReducedData,
    // ReadPrevImageData) is the base class's, from the header read and the
    // row source below. Messages: 27601 for a header that is not read (also
    // a top-down run-length file), 27605 for a compression that is not read
    // (from every read), 27709 for a bit count the rows cannot be read in
    // (from the data reads).
    // An RGB image with a fourth plane (alpha) that is not wholly opaque is
    // written by WriteFile as 32-bit pixels (blue, green, red, alpha) under a
    // V5 header with the channel masks; the other writers write its colour
    // channels.
    int WriteFile() override;
    int WriteHeader() override;
    int WriteImageData() override;
    int WriteBlockData(uint8_t* rows, uint32_t channel, uint32_t rowCount) override;
    int WriteRgbDataImage(uint8_t* r, uint8_t* g, uint8_t* b, uint32_t rowCount) override;
    int WriteTail() override;

    // The two headers as read from or written to the file, little-endian,
    // field by field. File header, 14 bytes: type "BM", file size, two
    // reserved words, offset of the pixel data.
    struct FileHeader {
        uint16_t Type = 0;
        uint32_t Size = 0;
        uint16_t Reserved1 = 0;
        uint16_t Reserved2 = 0;
        uint32_t OffBits = 0;
    };
    // Information header, 40 bytes (later versions are longer and add the
    // channel masks and fields this codec does not use; the colour table
    // follows the header at 14 + Size). Height positive: rows stored
    // bottom-up; negative: top-down. The 12-byte OS/2 header fills Size,
    // Width, Height, Planes and BitCount.
    struct InfoHeader {
        uint32_t Size = 0;
        int32_t Width = 0;
        int32_t Height = 0;
        uint16_t Planes = 0;
        uint16_t BitCount = 0;
        uint32_t Compression = 0;
        uint32_t SizeImage = 0;
        int32_t XPelsPerMeter = 0;
        int32_t YPelsPerMeter = 0;
        uint32_t ClrUsed = 0;
        uint32_t ClrImportant = 0;
    };
    FileHeader BmpFileHeader;
    InfoHeader BmpInfoHeader;

    static constexpr uint16_t kBmpType = 0x4D42;     // "BM"
    static constexpr uint32_t kFileHeaderBytes = 14;
    static constexpr uint32_t kInfoHeaderBytes = 40;

protected:
    CStatus ReadHead() override;
    int HeadReadError() const override;
    int ReadRefusal() const override;
    std::unique_ptr<CRowSource> OpenRowSource(RowPurpose purpose) override;

public:
    bool WholeReadFromTop() override;
    std::unique_ptr<CStoredRows> OpenStoredRows() override;

private:
    class RowSource;
    friend class CBmpBitFieldRows;

    // How the pixel data is stored.
    enum class PixelStore { kRows, kRunLength, kBitFields, kEmbedded };

    // One stored row into line: 8, 24 and 32-bit rows as stored (padding
    // included), 1- and 4-bit rows as one palette index per pixel.
    int ReadOneLineData(uint8_t* line);
    CStatus MakeExtraPlaneOpaque();
    bool StoredAsBgr() const;
    // Header reading proper: 0, or the id of the message that refuses the file.
    int ReadHeadFields();
    // The information header of any version and the channel masks after it.
    bool ReadInfoHeader();
    bool ReadMasks(const uint8_t* info, uint32_t infoBytes);
    // Checks the sizes against the file and fills the image description.
    int Describe();
    // The colour table: 4-byte entries, or 3-byte ones after an OS/2 12-byte header.
    int ReadPalette(uint64_t fileLength);
    // A JPEG or PNG file as the pixel data: its codec reads the header and
    // the rows, and the image is described as that file is.
    int DescribeEmbedded(uint64_t fileLength);
    std::unique_ptr<CRowSource> OpenEmbeddedSource(RowPurpose purpose);
    // Bytes of one stored row of the file being read.
    uint32_t FileRowBytes() const;
    // The writers' bodies, failures as statuses.
    CStatus WriteHeaderFields();
    int MakeHeaderPalette();
    CStatus EmitPixels();
    CStatus WriteRgbRows(uint8_t* r, uint8_t* g, uint8_t* b, uint32_t rowCount);
    CStatus WriteChannelRows(const uint8_t* rows, uint32_t channel, uint32_t rowCount);
    // Pixel rows of a whole-image write, bottom row first.
    CStatus EmitRows();
    // The same as feed makes the rows final from the top.
    CStatus EmitFollowing(CRowFeed& feed);
    // Zero bytes from the end of the pixel rows up to the header's file size.
    void WritePixelEnd();
    // An RGB image with a fourth plane, which WriteFile keeps as alpha
    // when it holds transparency.
    bool HasAlphaPlane() const;
    CStatus FindTransparency(bool* found);
    // Samples per pixel of the rows written: 4 with alpha.
    uint32_t WrittenChannels() const;
    // Bytes of one row as the writers store it.
    uint32_t WrittenRowBytes() const;
    // Replaces Palette by a grey ramp of count entries.
    int MakeGreyPalette(uint32_t count);

    uint8_t* m_work = nullptr;  // packed file row of a 1- or 4-bit read
    uint32_t m_workSize = 0;
    // The data reads' refusal, found by the header read: 27605 for a
    // compressed file, 27709 for a bit count not read (also before any
    // header was read), 27601 for headers that are not a bitmap's, else 0.
    int m_refusal;
    PixelStore m_store = PixelStore::kRows;
    // Whether a whole read of stored rows takes them from the top: a
    // top-down file, or a bottom-up one that holds all its rows.
    bool StoredRowsFromTop();
    // Whether a whole read fills the extra plane from a fourth sample.
    bool FillsExtraPlane() const;
    uint32_t m_masks[4] = {};  // bit fields: red, green, blue, alpha (0: none)
    uint64_t m_paletteAt = 0;  // file position of the colour table
    // The description the header read gave, which a reduced read must find.
    uint32_t m_fileChannels = 0;
    uint32_t m_fileBitsPerChannel = 0;
    // WriteFile of an image with an alpha plane: 32-bit pixels under a V5
    // header with an alpha mask.
    bool m_withAlpha = false;
    std::unique_ptr<CRastik> m_embedded;  // the codec of an embedded JPEG or PNG
};
