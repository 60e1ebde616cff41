// The write path of the store: index side and data-file append.
#include "chronik/CDiagWriter.h"

#include <cerrno>
#include <ctime>
#include <set>

#include "chronik/CChronikApp.h"
#include "chronik/CRetryOpen.h"
#include "chronik/FileWords.h"
#include "platform/CFileException.h"
#include "platform/Win32.h"

using chronik::JoinPath;

int CDiagWriter::Write(uint32_t node, uint32_t eventTime, uint32_t count, const uint32_t* codes,
                       const std::string& dir)
{
    // A zero time would read as the end of the chain's words.
    if (node < DirectoryEntry::kFirstNode || node >= DirectoryEntry::kFirstNode + DirectoryEntry::kEntries ||
        (count > 0 && !codes) || eventTime == 0)
        return EINVAL;
    CFile index;
    int error = 0;
    // A missing index is made here and rebuilt below, under its own lock.
    if (!CRetryOpen::Open(index, CIndexFile::IndexPath(dir),
                          CFile::modeReadWrite | CFile::modeCreate | CFile::modeNoTruncate |
                              CFile::shareExclusive | CFile::typeBinary,
                          kAttempts, &error))
        return error;
    try {
        error = WriteWithIndex(index, {node, eventTime, count, codes}, dir);
    } catch (const CFileException& e) {
        error = e.m_lOsError ? e.m_lOsError : EIO;
    }
    index.Abort();
    return error;
}

std::vector<IndexEntry> CDiagWriter::UsableEntries(const std::string& dir, const std::vector<IndexEntry>& listed,
                                                   bool checkFiles)
{
    std::vector<IndexEntry> entries;
    std::set<std::string> seen;
    for (const IndexEntry& e : listed) {
        if (!CIndexFile::IsDataFileName(e.name) || !seen.insert(e.name).second) continue;
        if (!checkFiles || FileExists(JoinPath(dir, e.name).c_str())) entries.push_back(e);
    }
    return entries;
}

size_t CDiagWriter::Newest(const std::vector<IndexEntry>& entries)
{
    size_t newest = 0;
    for (size_t i = 0; i < entries.size(); ++i)
        if (entries[i].start >= entries[newest].start) newest = i;
    return newest;
}

std::string CDiagWriter::NewDataFileName(const std::string& dir, const std::vector<IndexEntry>& entries)
{
    time_t now = std::time(nullptr);
    std::string name;
    for (int k = 0; k < 100000; ++k) {
        time_t t = now + k;
        struct tm local;
        localtime_r(&t, &local);
        SYSTEMTIME st{};
        st.wYear = static_cast<uint16_t>(local.tm_year + 1900);
        st.wMonth = static_cast<uint16_t>(local.tm_mon + 1);
        st.wDay = static_cast<uint16_t>(local.tm_mday);
        st.wHour = static_cast<uint16_t>(local.tm_hour);
        st.wMinute = static_cast<uint16_t>(local.tm_min);
        st.wSecond = static_cast<uint16_t>(local.tm_sec);
        name = CDataFileWriter::MakeDataFileName(st);
        bool listed = false;
        for (const IndexEntry& e : entries) listed = listed || e.name == name;
        if (!listed && !FileExists(JoinPath(dir, name).c_str())) break;
    }
    return name;
}

int CDiagWriter::AddDataFile(CFile& index, const std::string& dir, uint32_t secondsPerFile, uint32_t eventTime,
                             std::vector<IndexEntry>& entries)
{
    bool durable = CChronikApp::Get().m_durable;
    std::string name = NewDataFileName(dir, entries);
    std::string path = JoinPath(dir, name);
    int error = 0;
    if (!CDataFileWriter::CreateDataFile(path, secondsPerFile, eventTime, durable, &error)) return error;
    if (durable) error = SyncDirectory(dir.c_str());
    entries.push_back({eventTime, eventTime, name});
    if (!error) error = CIndexFile::StoreEntries(index, entries, durable);
    if (error) {
        entries.pop_back();
        DeleteFile(path.c_str());
    }
    return error;
}

CDataFileWriter::AppendResult CDiagWriter::AppendToFile(const std::string& path, const Batch& batch, int& error)
{
    CFile data;
    if (!CRetryOpen::Open(data, path, CFile::modeReadWrite | CFile::shareExclusive | CFile::typeBinary, kAttempts,
                          &error))
        return CDataFileWriter::NotStored;
    CDataFileWriter::AppendResult result = CDataFileWriter::Append(data, batch.node, batch.time, batch.codes,
                                                                   batch.count, CChronikApp::Get().m_durable, &error);
    data.Abort();  // everything was handed to the system by Append
    return result;
}

