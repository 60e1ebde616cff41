// Key-down queue, one per thread.
#include "platform/KeyQueue.h"

#include <cstddef>
#include <deque>

namespace {
thread_local std::deque<int> t_keys;
constexpr size_t kMaxPending = 256;
}

extern "C" void PostKeyDown(int keyCode)
{
    if (t_keys.size() >= kMaxPending) t_keys.pop_front();
    t_keys.push_back(keyCode);
}

bool TakeKeyDown(int* keyCode)
{
    if (t_keys.empty()) return false;
    if (keyCode) *keyCode = t_keys.front();
    t_keys.pop_front();
    return true;
}
