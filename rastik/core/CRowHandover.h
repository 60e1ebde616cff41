// The rows of a library's decoder (libpng, libjpeg) into the base class's
// sink, for the row sources that run one: the geometry the decoder reports
// checked against the source's, each row handed over, and the run's status,
// which is the sink's when it stopped the run (Esc, a failed plane write).
// The decoder calls back between its own calls, inside its C frames, so
// nothing here throws.
#pragma once

#include <cstdint>

#include "rastik/core/CRowSink.h"
#include "rastik/core/CRowSource.h"
#include "rastik/core/CStatus.h"

class CRowHandover {
public:
    CRowHandover(const CRowSource& source, CRowSink& sink) : m_source(source), m_sink(sink) {}

    // Whether the decoder's output is the source's rows: its size and samples per pixel.
    bool Fits(uint32_t width, uint32_t height, uint32_t samples) const noexcept;
    // Hands row over; false stops the run.
    bool Put(uint32_t row, const uint8_t* samples, CRowColumns columns = CRowColumns()) noexcept;
    // count rows from row on, all equal to samples: the sink takes those it wants.
    bool Repeat(const uint8_t* samples, uint32_t row, uint32_t count) noexcept;
    bool Done() const noexcept { return m_sink.Done(); }
    // The run's status: done when the decoder finished, else why it did not.
    CStatus Result(bool finished) const;

private:
    const CRowSource& m_source;
    CRowSink& m_sink;
    CStatus m_status;
};
