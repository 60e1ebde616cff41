// Splits the host's progress range among the phases of one conversion
// (reading, colour conversion, resampling, writing), so that the codecs'
// and the converters' row loops together move the bar once across it. The
// host's range is put back when the object dies.
#pragma once

#include <cstdint>
#include "rastik/support/NonCopyable.h"

class CProgressPhases : private NonCopyable {
public:
    enum Phase { kRead = 0, kConvert = 1, kResample = 2, kWrite = 3 };

    CProgressPhases();
    ~CProgressPhases();

    // Which phases run (reading and writing always do), and whether
    // resampling comes before the colour conversion.
    void Plan(bool convert, bool resample, bool resampleFirst = false);
    // The writer follows the read: the read's rows stand for every phase.
    void Follow();
    // Makes the phase's share of the host range the current range.
    void Enter(Phase phase);

private:
    int32_t m_start = 0;
    int32_t m_end = 0;
    uint32_t m_weight[4] = {3, 0, 0, 3};
    bool m_resampleFirst = false;
};
