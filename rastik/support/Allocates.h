// Sizing of work buffers where memory may run out: the sizing runs, and a
// std::bad_alloc it throws becomes a false result that the caller reports
// as its own failure.
#pragma once

#include <new>
#include <utility>

namespace rastik {

// Runs size() (resizes, assigns, gathers); false when memory ran out.
template <class Sizing>
bool Allocates(Sizing&& size)
{
    try {
        std::forward<Sizing>(size)();
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

}  // namespace rastik
