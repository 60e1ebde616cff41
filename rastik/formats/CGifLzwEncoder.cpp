// GIF LZW encoding of pixel indexes into data sub-blocks.
#include "rastik/formats/CGifLzwEncoder.h"

#include <cstring>

#include "rastik/support/ByteOrder.h"

namespace {

// Stores the accumulator's bytes at out and moves past the whole bytes it
// held; the bits of a partial byte stay in the accumulator.
inline void FlushWholeBytes(uint8_t*& out, uint64_t& bits, uint32_t& held)
{
    rastik::PutLE64(out, bits);
    out += held >> 3;
    bits >>= held & ~7u;
    held &= 7;
}

}  // namespace

uint32_t CGifLzwEncoder::SlotOf(uint32_t key)
{
    return (key * 0x9E3779B1u) >> (32 - kSlotBits);
}

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
    m_packedCount = 0;
    m_haveString = false;
    m_startPending = true;
    memset(m_table, 0, sizeof m_table);
    StartTable();
    WriteCode(m_clear);
}

void CGifLzwEncoder::StartTable()
{
    m_width = m_minCodeSize + 1;
    m_limit = 1u << m_width;
    m_next = m_clear + 2;
}

void CGifLzwEncoder::ClearTable()
{
    for (uint32_t code = m_clear + 2; code < m_next; ++code) m_table[m_slotOfCode[code]] = 0;
    StartTable();
}

void CGifLzwEncoder::Add(const uint8_t* pixels, uint32_t count)
{
    uint32_t i = 0;
    if (!m_haveString && count > 0) {
        m_string = pixels[i++] & m_pixelMask;
        m_haveString = true;
    }
    // The state the loop changes is kept in locals: stores of bytes could
    // otherwise alias the members and force their reload for every pixel.
    const uint32_t mask = m_pixelMask;
    uint32_t* const table = m_table;
    uint32_t string = m_string;
    uint32_t next = m_next;
    uint32_t limit = m_limit;
    uint32_t width = m_width;
    uint64_t bits = m_accumulator;
    uint32_t held = m_bitCount;
    uint8_t* out = m_packed + m_packedCount;
    uint8_t* const full = m_packed + kPackedBytes;
    for (; i < count; ++i) {
        const uint32_t c = pixels[i] & mask;
        const uint32_t key = (string << 8) | c;
        uint32_t slot = SlotOf(key);
        uint32_t entry = table[slot];
        while (entry != 0 && (entry >> kCodeBits) != key) {
            slot = (slot + 1) & (kSlots - 1);
            entry = table[slot];
        }
        if (entry != 0) {
            string = entry & (kMaxCodes - 1);
            continue;
        }
        bits |= static_cast<uint64_t>(string) << held;
        held += width;
        FlushWholeBytes(out, bits, held);
        const uint32_t handed = next;
        if (next < kMaxCodes) {
            table[slot] = (key << kCodeBits) | next;
            m_slotOfCode[next++] = static_cast<uint16_t>(slot);
        }
        if (handed == limit) {
            if (width == kMaxWidth) {
                bits |= static_cast<uint64_t>(m_clear) << held;
                held += width;
                FlushWholeBytes(out, bits, held);
                m_next = next;
                ClearTable();
                next = m_next;
                limit = m_limit;
                width = m_width;
            } else {
                ++width;
                limit <<= 1;
            }
        }
        if (out >= full) {
            m_packedCount = static_cast<uint32_t>(out - m_packed);
            WriteSubBlocks(false);
            out = m_packed + m_packedCount;
        }
        string = c;
    }
    m_string = string;
    m_next = next;
    m_limit = limit;
    m_width = width;
    m_accumulator = bits;
    m_bitCount = held;
    m_packedCount = static_cast<uint32_t>(out - m_packed);
}

void CGifLzwEncoder::Finish()
{
    if (m_haveString) WriteCode(m_string);
    WriteCode(m_endCode);
    if (m_bitCount > 0) m_packed[m_packedCount++] = static_cast<uint8_t>(m_accumulator);
    m_accumulator = 0;
    m_bitCount = 0;
    WriteSubBlocks(true);
}

void CGifLzwEncoder::WriteCode(uint32_t code)
{
    m_accumulator |= static_cast<uint64_t>(code) << m_bitCount;
    m_bitCount += m_width;
    uint8_t* out = m_packed + m_packedCount;
    FlushWholeBytes(out, m_accumulator, m_bitCount);
    m_packedCount = static_cast<uint32_t>(out - m_packed);
    if (m_packedCount >= kPackedBytes) WriteSubBlocks(false);
}

void CGifLzwEncoder::WriteSubBlocks(bool last)
{
    uint32_t length = 0;
    if (m_startPending) m_blocks[length++] = static_cast<uint8_t>(m_minCodeSize);
    m_startPending = false;
    uint32_t taken = 0;
    while (m_packedCount - taken >= kSubBlockBytes || (last && taken < m_packedCount)) {
        uint32_t n = m_packedCount - taken < kSubBlockBytes ? m_packedCount - taken : kSubBlockBytes;
        m_blocks[length++] = static_cast<uint8_t>(n);
        memcpy(m_blocks + length, m_packed + taken, n);
        length += n;
        taken += n;
    }
    m_packedCount -= taken;
    memmove(m_packed, m_packed + taken, m_packedCount);
    if (length > 0) m_file.Write(m_blocks, length);
}
