// Binary file with the open flags, positions and errors of the original
// platform's file class. Reads and writes go through an internal buffer, but
// positions and lengths behave exactly as if every call reached the disk.
// Write failures throw CFileException; Open reports failure by its result.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/CFileException.h"
#include "platform/CObject.h"
#include "platform/PlatformApi.h"

class PLATFORM_API CFile : public CObject {
public:
    enum OpenFlags : unsigned {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareCompat = 0x0000,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeNoInherit = 0x0080,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        typeText = 0x4000,
        typeBinary = 0x8000
    };
    enum SeekPosition { begin = 0, current = 1, end = 2 };

    CFile();
    ~CFile() override;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // Opens the file; share flags become advisory locks (exclusive: an
    // exclusive lock; deny-write or deny-read: a shared lock), taken without
    // waiting, so a held lock makes Open fail with sharingViolation.
    bool Open(const char* path, unsigned flags, CFileException* error = nullptr);
    void Close();
    // Close without throwing, used on error paths.
    void Abort();
    bool IsOpen() const { return m_fd >= 0; }

    uint32_t Read(void* buffer, uint32_t count);
    // Up to count bytes from pos, past the buffer and without moving the
    // position: several threads may read a file opened for reading at once.
    // The bytes read; fewer at the end of the file or on an error.
    uint32_t ReadAt(uint64_t pos, void* buffer, uint32_t count) const;
    void Write(const void* buffer, uint32_t count);
    uint64_t Seek(int64_t offset, int from);
    uint64_t SeekToBegin() { return Seek(0, begin); }
    uint64_t SeekToEnd() { return Seek(0, end); }
    uint64_t GetPosition() const { return m_pos; }
    uint64_t GetLength();
    void SetLength(uint64_t length);
    // Hands buffered data to the system.
    void Flush();
    // Flush, then waits until the file's data (and its length) are on the
    // disk (fdatasync).
    void Sync();

    // The descriptor for callers that read or write it directly (the encoded
    // data stream). Pending buffered data is written first and the descriptor
    // is placed at the file position; the next call on this object takes its
    // position back from the descriptor.
    int GetDescriptor();
    const std::string& GetFilePath() const { return m_path; }

    static void Remove(const char* path);

private:
    void SyncFromDescriptor();
    void FlushWriteBuffer();
    void DropReadBuffer();
    void ThrowOsError(int err);
    void WriteAt(uint64_t pos, const uint8_t* data, size_t count);

    int m_fd = -1;
    std::string m_path;
    uint64_t m_pos = 0;
    bool m_external = false;
    bool m_writable = false;
    // One buffer, used either for reading (m_readLen valid bytes from m_bufStart)
    // or for writing (m_writeLen pending bytes from m_bufStart).
    std::unique_ptr<uint8_t[]> m_buf;
    size_t m_bufSize = 0;
    uint64_t m_bufStart = 0;
    size_t m_readLen = 0;
    size_t m_writeLen = 0;
};
