// The picture opcodes 0x00 to 0xA1 with their names, data lengths and
// descriptions, as data the opcode walk looks lengths up in.
#pragma once

#include <array>
#include <cstdint>

struct PictOpcodeEntry {
    const char* Name;
    // Bytes of data after the opcode. 0: none, unless the walk reads the
    // opcode's data itself; -1: a length word, then that many bytes.
    int16_t Length;
    const char* Description;
};

constexpr uint16_t kPictOpcodeCount = 162;
extern const std::array<PictOpcodeEntry, kPictOpcodeCount> kPictOpcodes;
