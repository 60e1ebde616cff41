// One temporary file in the temporary directory, made on first use and
// removed when the object dies. Byte ranges are reserved in it with
// GetFreeOffset and moved with Seek/Read/Write on its file object.
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
    // be made, the offset would pass 2 GiB, or the disk lacks the space.
    int32_t GetFreeOffset(uint32_t bytes);
    // The file object; it is opened by the first GetFreeOffset.
    CFile* GetFile() { return &m_file; }

    std::string FileName;

private:
    bool Create();
    CFile m_file;
    uint64_t m_used = 0;
};