int CDiagWriter::Append(CFile& index, const std::string& dir, uint32_t secondsPerFile, const Batch& batch,
                        std::vector<IndexEntry>& entries, size_t current)
{
    // The end time only guides readers to their first file; it goes in before
    // the record, so that nothing can fail once the record is stored.
    uint32_t now = static_cast<uint32_t>(std::time(nullptr));
    CIndexFile::StoreEndTime(index, current, now);
    int error = 0;
    CDataFileWriter::AppendResult result = AppendToFile(JoinPath(dir, entries[current].name), batch, error);
    if (result == CDataFileWriter::ChainDamaged) {
        // The chain of the current file cannot be walked: go on in a new file.
        if ((error = AddDataFile(index, dir, secondsPerFile, batch.time, entries))) return error;
        current = entries.size() - 1;
        CIndexFile::StoreEndTime(index, current, now);
        result = AppendToFile(JoinPath(dir, entries[current].name), batch, error);
    }
    if (result == CDataFileWriter::Stored) return 0;
    return error ? error : EIO;
}

void CDiagWriter::DropOldest(CFile& index, const std::string& dir, std::vector<IndexEntry>& entries)
{
    CChronikApp& app = CChronikApp::Get();
    std::vector<std::string> dropped;
    while (entries.size() > app.MaxFiles()) {
        size_t oldest = 0;
        for (size_t i = 0; i < entries.size(); ++i)
            if (entries[i].start <= entries[oldest].start) oldest = i;
        dropped.push_back(entries[oldest].name);
        entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(oldest));
    }
    if (dropped.empty()) return;
    // After a failed update the index may still list some of them.
    std::vector<IndexEntry> listed = entries;
    if (CIndexFile::StoreEntries(index, entries, app.m_durable)) listed = CIndexFile::Load(index).entries;
    for (const std::string& name : dropped) {
        bool stillListed = false;
        for (const IndexEntry& e : listed) stillListed = stillListed || e.name == name;
        if (!stillListed) DeleteFile(JoinPath(dir, name).c_str());
    }
}

int CDiagWriter::WriteWithIndex(CFile& index, const Batch& batch, const std::string& dir)
{
    CChronikApp& app = CChronikApp::Get();
    CIndexFile::Contents contents = CIndexFile::Load(index);
    if (!contents.headerRead || !contents.magicOk) {
        // No usable index (just made, cut short or foreign): make it from the
        // data files, then store the event in it.
        if (int error = CIndexFile::RebuildOpenIndex(index, dir, app.MaxFiles(), app.m_fileSpan, app.m_durable))
            return error;
        contents = CIndexFile::Load(index);
        if (!contents.headerRead) return EIO;
    }

    // The usual case: the newest listed file exists and still covers the
    // event. Otherwise entries whose files are gone are dropped before
    // anything is added, so a new entry always goes at the end of the list.
    std::vector<IndexEntry> entries = UsableEntries(dir, contents.entries, false);
    size_t current = entries.empty() ? 0 : Newest(entries);
    bool covered = !entries.empty() && uint64_t(entries[current].start) + app.m_fileSpan >= batch.time &&
                   FileExists(JoinPath(dir, entries[current].name).c_str());
    bool changed = entries.size() != contents.count;
    bool rollOver = false;
    if (!covered) {
        entries = UsableEntries(dir, contents.entries, true);
        changed = entries.size() != contents.count;
        current = entries.empty() ? 0 : Newest(entries);
        rollOver = entries.empty() || uint64_t(entries[current].start) + app.m_fileSpan < batch.time;
    }
    if (rollOver) {
        // The new file's entry goes in with the dropping of vanished ones.
        if (int error = AddDataFile(index, dir, contents.secondsPerFile, batch.time, entries)) return error;
        current = entries.size() - 1;
    } else if (changed) {
        if (int error = CIndexFile::StoreEntries(index, entries, app.m_durable)) return error;
    }
    if (int error = Append(index, dir, contents.secondsPerFile, batch, entries, current)) return error;
    if (rollOver) DropOldest(index, dir, entries);
    return 0;
}
