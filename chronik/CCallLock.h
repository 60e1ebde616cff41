// The lock that serialises the store's calls within a process. Threads get
// it in the order they asked for it, so a Write waits only for the calls
// that were queued before it, however many readers keep asking.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

class CCallLock {
public:
    void lock();
    void unlock();

private:
    std::mutex m_mutex;
    std::condition_variable m_turn;
    uint64_t m_nextTicket = 0;  // handed to the next thread that asks
    uint64_t m_serving = 0;     // the ticket whose thread holds the lock
};
