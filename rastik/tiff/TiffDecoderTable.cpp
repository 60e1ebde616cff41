// The TIFF decoder table.
#include "rastik/tiff/TiffDecoderTable.h"

#include <algorithm>

#include "rastik/support/InflateBound.h"
#include "rastik/tiff/CTiffDeflateDecoder.h"
#include "rastik/tiff/CTiffFaxDecoder.h"
#include "rastik/tiff/CTiffGroupFaxDecoder.h"
#include "rastik/tiff/CTiffJpegStripDecoder.h"
#include "rastik/tiff/CTiffLzmaDecoder.h"
#include "rastik/tiff/CTiffLzwDecoder.h"
#include "rastik/tiff/CTiffOldJpegDecoder.h"
#include "rastik/tiff/CTiffPackBitsDecoder.h"
#include "rastik/tiff/CTiffRawDecoder.h"
#include "rastik/tiff/CTiffSgiLogDecoder.h"
#include "rastik/tiff/CTiffWebpDecoder.h"
#include "rastik/tiff/CTiffYCbCrDecoder.h"
#include "rastik/tiff/CTiffZstdDecoder.h"
#include "rastik/tiff/TiffTags.h"

namespace {

template <class Decoder>
std::unique_ptr<CTiffDecoder> Make(const TiffRowShape& shape)
{
    return std::make_unique<Decoder>(shape);
}

// PackBits repeats a byte up to 128 times for two stored bytes. A 12-bit
// LZW code stands for at most 4096 bytes. A Modified Huffman row starts on
// a byte boundary, so it takes a byte at least. A Group 3 or Group 4 row
// can take a single bit (a vertical code that repeats the row above), so a
// stored byte gives eight rows.
constexpr uint32_t kPackBitsRatio = 64;
constexpr uint32_t kLzwRatio = 2731;
constexpr uint32_t kFaxRowsPerByte = 8;
// A Huffman-coded JPEG block takes a bit at least: 64 samples, or with
// chroma sampled 4 x 4 (16 luma and 2 chroma blocks of 64 samples) 3072
// bytes of rows for 18 bits; twice that leaves room.
constexpr uint32_t kJpegRatio = 2 * 3072 * 8 / 18 + 1;
// An LZMA match of 273 bytes costs well under a bit once its probabilities
// have adapted; a Zstandard block of one byte repeated 128 KiB times takes
// 4 bytes. A WebP image is at most 16383 rows high and takes 20 bytes at
// least (its RIFF and chunk headers and signature).
constexpr uint32_t kLzmaRatio = 16384;
constexpr uint32_t kZstdRatio = 32768;
constexpr uint32_t kWebpRowsPerByte = 16383 / 20 + 1;
// An SGI LogLuv run of 129 bytes of one of a pixel's 4 (LogL: 2) byte
// planes takes 2 bytes, and a LogLuv pixel shows as 3 bytes: at most 49
// (LogL 65) bytes of rows per stored byte.
constexpr uint32_t kSgiLogRatio = 65;
// Uncompressed YCbCr: 4 x 4 units of 18 bytes hold 16 pixels of 3 bytes.
constexpr uint32_t kYCbCrRatio = 3;

// code, name, decoder, bytes and rows per stored byte, predictor, seeks
// rows, depths, white is zero.
const TiffDecoderEntry kDecoders[] = {
    {tiff::kNone, "none", Make<CTiffRawDecoder>, 1, 0, false, true, nullptr, false},
    {tiff::kCcittRle, "CCITT Modified Huffman", Make<CTiffFaxDecoder>, 0, 1, false, false, CTiffFaxDecoder::Takes, true},
    {tiff::kCcittGroup3, "CCITT Group 3", Make<CTiffGroup3Decoder>, 0, kFaxRowsPerByte, false, false,
     CTiffFaxDecoder::Takes, true},
    {tiff::kCcittGroup4, "CCITT Group 4", Make<CTiffGroup4Decoder>, 0, kFaxRowsPerByte, false, false,
     CTiffFaxDecoder::Takes, true},
    {tiff::kLzw, "LZW", Make<CTiffLzwDecoder>, kLzwRatio, 0, true, false, nullptr, false},
    {tiff::kOldJpeg, "old-style JPEG", Make<CTiffOldJpegDecoder>, kJpegRatio, 0, false, false, CTiffDecoder::TakesGreyOrColour8,
     false},
    {tiff::kJpeg, "JPEG", Make<CTiffJpegStripDecoder>, kJpegRatio, 0, false, false, CTiffJpegStripDecoder::Takes,
     false},
    {tiff::kDeflate, "Deflate", Make<CTiffDeflateDecoder>, rastik::kMostInflatedPerByte, 0, true, false, nullptr, false},
    {tiff::kPackBits, "PackBits", Make<CTiffPackBitsDecoder>, kPackBitsRatio, 0, false, false, nullptr, false},
    {tiff::kDeflateOld, "Deflate", Make<CTiffDeflateDecoder>, rastik::kMostInflatedPerByte, 0, true, false, nullptr,
     false},
    {tiff::kLzma, "LZMA", Make<CTiffLzmaDecoder>, kLzmaRatio, 0, true, false, nullptr, false},
    {tiff::kZstd, "Zstandard", Make<CTiffZstdDecoder>, kZstdRatio, 0, true, false, nullptr, false},
    {tiff::kWebp, "WebP", Make<CTiffWebpDecoder>, 0, kWebpRowsPerByte, false, false, CTiffWebpDecoder::Takes, false},
    {tiff::kSgiLog, "SGI LogLuv", Make<CTiffSgiLogDecoder>, kSgiLogRatio, 0, false, false, CTiffDecoder::TakesGreyOrColour8, false},
};

const TiffDecoderEntry kYCbCrUnits = {
    tiff::kNone, "none", Make<CTiffYCbCrDecoder>, kYCbCrRatio, 0, false, false, CTiffYCbCrDecoder::Takes, false};

// a x b, or the largest value where that does not fit.
uint64_t SaturatingProduct(uint64_t a, uint64_t b)
{
    return b && a > UINT64_MAX / b ? UINT64_MAX : a * b;
}

}  // namespace

uint64_t TiffDecoderEntry::MostDecoded(uint64_t stored, uint64_t rowBytes) const
{
    uint64_t bytes = SaturatingProduct(stored, bytesPerByte);
    uint64_t rows = SaturatingProduct(SaturatingProduct(stored, rowsPerByte), rowBytes);
    return bytes > UINT64_MAX - rows ? UINT64_MAX : bytes + rows;
}

const TiffDecoderEntry* FindTiffDecoder(uint32_t compression)
{
    auto it = std::find_if(std::begin(kDecoders), std::end(kDecoders),
                           [compression](const TiffDecoderEntry& e) { return e.compression == compression; });
    return it == std::end(kDecoders) ? nullptr : it;
}

const TiffDecoderEntry* FindTiffDecoder(uint32_t compression, uint32_t photometric)
{
    if (compression == tiff::kNone && photometric == tiff::kYCbCr) return &kYCbCrUnits;
    return FindTiffDecoder(compression);
}

std::span<const TiffDecoderEntry> TiffDecoders()
{
    return kDecoders;
}
