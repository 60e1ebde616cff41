// The chain of image file directories of a TIFF file, classic or BigTIFF:
// the header, then one directory per page from the first on, each found by
// the next-directory offset behind the entries of the one before. The chain
// ends at offset 0, at a directory that does not lie within the file, at a
// directory seen before (a loop) or after kMostPages directories.
// Directories a SubIFDs entry points to are never followed: they belong to
// their page and are not pages of the chain.
#pragma once

#include <cstdint>
#include <set>
#include <vector>

#include "platform/CFile.h"
#include "rastik/core/CStatus.h"
#include "rastik/tiff/TiffEntry.h"

class CTiffDirectoryChain {
public:
    static constexpr uint32_t kMostPages = 65536;
    // Directories of more entries are not read (a classic file cannot hold
    // more).
    static constexpr uint64_t kMostEntries = 65535;

    CTiffDirectoryChain(CFile& file, uint64_t fileLength);

    // Reads the header and finds the first directory: 27610 for a header cut
    // short, a byte-order mark other than "II" or "MM", a BigTIFF header of
    // another offset size, or a first directory whose entries do not lie
    // within the file; a refusal without a message for a version other than
    // 42 and 43. File errors throw.
    CStatus Open();
    bool Little() const { return m_little; }
    tiff::TiffWidths Widths() const { return m_widths; }

    // The directory the chain stands on: its index (0 the first), its file
    // offset and its entry count.
    uint32_t Index() const { return m_index; }
    uint64_t At() const { return m_at; }
    uint64_t EntryCount() const { return m_entries; }
    // Steps to the next directory; false, standing where it was, when the
    // chain ends here.
    bool Next();
    // Steps on to directory page; false when the chain ends before it, with
    // Index() + 1 the directories it holds.
    bool SeekPage(uint32_t page);
    // The bytes of the current directory's entries; false when they cannot
    // be read.
    bool ReadEntries(std::vector<uint8_t>& bytes);

private:
    // Reads the entry count of the directory at at; false when it and its
    // entries do not lie within the file or it holds too many.
    bool Load(uint64_t at);

    CFile& m_file;
    uint64_t m_fileLength;
    bool m_little = true;
    tiff::TiffWidths m_widths;
    uint32_t m_index = 0;
    uint64_t m_at = 0;
    uint64_t m_entries = 0;
    std::set<uint64_t> m_seen;
};
