// The step a writer follows instead of finding its image's planes complete:
// the read of the source, and what makes the target's rows from it. The
// writer runs it on its own thread and is told, as the step goes on, how
// many rows from the top are final, so that it writes those while the step
// makes the next ones.
#pragma once

#include <cstdint>
#include <functional>

#include "rastik/core/CStatus.h"

class CRowFeed {
public:
    // Told rows 0 .. rows - 1 are final (rows only grows), on the thread
    // that runs the step, between its rows; it throws nothing.
    using Final = std::function<void(uint32_t rows)>;

    // Runs the step. True when it made every row (the writer then takes
    // them all as final); false when it failed or Esc stopped it.
    virtual bool Run(const Final& final) = 0;

    // A writer's run of the feed: take(rows) writes what is final, keeping a
    // failure in status (a throw fails it too), and once the feed has made
    // every row it takes all height rows.
    static void Follow(CRowFeed& feed, CStatus& status, const Final& take, uint32_t height)
    {
        bool made = feed.Run([&](uint32_t rows) {
            try {
                take(rows);
            } catch (...) {
                status = CStatus::Failed();
            }
        });
        if (status && !made) status = CStatus::Failed();
        if (status) take(height);
    }

protected:
    ~CRowFeed() = default;
};
