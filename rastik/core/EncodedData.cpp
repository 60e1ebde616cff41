// The encoded-data stream: the file the DCT coder of each thread moves its
// bytes through, read and written unbuffered on the file's descriptor.
#include <cerrno>

#include "platform/CFileException.h"
#include "platform/Win32.h"
#include "rastik/Exports.h"

thread_local constinit CFile* g_pEncodedDataFile = nullptr;

namespace {
thread_local int t_failure = 0;
}  // namespace

int EncodedDataFailure()
{
    return t_failure;
}

void ClearEncodedDataFailure()
{
    t_failure = 0;
}

extern "C" int WriteEncodedData(int kind, const char* buffer, int count)
{
    if (kind != 1) return count;
    if (!g_pEncodedDataFile || count < 0) return -1;
    int fd = g_pEncodedDataFile->GetDescriptor();
    if (fd < 0) return -1;
    uint32_t written = _lwrite(fd, buffer, static_cast<uint32_t>(count));
    if (written != static_cast<uint32_t>(count)) t_failure = CFileException::OsErrorToCause(errno);
    return static_cast<int>(written);
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
