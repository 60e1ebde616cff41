// The records of one Read as the event server hands them out: newest first,
// each already written as its JSON object, so that the many requests a
// snapshot serves only join them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "CEventQuery.h"
#include "CRecordSource.h"

class CEventSnapshot {
public:
    // An answer's text with its entity tag (a hash of the text).
    struct Body {
        explicit Body(std::string body);
        std::string text;
        std::string tag;
    };

    // activeOnly keeps only the occurrences not cleared (no notices).
    CEventSnapshot(CRecordSource::Records&& read, bool activeOnly);

    // {"from", "to", "station", "limit", "truncated", "events": [...]}: the
    // first query.limit events; truncated when the limit or Read's own limit
    // cut them. Made once per limit and shared by the requests that ask.
    std::shared_ptr<const Body> EventsBody(const CEventQuery& query) const;
    // {"station", "truncated", "events": [...]}
    std::shared_ptr<const Body> ActiveBody(const CEventQuery& query) const;

    CRecordSource::Clock::time_point ReadStart() const { return m_readStart; }

    // The tool's JSON object with, in addition, "station" (the station the
    // event concerns, 0 for the server's notices) and "clearTime" (seconds
    // since 1970, 0 while not cleared).
    static std::string JsonObject(const DiagRecord& record);
    static uint32_t StationOf(const DiagRecord& record);
    static uint32_t ClearTimeOf(const DiagRecord& record);

private:
    std::string Join(size_t count) const;
    std::shared_ptr<const Body> Made(uint32_t limit, const std::function<std::string()>& make) const;

    static constexpr size_t kBodiesKept = 4;

    std::vector<std::string> m_objects;
    bool m_limitReached = false;
    CRecordSource::Clock::time_point m_readStart;
    mutable std::mutex m_bodiesMutex;
    mutable std::vector<std::pair<uint32_t, std::shared_ptr<const Body>>> m_bodies;  // by limit, newest last
};
