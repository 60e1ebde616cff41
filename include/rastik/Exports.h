// Plain exported functions of the codec library: the factory, the resource
// handle, the Esc poll, byte swapping, the encoded-data stream and whole-file
// conversion.
#pragma once

#include <cstdint>

#include "platform/CFile.h"
#include "rastik/RastikApi.h"

class CRastik;

// File-type codes of the factory and of DetectFileType.
enum RastikFileType : uint16_t {
    kTypeBmp = 1,
    kTypeGif = 3,
    kTypeJpeg = 4,
    kTypePict = 7,
    kTypeBgr = 11,  // reserved: interleaved blue-green-red samples, no codec
    kTypeTiff = 12,
    kTypePng = 14,
    kTypeBlackWhite = 17
};

// The file the JPEG coder is writing (or a host's decoder is reading) now:
// each thread has its own, so codecs on different threads code at once.
// It is initialised statically, which hosts built as C++20 are told, so
// their compiler reaches it directly rather than through an initialising
// wrapper (sanitizers take that wrapper's result for a null pointer).
#if __cplusplus >= 202002L
RASTIK_API extern thread_local constinit CFile* g_pEncodedDataFile;
#else
RASTIK_API extern thread_local CFile* g_pEncodedDataFile;
#endif

extern "C" {

// A new codec for the type code that keeps the path pointer; null for a code
// without a codec. The caller deletes it through the virtual destructor.
RASTIK_API CRastik* NewRastikInstance(unsigned typeCode, const char* path);

// Returns the previous resource handle and makes this library's own (its
// message table) current. There is one resource module on this platform.
RASTIK_API void* SetRastikResourceHandle();

// Takes one key-down off the calling thread's queue; 1 when it was Esc.
RASTIK_API int GetEscapeKB();

// Reverses byte order in place: kind 2 or 4 bytes; kind 12 a 12-byte TIFF
// directory entry (tag, type, count, and the value as 2 or 4 bytes).
RASTIK_API void ReverseSwapBytes(void* data, uint16_t kind);

// Output of the DCT encoder: kind 1 writes to the calling thread's
// g_pEncodedDataFile and returns
// the count written; any other kind writes nothing and returns count.
RASTIK_API int WriteEncodedData(int kind, const char* buffer, int count);

// Makes file (open for reading, placed at the start of a JPEG stream) the
// calling thread's encoded-data file, so that CDCTFilter::Decode_Header with stream selector 1
// and the band calls after it read from it; returns the file that was set
// before. Null unsets it. The caller keeps the file open while decoding;
// after the last band the file stands right behind the image. Encoding
// through CJpgIO sets and clears the same file of its thread, so on one
// thread decoding and encoding must not overlap.
RASTIK_API CFile* SetEncodedDataFile(CFile* file);

// Threads one conversion may use, the calling one included: 0 (the default)
// one per online processor, 1 exactly the single-threaded path. Conversions
// started afterwards take it; every output is the same whatever the count.
// The conversion's own thread reports progress and messages; the others
// only compute, and none outlives the call that started it.
RASTIK_API void SetRastikThreads(uint32_t threads);
// The setting as given (0: one per processor).
RASTIK_API uint32_t GetRastikThreads();

// Converts a whole image file into another file and format (see the README).
RASTIK_API int ImgProc(const char* sourcePath, const char* targetPath, int targetMode, int sizeMode,
                       int resolution, unsigned width, int height, int* widthWritten, int* heightWritten,
                       int withQorHeader);
// ImgProc with the JPEG quality (0..100) of a JPEG target (ImgProc keeps the
// default of 70; 0 for a quality above 100) and options (kImgProc... below).
RASTIK_API int ImgProcEx(const char* sourcePath, const char* targetPath, int targetMode, int sizeMode,
                         int resolution, unsigned width, int height, int* widthWritten, int* heightWritten,
                         int withQorHeader, unsigned jpegQuality, unsigned options);
// ImgProcEx reading page page of a source of several (a TIFF file's
// directory, 0 the first); a page the source does not hold fails with 27715,
// naming the pages it holds.
RASTIK_API int ImgProcPage(const char* sourcePath, const char* targetPath, int targetMode, int sizeMode,
                           int resolution, unsigned width, int height, int* widthWritten, int* heightWritten,
                           int withQorHeader, unsigned jpegQuality, unsigned options, uint32_t page);
// Why the calling thread's last ImgProc or ImgProcEx failed: the id of the
// message naming the cause (a refused header, the row where the source's
// data ended, the temporary directory's space, planes that fit nowhere, a
// full disk while writing), 0 when it succeeded or none names it; its text
// with its figures in *text when text is given, valid until the thread's
// next conversion.
RASTIK_API int GetImgProcFailure(const char** text);
}

// Option of ImgProcEx: write the format the target path names. A bitmap
// source goes to that format (1-bit bitmap, bilevel TIFF, two-colour GIF and
// PNG, grey JPEG) rather than to the black-and-white writer, and a colour
// mode the format cannot hold becomes the nearest one it can (indexed for
// GIF, RGB for CMYK into a bitmap or PNG, RGB or grey for an indexed image
// into JPEG). Target mode 10 still writes packed 1-bit rows.
constexpr unsigned kImgProcTargetFormat = 1;
// Options of ImgProcEx for the writer (a TIFF target): its compression
// (none, LZW, PackBits, Deflate or JPEG; otherwise a TIFF source's own,
// else none), its
// byte order (otherwise a TIFF source's own, else little-endian), and no
// embedded thumbnail.
constexpr unsigned kImgProcCompressionNone = 2;
constexpr unsigned kImgProcCompressionLzw = 4;
constexpr unsigned kImgProcCompressionPackBits = 8;
constexpr unsigned kImgProcLittleEndian = 16;
constexpr unsigned kImgProcBigEndian = 32;
constexpr unsigned kImgProcNoThumbnail = 64;
// Option of ImgProcEx: write the colour channels only, without an alpha
// plane (a bitmap: 24-bit pixels rather than 32-bit ones with alpha).
constexpr unsigned kImgProcColourOnly = 128;
// Options of ImgProcEx for a TIFF target's compression, beside the three above.
constexpr unsigned kImgProcCompressionDeflate = 256;
constexpr unsigned kImgProcCompressionJpeg = 512;
// Option of ImgProcEx for a TIFF target: BigTIFF (64-bit offsets) whatever
// its size; without it only a file that would pass 4 GiB is BigTIFF.
constexpr unsigned kImgProcBigTiff = 4096;

// Input of the DCT decoder: kind 1 reads from the calling thread's
// g_pEncodedDataFile; any other
// kind leaves the buffer untouched and reports count.
RASTIK_API int ReadEncodedData(int kind, char* buffer, int count);

// Why the calling thread's last write to the encoded-data stream failed, as
// a CFileException cause (diskFull for a full disk), or 0; cleared by
// ClearEncodedDataFailure.
int EncodedDataFailure();
void ClearEncodedDataFailure();
