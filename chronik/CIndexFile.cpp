// Reading, updating and rebuilding the index file; the layout is stated in
// CIndexFile.h.
#include "chronik/CIndexFile.h"

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "chronik/CDataFile.h"
#include "chronik/CRetryOpen.h"
#include "chronik/FileWords.h"
#include "platform/CFileException.h"
#include "platform/CFileFind.h"
#include "platform/Win32.h"

using chronik::GetWord;
using chronik::JoinPath;
using chronik::PutWord;
using chronik::WriteWordAt;

std::string CIndexFile::IndexPath(const std::string& dir)
{
    return JoinPath(dir, kFileName);
}

bool CIndexFile::IsDataFileName(const std::string& name)
{
    if (name.size() != kNameLength) return false;
    if (name.find('/') != std::string::npos || name.find('\0') != std::string::npos) return false;
    return strncasecmp(name.c_str(), "KORVAL", 6) == 0 && strcasecmp(name.c_str() + kNameLength - 4, ".API") == 0;
}

CIndexFile::Contents CIndexFile::Load(CFile& index)
{
    Contents c;
    uint64_t length = index.GetLength();
    uint8_t header[kHeaderSize];
    index.Seek(0, CFile::begin);
    uint32_t got = index.Read(header, kHeaderSize);
    c.magicOk = got >= kMagicLength && memcmp(header, kMagic, kMagicLength) == 0;
    if (got != kHeaderSize) return c;
    c.headerRead = true;
    c.secondsPerFile = GetWord(header + kSpanOffset);
    c.count = GetWord(header + kCountOffset);

    uint64_t present = (length - kHeaderSize) / kEntrySize;
    uint64_t n = std::min<uint64_t>(c.count, present);
    std::vector<uint8_t> raw(static_cast<size_t>(n) * kEntrySize);
    if (!raw.empty()) n = index.Read(raw.data(), static_cast<uint32_t>(raw.size())) / kEntrySize;
    c.entries.reserve(static_cast<size_t>(n));
    for (uint64_t i = 0; i < n; ++i) {
        const uint8_t* e = &raw[static_cast<size_t>(i) * kEntrySize];
        IndexEntry entry;
        entry.start = GetWord(e);
        entry.end = GetWord(e + 4);
        const char* name = reinterpret_cast<const char*>(e + 8);
        entry.name.assign(name, strnlen(name, kNameLength));
        c.entries.push_back(std::move(entry));
    }
    return c;
}

std::vector<uint8_t> CIndexFile::EntryBytes(const std::vector<IndexEntry>& entries)
{
    std::vector<uint8_t> raw(entries.size() * kEntrySize, 0);
    for (size_t i = 0; i < entries.size(); ++i) {
        uint8_t* e = &raw[i * kEntrySize];
        PutWord(e, entries[i].start);
        PutWord(e + 4, entries[i].end);
        memcpy(e + 8, entries[i].name.data(), std::min<size_t>(entries[i].name.size(), kNameLength));
    }
    return raw;
}

void CIndexFile::WriteChangedSectors(CFile& index, const std::vector<uint8_t>& bytes, bool durable)
{
    constexpr size_t kSector = 512;
    std::vector<uint8_t> old(bytes.size());
    index.Seek(kHeaderSize, CFile::begin);
    size_t got = bytes.empty() ? 0 : index.Read(old.data(), static_cast<uint32_t>(old.size()));
    for (size_t from = 0; from < bytes.size();) {
        size_t offset = kHeaderSize + from;
        size_t to = std::min(bytes.size(), (offset / kSector + 1) * kSector - kHeaderSize);
        if (to > got || memcmp(&old[from], &bytes[from], to - from) != 0) {
            index.Seek(static_cast<int64_t>(offset), CFile::begin);
            index.Write(&bytes[from], static_cast<uint32_t>(to - from));
            index.Flush();
            if (durable) index.Sync();
        }
        from = to;
    }
}

int CIndexFile::StoreEntries(CFile& index, const std::vector<IndexEntry>& entries, bool durable)
{
    try {
        std::vector<uint8_t> raw = EntryBytes(entries);
        WriteChangedSectors(index, raw, durable);
        uint32_t length = kHeaderSize + static_cast<uint32_t>(raw.size());
        uint8_t counts[8], stored[8];
        PutWord(counts, static_cast<uint32_t>(entries.size()));
        PutWord(counts + 4, length);
        index.Seek(kCountOffset, CFile::begin);
        if (index.Read(stored, sizeof stored) != sizeof stored || memcmp(stored, counts, sizeof counts) != 0) {
            index.Seek(kCountOffset, CFile::begin);
            index.Write(counts, sizeof counts);
            index.Flush();
            if (durable) index.Sync();
        }
        if (index.GetLength() != length) {
            index.SetLength(length);
            if (durable) index.Sync();
        }
    } catch (const CFileException& e) {
        return e.m_lOsError ? e.m_lOsError : EIO;
    }
    return 0;
}

