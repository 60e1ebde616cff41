// GIF LZW encoding of pixel indexes into data sub-blocks.
#include "rastik/formats/CGifLzwEncoder.h"

#include <cstring>

void CGifLzwEncoder::Start(uint32_t bits)
{
    if (bits < 1) bits = 1;
    if (bits > 8) bits = 8;
    m_pixelMask = (1u << bits) - 1;
    m_minCodeSize = bits < 2 ? 2 : bits;
    m_clear = 1u << m_minCodeSize;
    m_endCode = m_clear + 1;
    m_accumulator = 0;
    m_bitCount = 0;
    m_fill = 1;
    m_staged = 0;
    m_haveString = false;
    m_staging[m_staged++] = static_cast<uint8_t>(m_minCodeSize);
    ResetTable();
    WriteCode(m_clear);
}

void CGifLzwEncoder::ResetTable()
{
    m_width = m_minCodeSize + 1;
    m_limit = 1u << m_width;
    m_next = m_clear + 2;
    memset(m_keys, 0xFF, sizeof m_keys);
}

void CGifLzwEncoder::Add(const uint8_t* pixels, uint32_t count)
{
    uint32_t i = 0;
    if (!m_haveString && count > 0) {
        m_string = pixels[i++] & m_pixelMask;
        m_haveString = true;
    }
    // The state the loop changes is kept in locals: stores of bytes into the
    // sub-block could otherwise alias the members and force their reload
    // for every pixel.
    const uint32_t mask = m_pixelMask;
    uint32_t string = m_string;
    uint32_t next = m_next;
    uint32_t limit = m_limit;
    uint32_t width = m_width;
    uint64_t bits = m_accumulator;
    uint32_t held = m_bitCount;
    uint32_t fill = m_fill;
    auto emit = [&](uint32_t code) {
        bits |= static_cast<uint64_t>(code) << held;
        held += width;
        while (held >= 8) {
            m_subBlock[fill++] = static_cast<uint8_t>(bits);
            bits >>= 8;
            held -= 8;
            if (fill == kSubBlockBytes + 1) {
                m_fill = fill;
                EndSubBlock();
                fill = m_fill;
            }
        }
    };
    for (; i < count; ++i) {
        const uint32_t c = pixels[i] & mask;
        const uint32_t key = (string << 8) | c;
        // Primary slot from the string and the pixel; the secondary step
        // is the distance to the end of the table.
        uint32_t h = (string ^ (c << 4)) & 0xFFFF;
        const uint32_t step = h == 0 ? 1 : kTableSlots - h;
        while (m_keys[h] != kEmpty && m_keys[h] != key) h = h < step ? h + kTableSlots - step : h - step;
        if (m_keys[h] == key) {
            string = m_codes[h];
            continue;
        }
        emit(string);
        const uint32_t handed = next;
        if (next < kMaxCodes) {
            m_keys[h] = key;
            m_codes[h] = static_cast<uint16_t>(next++);
        }
        if (handed == limit) {
            if (width == kMaxWidth) {
                emit(m_clear);
                ResetTable();
                next = m_next;
                limit = m_limit;
                width = m_width;
            } else {
                ++width;
                limit <<= 1;
            }
        }
        string = c;
    }
    m_string = string;
    m_next = next;
    m_limit = limit;
    m_width = width;
    m_accumulator = static_cast<uint32_t>(bits);
    m_bitCount = held;
    m_fill = fill;
}

void CGifLzwEncoder::Finish()
{
    if (m_haveString) WriteCode(m_string);
    WriteCode(m_endCode);
    if (m_bitCount > 0) PutByte(static_cast<uint8_t>(m_accumulator));
    m_accumulator = 0;
    m_bitCount = 0;
    if (m_fill > 1) EndSubBlock();
    if (m_staged > 0) m_file.Write(m_staging, m_staged);
    m_staged = 0;
}

void CGifLzwEncoder::WriteCode(uint32_t code)
{
    m_accumulator |= code << m_bitCount;
    m_bitCount += m_width;
    while (m_bitCount >= 8) {
        PutByte(static_cast<uint8_t>(m_accumulator));
        m_accumulator >>= 8;
        m_bitCount -= 8;
    }
}

void CGifLzwEncoder::PutByte(uint8_t byte)
{
    m_subBlock[m_fill++] = byte;
    if (m_fill == kSubBlockBytes + 1) EndSubBlock();
}

void CGifLzwEncoder::EndSubBlock()
{
    if (m_staged + kSubBlockBytes + 1 > kStagingBytes) {
        m_file.Write(m_staging, m_staged);
        m_staged = 0;
    }
    m_subBlock[0] = static_cast<uint8_t>(m_fill - 1);
    memcpy(m_staging + m_staged, m_subBlock, m_fill);
    m_staged += m_fill;
    m_fill = 1;
}
