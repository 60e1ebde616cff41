// Serialised, spaced reads of the store.
#include "CRecordSource.h"

#include <algorithm>
#include <iterator>
#include <thread>

CRecordSource::Records CRecordSource::Read(uint32_t from, uint32_t to, uint32_t station)
{
    Records out;
    std::lock_guard<std::mutex> lock(m_mutex);
    std::this_thread::sleep_until(m_nextRead);
    out.readStart = Clock::now();
    if (const DiagRecordList* list = ::Read(from, to, m_dir.c_str(), station, 0); list && !list->empty())
        out.records.assign(std::next(list->begin()), list->end());
    Clock::time_point end = Clock::now();
    m_nextRead = end + std::max<Clock::duration>(kMinPause, end - out.readStart);
    out.limitReached = out.records.size() >= kReadLimit;
    return out;
}
