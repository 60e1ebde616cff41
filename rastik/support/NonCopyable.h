// Base of the objects that own a file, a buffer, a thread or a library's
// state: they are neither copied nor assigned.
#pragma once

class NonCopyable {
protected:
    NonCopyable() = default;
    ~NonCopyable() = default;

public:
    NonCopyable(const NonCopyable&) = delete;
    NonCopyable& operator=(const NonCopyable&) = delete;
};
