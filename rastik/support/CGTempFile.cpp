// Temporary file for spilled channel planes.
#include "rastik/CGTempFile.h"

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
    if (!Create()) return -1;
    uint64_t end = m_used + bytes;
    if (end > 0x7FFFFFFFull) return -1;
    if (!HasFreeDiskSpace(GetTempDirectory(), bytes)) return -1;
    try {
        // Reserve the range now (sparse), so later row writes land inside the file.
        if (m_file.GetLength() < end) m_file.SetLength(end);
    } catch (const CFileException&) {
        return -1;
    }
    int32_t offset = static_cast<int32_t>(m_used);
    m_used = end;
    return offset;
}
