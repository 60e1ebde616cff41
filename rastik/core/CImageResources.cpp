// Walk over the records of an image-resource block.
#include "rastik/core/CImageResources.h"

#include <cstring>

#include "rastik/support/ByteOrder.h"

namespace {
constexpr char kSignature[4] = {'8', 'B', 'I', 'M'};
// Resource blocks of real files hold a few dozen resources.
constexpr int kMaxResources = 65536;
}  // namespace

CImageResources::CImageResources(CFile& file, int64_t start)
    : m_file(file), m_next(start > 0 ? static_cast<uint64_t>(start) : 0), m_length(file.GetLength())
{
}

bool CImageResources::SkipName(CFile& file, uint32_t& dataSize)
{
    uint8_t n = 0;
    uint8_t size[4];
    if (file.Read(&n, 1) != 1) return false;
    uint64_t at = file.GetPosition() + (n == 0 ? 1 : (n % 2 == 0 ? n + 1u : n));
    if (at + 4 > file.GetLength()) return false;
    file.Seek(static_cast<int64_t>(at), CFile::begin);
    if (file.Read(size, 4) != 4) return false;
    dataSize = rastik::GetBE32(size);
    return true;
}

bool CImageResources::Next()
{
    if (m_next == 0 || ++m_count > kMaxResources) return false;
    uint8_t head[6];
    m_file.Seek(static_cast<int64_t>(m_next), CFile::begin);
    if (m_file.Read(head, 6) != 6 || memcmp(head, kSignature, 4) != 0) return false;
    m_id = rastik::GetBE16(head + 4);
    m_nameAt = m_next + 6;
    if (!SkipName(m_file, m_size)) return false;
    m_dataAt = m_file.GetPosition();
    // A resource whose data passes the end of the file (the last one, a
    // pad byte short) is the last one of the walk.
    uint64_t next = m_dataAt + m_size + (m_size & 1u);
    m_next = next < m_length ? next : 0;
    return true;
}
