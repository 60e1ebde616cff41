// Per-thread queue of key-down events, the stand-in for a thread's message
// queue: hosts post key codes, the Esc poll takes them off one at a time.
#pragma once

#include "platform/PlatformApi.h"

constexpr int VK_ESCAPE = 27;

extern "C" {
// Posts a key-down of the key code to the calling thread's queue.
PLATFORM_API void PostKeyDown(int keyCode);
}

// Removes the oldest key-down of the calling thread; returns false when none.
PLATFORM_API bool TakeKeyDown(int* keyCode);
