// The step a writer follows instead of finding its image's planes complete:
// the read of the source, and what makes the target's rows from it. The
// writer runs it on its own thread and is told, as the step goes on, how
// many rows from the top are final, so that it writes those while the step
// makes the next ones.
#pragma once

#include <cstdint>
#include <functional>

class CRowFeed {
public:
    // Told rows 0 .. rows - 1 are final (rows only grows), on the thread
    // that runs the step, between its rows; it throws nothing.
    using Final = std::function<void(uint32_t rows)>;

    // Runs the step. True when it made every row (the writer then takes
    // them all as final); false when it failed or Esc stopped it.
    virtual bool Run(const Final& final) = 0;

protected:
    ~CRowFeed() = default;
};
