// One entry per fuzz target: runs one input through the reader the way a
// host does and returns 0. The libFuzzer programs call them, and so does the
// ordinary test suite on the minimised inputs of past findings.
#pragma once

#include <cstddef>
#include <cstdint>

// The whole file as a bitmap / as a JPEG: header, whole read (planes in
// memory or spilled), reduced read, preview.
int FuzzBmp(const uint8_t* data, size_t size);
int FuzzJpeg(const uint8_t* data, size_t size);
// The whole file as a TIFF, a GIF, a PNG, a picture or 1-bit file.
int FuzzTiff(const uint8_t* data, size_t size);
int FuzzGif(const uint8_t* data, size_t size);
int FuzzPng(const uint8_t* data, size_t size);
int FuzzPict(const uint8_t* data, size_t size);
// The input is the Photoshop resource block (tag 34377) of a small TIFF:
// its clip paths read as the tools read them (ReadPath after the header),
// the whole read (which reads them too) and the preview (its thumbnail).
int FuzzTiffResources(const uint8_t* data, size_t size);
// The input is a JPEG stream for the library's own DCT decoder:
// Decode_Header on the encoded-data file, then Decoder or L_Decoder band
// after band into a buffer of one or more bands, until the image is
// complete or the stream is refused.
int FuzzDct(const uint8_t* data, size_t size);
// The input is the Photoshop resource block of a small JPEG (the "8BIM"
// records after "Photoshop 3.0"); the JPEG's preview is read, which decodes
// the thumbnail resource found there.
int FuzzJpegThumbnail(const uint8_t* data, size_t size);
// The input is a source file of any format; it is converted with ImgProc to
// a resized indexed bitmap, which must then read back at the size reported.
int FuzzImgProc(const uint8_t* data, size_t size);

// The input is one data file of the store, read with ReadSingleFile.
int FuzzChronikFile(const uint8_t* data, size_t size);
// The input is a store directory: a 16-bit little-endian length n, n bytes of
// Index.API, the rest the data file it may list; Read over it, RebuildIndex,
// Read again.
int FuzzChronikDir(const uint8_t* data, size_t size);
