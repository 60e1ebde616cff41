// Marks the classes and functions the codec library exports; everything else
// stays inside the shared library.
#pragma once

#define RASTIK_API __attribute__((visibility("default")))
