// TIFF file facts shared by the reader and the writer.
//
// Header, 8 bytes: byte-order mark "II" (little-endian) or "MM"
// (big-endian), the version 42 as 16 bits, the 32-bit offset of the first
// image file directory. Every multi-byte number of the file is in the order
// the mark names. A directory: a 16-bit entry count, entries of 12 bytes in
// ascending tag order (tag 16 bits, type 16 bits, value count 32 bits, value
// or offset 32 bits), the 32-bit offset of the next directory. A value whose
// items fit into 4 bytes stands in the entry itself, left-aligned; larger
// values lie at the offset. Directories form a chain, each one image (a
// page); offset 0 ends it. Directories a SubIFDs entry points to hang off
// their page and are not pages of the chain.
//
// BigTIFF (version 43): the header is 16 bytes, the mark, 43, the offset
// size 8 (16 bits), 0 (16 bits) and the 64-bit offset of the first
// directory. A directory holds a 64-bit entry count, entries of 20 bytes
// (tag 16 bits, type 16 bits, value count 64 bits, value or offset 64
// bits) and the 64-bit offset of the next directory; items of up to 8
// bytes stand in the entry.
#pragma once

#include <cstdint>

namespace tiff {

constexpr uint16_t kVersion = 42;
constexpr uint32_t kHeaderBytes = 8;
constexpr uint32_t kEntryBytes = 12;
constexpr uint16_t kBigVersion = 43;
constexpr uint16_t kBigOffsetBytes = 8;
constexpr uint32_t kBigHeaderBytes = 16;
constexpr uint32_t kBigEntryBytes = 20;
constexpr uint32_t kFirstDirectoryAt = 4;  // where the header holds the first directory's offset
constexpr uint32_t kBigFirstDirectoryAt = 8;

// Entry types, numbered from 1, and the bytes of one item.
enum Type : uint16_t {
    kByte = 1, kAscii, kShort, kLong, kRational, kSByte, kUndefined, kSShort, kSLong, kSRational, kFloat, kDouble,
    kIfd,  // a directory's offset, 32 bits
    kLong8 = 16, kSLong8, kIfd8
};
static_assert(kDouble == 12 && kIfd == 13 && kIfd8 == 18);

inline uint32_t TypeBytes(uint16_t type)
{
    switch (type) {
    case kByte:
    case kAscii:
    case kSByte:
    case kUndefined: return 1;
    case kShort:
    case kSShort: return 2;
    case kLong:
    case kSLong:
    case kFloat:
    case kIfd: return 4;
    case kRational:
    case kSRational:
    case kDouble:
    case kLong8:
    case kSLong8:
    case kIfd8: return 8;
    default: return 0;
    }
}

enum Tag : uint16_t {
    kImageWidth = 256,
    kImageLength = 257,
    kBitsPerSample = 258,
    kCompression = 259,
    kPhotometric = 262,
    kFillOrder = 266,
    kStripOffsets = 273,
    kSamplesPerPixel = 277,
    kRowsPerStrip = 278,
    kStripByteCounts = 279,
    kXResolution = 282,
    kYResolution = 283,
    kPlanarConfig = 284,
    kT4Options = 292,
    kResolutionUnit = 296,
    kPredictor = 317,
    kColorMap = 320,
    kTileWidth = 322,
    kTileLength = 323,
    kTileOffsets = 324,
    kTileByteCounts = 325,
    kSubIfds = 330,
    kExtraSamples = 338,
    kSampleFormat = 339,
    kJpegTables = 347,
    kDecode = 433,
    kJpegProc = 512,
    kJpegInterchange = 513,
    kJpegInterchangeLength = 514,
    kJpegRestartInterval = 515,
    kJpegQTables = 519,
    kJpegDcTables = 520,
    kJpegAcTables = 521,
    kYCbCrCoefficients = 529,
    kYCbCrSubSampling = 530,
    kReferenceBlackWhite = 532,
    kPhotoshop = 34377
};

enum Compression : uint32_t {
    kNone = 1,
    kCcittRle = 2,  // CCITT Modified Huffman, byte-aligned rows
    kCcittGroup3 = 3,
    kCcittGroup4 = 4,
    kLzw = 5,
    kOldJpeg = 6,  // JPEG as TIFF 6.0 first put it, read only
    kJpeg = 7,
    kDeflate = 8,
    kPackBits = 32773,
    kDeflateOld = 32946,  // Deflate as written before code 8 was assigned
    kSgiLog = 34676,  // LogLuv and LogL
    kLzma = 34925,
    kZstd = 50000,
    kWebp = 50001
};

enum Photometric : uint32_t {
    kWhiteIsZero = 0,
    kBlackIsZero = 1,
    kRgb = 2,
    kPalette = 3,
    kSeparated = 5,  // CMYK
    kYCbCr = 6,
    kLogL = 32844,   // SGI log luminance, read as grey
    kLogLuv = 32845,  // SGI log luminance and chroma, read as RGB
    kNoPhotometric = 0xFFFFFFFFu  // no PhotometricInterpretation entry
};

// LZW strips: codes of kFirstWidth to kMaxWidth bits; Clear restarts the
// table, end-of-information ends the strip, string codes start at
// kFirstFree and the table holds kTableSize codes.
namespace lzw {
enum : uint32_t { kClear = 256, kEndOfInformation = 257, kFirstFree = 258, kTableSize = 4096 };
constexpr uint8_t kFirstWidth = 9, kMaxWidth = 12;
}  // namespace lzw

constexpr uint32_t kExtraUnspecified = 0;  // ExtraSamples values
constexpr uint32_t kAssociatedAlpha = 1;
constexpr uint32_t kPredictorNone = 1;
constexpr uint32_t kPredictorHorizontal = 2;
constexpr uint32_t kPredictorFloatingPoint = 3;
constexpr uint32_t kPlanarContiguous = 1;  // PlanarConfiguration values
constexpr uint32_t kPlanarSeparate = 2;
constexpr uint32_t kResolutionInch = 2;  // ResolutionUnit values
constexpr uint32_t kResolutionCentimetre = 3;

}  // namespace tiff
