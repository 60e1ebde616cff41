// LZW decoding of TIFF strips (compression 5), one row at a time.
//
// Codes are 9 to 12 bits, most significant bit first. 256 is Clear (the
// table restarts with width 9 and next code 258), 257 ends the strip; every
// code after the first one following a Clear adds the previous string plus
// the first byte of the current one. The width grows when the next free
// code reaches 511, 1023 and 2047, one code early. A code equal to the next
// free code stands for the previous string plus its own first byte.
// Strips of the old form (first bytes 0x00 and an odd byte: Clear written
// least significant bit first) take their codes least significant bit first
// and widen at 512, 1024 and 2048.
#pragma once

#include <cstdint>

#include "rastik/support/ByteOrder.h"
#include "rastik/tiff/CTiffDecoder.h"
#include "rastik/tiff/TiffTags.h"

class CTiffLzwDecoder : public CTiffDecoder {
public:
    explicit CTiffLzwDecoder(const TiffRowShape& shape);

    // False when the strip's data does not begin with Clear.
    bool Start(CTiffStripBytes& bytes) override;
    uint8_t* DecodeRow(uint8_t* row) override;
    // The table is kept up to date, but only a string that runs on into the
    // next row is spelt out.
    void SkipRows(uint32_t count, uint8_t* row) override;
    // Decodes the next rowBytes bytes of the strip into row, or passes
    // over them when row is null; where the strip's codes end (end code,
    // end of data, a code the table cannot hold) the rest of the row
    // becomes 0.
    void ReadLZWTiff(uint8_t* row, uint32_t rowBytes);
    // The next n bits of the strip (most significant first); -1 when its
    // data ends before them.
    int32_t READBIT(int n);

private:
    // A string: the code of the string it extends, its length, its last
    // and its first byte.
    struct Entry {
        uint16_t prefix;
        uint16_t length;
        uint8_t last;
        uint8_t first;
    };

    // Decodes rowBytes bytes into row, or passes over them when row is null.
    template <class Reader>
    void Decode(Reader& reader, uint8_t* row, uint32_t rowBytes);
    // Bytes of the last string still to come, into the row's first bytes.
    uint32_t TakePending(uint8_t* row, uint32_t rowBytes);
    // Writes the string of code (the previous string and its first byte
    // when repeat: code is the next free one), ending at last.
    void Spell(uint32_t code, uint32_t previous, bool repeat, uint8_t* last) const;
    // A string of length bytes that does not fit into the row at pos: what
    // fits goes there, the rest waits for the next row; the row is full.
    uint32_t SplitString(uint32_t code, uint32_t previous, bool repeat, uint32_t length, uint8_t* row, uint32_t pos,
                         uint32_t rowBytes);
    // The next n bits once the window ran short: false at the strip's end.
    template <class Reader>
    bool MoreBits(Reader& reader, int n, uint32_t& code);
    void Clear();

    rastik::CMsbBitReader m_msb{nullptr, nullptr};
    rastik::CLsbBitReader m_lsb{nullptr, nullptr};
    bool m_oldForm = false;
    bool m_ended = true;

    Entry m_table[tiff::lzw::kTableSize];
    uint32_t m_free = tiff::lzw::kFirstFree;
    int m_width = tiff::lzw::kFirstWidth;
    int32_t m_previous = -1;

    // Bytes of the last string that did not fit into the row they began in.
    uint8_t m_pending[tiff::lzw::kTableSize];
    uint32_t m_pendingAt = 0;
    uint32_t m_pendingLeft = 0;
};
