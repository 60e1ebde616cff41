// The store's one process-wide object: the two storage limits and the
// containers of the current read. Calls into one process must not overlap.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "chronik/CDataFileReader.h"
#include "chronik/chronik.h"

class CChronikApp {
public:
    static CChronikApp& Get();

    uint32_t m_maxFiles = 30;     // most data files kept in a directory
    uint32_t m_fileSpan = 86400;  // seconds of event time one data file covers
    DiagRecordList m_results;     // what Read and ReadSingleFile return, placeholder first
    std::vector<RawEvent> m_rawEvents;  // events of the current read, in storage order
    std::unordered_map<uint32_t, DiagRecord> m_clearedByCode;  // latest clear per pairing key
    bool m_readPacing = true;     // pause before every 50th record while pairing
    bool m_durable = false;       // sync every write to the disk before Write returns

    // Most data files as used: a limit below 1 acts as 1.
    uint32_t MaxFiles() const { return m_maxFiles < 1 ? 1 : m_maxFiles; }

    // Empties the containers of a read; the result list keeps (or gets) its
    // placeholder at the head.
    void ResetReadState();

private:
    CChronikApp();
};
