// Codec for uncompressed Windows bitmaps (1, 4, 8, 24 and 32 bits per pixel
// read; 8- and 24-bit, grey and 1-bit written), file-type code 1.
#pragma once

#include <cstdint>

#include "rastik/CRastik.h"

class CBmpIO : public CRastik {
public:
    explicit CBmpIO(const char* path);
    ~CBmpIO() override;

    int ReadImageHead() override;
    int ReadImageData() override;
    int ReadPrevImageData(uint32_t& width, uint32_t& height, uint8_t*& buffer) override;
    int ReadReducedData(uint32_t width, uint32_t height, uint8_t** planes) override;
    int WriteFile() override;
    int WriteHeader() override;
    int WriteImageData() override;
    int WriteBlockData(uint8_t* rows, uint32_t channel, uint32_t rowCount) override;
    int WriteRgbDataImage(uint8_t* r, uint8_t* g, uint8_t* b, uint32_t rowCount) override;
    int WriteTail() override;

    // The two headers as read from or written to the file.
    struct FileHeader {
        uint16_t Type = 0;
        uint32_t Size = 0;
        uint16_t Reserved1 = 0;
        uint16_t Reserved2 = 0;
        uint32_t OffBits = 0;
    };
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

private:
    int ReadOneLineData(uint8_t* line);
};
