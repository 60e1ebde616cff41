// What a conversion needs before its first row: the plane sets it holds at
// once (the source's, an image between, the target's), placed as
// AllocChannelSpace places them (whole planes on the heap while the plane
// heap cap allows, the rest in temporary files), and so the temporary
// directory's bytes it takes at its peak.
#pragma once

#include <cstdint>

class CConversionCosts {
public:
    // heapLeft: heap bytes the plane heap cap still allows.
    explicit CConversionCosts(uint64_t heapLeft) : m_heapLeft(heapLeft) {}

    // A set of planes made now: planes x (rows x stride) bytes. Returns
    // the set's slot for Release.
    int Make(uint32_t planes, uint32_t width, uint32_t height);
    // The set of a slot released (its codec deleted).
    void Release(int slot);

    // Bytes of the temporary directory the sets take at most at once.
    uint64_t PeakSpilled() const { return m_peakSpilled; }
    // Bytes of all planes at most at once, wherever they lie.
    uint64_t PeakPlanes() const { return m_peakPlanes; }

private:
    static constexpr int kSlots = 3;
    struct Set {
        uint64_t heap = 0, spilled = 0;
    };
    Set m_sets[kSlots];
    int m_used = 0;
    uint64_t m_heapLeft;
    uint64_t m_spilled = 0, m_planes = 0;
    uint64_t m_peakSpilled = 0, m_peakPlanes = 0;
};
