// Entries of the diagnostic-store fuzz targets.
#include <cstdlib>
#include <ctime>
#include <string>

#include "CFuzzScratch.h"
#include "FuzzEntries.h"
#include "chronik/chronik.h"

namespace {

// The one data file name the fuzzed index can list and find.
constexpr char kDataFileName[] = "KORVAL20240101000000.API";
constexpr char kStoreDir[] = "store";

// Settings of the host once per process: the documented defaults, no pause
// in the pairing step, and a fixed time zone for the texts.
void SetUpStore()
{
    static bool done = false;
    if (done) return;
    FuzzQuietMessages();
    setenv("TZ", "UTC", 1);
    tzset();
    SetConfigData(30, 86400);
    SetReadPacing(0);
    done = true;
}

// Walks a result list the way a display program does, every text included
// (the GBK forms of the first records too).
void ShowRecords(const DiagRecordList* list)
{
    if (!list) return;
    volatile size_t sum = 0;
    size_t n = 0;
    for (const DiagRecord& r : *list) {
        sum = sum + r.timeText.size() + r.clearTimeText.size() + r.messageText.size() + r.categoryText.size();
        if (n++ < 8) sum = sum + r.MessageTextGbk().size() + r.CategoryTextGbk().size() + r.TimeTextGbk().size();
    }
}

uint32_t StationFor(uint32_t h)
{
    uint32_t pick = h % 130;
    return pick < 2 ? 0 : pick;  // 0: every node
}

}  // namespace

int FuzzChronikFile(const uint8_t* data, size_t size)
{
    SetUpStore();
    CFuzzScratch& scratch = CFuzzScratch::Get();
    std::string path = scratch.Write(kDataFileName, data, size);
    ShowRecords(ReadSingleFile(path.c_str(), StationFor(FuzzHash(data, size))));
    scratch.EndInput();
    return 0;
}

int FuzzChronikDir(const uint8_t* data, size_t size)
{
    SetUpStore();
    size_t indexBytes = size >= 2 ? data[0] | static_cast<size_t>(data[1]) << 8 : 0;
    const uint8_t* index = data + (size >= 2 ? 2 : size);
    size_t rest = size - (index - data);
    if (indexBytes > rest) indexBytes = rest;
    CFuzzScratch& scratch = CFuzzScratch::Get();
    std::string dir = scratch.MakeDir(kStoreDir);
    scratch.Write(std::string(kStoreDir) + "/Index.API", index, indexBytes);
    scratch.Write(std::string(kStoreDir) + "/" + kDataFileName, index + indexBytes, rest - indexBytes);

    uint32_t h = FuzzHash(data, size);
    ShowRecords(Read(0, 0xFFFFFFFFu, dir.c_str(), 0, 0));
    ShowRecords(Read(h >> 1, 0xFFFFFFFFu, dir.c_str(), StationFor(h), 1));
    RebuildIndex(dir.c_str());
    ShowRecords(Read(0, 0xFFFFFFFFu, dir.c_str(), StationFor(h >> 8), 0));
    scratch.EndInput();
    return 0;
}
