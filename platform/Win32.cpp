// POSIX implementations of the operating-system stand-ins.
#include "platform/Win32.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "platform/CFileFaults.h"

uint32_t _lread(int fd, void* buffer, uint32_t count)
{
    auto* out = static_cast<uint8_t*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        ssize_t n = ::read(fd, out + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return done ? done : HFILE_ERROR;
        }
        if (n == 0) break;
        done += static_cast<uint32_t>(n);
    }
    return done;
}

uint32_t _lwrite(int fd, const void* buffer, uint32_t count)
{
    const auto* in = static_cast<const uint8_t*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        ssize_t n = ::write(fd, in + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return done ? done : HFILE_ERROR;
        }
        if (n == 0) break;
        done += static_cast<uint32_t>(n);
    }
    return done;
}

std::string MakeTempFileName(const char* dir, const char* prefix)
{
    std::string pattern = dir && *dir ? dir : ".";
    if (pattern.back() != '/') pattern += '/';
    pattern += prefix ? prefix : "";
    pattern += "XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    int fd = mkstemp(buf.data());
    if (fd < 0) return std::string();
    ::close(fd);
    return std::string(buf.data());
}

bool DeleteFile(const char* path)
{
    // Only files (and links to them) are removed: a writer that cleans up
    // after a failed write to a device must not take the device node away.
    struct stat st;
    if (!path || lstat(path, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISLNK(st.st_mode))) return false;
    if (::unlink(path) != 0) return false;
    if (CFileFaults* faults = CFileFaults::Active()) faults->AfterRemove(path);
    return true;
}

int SyncDirectory(const char* dir)
{
    int fd = ::open(dir && *dir ? dir : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    int err = fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    if (!err)
        if (CFileFaults* faults = CFileFaults::Active()) faults->AfterDirectorySync(dir && *dir ? dir : ".");
    return err;
}

bool FileExists(const char* path)
{
    struct stat st;
    return path && stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

uint64_t FileBytes(const char* path)
{
    struct stat st;
    if (!path || stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    return static_cast<uint64_t>(st.st_size);
}

bool OnOneFileSystem(const char* a, const char* b)
{
    struct stat sa, sb;
    return a && b && stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev;
}

void Sleep(uint32_t milliseconds)
{
    struct timespec ts;
    ts.tv_sec = milliseconds / 1000;
    ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

uint32_t GetTickCount()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

void GetLocalTime(SYSTEMTIME* out)
{
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    time_t t = ts.tv_sec;
    struct tm tmv;
    localtime_r(&t, &tmv);
    out->wYear = static_cast<uint16_t>(tmv.tm_year + 1900);
    out->wMonth = static_cast<uint16_t>(tmv.tm_mon + 1);
    out->wDayOfWeek = static_cast<uint16_t>(tmv.tm_wday);
    out->wDay = static_cast<uint16_t>(tmv.tm_mday);
    out->wHour = static_cast<uint16_t>(tmv.tm_hour);
    out->wMinute = static_cast<uint16_t>(tmv.tm_min);
    out->wSecond = static_cast<uint16_t>(tmv.tm_sec);
    out->wMilliseconds = static_cast<uint16_t>(ts.tv_nsec / 1000000L);
}
