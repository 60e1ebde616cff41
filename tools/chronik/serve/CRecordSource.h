// The event server's only way into the store: one Read at a time, its
// records copied out before the next one, and a short pause after every
// Read so that a writer waiting for the store's files gets them.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "chronik/chronik.h"

class CRecordSource {
public:
    using Clock = std::chrono::steady_clock;

    struct Records {
        std::vector<DiagRecord> records;  // as Read lists them, placeholder left out
        bool limitReached = false;        // Read stopped at its record limit
        Clock::time_point readStart;      // no Write acknowledged before this is missing
    };

    // Read keeps the index locked while it collects; a writer retries every
    // 10 ms for about two seconds. The store is left alone for this long
    // after each Read, two of the writer's retries, so that a writer finds
    // it free before the next Read even when reads follow each other.
    static constexpr std::chrono::milliseconds kPause{20};
    static constexpr size_t kReadLimit = 10000;

    explicit CRecordSource(std::string dir) : m_dir(std::move(dir)) {}

    // Read(from, to, dir, station, 0) of the directory given at start.
    Records Read(uint32_t from, uint32_t to, uint32_t station);

private:
    const std::string m_dir;
    // Serialises the calls into the library, whose read results are one
    // process-wide list, and spaces them out.
    std::mutex m_mutex;
    Clock::time_point m_nextRead;
};
