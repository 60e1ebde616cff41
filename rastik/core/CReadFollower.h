// A step that follows a whole read: told on the reading thread, as rows
// come, how many rows from the top of the image are final in every plane
// the read fills, so it may work on them while the read goes on.
#pragma once

#include <cstdint>

class CReadFollower {
public:
    // Rows 0 .. rows - 1 are final; rows only grows. Called between rows of
    // the read, which it must not disturb: it throws nothing.
    virtual void RowsFinal(uint32_t rows) noexcept = 0;

protected:
    ~CReadFollower() = default;
};
