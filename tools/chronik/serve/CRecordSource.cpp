// Serialised, spaced reads of the store.
#include "CRecordSource.h"

#include <sys/stat.h>

#include <algorithm>
#include <iterator>
#include <thread>

namespace {

// The store's index. Read makes a missing or empty one from the data files;
// the server writes nothing, so a directory without one has nothing to list
// until its writer makes it.
const char kIndexName[] = "/Index.API";

bool HasIndex(const std::string& dir)
{
    struct stat st;
    return stat((dir + kIndexName).c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
}

}  // namespace

CRecordSource::Records CRecordSource::Read(uint32_t from, uint32_t to, uint32_t station)
{
    Records out;
    std::lock_guard<std::mutex> lock(m_mutex);
    std::this_thread::sleep_until(m_nextRead);
    out.readStart = Clock::now();
    const DiagRecordList* list = HasIndex(m_dir) ? ::Read(from, to, m_dir.c_str(), station, 0) : nullptr;
    if (list && !list->empty()) out.records.assign(std::next(list->begin()), list->end());
    m_nextRead = Clock::now() + kPause;
    out.limitReached = out.records.size() >= kReadLimit;
    return out;
}
