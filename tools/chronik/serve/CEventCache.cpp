// Shared, recent snapshots of the store.
#include "CEventCache.h"

#include <ctime>

bool CEventCache::Fresh(const Entry& e) const
{
    return e.snapshot && CRecordSource::Clock::now() - e.snapshot->ReadStart() <= m_maxAge;
}

std::shared_ptr<CEventCache::Entry> CEventCache::Find(const Key& key)
{
    auto found = m_entries.find(key);
    if (found == m_entries.end()) {
        if (m_entries.size() >= m_maxEntries) {
            auto oldest = m_entries.end();
            for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
                bool older = oldest == m_entries.end() || it->second->lastUse < oldest->second->lastUse;
                if (!it->second->reading && older) oldest = it;
            }
            if (oldest != m_entries.end()) m_entries.erase(oldest);
        }
        found = m_entries.emplace(key, std::make_shared<Entry>()).first;
    }
    found->second->lastUse = ++m_uses;
    return found->second;
}

std::shared_ptr<const CEventSnapshot> CEventCache::Load(const Key& key)
{
    uint32_t from = key.active ? static_cast<uint32_t>(std::time(nullptr)) : key.from;
    return std::make_shared<const CEventSnapshot>(m_source.Read(from, key.to, key.station), key.active);
}

std::shared_ptr<const CEventSnapshot> CEventCache::Get(const Key& key)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    std::shared_ptr<Entry> entry = Find(key);
    m_loaded.wait(lock, [&] { return Fresh(*entry) || !entry->reading; });
    if (Fresh(*entry)) return entry->snapshot;
    entry->reading = true;
    lock.unlock();
    std::shared_ptr<const CEventSnapshot> fresh;
    try {
        fresh = Load(key);
    } catch (...) {
        lock.lock();
        entry->reading = false;
        m_loaded.notify_all();
        throw;
    }
    lock.lock();
    entry->snapshot = fresh;
    entry->reading = false;
    m_loaded.notify_all();
    return fresh;
}
