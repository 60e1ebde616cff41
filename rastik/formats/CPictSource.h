// Big-endian reading of a picture file through its CFile, bounded by the
// file's length: a read or skip that would pass the end reads nothing and
// leaves the source failed, so a parser may read a whole record and test
// Ok() once. Every length taken from the file goes through Skip or Bytes.
#pragma once

#include <cstdint>

#include "platform/CFile.h"

class CPictSource {
public:
    // Over file from its current position to its end.
    explicit CPictSource(CFile& file);

    bool ReadNextByte(uint8_t& value);
    bool Word(uint16_t& value);
    bool Long(uint32_t& value);
    // Fields of a record in their order, each as its type's size (words and
    // longs); false at the first that does not fit.
    template <typename... Field>
    bool Fields(Field&... fields)
    {
        return (ReadField(fields) && ...);
    }
    bool Bytes(uint8_t* out, uint32_t count);
    bool Skip(uint64_t count);
    // Moves to an absolute position within the file.
    bool Seek(uint64_t position);
    // Version 2 opcodes start at even positions: drops a byte at an odd one.
    bool AlignToWord();

    uint64_t Position() const { return m_pos; }
    uint64_t Left() const { return m_length - m_pos; }
    bool Ok() const { return m_ok; }

private:
    bool ReadField(uint16_t& value) { return Word(value); }
    bool ReadField(uint32_t& value) { return Long(value); }
    bool Fail()
    {
        m_ok = false;
        return false;
    }

    CFile& m_file;
    uint64_t m_length;
    uint64_t m_pos;
    bool m_ok = true;
};
