// What the threads of a pooled job take and give back, one at a time: a
// thread's work memory, a coder. One mutex guards the shelf.
#pragma once

#include <mutex>
#include <utility>
#include <vector>

#include "rastik/support/NonCopyable.h"

template <class T>
class CFreeShelf : private NonCopyable {
public:
    CFreeShelf() = default;
    void Give(T item)
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        m_free.push_back(std::move(item));
    }
    // The item given last and not taken since, into item; false when the
    // shelf is empty.
    bool Take(T& item)
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        if (m_free.empty()) return false;
        item = std::move(m_free.back());
        m_free.pop_back();
        return true;
    }

private:
    std::mutex m_mutex;
    std::vector<T> m_free;
};
