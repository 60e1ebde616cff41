// The records of one Read as the event server hands them out: newest first,
// each already written as its JSON object, so that the many requests a
// snapshot serves only join them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "CEventQuery.h"
#include "CRecordSource.h"

class CEventSnapshot {
public:
    // activeOnly keeps only the occurrences not cleared (no notices).
    CEventSnapshot(CRecordSource::Records&& read, bool activeOnly);

    // {"from", "to", "station", "limit", "truncated", "events": [...]}: the
    // first query.limit events; truncated when the limit or Read's own limit
    // cut them.
    std::string EventsBody(const CEventQuery& query) const;
    // {"station", "truncated", "events": [...]}
    std::string ActiveBody(const CEventQuery& query) const;

    CRecordSource::Clock::time_point ReadStart() const { return m_readStart; }

    // The tool's JSON object with, in addition, "station" (the station the
    // event concerns, 0 for the server's notices) and "clearTime" (seconds
    // since 1970, 0 while not cleared).
    static std::string JsonObject(const DiagRecord& record);
    static uint32_t StationOf(const DiagRecord& record);
    static uint32_t ClearTimeOf(const DiagRecord& record);

private:
    std::string Join(size_t count) const;

    std::vector<std::string> m_objects;
    bool m_limitReached = false;
    CRecordSource::Clock::time_point m_readStart;
};
