// Stepping over picture opcodes: the table's data lengths, the opcodes whose
// data carries its own length, and the ranges reserved above the table.
#include "rastik/formats/CPictOpcodeWalk.h"

#include "rastik/formats/CPictRowLayout.h"
#include "rastik/formats/CPictSource.h"
#include "rastik/formats/PictOpcodeTable.h"

namespace {

// Opcodes the walk treats apart from the table's lengths.
enum Opcode : uint16_t {
    kClip = 0x01,
    kBkPixPat = 0x12,
    kFillPixPat = 0x14,
    kLongText = 0x28,
    kDHText = 0x29,
    kDVText = 0x2A,
    kDHDVText = 0x2B,
    kFramePoly = 0x70,
    kLastPoly = 0x77,
    kFrameRgn = 0x80,
    kLastRgn = 0x87,
    kLongComment = 0xA1,
    kEndVersion1 = 0xFF,
    kEndVersion2 = 0x00FF,
    kEndAlso = 0xFFFF,
};

// Pixel patterns: a full pixel map with its colour table and pixel data, or
// a dithered colour (an RGB colour of three words).
constexpr uint16_t kFullPattern = 1;
constexpr uint16_t kDitherPattern = 2;
constexpr uint32_t kOldPatternBytes = 8;
constexpr uint32_t kRgbColorBytes = 6;
// The pixel map of a pattern after its row bytes and bounds: version to
// reserved field, 36 bytes (no base address).
constexpr uint32_t kPixmapFieldBytes = 36;
constexpr uint32_t kColorSpecBytes = 8;

}  // namespace

bool CPictOpcodeWalk::IsImage(uint16_t opcode)
{
    return opcode == kBitsRect || opcode == kBitsRgn || opcode == kPackBitsRect || opcode == kPackBitsRgn ||
           opcode == kDirectBitsRect || opcode == kDirectBitsRgn;
}

bool CPictOpcodeWalk::HasRegion(uint16_t opcode)
{
    return opcode == kBitsRgn || opcode == kPackBitsRgn || opcode == kDirectBitsRgn;
}

CPictOpcodeWalk::Result CPictOpcodeWalk::FindImage(uint16_t* opcode)
{
    for (;;) {
        uint16_t op = 0;
        // A file that ends without the end opcode is cut short.
        if (!NextOpcode(&op)) return kBadData;
        if (m_version == 1 ? op == kEndVersion1 : (op == kEndVersion2 || op == kEndAlso)) return kEnd;
        if (IsImage(op)) {
            *opcode = op;
            return kImage;
        }
        if (!(op < kPictOpcodeCount ? SkipTableOpcode(op) : SkipOtherOpcode(op)))
            return m_badPattern ? kBadPattern : kBadData;
    }
}

bool CPictOpcodeWalk::NextOpcode(uint16_t* opcode)
{
    if (m_version == 1) {
        uint8_t b = 0;
        if (!m_source.ReadNextByte(b)) return false;
        *opcode = b;
        return true;
    }
    return m_source.AlignToWord() && m_source.Word(*opcode);
}

bool CPictOpcodeWalk::SkipTableOpcode(uint16_t op)
{
    bool ok;
    if (op == kClip || (op >= kFramePoly && op <= kLastPoly) || (op >= kFrameRgn && op <= kLastRgn)) {
        ok = SkipSizedRecord();
    } else if (op >= kBkPixPat && op <= kFillPixPat) {
        ok = SkipPixPat();
    } else if (op == kLongText) {
        ok = SkipText(4);
    } else if (op == kDHText || op == kDVText) {
        ok = SkipText(1);
    } else if (op == kDHDVText) {
        ok = SkipText(2);
    } else if (op == kLongComment) {
        ok = m_source.Skip(2) && SkipWordLength();
    } else if (kPictOpcodes[op].Length < 0) {
        ok = SkipWordLength();
    } else {
        ok = m_source.Skip(static_cast<uint32_t>(kPictOpcodes[op].Length));
    }
    return ok;
}

// Above the table: 0xA2-0xAF a length word and data; 0xB0-0xCF no data;
// 0xD0-0xFE a length long and data; 0x0100-0x7FFF twice the high byte in
// bytes (the header opcode 0x0C00 has 24); 0x8000-0x80FF no data; 0x8100
// and above a length long and data.
bool CPictOpcodeWalk::SkipOtherOpcode(uint16_t op)
{
    bool ok = true;
    if (op <= 0xAF)
        ok = SkipWordLength();
    else if (op >= 0xD0 && op <= 0xFE)
        ok = SkipLongLength();
    else if (op >= 0x0100 && op <= 0x7FFF)
        ok = m_source.Skip(static_cast<uint32_t>(op >> 8) * 2);
    else if (op >= 0x8100)
        ok = SkipLongLength();
    return ok;
}

bool CPictOpcodeWalk::SkipSizedRecord()
{
    uint16_t size = 0;
    return m_source.Word(size) && size >= 2 && m_source.Skip(size - 2u);
}

bool CPictOpcodeWalk::SkipText(uint32_t fixedBytes)
{
    uint8_t count = 0;
    return m_source.Skip(fixedBytes) && m_source.ReadNextByte(count) && m_source.Skip(count);
}

bool CPictOpcodeWalk::SkipWordLength()
{
    uint16_t n = 0;
    return m_source.Word(n) && m_source.Skip(n);
}

bool CPictOpcodeWalk::SkipLongLength()
{
    uint32_t n = 0;
    return m_source.Long(n) && m_source.Skip(n);
}

// Pattern type, the 8-byte pattern for old ports, then the dither colour or
// the pixel map (row bytes, bounds, fields), colour table and pixel data.
bool CPictOpcodeWalk::SkipPixPat()
{
    uint16_t type = 0;
    if (!m_source.Word(type) || !m_source.Skip(kOldPatternBytes)) return false;
    if (type == kDitherPattern) return m_source.Skip(kRgbColorBytes);
    if (type != kFullPattern) {
        m_badPattern = true;
        return false;
    }
    uint16_t rowBytes = 0, top = 0, bottom = 0;
    if (!m_source.Word(rowBytes) || !m_source.Word(top) || !m_source.Skip(2) || !m_source.Word(bottom) ||
        !m_source.Skip(2) || !m_source.Skip(kPixmapFieldBytes) || !SkipColorTable())
        return false;
    int32_t rows = static_cast<int16_t>(bottom) - static_cast<int16_t>(top);
    if (rows < 0) return false;
    CPictRowLayout layout = CPictRowLayout::ForPixData(rowBytes & 0x3FFFu);
    if (layout.MinimumBytes(static_cast<uint32_t>(rows)) > m_source.Left()) return false;
    for (int32_t i = 0; i < rows; ++i)
        if (!layout.Skip(m_source)) return false;
    return true;
}

// Seed (long), flags (word), size word s, then s + 1 entries of a value word
// and red, green, blue words.
bool CPictOpcodeWalk::SkipColorTable()
{
    uint16_t size = 0;
    return m_source.Skip(6) && m_source.Word(size) && m_source.Skip((size + 1ull) * kColorSpecBytes);
}
