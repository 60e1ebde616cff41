// One temporary file in the temporary directory, made on first use and
// removed when the object dies. Byte ranges are reserved in it with
// GetFreeOffset64 (GetFreeOffset for 32-bit callers) and moved with
// Seek/Read/Write on its file object. The file grows sparse: a reserved
// range takes disk space only as its rows are written.
#pragma once

#include <cstdint>
#include <string>

#include "platform/CFile.h"
#include "platform/CObject.h"
#include "rastik/RastikApi.h"

class RASTIK_API CGTempFile : public CObject {
public:
    CGTempFile();
    ~CGTempFile() override;
    CGTempFile(const CGTempFile&) = delete;
    CGTempFile& operator=(const CGTempFile&) = delete;

    // Reserves bytes and returns their offset; negative when the file cannot
    // be made, the range would pass 2 GiB, or the disk lacks the space.
    int32_t GetFreeOffset(uint32_t bytes);
    // The same without the 2 GiB limit: ranges of any size at any offset.
    int64_t GetFreeOffset64(uint64_t bytes);
    // Bytes reserved so far: the offset the next range gets.
    uint64_t UsedBytes() const { return m_used; }
    // Passes over bytes without reserving disk space for them (a hole in
    // the file), so that tests reach offsets past 4 GiB without writing
    // gigabytes; false when the file cannot be made or grown.
    bool SkipOffset(uint64_t bytes);
    // The file object; it is opened by the first GetFreeOffset.
    CFile* GetFile() { return &m_file; }

    std::string FileName;

private:
    bool Create();
    bool Grow(uint64_t end);
    CFile m_file;
    uint64_t m_used = 0;
};
