// Checking of the event server's query parameters.
#include "CEventQuery.h"

#include "CToolArgs.h"

namespace {

// Longer values are refused before they are parsed.
constexpr size_t kMaxValueLength = 40;
constexpr size_t kMaxNameShown = 40;

const char* const kEventNames[] = {"from", "to", "station", "limit", nullptr};
const char* const kActiveNames[] = {"station", nullptr};

// A name from the request, cut short and with only printable ASCII kept, for
// a message.
std::string Shown(const std::string& name)
{
    std::string s;
    for (char c : name.substr(0, kMaxNameShown)) s += c >= 0x20 && c < 0x7F ? c : '?';
    return name.size() > kMaxNameShown ? s + "..." : s;
}

const char kTimeForm[] = " must be seconds since 1970 (0 to 4294967295) or \"YYYY-MM-DD HH:MM:SS\" local time";

}  // namespace

const std::string* CEventQuery::Value(const Params& params, const char* name)
{
    auto it = params.find(name);
    return it == params.end() || it->second.empty() ? nullptr : &it->second;
}

bool CEventQuery::CheckNames(const Params& params, const char* const* allowed, std::string& problem)
{
    for (const auto& [name, value] : params) {
        bool known = false;
        for (const char* const* a = allowed; *a; ++a) known = known || name == *a;
        if (!known) {
            problem = "unknown parameter " + Shown(name);
            return false;
        }
        if (params.count(name) > 1) {
            problem = "parameter " + name + " given more than once";
            return false;
        }
        if (value.size() > kMaxValueLength) {
            problem = name + " is too long";
            return false;
        }
    }
    return true;
}

bool CEventQuery::ParseStation(const Params& params, CEventQuery& query, std::string& problem)
{
    query.station = 0;
    const std::string* text = Value(params, "station");
    if (!text) return true;
    uint32_t s = 0;
    if (!CToolArgs::ParseNumber(*text, s) || (s != 0 && (s < 2 || s > 128 || s % 2 != 0))) {
        problem = "station must be 0 (all) or an even node address from 2 to 128";
        return false;
    }
    query.station = s;
    return true;
}

bool CEventQuery::ForEvents(const Params& params, uint32_t now, CEventQuery& query, std::string& problem)
{
    if (!CheckNames(params, kEventNames, problem) || !ParseStation(params, query, problem)) return false;
    query.from = now > kDefaultSpan ? (now - kDefaultSpan) / 60 * 60 : 0;
    query.to = kOpenEnd;
    query.limit = kDefaultLimit;
    if (const std::string* text = Value(params, "from"); text && !CToolArgs::ParseTime(*text, query.from)) {
        problem = std::string("from") + kTimeForm;
        return false;
    }
    if (const std::string* text = Value(params, "to"); text && !CToolArgs::ParseTime(*text, query.to)) {
        problem = std::string("to") + kTimeForm;
        return false;
    }
    if (query.to < query.from) {
        problem = "to is earlier than from";
        return false;
    }
    const std::string* limit = Value(params, "limit");
    if (limit && (!CToolArgs::ParseNumber(*limit, query.limit) || query.limit < 1 || query.limit > kMaxLimit)) {
        problem = "limit must be 1 to 10000";
        return false;
    }
    return true;
}

bool CEventQuery::ForActive(const Params& params, CEventQuery& query, std::string& problem)
{
    if (!CheckNames(params, kActiveNames, problem)) return false;
    query.from = 0;
    query.to = kOpenEnd;
    query.limit = kMaxLimit;
    return ParseStation(params, query, problem);
}
