// Buffered binary file over a POSIX descriptor, with advisory locks for the
// share modes and exceptions that carry the original platform's cause codes.
#include "platform/CFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>

#include "platform/CFileFaults.h"

namespace {
constexpr size_t kBufferSize = 64 * 1024;
}

int CFileException::OsErrorToCause(int err)
{
    switch (err) {
    case 0: return none;
    case ENOENT: return fileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP: return badPath;
    case EMFILE:
    case ENFILE: return tooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return accessDenied;
    case EBADF: return invalidFile;
    case EWOULDBLOCK: return sharingViolation;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return diskFull;
    case EIO: return hardIO;
    case EINVAL:
    case ESPIPE: return badSeek;
    default: return generic;
    }
}

CFile::CFile() = default;

CFile::~CFile()
{
    Abort();
}

bool CFile::Open(const char* path, unsigned flags, CFileException* error)
{
    auto fail = [&](int err) {
        if (error) {
            error->m_cause = CFileException::OsErrorToCause(err);
            error->m_lOsError = err;
            error->m_strFileName = path ? path : "";
        }
        return false;
    };
    Abort();
    if (!path || !*path) return fail(ENOENT);

    int oflags = O_CLOEXEC;
    unsigned access = flags & 3u;
    if (access == modeWrite) oflags |= O_WRONLY;
    else if (access == modeReadWrite) oflags |= O_RDWR;
    else oflags |= O_RDONLY;
    if (flags & modeCreate) oflags |= O_CREAT;

    // Tests that record file operations need to know whether the open made the file.
    CFileFaults* faults = CFileFaults::Active();
    bool existed = faults && (flags & modeCreate) && ::access(path, F_OK) == 0;
    int fd = ::open(path, oflags, 0666);
    if (fd < 0) return fail(errno);

    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(fd);
        return fail(err);
    }

    unsigned share = flags & 0x70u;
    int lock = 0;
    if (share == shareExclusive) lock = LOCK_EX;
    else if (share == shareDenyWrite || share == shareDenyRead) lock = LOCK_SH;
    if (lock && flock(fd, lock | LOCK_NB) != 0) {
        int err = errno;
        ::close(fd);
        return fail(err);
    }
    // Truncate only once the lock is held, so a refused open never damages
    // a file that another holder is using.
    bool truncate = (flags & modeCreate) && !(flags & modeNoTruncate);
    if (truncate && ftruncate(fd, 0) != 0) {
        int err = errno;
        ::close(fd);
        return fail(err);
    }
    if (faults && (flags & modeCreate)) faults->AfterOpen(path, !existed, truncate);

    m_fd = fd;
    m_path = path;
    m_pos = 0;
    m_external = false;
    m_writable = access == modeWrite || access == modeReadWrite;
    // Filled before it is read: left as allocated.
    m_buf.reset(new uint8_t[kBufferSize]);
    m_bufSize = kBufferSize;
    m_bufStart = 0;
    m_readLen = 0;
    m_writeLen = 0;
    return true;
}

void CFile::Close()
{
    if (m_fd < 0) return;
    int err = 0;
    try {
        FlushWriteBuffer();
    } catch (const CFileException& e) {
        err = e.m_lOsError ? e.m_lOsError : EIO;
    }
    if (::close(m_fd) != 0 && !err) err = errno;
    m_fd = -1;
    m_readLen = m_writeLen = 0;
    m_buf.reset();
    m_bufSize = 0;
    if (err) throw CFileException(CFileException::OsErrorToCause(err), err, m_path);
}

void CFile::Abort()
{
    try {
        Close();
    } catch (const CFileException&) {
    }
}

void CFile::SyncFromDescriptor()
{
    if (!m_external) return;
    off_t p = lseek(m_fd, 0, SEEK_CUR);
    if (p >= 0) m_pos = static_cast<uint64_t>(p);
    m_external = false;
}

void CFile::DropReadBuffer()
{
    m_readLen = 0;
}

void CFile::ThrowOsError(int err)
{
    throw CFileException(CFileException::OsErrorToCause(err), err, m_path);
}

void CFile::WriteAt(uint64_t pos, const uint8_t* data, size_t count)
{
    if (CFileFaults* faults = CFileFaults::Active())
        if (int err = faults->BeforeWrite(m_path, pos, data, count)) ThrowOsError(err);
    while (count > 0) {
        ssize_t n = pwrite(m_fd, data, count, static_cast<off_t>(pos));
        if (n < 0) {
            if (errno == EINTR) continue;
            ThrowOsError(errno);
        }
        if (n == 0) ThrowOsError(ENOSPC);
        data += n;
        pos += static_cast<uint64_t>(n);
        count -= static_cast<size_t>(n);
    }
}

void CFile::FlushWriteBuffer()
{
    if (m_writeLen == 0) return;
    size_t len = m_writeLen;
    m_writeLen = 0;  // a failed flush loses the pending bytes once, not at every call
    WriteAt(m_bufStart, m_buf.get(), len);
}

