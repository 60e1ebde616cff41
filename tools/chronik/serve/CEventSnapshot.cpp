// Snapshots of reads and the JSON bodies made from them.
#include "CEventSnapshot.h"

#include <algorithm>
#include <cstdio>

#include "CRecordPrinter.h"
#include "CToolArgs.h"

namespace {

// Event codes, of which a record's code keeps the address bits as its
// pairing key: bit 0 set, a controller event with the card address in bits
// 16-24; bit 0 clear, an I/O-module event with the station address in bits
// 21-29. A station is an even address (a card address with bit 0 cleared).
// 0 and 0xFFFFFFFF are the diagnostic server's start and stop notices.
constexpr uint32_t kStartNotice = 0;
constexpr uint32_t kStopNotice = 0xFFFFFFFFu;
constexpr int kCardAddressShift = 16;
constexpr int kStationAddressShift = 21;
constexpr uint32_t kAddressMask = 0x1FF;

const char kNoticeCategory[] = "提示";

bool IsActive(const DiagRecord& r)
{
    return r.clearTimeText.empty() && r.categoryText != kNoticeCategory;
}

}  // namespace

uint32_t CEventSnapshot::StationOf(const DiagRecord& r)
{
    if (r.code == kStartNotice || r.code == kStopNotice) return 0;
    int shift = (r.code & 1) ? kCardAddressShift : kStationAddressShift;
    return (r.code >> shift) & kAddressMask & ~1u;
}

uint32_t CEventSnapshot::ClearTimeOf(const DiagRecord& r)
{
    uint32_t t = 0;
    return !r.clearTimeText.empty() && CToolArgs::ParseTime(r.clearTimeText, t) ? t : 0;
}

std::string CEventSnapshot::JsonObject(const DiagRecord& r)
{
    std::string object = CRecordPrinter::JsonObject(r);
    object.pop_back();  // the closing brace
    return object + ", \"station\": " + std::to_string(StationOf(r)) + ", \"clearTime\": " +
           std::to_string(ClearTimeOf(r)) + "}";
}

CEventSnapshot::CEventSnapshot(CRecordSource::Records&& read, bool activeOnly)
    : m_limitReached(read.limitReached), m_readStart(read.readStart)
{
    std::vector<DiagRecord>& records = read.records;
    if (activeOnly) std::erase_if(records, [](const DiagRecord& r) { return !IsActive(r); });
    // Read lists by file, node and storage order; newest first reads better
    // and makes a limit keep the newest.
    std::stable_sort(records.begin(), records.end(),
                     [](const DiagRecord& a, const DiagRecord& b) { return a.time > b.time; });
    m_objects.reserve(records.size());
    for (const DiagRecord& r : records) m_objects.push_back(JsonObject(r));
}

std::string CEventSnapshot::Join(size_t count) const
{
    size_t bytes = 16;
    for (size_t i = 0; i < count; ++i) bytes += m_objects[i].size() + 2;
    std::string out;
    out.reserve(bytes);
    out += "[";
    for (size_t i = 0; i < count; ++i) {
        out += i ? ",\n" : "\n";
        out += m_objects[i];
    }
    out += "\n]";
    return out;
}

// FNV-1a of the text, as its entity tag.
CEventSnapshot::Body::Body(std::string body) : text(std::move(body))
{
    uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : text) h = (h ^ c) * 0x100000001b3ull;
    char hex[24];
    snprintf(hex, sizeof hex, "\"%016llx\"", static_cast<unsigned long long>(h));
    tag = hex;
}

std::shared_ptr<const CEventSnapshot::Body> CEventSnapshot::Made(uint32_t limit,
                                                                 const std::function<std::string()>& make) const
{
    std::lock_guard<std::mutex> lock(m_bodiesMutex);
    for (const auto& [kept, body] : m_bodies)
        if (kept == limit) return body;
    if (m_bodies.size() >= kBodiesKept) m_bodies.erase(m_bodies.begin());
    m_bodies.emplace_back(limit, std::make_shared<const Body>(make()));
    return m_bodies.back().second;
}

std::shared_ptr<const CEventSnapshot::Body> CEventSnapshot::EventsBody(const CEventQuery& q) const
{
    return Made(q.limit, [&] {
        size_t count = std::min<size_t>(q.limit, m_objects.size());
        bool truncated = m_limitReached || count < m_objects.size();
        return "{\"from\": " + std::to_string(q.from) + ", \"to\": " + std::to_string(q.to) +
               ", \"station\": " + std::to_string(q.station) + ", \"limit\": " + std::to_string(q.limit) +
               ", \"truncated\": " + (truncated ? "true" : "false") + ", \"events\": " + Join(count) + "}\n";
    });
}

std::shared_ptr<const CEventSnapshot::Body> CEventSnapshot::ActiveBody(const CEventQuery& q) const
{
    return Made(0, [&] {
        return "{\"station\": " + std::to_string(q.station) + ", \"truncated\": " +
               (m_limitReached ? "true" : "false") + ", \"events\": " + Join(m_objects.size()) + "}\n";
    });
}
