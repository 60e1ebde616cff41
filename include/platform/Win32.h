// Stand-ins for the few operating-system calls the codecs and the store make:
// unbuffered descriptor I/O, temporary names, deleting files, sleeping and the
// clocks.
#pragma once

#include <cstdint>
#include <string>

constexpr uint32_t HFILE_ERROR = 0xFFFFFFFFu;

struct SYSTEMTIME {
    uint16_t wYear;
    uint16_t wMonth;
    uint16_t wDayOfWeek;
    uint16_t wDay;
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
};

// Reads or writes count bytes on a descriptor at its current offset; the
// count moved, or HFILE_ERROR.
uint32_t _lread(int fd, void* buffer, uint32_t count);
uint32_t _lwrite(int fd, const void* buffer, uint32_t count);

// Makes a new empty file with a unique name in dir whose name starts with
// prefix; returns its path, or an empty string when none could be made.
std::string MakeTempFileName(const char* dir, const char* prefix);

bool DeleteFile(const char* path);
bool FileExists(const char* path);
// Bytes of an existing file; 0 when there is none.
uint64_t FileBytes(const char* path);
// Whether two existing paths lie on one file system.
bool OnOneFileSystem(const char* a, const char* b);
// Makes the directory's entries (files made or removed in it) durable; 0, or
// the error.
int SyncDirectory(const char* dir);

void Sleep(uint32_t milliseconds);
// Monotonic milliseconds, wrapping at 32 bits.
uint32_t GetTickCount();
void GetLocalTime(SYSTEMTIME* time);
