// Temporary file for spilled channel planes.
#include "rastik/CGTempFile.h"

#include <cstdint>

#include "platform/Win32.h"
#include "rastik/General.h"

CGTempFile::CGTempFile() = default;

CGTempFile::~CGTempFile()
{
    m_file.Abort();
    if (!FileName.empty()) DeleteFile(FileName.c_str());
}

bool CGTempFile::Create()
{
    if (m_file.IsOpen()) return true;
    FileName = MakeTempFileName(GetTempDirectory(), "rtk");
    if (FileName.empty()) return false;
    if (!m_file.Open(FileName.c_str(), CFile::modeCreate | CFile::modeReadWrite | CFile::typeBinary)) {
        DeleteFile(FileName.c_str());
        FileName.clear();
        return false;
    }
    return true;
}

int32_t CGTempFile::GetFreeOffset(uint32_t bytes)
{
    // Callers of the 32-bit form compute offset + row x stride in 32 bits.
    if (m_used + bytes > 0x7FFFFFFFull) return -1;
    return static_cast<int32_t>(GetFreeOffset64(bytes));
}

int64_t CGTempFile::GetFreeOffset64(uint64_t bytes)
{
    if (!Create()) return -1;
    uint64_t end = m_used + bytes;
    if (end < m_used || end > static_cast<uint64_t>(INT64_MAX)) return -1;
    if (!HasFreeDiskSpace(GetTempDirectory(), bytes)) return -1;
    if (!Grow(end)) return -1;
    int64_t offset = static_cast<int64_t>(m_used);
    m_used = end;
    return offset;
}

bool CGTempFile::SkipOffset(uint64_t bytes)
{
    if (!Create()) return false;
    uint64_t end = m_used + bytes;
    if (end < m_used || end > static_cast<uint64_t>(INT64_MAX) || !Grow(end)) return false;
    m_used = end;
    return true;
}

// Reserves the range up to end now (sparse), so later row writes land
// inside the file.
bool CGTempFile::Grow(uint64_t end)
{
    try {
        if (m_file.GetLength() < end) m_file.SetLength(end);
    } catch (const CFileException&) {
        return false;
    }
    return true;
}
