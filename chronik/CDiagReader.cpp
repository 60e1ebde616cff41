// Range reads, single-file reads and the pairing of occurrences with clears.
#include "chronik/CDiagReader.h"

#include <cerrno>
#include <set>

#include "chronik/CChronikApp.h"
#include "chronik/CDataFileReader.h"
#include "chronik/CDiagCatalogue.h"
#include "chronik/CIndexFile.h"
#include "chronik/CRetryOpen.h"
#include "chronik/DirectoryEntry.h"
#include "chronik/FileWords.h"
#include "platform/MessageSink.h"
#include "platform/Win32.h"

using chronik::JoinPath;

bool CDiagReader::BlockPassesFilter(uint32_t block, uint32_t stationFilter)
{
    return stationFilter == 0 || ((block + 2) / 2) * 2 == stationFilter;
}

void CDiagReader::ShowDamaged(const std::string& path)
{
    AfxMessageBox((path + kDamagedText).c_str());
}

bool CDiagReader::CollectFile(CFile& file, uint32_t start, uint32_t end, uint32_t stationFilter,
                              bool checkAddress)
{
    uint8_t directory[DirectoryEntry::kDirectorySize];
    file.Seek(DirectoryEntry::kDirectoryOffset, CFile::begin);
    uint32_t got = file.Read(directory, sizeof directory);
    std::vector<RawEvent>& raw = CChronikApp::Get().m_rawEvents;
    uint64_t length = file.GetLength();
    bool sound = true;
    for (uint32_t b = 0; b < DirectoryEntry::kEntries && DirectoryEntry::Position(b + 1) <= got; ++b) {
        if (!BlockPassesFilter(b, stationFilter)) continue;
        DirectoryEntry entry = DirectoryEntry::Decode(directory, b);
        if (checkAddress && entry.address == 0) continue;
        ChainStop stop = CDataFileReader::ReadBlockChain(file, length, entry.blockOffset, start, end, raw);
        sound = sound && stop == ChainStop::End;
    }
    return sound;
}

bool CDiagReader::OpenIndex(const std::string& dir, CFile& index)
{
    CChronikApp& app = CChronikApp::Get();
    std::string indexPath = CIndexFile::IndexPath(dir);
    // A missing index, or an empty one (its making was cut short), is made
    // from the data files first.
    for (int pass = 0; pass < 2; ++pass) {
        if (pass == 1 || !FileExists(indexPath.c_str()))
            CIndexFile::RebuildIndex(dir, app.MaxFiles(), app.m_fileSpan, app.m_durable);
        if (!CRetryOpen::Open(index, indexPath, CFile::modeRead | CFile::shareExclusive | CFile::typeBinary,
                              kIndexAttempts))
            return false;
        if (index.GetLength() > 0) return true;
        index.Abort();
    }
    return false;
}

const DiagRecordList* CDiagReader::Read(uint32_t start, uint32_t end, const std::string& dir,
                                        uint32_t stationFilter, bool fromFirstFile)
{
    CChronikApp& app = CChronikApp::Get();
    app.ResetReadState();

    CFile index;
    if (!OpenIndex(dir, index)) return nullptr;
    std::string indexPath = CIndexFile::IndexPath(dir);
    CIndexFile::Contents contents = CIndexFile::Load(index);
    if (!contents.magicOk) {
        index.Abort();
        ShowDamaged(indexPath);
        return nullptr;
    }
    if (contents.count == 0 || contents.entries.empty() || end < contents.entries.front().start) {
        index.Abort();
        return nullptr;
    }

    // Files that begin after the range are left out; reading begins at the
    // last file that ended before the range, which supplies the occurrences
    // still active when the range began.
    std::vector<IndexEntry> kept;
    std::set<std::string> seen;
    size_t first = 0;
    for (const IndexEntry& e : contents.entries) {
        if (e.start > end || !CIndexFile::IsDataFileName(e.name) || !seen.insert(e.name).second) continue;
        if (e.end < start && !fromFirstFile) first = kept.size();
        kept.push_back(e);
    }
    if (kept.empty()) {
        index.Abort();
        return nullptr;
    }

    for (size_t i = first; i < kept.size(); ++i) {
        std::string path = JoinPath(dir, kept[i].name);
        CFile data;
        int error = 0;
        if (!CRetryOpen::Open(data, path, CFile::modeRead | CFile::shareExclusive | CFile::typeBinary,
                              kDataAttempts, &error)) {
            if (error == ENOENT) continue;  // listed but deleted: nothing to read there
            index.Abort();
            return nullptr;
        }
        if (!CDataFileReader::HasMagic(data)) {
            data.Abort();
            ShowDamaged(path);
            continue;
        }
        CollectFile(data, start, end, stationFilter, true);
        data.Abort();
    }
    index.Abort();
    PairAndCollect(true, true);
    return &app.Results();
}

const DiagRecordList* CDiagReader::ReadSingleFile(const std::string& path, uint32_t stationFilter)
{
    CChronikApp& app = CChronikApp::Get();
    app.ResetReadState();
    CFile data;
    if (!CRetryOpen::Open(data, path, CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary,
                          kDataAttempts))
        return nullptr;
    if (!CDataFileReader::HasMagic(data)) {
        data.Abort();
        ShowDamaged(path);
        return nullptr;
    }
    // A chain that stopped at damage is reported once; its events up to the
    // damage are listed.
    bool sound = CollectFile(data, 0, 0xFFFFFFFFu, stationFilter, false);
    data.Abort();
    if (!sound) ShowDamaged(path);
    PairAndCollect(false, false);
    return &app.Results();
}

void CDiagReader::PairAndCollect(bool suppressNotices, bool limit)
{
    CChronikApp& app = CChronikApp::Get();
    DiagRecordList& results = app.Results();
    size_t appended = 0;
    size_t visited = 0;
    // The records of a batch share their time: its text is made once.
    uint32_t textTime = 0;
    std::string timeText = CDiagCatalogue::FormatTime(textTime);
    auto timeTextOf = [&](uint32_t time) -> const std::string& {
        if (time != textTime) timeText = CDiagCatalogue::FormatTime(textTime = time);
        return timeText;
    };
    for (auto it = app.m_rawEvents.rbegin(); it != app.m_rawEvents.rend(); ++it) {
        if (limit && appended >= kResultLimit) break;
        if (app.m_readPacing && ++visited % kPacingInterval == 0) Sleep(kPacingMilliseconds);
        // Whether it is listed, its key and kind first; the texts only for
        // the records that go into the results.
        DiagRecord record;
        record.code = it->code;
        record.time = it->time;
        record.beforeRange = it->beforeRange;
        if (!CDiagCatalogue::Describe(record, suppressNotices, false, nullptr)) continue;

        auto found = app.m_clearedByCode.find(record.code);
        if (record.cleared) {
            // The newest clear met so far, which is the next one in time for
            // the older occurrences still to come.
            if (found != app.m_clearedByCode.end()) found->second = std::move(record);
            else app.m_clearedByCode.emplace(record.code, std::move(record));
            continue;
        }
        if (found != app.m_clearedByCode.end() && found->second.beforeRange) continue;  // over before the range
        record.code = it->code;
        CDiagCatalogue::Describe(record, suppressNotices, true, &timeTextOf(it->time));
        if (found != app.m_clearedByCode.end()) {
            DiagRecord& clear = found->second;
            if (clear.clearTimeText.empty()) clear.clearTimeText = timeTextOf(clear.time);
            record.categoryText = clear.categoryText;
            record.clearTimeText = clear.clearTimeText;
        }
        results.push_back(std::move(record));
        ++appended;
    }
}