void CIndexFile::StoreEndTime(CFile& index, size_t position, uint32_t endTime)
{
    WriteWordAt(index, kHeaderSize + kEntrySize * uint64_t(position) + 4, endTime);
    index.Flush();
}

int CIndexFile::RebuildIndex(const std::string& dir, uint32_t maxFiles, uint32_t secondsPerFile, bool durable)
{
    CFile index;
    int error = 0;
    if (!CRetryOpen::Open(index, IndexPath(dir),
                          CFile::modeReadWrite | CFile::modeCreate | CFile::modeNoTruncate |
                              CFile::shareExclusive | CFile::typeBinary,
                          kWriterAttempts, &error))
        return error;
    error = RebuildOpenIndex(index, dir, maxFiles, secondsPerFile, durable);
    index.Abort();
    return error;
}

int CIndexFile::ScanDataFile(const std::string& path, const std::string& name, std::vector<IndexEntry>& kept)
{
    CFile file;
    int error = 0;
    if (!CRetryOpen::Open(file, path, CFile::modeRead | CFile::shareExclusive | CFile::typeBinary,
                          kWriterAttempts, &error))
        return error == ENOENT ? 0 : error;
    if (!CDataFile::HasMagic(file)) {
        file.Abort();
        DeleteFile(path.c_str());
        return 0;
    }
    uint32_t start = 0, last = 0;
    bool complete = chronik::ReadWordAt(file, CDataFile::kCreationOffset, start) &&
                    chronik::ReadWordAt(file, CDataFile::kLastEventOffset, last);
    file.Abort();
    // Only names of the data-file pattern can be listed; others are left alone.
    if (complete && IsDataFileName(name)) kept.push_back({start, last, name});
    return 0;
}

int CIndexFile::RebuildOpenIndex(CFile& index, const std::string& dir, uint32_t maxFiles, uint32_t secondsPerFile,
                                 bool durable)
{
    if (maxFiles < 1) maxFiles = 1;
    std::vector<IndexEntry> kept;
    CFileFind finder;
    bool more = finder.FindFile(JoinPath(dir, "KORVAL*.API").c_str());
    while (more) {
        more = finder.FindNextFile();
        std::string name = finder.GetFileName();
        if (name == kFileName || finder.IsDirectory()) continue;
        if (int error = ScanDataFile(finder.GetFilePath(), name, kept)) return error;
    }

    // Equal start times keep the order in which the files were found.
    std::stable_sort(kept.begin(), kept.end(),
                     [](const IndexEntry& a, const IndexEntry& b) { return a.start < b.start; });
    size_t drop = kept.size() > maxFiles ? kept.size() - maxFiles : 0;
    std::vector<IndexEntry> dropped(kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(drop));
    kept.erase(kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(drop));

    // The whole new index in one write, so it never shows half made.
    uint32_t length = kHeaderSize + kEntrySize * static_cast<uint32_t>(kept.size());
    std::vector<uint8_t> image(kHeaderSize, 0);
    memcpy(image.data(), kMagic, kMagicLength);
    PutWord(&image[kSpanOffset], secondsPerFile);
    PutWord(&image[kCountOffset], static_cast<uint32_t>(kept.size()));
    PutWord(&image[kLengthOffset], length);
    std::vector<uint8_t> entries = EntryBytes(kept);
    image.insert(image.end(), entries.begin(), entries.end());
    try {
        // Cut only a longer index: a length set ahead of the words could
        // reach the disk without them.
        uint64_t oldLength = index.GetLength();
        index.Seek(0, CFile::begin);
        index.Write(image.data(), length);
        index.Flush();
        if (oldLength > length) index.SetLength(length);
        if (durable) index.Sync();
    } catch (const CFileException& e) {
        return e.m_lOsError ? e.m_lOsError : EIO;
    }
    if (durable)
        if (int error = SyncDirectory(dir.c_str())) return error;

    // The oldest files beyond the limit go once the index no longer lists them.
    for (const IndexEntry& e : dropped) {
        std::string path = JoinPath(dir, e.name);
        CFile file;
        if (!CRetryOpen::Open(file, path, CFile::modeRead | CFile::shareExclusive | CFile::typeBinary,
                              kWriterAttempts))
            continue;
        file.Abort();
        DeleteFile(path.c_str());
    }
    return 0;
}