uint32_t CFile::Read(void* buffer, uint32_t count)
{
    if (m_fd < 0 || count == 0) return 0;
    SyncFromDescriptor();
    try {
        FlushWriteBuffer();
    } catch (const CFileException&) {
        return 0;
    }
    auto* out = static_cast<uint8_t*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        if (m_readLen && m_pos >= m_bufStart && m_pos < m_bufStart + m_readLen) {
            size_t off = static_cast<size_t>(m_pos - m_bufStart);
            size_t take = std::min<size_t>(m_readLen - off, count - done);
            memcpy(out + done, m_buf.get() + off, take);
            done += static_cast<uint32_t>(take);
            m_pos += take;
            continue;
        }
        size_t want = count - done;
        if (want >= m_bufSize) {
            ssize_t n = pread(m_fd, out + done, want, static_cast<off_t>(m_pos));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<uint32_t>(n);
            m_pos += static_cast<uint64_t>(n);
            continue;
        }
        ssize_t n = pread(m_fd, m_buf.get(), m_bufSize, static_cast<off_t>(m_pos));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            m_readLen = 0;
            break;
        }
        m_bufStart = m_pos;
        m_readLen = static_cast<size_t>(n);
    }
    return done;
}

uint32_t CFile::ReadAt(uint64_t pos, void* buffer, uint32_t count) const
{
    auto* out = static_cast<uint8_t*>(buffer);
    uint32_t done = 0;
    while (m_fd >= 0 && done < count) {
        ssize_t n = pread(m_fd, out + done, count - done, static_cast<off_t>(pos + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<uint32_t>(n);
    }
    return done;
}

void CFile::Write(const void* buffer, uint32_t count)
{
    if (m_fd < 0) ThrowOsError(EBADF);
    if (!m_writable) ThrowOsError(EACCES);
    if (count == 0) return;
    SyncFromDescriptor();
    DropReadBuffer();
    const auto* data = static_cast<const uint8_t*>(buffer);
    bool contiguous = m_writeLen > 0 && m_pos == m_bufStart + m_writeLen;
    if (contiguous && m_writeLen + count <= m_bufSize) {
        memcpy(m_buf.get() + m_writeLen, data, count);
        m_writeLen += count;
        m_pos += count;
        return;
    }
    FlushWriteBuffer();
    if (count >= m_bufSize) {
        WriteAt(m_pos, data, count);
    } else {
        m_bufStart = m_pos;
        memcpy(m_buf.get(), data, count);
        m_writeLen = count;
    }
    m_pos += count;
}

uint64_t CFile::Seek(int64_t offset, int from)
{
    if (m_fd < 0) ThrowOsError(EBADF);
    SyncFromDescriptor();
    int64_t base = 0;
    if (from == current) base = static_cast<int64_t>(m_pos);
    else if (from == end) base = static_cast<int64_t>(GetLength());
    else if (from != begin) throw CFileException(CFileException::badSeek, EINVAL, m_path);
    int64_t target = base + offset;
    if (target < 0) throw CFileException(CFileException::badSeek, EINVAL, m_path);
    m_pos = static_cast<uint64_t>(target);
    return m_pos;
}

uint64_t CFile::GetLength()
{
    if (m_fd < 0) return 0;
    SyncFromDescriptor();
    struct stat st;
    uint64_t len = 0;
    if (fstat(m_fd, &st) == 0) len = static_cast<uint64_t>(st.st_size);
    if (m_writeLen) len = std::max<uint64_t>(len, m_bufStart + m_writeLen);
    return len;
}

void CFile::SetLength(uint64_t length)
{
    if (m_fd < 0) ThrowOsError(EBADF);
    SyncFromDescriptor();
    FlushWriteBuffer();
    DropReadBuffer();
    if (CFileFaults* faults = CFileFaults::Active())
        if (int err = faults->BeforeSetLength(m_path, length)) ThrowOsError(err);
    if (ftruncate(m_fd, static_cast<off_t>(length)) != 0) ThrowOsError(errno);
}

void CFile::Flush()
{
    if (m_fd < 0) return;
    SyncFromDescriptor();
    FlushWriteBuffer();
}

void CFile::Sync()
{
    if (m_fd < 0) ThrowOsError(EBADF);
    Flush();
    if (fdatasync(m_fd) != 0) ThrowOsError(errno);
    if (CFileFaults* faults = CFileFaults::Active()) faults->AfterSync(m_path);
}

int CFile::GetDescriptor()
{
    if (m_fd < 0) return -1;
    SyncFromDescriptor();
    FlushWriteBuffer();
    DropReadBuffer();
    lseek(m_fd, static_cast<off_t>(m_pos), SEEK_SET);
    m_external = true;
    return m_fd;
}

void CFile::Remove(const char* path)
{
    if (::unlink(path) != 0) {
        int err = errno;
        throw CFileException(CFileException::OsErrorToCause(err), err, path ? path : "");
    }
    if (CFileFaults* faults = CFileFaults::Active()) faults->AfterRemove(path);
}
