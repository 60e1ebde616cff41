// The rows of a TIFF plane decoded on several threads: the strips are
// taken in groups, and a window of groups is decoded on the conversion's
// worker pool, each group by a decoder of its own, into rows that the
// calling thread hands out in order. The stored bytes of a group are read
// on the calling thread; as soon as the caller moves past a group, its
// place takes the group after the window, so the workers decode ahead
// while the caller uses the rows. Every strip is decoded from its own start
// as the one-thread reader decodes it, so the rows are the same. Memory:
// the decoded rows and the stored bytes of the window, two groups per
// thread (a group decodes to at most 4 MiB and holds at most 8 MiB of
// stored bytes).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "rastik/tiff/CTiffPredictor.h"
#include "rastik/tiff/CTiffRowReader.h"

class CTiffStripBytes;
class CWorkerPool;

class CTiffStripBatch {
public:
    // cfile: the file that bytes reads; only bytes reads it, on this thread.
    CTiffStripBatch(CFile& cfile, CTiffStripBytes& bytes, const TiffStripPlan& plan, const CTiffPredictor& predictor,
                    CWorkerPool& pool);
    ~CTiffStripBatch();
    CTiffStripBatch(const CTiffStripBatch&) = delete;
    CTiffStripBatch& operator=(const CTiffStripBatch&) = delete;

    // Whether the plane's strips are worth and fit decoding this way: more
    // strips than threads, each of bounded size, of a compression whose
    // rows are not at fixed places.
    static bool Suits(const TiffStripPlan& plan, uint32_t threads, uint64_t fileLength);
    // Takes the buffers; false when memory is short. batches: batches a
    // read holds at once (one per plane of a file that stores a plane per
    // sample), which share the groups of every thread.
    bool Open(uint32_t batches = 1);
    // Row r (not below the row asked before), valid until the next call;
    // null when the file cannot be read or a strip is not data of its
    // compression. File errors throw.
    const uint8_t* Row(uint32_t r);

private:
    struct Group;
    static uint32_t StripsPerGroup(const TiffStripPlan& plan);
    // Room for a strip's stored bytes (as far as the file holds them) and
    // the slack behind them.
    uint64_t StoredRoom(uint32_t strip) const;
    // The room of group g's stored bytes.
    uint64_t GroupStoredRoom(uint32_t group) const;
    // The window's place of group g.
    Group& Place(uint32_t g) { return *m_batch[g % m_batch.size()]; }
    // Makes the window begin at group first: the groups moved past are
    // waited for, and their places start the groups that enter.
    void MoveTo(uint32_t first);
    // Reads the stored bytes of group g into its place and starts decoding it.
    void Start(uint32_t g);
    // Waits for the group's decoding, decoding later groups meanwhile.
    void WaitFor(Group& group);
    // Waits for the group's decoding, if any, and takes its outcome.
    void Settle(Group& group);
    void Decode(Group& group) const;

    CFile& m_cfile;
    CTiffStripBytes& m_file;
    TiffStripPlan m_plan;
    const CTiffPredictor& m_predictor;
    CWorkerPool& m_pool;
    uint32_t m_rowBytes;
    uint64_t m_fileLength;
    uint32_t m_stripsPerGroup = 1;
    uint32_t m_groups = 0;  // of the whole plane
    std::unique_ptr<uint8_t, void (*)(void*)> m_block{nullptr, &std::free};  // the places' memory
    std::vector<std::unique_ptr<Group>> m_batch;  // the window's places
    uint32_t m_first = 0;   // the window's first group
    uint32_t m_end = 0;     // groups started: the window is m_first .. m_end - 1
};
