// TIFF strips decoded a window of groups ahead on the worker pool.
#include "rastik/tiff/CTiffStripBatch.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/LargeBlock.h"
#include "rastik/support/CWorkerPool.h"
#include "rastik/tiff/CTiffStripBytes.h"
#include "rastik/tiff/TiffDecoderTable.h"

namespace {

// A group decodes to about this many bytes at least (strips of one or a
// few rows are grouped), and a strip may store and decode to this much at
// most (larger strips are read by the one-thread reader).
constexpr uint64_t kGroupBytes = 256u << 10;
constexpr uint64_t kMostStripBytes = 4u << 20;
constexpr uint64_t kMostGroupStored = 8u << 20;
// Groups of a batch for every thread.
constexpr uint32_t kGroupsPerThread = 2;
// Strips of a group at most: each holds room behind its stored bytes
// (kHeldSlack), so this bounds that room to 1 MiB a group. Without it, the
// strips of a narrow image stored a row a strip made groups of a quarter
// million strips and a gigabyte.
constexpr uint64_t kMostGroupStrips = 256;
// Bytes zeroed behind each strip's stored bytes.
constexpr uint32_t kZeroedBehind = 64;

}  // namespace

// The strips of one group: their stored bytes (each followed by room the
// decoders may use), the decoded rows, and whether every strip decoded.
struct CTiffStripBatch::Group {
    uint32_t firstStrip = 0;
    uint32_t strips = 0;
    uint8_t* stored = nullptr;    // in the batch's block
    std::vector<uint32_t> at;     // where each strip's bytes begin in stored
    std::vector<uint32_t> bytes;  // and how many there are
    uint8_t* rows = nullptr;      // in the batch's block
    bool ok = false;
    std::shared_ptr<CWorkerPool::CJob> job;  // decoding, till waited for
};

CTiffStripBatch::CTiffStripBatch(CFile& cfile, CTiffStripBytes& file, const TiffStripPlan& plan,
                                 const CTiffPredictor& predictor, CWorkerPool& pool)
    : m_cfile(cfile), m_file(file), m_plan(plan), m_predictor(predictor), m_pool(pool), m_rowBytes(plan.RowBytes()),
      m_fileLength(cfile.GetLength())
{
}

CTiffStripBatch::~CTiffStripBatch()
{
    for (const auto& group : m_batch) Settle(*group);
}

uint32_t CTiffStripBatch::StripsPerGroup(const TiffStripPlan& plan)
{
    const uint64_t stripRows = static_cast<uint64_t>(plan.rowsPerStrip) * plan.RowBytes();
    const uint64_t strips = kGroupBytes / std::max<uint64_t>(stripRows, 1);
    return static_cast<uint32_t>(std::clamp<uint64_t>(strips, 1, kMostGroupStrips));
}

bool CTiffStripBatch::Suits(const TiffStripPlan& plan, uint32_t threads, uint64_t fileLength)
{
    if (!plan.decoder || plan.decoder->seeksRows || threads < 2 || plan.rowsPerStrip == 0) return false;
    const uint64_t strips = (static_cast<uint64_t>(plan.height) + plan.rowsPerStrip - 1) / plan.rowsPerStrip;
    if (strips <= threads) return false;
    if (static_cast<uint64_t>(plan.rowsPerStrip) * plan.RowBytes() > kMostStripBytes) return false;
    // Stored bytes are held for whole groups: counts (as far as the file
    // goes) must keep a group within bounds, whatever a file claims.
    uint64_t largest = 0;
    for (uint32_t i = 0; i < plan.strips; ++i) largest = std::max<uint64_t>(largest, plan.counts[i]);
    largest = std::min(largest, fileLength);
    return largest <= kMostStripBytes && largest * StripsPerGroup(plan) <= kMostGroupStored;
}

bool CTiffStripBatch::Open(uint32_t batches)
{
    m_stripsPerGroup = StripsPerGroup(m_plan);
    const uint32_t strips = (m_plan.height - 1) / m_plan.rowsPerStrip + 1;
    m_groups = (strips - 1) / m_stripsPerGroup + 1;
    // The batches of a read hold about the groups one batch alone would,
    // and each at least two, so that a batch is decoded on two threads.
    const uint32_t all = kGroupsPerThread * m_pool.Threads();
    batches = std::max(batches, 1u);
    const uint32_t share = std::max(kGroupsPerThread, (all + batches - 1) / batches);
    const uint32_t batch = std::min(m_groups, share);
    // One block holds the rows and stored bytes of every place, each place
    // room for the largest group: fresh memory is mapped a large page at a
    // time, and groups reuse it.
    uint64_t storedRoom = 0;
    for (uint32_t g = 0; g < m_groups; ++g) storedRoom = std::max(storedRoom, GroupStoredRoom(g));
    const uint64_t rowsRoom = uint64_t{m_stripsPerGroup} * m_plan.rowsPerStrip * m_rowBytes;
    const uint64_t placeBytes = rowsRoom + storedRoom;
    if (placeBytes > SIZE_MAX / batch) return false;
    m_block.reset(static_cast<uint8_t*>(AllocLargeBlock(static_cast<size_t>(placeBytes * batch), false)));
    if (!m_block) return false;
    for (uint32_t i = 0; i < batch; ++i) {
        m_batch.push_back(std::make_unique<Group>());
        m_batch.back()->rows = m_block.get() + i * placeBytes;
        m_batch.back()->stored = m_batch.back()->rows + rowsRoom;
    }
    return true;
}

