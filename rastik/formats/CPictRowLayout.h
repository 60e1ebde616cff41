// How the rows of a picture's pixel data are stored: unpacked rows of a
// fixed length, or PackBits rows each led by its packed length (one byte
// when the row bytes are at most 250, else a big-endian word, with the
// other size recognised where a writer chose it by the packed row). Serves
// the image being read and the pixel patterns the opcode walk steps over.
#pragma once

#include <cstdint>

class CPictSource;

class CPictRowLayout {
public:
    // Pixel data of a pattern or an indexed image: rows below 8 bytes are
    // stored unpacked, longer ones packed byte by byte.
    static CPictRowLayout ForPixData(uint32_t rowBytes);
    // The rows of an image by its pixel map. Direct pixels: pack type 1
    // stores rows unpacked; 32-bit pixels of pack type 2 are stored as red,
    // green, blue bytes without the pad byte, unpacked; otherwise 16-bit rows
    // pack 2-byte pixels and 32-bit rows pack the row's components one after
    // the other (cmpCount x width bytes).
    static CPictRowLayout ForImage(uint32_t rowBytes, uint16_t pixelSize, uint16_t packType, uint16_t cmpCount,
                                   uint32_t width);
    // Unpacked rows of a fixed length.
    static CPictRowLayout Unpacked(uint32_t rowBytes);

    // Bytes a stored row may take: the unpacked length, or the largest packed
    // length its length field can give.
    uint32_t StoredCapacity() const;
    // The fewest bytes rows rows can be stored in, for refusing sizes the
    // rest of a file cannot hold.
    uint64_t MinimumBytes(uint32_t rows) const;
    // The next stored row into stored (StoredCapacity bytes); its length in
    // *length. False when the file ends first.
    bool Read(CPictSource& source, uint8_t* stored, uint32_t* length) const;
    bool Skip(CPictSource& source) const;

    bool Packed = false;
    // Bytes of the packed-length field of a packed row (1 or 2).
    uint32_t CountBytes = 0;
    // PackBits unit: 1 byte, or 2 for 16-bit pixels.
    uint32_t Unit = 1;
    // Bytes of one row once unpacked.
    uint32_t RowBytes = 0;
    // 32-bit rows: bytes per pixel of interleaved rows (4 with the pad or
    // alpha byte first, 3 without it), 0 for rows of whole components.
    uint32_t PixelBytes = 0;

private:
    // Bytes the next stored row takes, reading its packed-length field.
    bool StoredLength(CPictSource& source, uint32_t* length) const;
};
