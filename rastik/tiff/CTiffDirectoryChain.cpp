// The header and the directory chain of a TIFF file (see the header file;
// the layouts are in TiffTags.h).
#include "rastik/tiff/CTiffDirectoryChain.h"

#include "rastik/Messages.h"
#include "rastik/support/ByteOrder.h"

using rastik::Get16;

CTiffDirectoryChain::CTiffDirectoryChain(CFile& file, uint64_t fileLength) : m_file(file), m_fileLength(fileLength) {}

CStatus CTiffDirectoryChain::Open()
{
    constexpr CStatus kBadData = CStatus::Failed(kMsgBadFileData);
    uint8_t head[tiff::kBigHeaderBytes] = {};
    m_file.Seek(0, CFile::begin);
    uint32_t got = m_file.Read(head, sizeof head);
    if (got < tiff::kHeaderBytes) return kBadData;
    if (head[0] == 'I' && head[1] == 'I')
        m_little = true;
    else if (head[0] == 'M' && head[1] == 'M')
        m_little = false;
    else
        return kBadData;
    uint16_t version = Get16(head + 2, m_little);
    if (version != tiff::kVersion && version != tiff::kBigVersion) return CStatus::Failed();
    m_widths.big = version == tiff::kBigVersion;
    if (m_widths.big) {
        // Offset size 8, then a 16-bit 0.
        if (got < tiff::kBigHeaderBytes || Get16(head + 4, m_little) != tiff::kBigOffsetBytes || Get16(head + 6, m_little) != 0)
            return kBadData;
    }
    uint64_t first = m_widths.GetOffset(head + (m_widths.big ? tiff::kBigFirstDirectoryAt : tiff::kFirstDirectoryAt), m_little);
    return Load(first) ? CStatus::Ok() : kBadData;
}

bool CTiffDirectoryChain::Load(uint64_t at)
{
    uint32_t countBytes = m_widths.CountBytes();
    if (at > m_fileLength || m_fileLength - at < countBytes) return false;
    uint8_t count[8];
    m_file.Seek(static_cast<int64_t>(at), CFile::begin);
    if (m_file.Read(count, countBytes) != countBytes) return false;
    uint64_t entries = m_widths.GetCount(count, m_little);
    if (entries > kMostEntries || entries * m_widths.EntryBytes() > m_fileLength - at - countBytes) return false;
    m_at = at;
    m_entries = entries;
    m_seen.insert(at);
    return true;
}

bool CTiffDirectoryChain::Next()
{
    if (m_index + 1 >= kMostPages) return false;
    uint64_t nextAt = m_at + m_widths.CountBytes() + m_entries * m_widths.EntryBytes();
    uint32_t offsetBytes = m_widths.OffsetBytes();
    uint8_t next[8];
    if (m_fileLength - nextAt < offsetBytes) return false;
    m_file.Seek(static_cast<int64_t>(nextAt), CFile::begin);
    if (m_file.Read(next, offsetBytes) != offsetBytes) return false;
    uint64_t at = m_widths.GetOffset(next, m_little);
    if (at == 0 || m_seen.count(at) || !Load(at)) return false;
    ++m_index;
    return true;
}

bool CTiffDirectoryChain::SeekPage(uint32_t page)
{
    while (m_index < page)
        if (!Next()) return false;
    return true;
}

bool CTiffDirectoryChain::ReadEntries(std::vector<uint8_t>& bytes)
{
    bytes.resize(m_entries * m_widths.EntryBytes());
    m_file.Seek(static_cast<int64_t>(m_at + m_widths.CountBytes()), CFile::begin);
    return bytes.empty() || m_file.Read(bytes.data(), static_cast<uint32_t>(bytes.size())) == bytes.size();
}