uint64_t CTiffStripBatch::GroupStoredRoom(uint32_t group) const
{
    const uint32_t strips = (m_plan.height - 1) / m_plan.rowsPerStrip + 1;
    const uint32_t first = group * m_stripsPerGroup;
    const uint32_t end = std::min(strips, first + m_stripsPerGroup);
    uint64_t total = 0;
    for (uint32_t s = first; s < end; ++s) total += StoredRoom(s);
    return total;
}

const uint8_t* CTiffStripBatch::Row(uint32_t r)
{
    if (r >= m_plan.height || m_batch.empty()) return nullptr;
    const uint32_t rowsPerGroup = m_plan.rowsPerStrip * m_stripsPerGroup;
    const uint32_t group = r / rowsPerGroup;
    if (group < m_first || group >= m_end) {
        // Outside the window (the first row, or a jump): a new window.
        for (const auto& g : m_batch) Settle(*g);
        m_first = m_end = group;
    }
    MoveTo(group);
    Group& g = Place(group);
    WaitFor(g);
    if (!g.ok) return nullptr;
    return g.rows + static_cast<size_t>(r - group * rowsPerGroup) * m_rowBytes;
}

void CTiffStripBatch::MoveTo(uint32_t first)
{
    for (; m_first < first; ++m_first) WaitFor(Place(m_first));
    const uint32_t end = static_cast<uint32_t>(std::min<uint64_t>(m_groups, uint64_t{first} + m_batch.size()));
    for (; m_end < end; ++m_end) Start(m_end);
}

void CTiffStripBatch::WaitFor(Group& group)
{
    // While a worker decodes the group, this thread decodes groups after
    // it that no thread has started.
    for (uint32_t g = m_first; group.job && g < m_end && !group.job->Done(0); ++g)
        if (Group& other = Place(g); &other != &group && other.job) m_pool.TryRun(*other.job);
    Settle(group);
}

void CTiffStripBatch::Settle(Group& group)
{
    if (!group.job) return;
    m_pool.Wait(*group.job);
    if (group.job->Failed()) group.ok = false;
    group.job.reset();
}

uint64_t CTiffStripBatch::StoredRoom(uint32_t strip) const
{
    uint64_t stored = strip < m_plan.strips ? std::min<uint64_t>(m_plan.counts[strip], m_fileLength) : 0;
    return stored + CTiffStripBytes::kHeldSlack;
}

void CTiffStripBatch::Start(uint32_t group)
{
    Group& g = Place(group);
    Settle(g);
    g.ok = false;
    const uint32_t strips = (m_plan.height - 1) / m_plan.rowsPerStrip + 1;
    g.firstStrip = group * m_stripsPerGroup;
    g.strips = std::min(m_stripsPerGroup, strips - g.firstStrip);
    g.at.assign(g.strips, 0);
    g.bytes.assign(g.strips, 0);
    for (uint32_t s = 0, at = 0; s < g.strips; ++s) {
        const uint32_t strip = g.firstStrip + s;
        const uint32_t room = static_cast<uint32_t>(StoredRoom(strip));
        g.at[s] = at;
        if (strip < m_plan.strips)
            g.bytes[s] = m_file.Fetch(m_plan.offsets[strip], m_plan.counts[strip], g.stored + at);
        // The words a bit reader may load behind the bytes read as 0, as
        // they do for the one-thread reader.
        memset(g.stored + at + g.bytes[s], 0, std::min<uint32_t>(room - g.bytes[s], kZeroedBehind));
        at += room;
    }
    Group* held = &g;
    g.job = m_pool.Start(1, [this, held](uint32_t) { Decode(*held); });
}

// Runs on any thread: touches only the group and reads the plan.
void CTiffStripBatch::Decode(Group& group) const
{
    group.ok = false;
    std::unique_ptr<CTiffDecoder> decoder = m_plan.decoder->make(m_plan.shape);
    if (!decoder) return;
    uint8_t* out = group.rows;
    for (uint32_t s = 0; s < group.strips; ++s) {
        CTiffStripBytes held(m_cfile, 0, false);
        held.StartHeld(group.stored + group.at[s], group.bytes[s]);
        if (!decoder->Start(held)) return;
        const uint32_t firstRow = (group.firstStrip + s) * m_plan.rowsPerStrip;
        const uint32_t rows = std::min(m_plan.rowsPerStrip, m_plan.height - firstRow);
        decoder->DecodeRows(out, rows);
        for (uint32_t r = 0; r < rows; ++r, out += m_rowBytes)
            if (m_predictor.Active()) m_predictor.Undo(out);
    }
    group.ok = true;
}
