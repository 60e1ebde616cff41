// Fault injection for tests of code that writes through the file layer.
// While one object of this class exists, every write, length change, sync,
// creation and removal made through CFile and the stand-in calls (and the
// support layer's free-space query) passes through it, so a test can
//   - fail the nth write (a write or a length change that reaches the
//     system) with a chosen error, such as ENOSPC (disk full) or EIO;
//   - make every file system report little free space;
//   - record the operations on the files of one directory and lay those
//     files out again as a power loss after any operation could have left
//     them: what a file sync (for creations and removals, a directory sync)
//     had made durable is there, and of the rest any chosen subset of the
//     pieces, writes being cut into 512-byte sectors.
// With no such object the file layer works as usual; nothing creates one
// outside tests.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class CFileFaults {
public:
    static constexpr uint64_t kSectorSize = 512;

    CFileFaults();
    ~CFileFaults();
    CFileFaults(const CFileFaults&) = delete;
    CFileFaults& operator=(const CFileFaults&) = delete;

    // The object in force, or null.
    static CFileFaults* Active();

    // The nth write from now (1 is the next one) fails with error; 0 as n
    // cancels a planned failure.
    void FailWrite(uint64_t n, int error);
    // Writes and length changes seen so far.
    uint64_t Writes() const { return m_writes; }
    // Every file system reports at most bytes free (a small disk);
    // UINT64_MAX, the default, leaves the reports as they are.
    void LimitFreeSpace(uint64_t bytes) { m_freeSpace = bytes; }
    uint64_t FreeSpaceLimit() const { return m_freeSpace; }

    // Starts recording the operations on the files of dir; the files there
    // now are the starting point of every layout.
    void Record(const std::string& dir);
    size_t Operations() const { return m_ops.size(); }
    // The pieces of the operations before crashPoint that no sync had made
    // durable by then, in the order they were made.
    size_t UnsyncedPieces(size_t crashPoint) const;
    // Writes into the (empty, existing) directory target the files as a power
    // loss after the first crashPoint operations leaves them; keep[i] tells
    // whether unsynced piece i reached the disk (pieces past keep's end did).
    void LayOut(size_t crashPoint, const std::vector<bool>& keep, const std::string& target) const;

    // Called by the file layer. The Before... calls return 0 to let the
    // operation go ahead, or the error to fail it with.
    int BeforeWrite(const std::string& path, uint64_t offset, const void* data, size_t count);
    int BeforeSetLength(const std::string& path, uint64_t length);
    void AfterOpen(const std::string& path, bool created, bool truncated);
    void AfterSync(const std::string& path);
    void AfterRemove(const std::string& path);
    void AfterDirectorySync(const std::string& dir);

private:
    enum Kind { WriteOp, LengthOp, CreateOp, RemoveOp, SyncOp, DirectorySyncOp };
    struct Operation {
        Kind kind;
        std::string name;  // file name inside the recorded directory
        uint64_t offset;   // write offset, or the new length
        std::vector<uint8_t> data;
    };
    typedef std::map<std::string, std::vector<uint8_t>> Files;

    int CountWrite();
    bool NameIn(const std::string& path, std::string& name) const;
    void Add(Kind kind, const std::string& name, uint64_t offset = 0, const void* data = nullptr,
             size_t count = 0);
    std::vector<bool> Durable(size_t crashPoint) const;
    static size_t PieceCount(const Operation& op);
    static void Apply(const Operation& op, size_t piece, Files& files);

    uint64_t m_writes = 0;
    uint64_t m_failAt = 0;
    int m_failError = 0;
    uint64_t m_freeSpace = UINT64_MAX;
    bool m_recording = false;
    std::string m_dir;
    Files m_start;
    std::vector<Operation> m_ops;
};
