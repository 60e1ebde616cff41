// The read path of the store: selects the data files of a time range through
// the index, collects the raw events of the chosen node chains, gives them
// their texts and pairs every occurrence with its later clear event into the
// calling thread's result list, which the process-wide object keeps.
#pragma once

#include <cstdint>
#include <string>

#include "chronik/chronik.h"
#include "platform/CFile.h"

class CDiagReader {
public:
    static const DiagRecordList* Read(uint32_t start, uint32_t end, const std::string& dir,
                                      uint32_t stationFilter, bool fromFirstFile);
    static const DiagRecordList* ReadSingleFile(const std::string& path, uint32_t stationFilter);

    // Walks the raw events from the newest back, formats each, pairs
    // occurrences with clears and appends the listed ones to the results;
    // with limit set, stops after 10000 records.
    static void PairAndCollect(bool suppressNotices, bool limit);

    static constexpr int kIndexAttempts = 501;
    static constexpr int kDataAttempts = 500;
    static constexpr size_t kResultLimit = 10000;
    static constexpr size_t kPacingInterval = 50;
    static constexpr uint32_t kPacingMilliseconds = 10;
    static constexpr char kDamagedText[] = "文件版本不匹配或已损坏";

    // Block b (0 to 127) belongs to the station of the filter when
    // ((b + 2) / 2) * 2 equals it; filter 0 takes every block.
    static bool BlockPassesFilter(uint32_t block, uint32_t stationFilter);

private:
    // Opens the index of dir for exclusive use, making it first when it is
    // missing or empty; false when it cannot be had.
    static bool OpenIndex(const std::string& dir, CFile& index);
    // Collects the filtered chains of an open data file; false when one of
    // them stopped at damage. checkAddress: skip blocks whose directory entry
    // has address 0.
    static bool CollectFile(CFile& file, uint32_t start, uint32_t end, uint32_t stationFilter,
                            bool checkAddress);
    static void ShowDamaged(const std::string& path);
};
