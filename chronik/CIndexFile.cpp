// Reading, updating and rebuilding the index file; the layout is stated in
// IndexHeader.h and IndexEntry.h.
#include "chronik/CIndexFile.h"

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "chronik/CDataFileReader.h"
#include "chronik/CRetryOpen.h"
#include "chronik/DataFileHeader.h"
#include "chronik/FileWords.h"
#include "platform/CFileException.h"
#include "platform/CFileFind.h"
#include "platform/Win32.h"

using chronik::JoinPath;
using chronik::WriteWordAt;

std::string CIndexFile::IndexPath(const std::string& dir)
{
    return JoinPath(dir, kFileName);
}

bool CIndexFile::IsDataFileName(const std::string& name)
{
    constexpr size_t kNameLength = IndexEntry::kNameLength;
    if (name.size() != kNameLength) return false;
    if (name.find('/') != std::string::npos || name.find('\0') != std::string::npos) return false;
    return strncasecmp(name.c_str(), "KORVAL", 6) == 0 && strcasecmp(name.c_str() + kNameLength - 4, ".API") == 0;
}

CIndexFile::Contents CIndexFile::Load(CFile& index)
{
    Contents c;
    uint64_t length = index.GetLength();
    uint8_t header[IndexHeader::kSize];
    index.Seek(0, CFile::begin);
    uint32_t got = index.Read(header, IndexHeader::kSize);
    c.magicOk = got >= IndexHeader::kMagicLength && IndexHeader::HasMagic(header);
    if (got != IndexHeader::kSize) return c;
    c.headerRead = true;
    IndexHeader fields = IndexHeader::Decode(header);
    c.secondsPerFile = fields.secondsPerFile;
    c.count = fields.count;

    uint64_t present = (length - IndexHeader::kSize) / IndexEntry::kSize;
    uint64_t n = std::min<uint64_t>(c.count, present);
    std::vector<uint8_t> raw(static_cast<size_t>(n) * IndexEntry::kSize);
    if (!raw.empty()) n = index.Read(raw.data(), static_cast<uint32_t>(raw.size())) / IndexEntry::kSize;
    c.entries.reserve(static_cast<size_t>(n));
    for (uint64_t i = 0; i < n; ++i)
        c.entries.push_back(IndexEntry::Decode(&raw[static_cast<size_t>(i) * IndexEntry::kSize]));
    return c;
}

std::vector<uint8_t> CIndexFile::EntryBytes(const std::vector<IndexEntry>& entries)
{
    std::vector<uint8_t> raw(entries.size() * IndexEntry::kSize, 0);
    for (size_t i = 0; i < entries.size(); ++i) entries[i].Encode(&raw[i * IndexEntry::kSize]);
    return raw;
}

void CIndexFile::WriteChangedSectors(CFile& index, const std::vector<uint8_t>& bytes, bool durable)
{
    constexpr size_t kSector = 512;
    constexpr size_t kHeaderSize = IndexHeader::kSize;
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
        uint32_t length = IndexHeader::kSize + static_cast<uint32_t>(raw.size());
        // The count and the length lie side by side: one write for both.
        constexpr uint32_t kFrom = IndexHeader::kCountOffset, kTo = IndexHeader::kLengthOffset + 4;
        uint8_t header[IndexHeader::kSize], stored[kTo - kFrom];
        IndexHeader{0, static_cast<uint32_t>(entries.size()), length}.Encode(header);
        const uint8_t* counts = header + kFrom;
        index.Seek(kFrom, CFile::begin);
        if (index.Read(stored, sizeof stored) != sizeof stored || memcmp(stored, counts, sizeof stored) != 0) {
            index.Seek(kFrom, CFile::begin);
            index.Write(counts, sizeof stored);
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
    WriteWordAt(index, IndexEntry::Position(position) + IndexEntry::kEndOffset, endTime);
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
    if (!CDataFileReader::HasMagic(file)) {
        file.Abort();
        DeleteFile(path.c_str());
        return 0;
    }
    uint32_t start = 0, last = 0;
    bool complete = chronik::ReadWordAt(file, DataFileHeader::kCreationOffset, start) &&
                    chronik::ReadWordAt(file, DataFileHeader::kLastEventOffset, last);
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
    uint32_t length = IndexHeader::kSize + IndexEntry::kSize * static_cast<uint32_t>(kept.size());
    std::vector<uint8_t> image(IndexHeader::kSize, 0);
    IndexHeader{secondsPerFile, static_cast<uint32_t>(kept.size()), length}.Encode(image.data());
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
