// A buffer of the support layer (AllocBuffer or AllocLargeBuffer) that is
// released with FreeBuffer when the scope ends.
#pragma once

#include <cstdint>

#include "rastik/General.h"
#include "rastik/support/NonCopyable.h"

class CScopedBuffer : private NonCopyable {
public:
    CScopedBuffer() = default;
    explicit CScopedBuffer(void* buffer) : p(static_cast<uint8_t*>(buffer)) {}
    ~CScopedBuffer() { FreeBuffer(&p); }

    // Takes a new buffer, releasing the one held.
    void Reset(void* buffer = nullptr)
    {
        FreeBuffer(&p);
        p = static_cast<uint8_t*>(buffer);
    }
    // Hands the buffer over; the scope no longer releases it.
    uint8_t* Release()
    {
        uint8_t* q = p;
        p = nullptr;
        return q;
    }

    uint8_t* p = nullptr;
};
