// Upper bounds of the files each writer makes, by format.
#include "rastik/core/CTargetFileSize.h"

#include "rastik/Exports.h"

namespace {

// Headers, colour tables, directories, resource blocks, embedded thumbnails
// and clip paths of any writer stay well below this.
constexpr uint64_t kHeaderBytes = 1u << 20;
// TIFF compression codes.
constexpr int32_t kTiffLzw = 5;
constexpr int32_t kTiffPackBits = 32773;

// Bytes of a row of bits stored in whole 4-byte words (bitmap rows).
uint64_t WordRow(uint64_t bits)
{
    return (bits + 31) / 32 * 4;
}

uint64_t Round16(uint64_t n)
{
    return (n + 15) / 16 * 16;
}

}  // namespace

CTargetFileSize::CTargetFileSize(uint32_t width, uint32_t height, uint32_t samples, bool bilevel)
    : m_width(width), m_height(height), m_samples(samples ? samples : 1), m_bilevel(bilevel)
{
}

uint64_t CTargetFileSize::Of(uint16_t fileType, int32_t compression) const
{
    switch (fileType) {
    case kTypeBmp: return Bmp();
    case kTypeGif: return Gif();
    case kTypeJpeg: return Jpeg();
    case kTypePng: return Png();
    case kTypeTiff: return Tiff(compression);
    case kTypeBlackWhite: return BlackWhite();
    default: return 0;
    }
}

uint64_t CTargetFileSize::PackedRow() const
{
    uint64_t bits = m_width * m_samples * (m_bilevel ? 1 : 8);
    return (bits + 7) / 8;
}

// Bitmap rows are stored uncompressed, padded to 4-byte words.
uint64_t CTargetFileSize::Bmp() const
{
    return kHeaderBytes + m_height * WordRow(m_width * m_samples * (m_bilevel ? 1 : 8));
}

// GIF: one LZW code of at most 12 bits per pixel (a code covers at least
// one), a clear code at most every 4093 codes, and one count byte for every
// sub-block of 255 data bytes.
uint64_t CTargetFileSize::Gif() const
{
    uint64_t pixels = m_width * m_height;
    uint64_t codes = pixels + pixels / 4093 + 3;
    uint64_t data = (codes * 12 + 7) / 8;
    return kHeaderBytes + data + data / 255 + 1;
}

// Baseline JPEG: at most 2 bytes per sample of every component at full
// resolution, its rows and columns padded to whole 16-pixel MCUs (the
// worst case of Huffman coding with byte stuffing at any quality).
uint64_t CTargetFileSize::Jpeg() const
{
    return kHeaderBytes + Round16(m_width) * Round16(m_height) * m_samples * 2;
}

// PNG: a filter byte per row; Deflate's stored blocks add 5 bytes per
// 65,535, IDAT chunks 12 bytes per chunk of at least 4 KiB.
uint64_t CTargetFileSize::Png() const
{
    uint64_t raw = m_height * (1 + PackedRow());
    return kHeaderBytes + raw + raw / 256;
}

// TIFF strips: uncompressed rows as they are; PackBits at most one control
// byte per 128 bytes and two more per row; LZW at most one 12-bit code per
// byte and the clear and end codes of each strip (at most one per row).
// Strip offsets and byte counts take 8 bytes per strip.
uint64_t CTargetFileSize::Tiff(int32_t compression) const
{
    uint64_t row = PackedRow();
    if (!m_bilevel && compression == kTiffPackBits) row += row / 64 + 2;
    else if (!m_bilevel && compression == kTiffLzw) row = row * 3 / 2 + 6;
    return kHeaderBytes + m_height * (row + 8);
}

// Black-and-white rows: one bit per pixel, packed to whole bytes.
uint64_t CTargetFileSize::BlackWhite() const
{
    return kHeaderBytes + m_height * ((m_width + 7) / 8);
}
