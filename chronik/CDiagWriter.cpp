// The write path of the store: index side and data-file append.
#include "chronik/CDiagWriter.h"

#include <ctime>
#include <set>

#include "chronik/CChronikApp.h"
#include "chronik/CRetryOpen.h"
#include "chronik/FileWords.h"
#include "platform/CFileException.h"
#include "platform/Win32.h"

using chronik::JoinPath;

void CDiagWriter::Write(uint32_t node, uint32_t eventTime, uint32_t count, const uint32_t* codes,
                        const std::string& dir)
{
    if (count > 0 && !codes) return;
    CFile index;
    // A missing index is made here and rebuilt below, under its own lock.
    if (!CRetryOpen::Open(index, CIndexFile::IndexPath(dir),
                          CFile::modeReadWrite | CFile::modeCreate | CFile::modeNoTruncate |
                              CFile::shareExclusive | CFile::typeBinary,
                          kAttempts))
        return;
    try {
        WriteWithIndex(index, node, eventTime, count, codes, dir);
        index.Close();
    } catch (const CFileException&) {
        index.Abort();
    }
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
        name = CDataFile::MakeDataFileName(st);
        bool listed = false;
        for (const IndexEntry& e : entries) listed = listed || e.name == name;
        if (!listed && !FileExists(JoinPath(dir, name).c_str())) break;
    }
    return name;
}

bool CDiagWriter::AddDataFile(const std::string& dir, uint32_t secondsPerFile, uint32_t eventTime,
                              std::vector<IndexEntry>& entries)
{
    std::string name = NewDataFileName(dir, entries);
    if (!CDataFile::CreateDataFile(JoinPath(dir, name), secondsPerFile, eventTime)) return false;
    entries.push_back({eventTime, eventTime, name});
    return true;
}

CDataFile::AppendResult CDiagWriter::AppendToFile(const std::string& path, uint32_t node, uint32_t eventTime,
                                                  uint32_t count, const uint32_t* codes)
{
    CFile data;
    if (!CRetryOpen::Open(data, path, CFile::modeReadWrite | CFile::shareExclusive | CFile::typeBinary,
                          kAttempts))
        return CDataFile::NotStored;
    CDataFile::AppendResult result = CDataFile::Append(data, node, eventTime, codes, count);
    try {
        data.Close();
    } catch (const CFileException&) {
        return CDataFile::NotStored;
    }
    return result;
}

void CDiagWriter::WriteWithIndex(CFile& index, uint32_t node, uint32_t eventTime, uint32_t count,
                                 const uint32_t* codes, const std::string& dir)
{
    CChronikApp& app = CChronikApp::Get();
    CIndexFile::Contents contents = CIndexFile::Load(index);
    if (!contents.headerRead || !contents.magicOk) {
        // No usable index (just made, cut short or foreign): make it from the
        // data files, then store the event in it.
        if (!CIndexFile::RebuildOpenIndex(index, dir, app.MaxFiles(), app.m_fileSpan)) return;
        contents = CIndexFile::Load(index);
        if (!contents.headerRead) return;
    }

    // The usual case: the newest listed file exists and still covers the
    // event. Otherwise entries whose files are gone are dropped before
    // anything is added, so a new entry always goes at the end of the list.
    std::vector<IndexEntry> entries = UsableEntries(dir, contents.entries, false);
    size_t current = entries.empty() ? 0 : Newest(entries);
    bool covered = !entries.empty() && uint64_t(entries[current].start) + app.m_fileSpan >= eventTime &&
                   FileExists(JoinPath(dir, entries[current].name).c_str());
    bool changed = entries.size() != contents.count;
    if (!covered) {
        entries = UsableEntries(dir, contents.entries, true);
        changed = entries.size() != contents.count;
        current = entries.empty() ? 0 : Newest(entries);
        if (entries.empty()) {
            if (!AddDataFile(dir, contents.secondsPerFile, eventTime, entries)) return;
            changed = true;
        } else if (uint64_t(entries[current].start) + app.m_fileSpan < eventTime) {
            while (entries.size() >= app.MaxFiles()) {
                size_t oldest = 0;
                for (size_t i = 0; i < entries.size(); ++i)
                    if (entries[i].start <= entries[oldest].start) oldest = i;
                DeleteFile(JoinPath(dir, entries[oldest].name).c_str());
                entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(oldest));
                changed = true;
            }
            bool added = AddDataFile(dir, contents.secondsPerFile, eventTime, entries);
            if (changed || added) CIndexFile::StoreEntries(index, entries);
            if (!added) return;
            changed = false;
            current = entries.size() - 1;
        }
    }
    if (changed) CIndexFile::StoreEntries(index, entries);

    CDataFile::AppendResult result =
        AppendToFile(JoinPath(dir, entries[current].name), node, eventTime, count, codes);
    if (result == CDataFile::ChainDamaged) {
        // The chain of the current file cannot be walked: go on in a new file.
        if (!AddDataFile(dir, contents.secondsPerFile, eventTime, entries)) return;
        CIndexFile::StoreEntries(index, entries);
        current = entries.size() - 1;
        result = AppendToFile(JoinPath(dir, entries[current].name), node, eventTime, count, codes);
    }
    if (result == CDataFile::Stored)
        CIndexFile::StoreEndTime(index, current, static_cast<uint32_t>(std::time(nullptr)));
}
