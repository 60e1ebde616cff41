// Recent snapshots of the store by query, so that many readers asking the
// same share one Read: a request gets a snapshot whose Read began at most
// maxAge before it, and while one is being read, others asking the same
// wait for it instead of reading again.
#pragma once

#include <chrono>
#include <compare>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "CEventSnapshot.h"
#include "CRecordSource.h"

class CEventCache {
public:
    struct Key {
        bool active = false;  // the occurrences not yet cleared, as of the Read
        uint32_t from = 0;
        uint32_t to = 0;
        uint32_t station = 0;
        auto operator<=>(const Key&) const = default;
    };

    CEventCache(CRecordSource& source, std::chrono::milliseconds maxAge, size_t maxEntries)
        : m_source(source), m_maxAge(maxAge), m_maxEntries(maxEntries)
    {
    }

    std::shared_ptr<const CEventSnapshot> Get(const Key& key);

private:
    struct Entry {
        std::shared_ptr<const CEventSnapshot> snapshot;
        bool reading = false;
        uint64_t lastUse = 0;
    };

    std::shared_ptr<const CEventSnapshot> Load(const Key& key);
    // The key's entry, made when missing; the least recently used idle entry
    // makes room.
    std::shared_ptr<Entry> Find(const Key& key);
    bool Fresh(const Entry& entry) const;

    CRecordSource& m_source;
    const std::chrono::milliseconds m_maxAge;
    const size_t m_maxEntries;
    std::mutex m_mutex;
    std::condition_variable m_loaded;
    std::map<Key, std::shared_ptr<Entry>> m_entries;
    uint64_t m_uses = 0;
};
