// The parameters of the event server's queries, checked: a time range, a
// station and a record limit for /api/events, a station for /api/active.
#pragma once

#include <cstdint>
#include <map>
#include <string>

class CEventQuery {
public:
    using Params = std::multimap<std::string, std::string>;

    static constexpr uint32_t kOpenEnd = 0xFFFFFFFFu;
    static constexpr uint32_t kDefaultSpan = 86400;
    static constexpr uint32_t kDefaultLimit = 1000;
    static constexpr uint32_t kMaxLimit = 10000;  // what one Read returns at most

    // from (default: a day before now, from the start of that minute), to
    // (default: open end), station (default 0: all), limit (default 1000).
    // Times are seconds or "YYYY-MM-DD HH:MM:SS" local time, as chronik read
    // takes them; an empty value means the default. On failure problem names
    // the parameter.
    static bool ForEvents(const Params& params, uint32_t now, CEventQuery& query, std::string& problem);
    // station only.
    static bool ForActive(const Params& params, CEventQuery& query, std::string& problem);

    uint32_t from = 0;
    uint32_t to = kOpenEnd;
    uint32_t station = 0;
    uint32_t limit = kDefaultLimit;

private:
    static bool CheckNames(const Params& params, const char* const* allowed, std::string& problem);
    static bool ParseStation(const Params& params, CEventQuery& query, std::string& problem);
    static const std::string* Value(const Params& params, const char* name);
};
