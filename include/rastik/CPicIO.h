// Reader of Macintosh pictures (versions 1 and 2) and of two headed 1-bit
// formats, file-type code 7. The picture's opcodes are stepped over up to
// its first bitmap, whose rows are then decoded; nothing is drawn. There is
// no writer.
#pragma once

#include <cstdint>
#include <memory>

#include "rastik/CRastik.h"
#include "rastik/RastikApi.h"

class CPictRowLayout;
class CPictSource;

class RASTIK_API CPicIO : public CRastik {
public:
    explicit CPicIO(const char* path);
    ~CPicIO() override;

    // Reading (ReadImageHead, ReadImageData, ReadReducedData,
    // ReadPrevImageData) is the base class's, from the header read and the
    // row source below. Messages: 27610 for a malformed picture or 1-bit
    // file, 27709 for a pixel map the rows cannot be read in (from every
    // read); a picture that ends before its first bitmap fails without one.

    // Pixel map of the image, as stored after its row bytes and bounds, all
    // big-endian: resolutions are 16.16 fixed point.
    struct _PICTPixmap {
        uint16_t version = 0;
        uint16_t packType = 0;
        uint32_t packSize = 0;
        uint32_t hRes = 0;
        uint32_t vRes = 0;
        uint16_t pixelType = 0;
        uint16_t pixelSize = 0;
        uint16_t cmpCount = 0;
        uint16_t cmpSize = 0;
        uint32_t planeBytes = 0;
        uint32_t pmTable = 0;
        uint32_t pmReserved = 0;
    };

    // File offset of the first pixel row.
    uint32_t DataOffset = 0;
    _PICTPixmap Pixmap;
    // Colour table of an indexed image, 256 entries of red, green, blue;
    // entries the file does not give are black.
    uint8_t* ColorTable = nullptr;
    // 1 for the two 1-bit formats.
    int32_t IsMsp = 0;
    // Picture version (1 or 2); 0 for the 1-bit formats.
    uint32_t PictVersion = 0;

protected:
    CStatus ReadHead() override;
    int HeadReadError() const override;
    int ReadRefusal() const override;
    std::unique_ptr<CRowSource> OpenRowSource(RowPurpose purpose) override;

private:
    class RowSource;
    enum HeadResult { kHeadOk, kHeadEnd, kHeadBadData, kHeadUnsupported };

    // Header of a picture, and of the 1-bit formats.
    HeadResult ReadPictHead();
    HeadResult ReadImageRecord(CPictSource& source, uint16_t opcode);
    int ReadPixmap(CPictSource& source, _PICTPixmap& record);
    // Colour table after the pixel map: sets ColorTable; *grey when every
    // entry has equal red, green and blue.
    int ReadColorTable(CPictSource& source, bool* grey);
    HeadResult Describe(uint16_t rowBytesField, int32_t width, int32_t height, bool grey, uint64_t bytesLeft);
    // 1 or 2 for the two 1-bit formats by their first 32 bytes, else 0.
    static int CheckMsp(const uint8_t* header);
    HeadResult ReadMspHead(const uint8_t* header, int kind);
    void DescribeBitmap();
    // Pixel sizes and component counts the row decoders read.
    bool Decodable() const;

    // Row reading: a row of Width bytes per plane, in file order.
    int BeginRows();
    void EndRows();
    int ReadRow(uint8_t* const* planes);
    int SkipRow();
    uint32_t Planes() const { return ColorMode == kModeRgb ? 3 : 1; }

    // Row decoders: the stored row (PackBits data, or the row itself when
    // rows are stored unpacked) into the planes' rows.
    const uint8_t* UnpackedRow(const uint8_t* stored, uint32_t length);
    // 1-, 2-, 4- and 8-bit pixels (the first in a byte's top bits) through
    // m_indexMap: indexes, grey levels, or black and white of 1-bit rows.
    void ReadIndexLineData(uint8_t* out, const uint8_t* packed, uint32_t length);
    void ReadOne16LineData(uint8_t* const* out, const uint8_t* packed, uint32_t length);
    void ReadOne32LineData(uint8_t* const* out, const uint8_t* packed, uint32_t length);
    // A 16-bit pixel x RRRRR GGGGG BBBBB into red, green, blue bytes.
    static void Read16Bytes(uint8_t high, uint8_t low, uint8_t* rgb);

    std::unique_ptr<CPictRowLayout> m_layout;
    // Sample written for each index of 1- to 8-bit rows: the index itself,
    // its grey level, or for 1-bit rows 0 (black) or 1 (white).
    uint8_t m_indexMap[256] = {};
    std::unique_ptr<CPictSource> m_rows;
    uint8_t* m_stored = nullptr;
    uint8_t* m_unpacked = nullptr;
};
