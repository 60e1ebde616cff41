// Bounded big-endian reads of a picture file.
#include "rastik/formats/CPictSource.h"

#include "rastik/support/ByteOrder.h"

CPictSource::CPictSource(CFile& file) : m_file(file), m_length(file.GetLength()), m_pos(file.GetPosition())
{
    if (m_pos > m_length) m_pos = m_length;
}

bool CPictSource::Bytes(uint8_t* out, uint32_t count)
{
    if (!m_ok || count > Left()) return Fail();
    if (count && m_file.Read(out, count) != count) return Fail();
    m_pos += count;
    return true;
}

bool CPictSource::ReadNextByte(uint8_t& value)
{
    return Bytes(&value, 1);
}

bool CPictSource::Word(uint16_t& value)
{
    uint8_t b[2];
    if (!Bytes(b, 2)) return false;
    value = rastik::GetBE16(b);
    return true;
}

bool CPictSource::Long(uint32_t& value)
{
    uint8_t b[4];
    if (!Bytes(b, 4)) return false;
    value = rastik::GetBE32(b);
    return true;
}

bool CPictSource::Skip(uint64_t count)
{
    if (!m_ok || count > Left()) return Fail();
    return Seek(m_pos + count);
}

bool CPictSource::Seek(uint64_t position)
{
    if (!m_ok || position > m_length) return Fail();
    m_file.Seek(static_cast<int64_t>(position), CFile::begin);
    m_pos = position;
    return true;
}

bool CPictSource::AlignToWord()
{
    return (m_pos & 1) ? Skip(1) : m_ok;
}
