// The encoded-data stream: the process-wide file the DCT coder moves its
// bytes through, read and written unbuffered on the file's descriptor.
#include "platform/Win32.h"
#include "rastik/Exports.h"

CFile* g_pEncodedDataFile = nullptr;

extern "C" int WriteEncodedData(int kind, const char* buffer, int count)
{
    if (kind != 1) return count;
    if (!g_pEncodedDataFile || count < 0) return -1;
    int fd = g_pEncodedDataFile->GetDescriptor();
    if (fd < 0) return -1;
    return static_cast<int>(_lwrite(fd, buffer, static_cast<uint32_t>(count)));
}

extern "C" CFile* SetEncodedDataFile(CFile* file)
{
    CFile* previous = g_pEncodedDataFile;
    g_pEncodedDataFile = file;
    return previous;
}

int ReadEncodedData(int kind, char* buffer, int count)
{
    if (kind != 1) return count;
    if (!g_pEncodedDataFile || count < 0) return -1;
    int fd = g_pEncodedDataFile->GetDescriptor();
    if (fd < 0) return -1;
    return static_cast<int>(_lread(fd, buffer, static_cast<uint32_t>(count)));
}
