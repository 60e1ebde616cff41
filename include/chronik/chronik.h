// Public interface of the diagnostic event-log store: the record handed to
// hosts and the exported functions that write batches of event codes, read
// them back as records with message texts, rebuild a directory's index and
// set the storage limits.
//
// A host walks the list that Read or ReadSingleFile returns from its head,
// skipping the first element (a placeholder with all numbers 0 and all texts
// empty). The list belongs to the library and stays valid and unchanged until
// the next Read or ReadSingleFile call of the same thread; each thread gets a
// list of its own (the same one at every read of that thread), which the
// library releases when the thread ends or the library is unloaded.
//
// Threads: every function here may be called from any thread. Calls into one
// process are serialised inside the library: each holds one process-wide lock
// from start to end, granted in the order the calls came, so a call waits for
// those that came before it (a Write behind a paced Read of 10000 records
// waits up to two seconds; SetReadPacing(0) takes that pause away). Processes
// sharing a directory still take turns through the files' locks. The message
// of a damaged file is shown on the reading thread while it holds the lock:
// a message sink must not call back into the library.
#pragma once

#include <cstdint>
#include <list>
#include <string>

#include "chronik/ChronikApi.h"

// One event as handed to hosts. Texts are UTF-8; the ...Gbk() accessors give
// the same texts in the GBK code page (936) for hosts that need it.
struct CHRONIK_API DiagRecord {
    int32_t cleared = 0;         // 1: the event reports that a fault went away
    int32_t isStationEvent = 0;  // 1: control-station event, 0: I/O-module event
    int32_t beforeRange = 0;     // 1: stored time earlier than the queried range
    std::string timeText;        // occurrence time, local, "YYYY-MM-DD hh:mm:ss"
    std::string clearTimeText;   // time the event was cleared; empty while not cleared
    std::string messageText;     // the message
    std::string categoryText;    // "系统", "模块", "已清除" or "提示"
    uint32_t code = 0;           // the event code; after formatting, the pairing key
    uint32_t time = 0;           // event time, seconds since 1970-01-01 00:00 UTC

    std::string TimeTextGbk() const;
    std::string ClearTimeTextGbk() const;
    std::string MessageTextGbk() const;
    std::string CategoryTextGbk() const;

    // UTF-8 to GBK; characters GBK lacks become '?'.
    static std::string ToGbk(const std::string& utf8);
};

typedef std::list<DiagRecord> DiagRecordList;

extern "C" {
// Stores the codes as one record (time, count, codes) in the block of the node
// (addresses 2 to 129) in the current data file of dir; more than 1024 codes
// are stored as consecutive records of at most 1024 codes with the same time.
// dir is a UTF-8 path; empty or null means the current directory.
// Returns 1 when the batch is stored, 0 when it is not; errno then tells why:
// ENOSPC (disk full), EACCES or EROFS (directory not writable), EIO,
// EWOULDBLOCK (the directory stayed locked by another process), EINVAL (node
// outside 2 to 129, codes missing, or time 0). A failed Write leaves
// everything stored before it readable and the index consistent.
CHRONIK_API int32_t Write(uint32_t node, uint32_t time, uint32_t count, const uint32_t* codes, const char* dir);

// Events from start to end (inclusive) over every data file the index of dir
// lists, with occurrences that began earlier and were not cleared before the
// range; at most 10000 records after the placeholder. stationFilter 0 reads all
// nodes, otherwise only nodes stationFilter and stationFilter + 1.
// Returns null when nothing could be read.
CHRONIK_API const DiagRecordList* Read(uint32_t start, uint32_t end, const char* dir, uint32_t stationFilter,
                                       int32_t fromFirstFile);

// Every event of one data file, notices included, without a limit. A file
// without the data-file magic gives null; a file whose block chains stop at
// damage gives the events before the damage, and the message (the path
// followed by "文件版本不匹配或已损坏") is shown once.
CHRONIK_API const DiagRecordList* ReadSingleFile(const char* path, uint32_t stationFilter);

// Recreates dir's index from the data files found there. 1 on success, 0
// with errno set otherwise.
CHRONIK_API int32_t RebuildIndex(const char* dir);

// Most data files kept per directory (values below 1 act as 1) and the seconds
// of event time one data file covers.
CHRONIK_API void SetConfigData(uint32_t maxFiles, uint32_t fileSpan);

// Turns the pause of 10 ms before every 50th record of a read's pairing step
// on (non-zero, the default) or off (0).
CHRONIK_API void SetReadPacing(int32_t on);

// Off (0, the default): Write leaves its words to the system, and a power
// loss may lose the latest batches. On (non-zero): a batch is on the disk when
// Write returns 1 (its words are synced before the chain's link is written,
// the link before Write returns, new files and the index with their
// directory), at the cost of two disk syncs per Write.
CHRONIK_API void SetDurability(int32_t on);
}
