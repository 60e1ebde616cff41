// A first-come, first-served lock: a ticket per caller, served in order.
#include "chronik/CCallLock.h"

void CCallLock::lock()
{
    std::unique_lock<std::mutex> guard(m_mutex);
    uint64_t ticket = m_nextTicket++;
    m_turn.wait(guard, [&] { return m_serving == ticket; });
}

void CCallLock::unlock()
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        ++m_serving;
    }
    m_turn.notify_all();
}
