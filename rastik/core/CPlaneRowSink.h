// The sink of a whole read: a source's rows into the channel planes,
// wherever they live, through the plane-row stream (spilled planes staged
// and written a chunk at a time, progress and Esc per row). A source fills
// rows the sink lends, a row at a time (or the planes' own rows when it
// fills groups of rows), or hands over rows of its own. Interleaved rows are split into the planes, colour samples
// of blue-green-red rows reversed, inverted samples turned back; samples
// past the planes filled are dropped. Rows of an interlaced image may come
// more than once, each time with the pixels of one pass. With worker
// threads, interleaved rows of heap planes are split in bands on the
// workers while the source reads the next ones.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "rastik/CRastik.h"
#include "rastik/core/CPlaneRowStream.h"
#include "rastik/core/CRowSink.h"

class CBandSplitter;

class CPlaneRowSink : public CRowSink {
public:
    CPlaneRowSink(CRastik& image, const CPlaneRowStream::PlaneSet& planes, const CRowLayout& layout);
    ~CPlaneRowSink() override;

    // Checks the planes and takes the staging grant (27609 without one).
    CStatus Open();
    // Ends the read after the source's run: staged rows written out; the
    // read's status (a run that ended before the last row failed).
    CStatus Finish(const CStatus& run);
    // Rows handed over so far (at most the image's height).
    uint32_t RowsHanded() const;
    // Tells follower the rows final from the top as a top-down read with
    // one visit per row fills heap planes (see CPlaneRowStream).
    void FollowedBy(CReadFollower* follower);
    // Most rows past those told final that a read of one row at a time
    // fills, with a pool of threads threads.
    static uint32_t MostRowsAhead(uint32_t threads);

    bool Wants(uint32_t row) const noexcept override;
    bool Done() const noexcept override;
    uint8_t* const* Target(uint32_t row) noexcept override;
    CStatus Commit(uint32_t row, CRowColumns columns) noexcept override;
    CStatus Put(uint32_t row, const uint8_t* const* samples, CRowColumns columns) noexcept override;
    CStatus Pass(uint32_t row) noexcept override;

private:
    bool AnyOrder() const { return m_layout.Order == CPlaneRowStream::kAnyOrder; }
    // Stream position of an image row of a sequential read.
    uint32_t PositionOf(uint32_t row) const;
    // The plane rows of image row row; null when the row cannot be had.
    uint8_t* const* PlaneRows(uint32_t row);
    void Split(const uint8_t* samples, CRowColumns columns);
    // Splits rows in bands on the pool where the layout and planes allow.
    void SplitInBands();
    // An interleaved row of the current position into the band being filled.
    CStatus PutInBand(uint32_t row, const uint8_t* samples, CRowColumns columns);
    CStatus Passed(uint32_t row);
    CStatus StreamStatus() const;

    CRowLayout m_layout;
    CPlaneRowStream m_rows;
    uint32_t m_width;
    uint32_t m_height;
    uint64_t m_total;
    uint64_t m_handed = 0;
    uint32_t m_next = 0;  // stream position of the next row of a sequential read
    uint8_t* m_planes[kMaxChannels] = {};
    // Where each interleaved sample goes: a plane row, or the junk row.
    uint8_t* m_split[kMaxChannels] = {};
    std::vector<uint8_t> m_junk;  // samples past the planes filled
    std::vector<uint8_t> m_seen;     // rows of an interlaced read handed over before
    bool m_heap = true;              // every plane filled is on the heap
    CReadFollower* m_follower = nullptr;
    std::unique_ptr<CBandSplitter> m_splitter;
    uint8_t* m_slot[1] = {};
};
