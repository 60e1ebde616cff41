// Black-and-white writer, file-type code 17: turns 8-bit grey or bitmap-index
// planes into packed 1-bit rows by error diffusion and appends them to the
// file (bottom row first, no header); also a histogram threshold for hosts.
//
// Packed row layout: (Width + 7) / 8 bytes, no padding; pixel x is bit
// 7 - (x mod 8) of byte x / 8; 1 = white, 0 = black.
#pragma once

#include <cstddef>
#include <cstdint>

#include "rastik/CRastik.h"
#include "rastik/RastikApi.h"

class CPlaneRowStream;

class RASTIK_API CWandBIO : public CRastik {
public:
    explicit CWandBIO(const char* path);
    ~CWandBIO() override;

    // Appends every row of the image, packed, bottom row first. Takes one
    // colour channel (grey, bitmap indexes or another one-channel mode).
    int WriteFile() override;
    // Bitmap file and information headers and the palette (grey ramp for a
    // grey image); releases Palette afterwards.
    int WriteHeader() override;
    // The document header that precedes the rows; there is none: returns 1.
    int WriteQorHeader();
    // Packs rowCount rows of width 8-bit samples (stride BytesPerRow(width * 8))
    // into a new malloc'd 1-bit buffer of rowCount * ((width + 7) / 8) bytes,
    // whose size goes to *size. Null for no rows, a null pointer, or no memory.
    uint8_t* ChtoW_and_B(uint8_t* rows, uint32_t rowCount, uint32_t width, uint32_t* size);
    // Threshold that puts about BlackPer of the samples (stride width) at or
    // below it, held to 55..235.
    uint8_t GetThresholdValue(uint8_t* rows, uint32_t rowCount, uint32_t width);
    // BlackPer = share when it lies in 0..1, else 0.5.
    void SetBlackPer(float share);

    float BlackPer = 0.5f;

private:
    // Error diffusion of 8-bit rows into the white-filled packed output;
    // method 2 is the only one.
    int ModeConvert2Bmp(uint8_t* rows, int width, int rowCount, uint8_t* out, int method);
    // Method 2 with the error handed to the row after the last one kept in
    // carried (width entries, or null to start and end without error), so that
    // an image converted in chunks comes out as if converted at once.
    int Diffuse(const uint8_t* rows, size_t stride, int width, int rowCount, uint8_t* out,
                int16_t* carried, bool moreRowsFollow);
    // rowCount packed rows filled with white, malloc'd; null for none or no memory.
    static uint8_t* AllocPacked(uint32_t rowCount, uint32_t width, uint32_t* size);
    CStatus WriteHeaderBytes();
    uint8_t WhiteIndex() const;
    CStatus WriteRows();
    CStatus StageChunk(CPlaneRowStream& rows, uint8_t* outRows, uint32_t stride, uint32_t n);
    CStatus WriteChunk(const uint8_t* outRows, uint32_t stride, uint32_t rows, int16_t* carried,
                       bool moreRowsFollow);
    void AppendPacked(const uint8_t* packed, uint32_t size);
};
