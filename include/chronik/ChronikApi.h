// Marks the functions and types the event store exports; everything else
// stays inside the shared library.
#pragma once

#define CHRONIK_API __attribute__((visibility("default")))
