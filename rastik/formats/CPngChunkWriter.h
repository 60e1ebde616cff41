// The chunks of a written PNG, field by field into the codec's File: the
// signature, the header chunks (IHDR, PLTE for a palette image, pHYs when
// the resolution is known), any chunk the image data makes, and IEND.
// File failures throw CFileException.
#pragma once

#include <cstdint>

#include "platform/CFile.h"
#include "rastik/support/NonCopyable.h"

// What a write puts in the header chunks: 8 bits per sample, not interlaced.
struct PngWriteHead {
    uint32_t Width = 0;
    uint32_t Height = 0;
    uint32_t ColorType = 0;
    uint32_t Channels = 0;
    const uint8_t* Palette = nullptr;  // 256 entries red, green, blue for colour type 3
    bool HasPixelSize = false;
    uint32_t XPixelsPerMetre = 0;
    uint32_t YPixelsPerMetre = 0;
};

class CPngChunkWriter : private NonCopyable {
public:
    explicit CPngChunkWriter(CFile& file) : m_file(file) {}

    // The signature and the chunks before the image data.
    void WriteHead(const PngWriteHead& head);
    // One chunk: type is its four-letter name.
    void WriteChunk(const char* type, const uint8_t* data, uint32_t size);
    // The closing chunk.
    void WriteEnd() { WriteChunk("IEND", nullptr, 0); }

private:
    CFile& m_file;
};
