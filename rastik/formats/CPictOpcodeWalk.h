// The walk over a picture's opcodes up to its first bitmap: every drawing
// opcode is stepped over by the length of its data, nothing is drawn.
// Version 1 opcodes are one byte; version 2 opcodes are words at even
// positions. Every opcode consumes at least one byte, and every length is
// bounded by the rest of the file, so the walk ends on any input.
#pragma once

#include <cstdint>

class CPictSource;

class CPictOpcodeWalk {
public:
    enum Result {
        kImage,       // at the data of a bitmap opcode
        kEnd,         // the end opcode before one
        kBadData,     // a length or record that the file cannot hold
        kBadPattern   // a pixel pattern of an unknown type
    };

    CPictOpcodeWalk(CPictSource& source, int version) : m_source(source), m_version(version) {}

    // Steps over opcodes until a bitmap opcode (its code in *opcode).
    Result FindImage(uint16_t* opcode);

    // The bitmap opcodes: copies of a rectangle or region, packed or not,
    // of indexed and of direct pixels.
    static constexpr uint16_t kBitsRect = 0x90;
    static constexpr uint16_t kBitsRgn = 0x91;
    static constexpr uint16_t kPackBitsRect = 0x98;
    static constexpr uint16_t kPackBitsRgn = 0x99;
    static constexpr uint16_t kDirectBitsRect = 0x9A;
    static constexpr uint16_t kDirectBitsRgn = 0x9B;
    static bool IsImage(uint16_t opcode);
    static bool HasRegion(uint16_t opcode);

private:
    bool NextOpcode(uint16_t* opcode);
    // Opcodes of the table (below 0xA2), and those above it; false when
    // their data does not fit the file.
    bool SkipTableOpcode(uint16_t opcode);
    bool SkipOtherOpcode(uint16_t opcode);
    // A word holding its own size and the data after it (regions, polygons).
    bool SkipSizedRecord();
    // Text opcodes: fixed bytes, a count byte and that many characters.
    bool SkipText(uint32_t fixedBytes);
    // A length word or long, then that many bytes.
    bool SkipWordLength();
    bool SkipLongLength();
    bool SkipPixPat();
    bool SkipColorTable();

    CPictSource& m_source;
    int m_version;
    bool m_badPattern = false;
};
