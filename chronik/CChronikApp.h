// The store's one process-wide object: the two storage limits, the switches,
// the containers of the current read and every thread's result list. Each
// export holds m_lock for the whole call, so calls from several threads of a
// process take turns and everything here is touched by one call at a time.
#pragma once

#include <pthread.h>

#include <cstdint>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "chronik/CCallLock.h"
#include "chronik/CDataFileReader.h"
#include "chronik/chronik.h"

class CChronikApp {
public:
    static CChronikApp& Get();

    CCallLock m_lock;             // held by every export while it works
    uint32_t m_maxFiles = 30;     // most data files kept in a directory
    uint32_t m_fileSpan = 86400;  // seconds of event time one data file covers
    std::vector<RawEvent> m_rawEvents;  // events of the current read, in storage order
    std::unordered_map<uint32_t, DiagRecord> m_clearedByCode;  // latest clear per pairing key
    bool m_readPacing = true;     // pause before every 50th record while pairing
    bool m_durable = false;       // sync every write to the disk before Write returns

    // Most data files as used: a limit below 1 acts as 1.
    uint32_t MaxFiles() const { return m_maxFiles < 1 ? 1 : m_maxFiles; }

    // What Read and ReadSingleFile return to the calling thread, placeholder
    // first: one list per thread, made at its first read, the same list at
    // every later one, released when the thread ends (or with this object).
    DiagRecordList& Results();
    // Empties the containers of a read; the calling thread's result list
    // keeps (or gets) its placeholder at the head.
    void ResetReadState();
    // How many threads have a result list now (takes m_lock).
    size_t ThreadListCount();

private:
    CChronikApp();
    ~CChronikApp();
    // Called by the thread library when a thread with a result list ends.
    static void ReleaseThread(void* results);

    pthread_key_t m_threadKey;
    bool m_haveKey = false;
    std::unordered_set<DiagRecordList*> m_threadResults;  // owned
    DiagRecordList m_sharedResults;  // every thread's, should no thread key be had
};
