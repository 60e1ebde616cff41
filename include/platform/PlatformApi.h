// Marks the stand-ins a library hands to its hosts: the file class a codec
// carries (with its exception and root class), the key queue and the message
// sink. A library that hands none of them out builds the layer with
// PLATFORM_API_HIDDEN, so the whole layer stays inside it.
#pragma once

#if defined(PLATFORM_API_HIDDEN)
#define PLATFORM_API __attribute__((visibility("hidden")))
#else
#define PLATFORM_API __attribute__((visibility("default")))
#endif
