// The image resources of a Photoshop-style resource block (TIFF tag 34377,
// JPEG APP13): a sequence of records, all numbers big-endian:
//   "8BIM", 16-bit id, a name (length byte and text, padded with a zero byte
//   to an even length; an empty name is two zero bytes), 32-bit data size,
//   the data padded to an even length.
// The walk ends at the first bytes that are not "8BIM", at a record whose
// header does not fit into the file, or after one whose data reaches its end.
#pragma once

#include <cstdint>

#include "platform/CFile.h"

class CImageResources {
public:
    CImageResources(CFile& file, int64_t start);

    // Moves to the next resource; false at the end of the block. File
    // errors throw CFileException.
    bool Next();
    uint16_t Id() const { return m_id; }
    // Position of the name, just after the id.
    uint64_t NameAt() const { return m_nameAt; }
    // Position and size of the data (which may pass the end of the file).
    uint64_t DataAt() const { return m_dataAt; }
    uint32_t DataSize() const { return m_size; }

    // From the name at the file's position: passes over it and reads the
    // data size. False when they do not lie within the file.
    static bool SkipName(CFile& file, uint32_t& dataSize);

private:
    CFile& m_file;
    uint64_t m_next;
    uint64_t m_length;
    int m_count = 0;
    uint16_t m_id = 0;
    uint64_t m_nameAt = 0;
    uint64_t m_dataAt = 0;
    uint32_t m_size = 0;
};
