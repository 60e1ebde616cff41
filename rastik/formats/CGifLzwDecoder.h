// Decoder of GIF's variable-width LZW codes: codes of (minimum code size + 1)
// up to 12 bits, least significant bit first; the clear code 2^m resets the
// table, 2^m + 1 ends the image, and every code after the first adds the
// previous string plus the first pixel of the current one to the table. The
// width grows by one bit once the table holds 2^width entries; a full table
// of 4,096 entries keeps decoding with 12-bit codes until a clear code.
//
// Data that ends early decodes as if zero bytes followed, so the image is
// completed with pixel 0; after the end code every further pixel is 0 too.
// A code beyond the next free one, or the string-plus-first-pixel code
// without a previous string, is a decoding error.
#pragma once

#include <cstdint>

#include "rastik/support/ByteOrder.h"

class CGifLzwDecoder {
public:
    // Supplier of the compressed bytes (the payload of the data sub-blocks).
    class Source {
    public:
        virtual ~Source() = default;
        // Copies up to room bytes of compressed data into to; 0 once the data ends.
        virtual uint32_t More(uint8_t* to, uint32_t room) = 0;
    };

    static constexpr uint32_t kMinCodeSizeLow = 1;
    static constexpr uint32_t kMinCodeSizeHigh = 8;

    // Starts decoding a stream of the given minimum code size (1 to 8);
    // false for another size.
    bool Start(uint32_t minCodeSize, Source* source);
    // Decodes the next count pixel indexes into out; false on a decoding
    // error (the decoder then stays failed).
    bool Pixels(uint8_t* out, uint32_t count);
    // The end code was read or the data ran out: every further pixel is 0.
    bool Ended() const { return m_ended; }

private:
    static constexpr uint32_t kMaxCodes = 4096;
    static constexpr uint32_t kMaxWidth = 12;
    static constexpr uint16_t kNoCode = 0xFFFF;
    static constexpr uint32_t kBufferBytes = 8192;

    void ResetTable();
    // The next code of the current width. At the end of the data: the bits
    // left, zero-padded, and the decoder counts as ended.
    uint32_t NextCode();
    // Keeps the unread bits and appends more data; false when none comes.
    bool Refill();
    // Decodes one code into out (room pixels free there); false on an error.
    bool Code(uint32_t code, uint8_t* out, uint32_t room, uint32_t* written);

    Source* m_source = nullptr;
    uint8_t m_buffer[kBufferBytes];
    uint32_t m_bufferLength = 0;
    rastik::CLsbBitReader m_bits{m_buffer, m_buffer};
    bool m_dataEnded = false;

    // The codes of the minimum code size; the next free code and the width.
    uint32_t m_minCodeSize = 0, m_clear = 0, m_endCode = 0;
    uint32_t m_next = 0, m_width = 0;
    uint32_t m_previous = kNoCode;
    bool m_ended = false, m_failed = false;

    // The table: code c is the string of code m_prefix[c] followed by pixel
    // m_suffix[c]; m_first and m_length give its first pixel and length.
    uint16_t m_prefix[kMaxCodes];
    uint8_t m_suffix[kMaxCodes];
    uint8_t m_first[kMaxCodes];
    uint16_t m_length[kMaxCodes];
    // Pixels of a string that did not fit into the output, still to deliver.
    uint8_t m_pending[kMaxCodes];
    uint32_t m_pendingAt = 0;
    uint32_t m_pendingEnd = 0;
};
