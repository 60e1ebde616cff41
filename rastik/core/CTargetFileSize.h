// The most bytes the writer of a file type can write for an image: its rows
// stored as they are, or the worst case of its compression, and its
// headers. A conversion compares it with the free space of the target's
// directory before it allocates anything.
#pragma once

#include <cstdint>

class CTargetFileSize {
public:
    // An image of width x height pixels with `samples` planes written;
    // bilevel for one bit per sample.
    CTargetFileSize(uint32_t width, uint32_t height, uint32_t samples, bool bilevel);

    // Bytes for the writer of a file-type code (a TIFF target with its
    // compression code); 0 for a type without a writer.
    uint64_t Of(uint16_t fileType, int32_t compression) const;

private:
    uint64_t Bmp() const;
    uint64_t Gif() const;
    uint64_t Jpeg() const;
    uint64_t Png() const;
    uint64_t Tiff(int32_t compression) const;
    uint64_t BlackWhite() const;
    // Bytes of one row of samples packed at the image's bits per sample.
    uint64_t PackedRow() const;

    uint64_t m_width, m_height, m_samples;
    bool m_bilevel;
};
