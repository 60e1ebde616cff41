// Codec for PNG files through libpng, file-type code 14: reads the header,
// the whole image, a reduced image and a preview of every colour type and
// depth (samples of one byte; 16 bits keep their high byte), and writes grey,
// grey with alpha, RGB, RGB with alpha and palette images of 8 bits per
// sample. libpng reads the codec's open File; writes put the chunks into it
// directly, the image data compressed on the conversion's worker threads.
// File stays open (on Path) after every operation, failed ones included.
#pragma once

#include <cstdint>

#include "rastik/CRastik.h"
#include "rastik/RastikApi.h"

class RASTIK_API CPngIO : public CRastik {
public:
    explicit CPngIO(const char* path);
    ~CPngIO() override;

    // Reading is the base class's, from the header read and the row source
    // below; the preview also reopens File when the host left it closed.
    // Failures show no message of the table (libpng's own go to the sink
    // when ShowMessages is set).
    int ReadPrevImageData(uint32_t& width, uint32_t& height, uint8_t*& buffer) override;
    // Writing is one call: this does nothing.
    int WriteHeader() override;
    int WriteFile() override;

    // Reads the PNG that begins at start in File (one embedded in another
    // file) instead of at its beginning.
    void SetStart(uint64_t start) { m_start = start; }

    // Interlace method of the file read: 0 none, 1 Adam7.
    int32_t InterlaceType = 0;

protected:
    CStatus ReadHead() override;
    std::unique_ptr<CRowSource> OpenRowSource(RowPurpose purpose) override;

private:
    class RowSource;

    // File open on Path (read-only when the host left it closed) and at the
    // PNG's start; false when it cannot be opened.
    bool OpenForReading();
    // Back at the PNG's start after a read.
    void Rewind();
    CStatus WriteRows();

    // Samples per pixel of the file read (libpng's channel count).
    uint32_t m_fileChannels = 0;
    uint64_t m_start = 0;  // where the PNG begins in File
};
