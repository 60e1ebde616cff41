// PNG chunks as stored: a big-endian 32-bit length of the data, the 4-byte
// type, the data, and a big-endian CRC-32 of type and data.
#include "rastik/formats/CPngChunkWriter.h"

#include <zlib.h>

#include "rastik/support/ByteOrder.h"

namespace {

// The 8-byte PNG signature.
constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
// Colour type 3 images carry a palette of 256 entries of 3 bytes.
constexpr uint32_t kPaletteBytes = 3 * 256;
constexpr uint32_t kColorTypePalette = 3;
// pHYs unit: 1 is the metre.
constexpr uint8_t kUnitMetre = 1;

}  // namespace

void CPngChunkWriter::WriteHead(const PngWriteHead& head)
{
    m_file.Write(kSignature, sizeof kSignature);
    // IHDR: width, height (32 bits each), bit depth, colour type,
    // compression method (0: deflate), filter method (0: adaptive, five
    // filter types), interlace method (0: none).
    uint8_t ihdr[13] = {};
    rastik::PutBE32(ihdr, head.Width);
    rastik::PutBE32(ihdr + 4, head.Height);
    ihdr[8] = 8;
    ihdr[9] = static_cast<uint8_t>(head.ColorType);
    WriteChunk("IHDR", ihdr, sizeof ihdr);
    if (head.ColorType == kColorTypePalette) WriteChunk("PLTE", head.Palette, kPaletteBytes);
    if (head.HasPixelSize) {
        // pHYs: pixels per unit across, pixels per unit down, the unit.
        uint8_t phys[9] = {};
        rastik::PutBE32(phys, head.XPixelsPerMetre);
        rastik::PutBE32(phys + 4, head.YPixelsPerMetre);
        phys[8] = kUnitMetre;
        WriteChunk("pHYs", phys, sizeof phys);
    }
}

void CPngChunkWriter::WriteChunk(const char* type, const uint8_t* data, uint32_t size)
{
    uint8_t field[8];
    rastik::PutBE32(field, size);
    for (int i = 0; i < 4; ++i) field[4 + i] = static_cast<uint8_t>(type[i]);
    m_file.Write(field, sizeof field);
    uLong crc = crc32(0, field + 4, 4);
    if (size > 0) {
        m_file.Write(data, size);
        crc = crc32(crc, data, size);
    }
    rastik::PutBE32(field, static_cast<uint32_t>(crc));
    m_file.Write(field, 4);
}
