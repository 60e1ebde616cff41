// Bands of the DCT encoder spread over worker threads. The band's MCUs are
// cut into runs; each run is transformed and Huffman-coded on any thread
// into bits of its own, without byte stuffing. A run but the first does
// not know the DC predictors the MCU before it leaves: it leaves out the
// first DC difference of each component and notes where it goes. This
// thread then appends the runs' bits to the scan in band order through the
// filter's own packer, which stuffs and flushes, writing those differences
// as it goes, so the scan is bit for bit the one a single thread writes. A
// band may be left coding on the pool while this thread goes on; its bits
// are appended before anything else enters the scan. An image coded from
// stored rows has every run take its own rows from the file, a few MCU rows
// each, and two bands of runs on the pool at once.
#include <algorithm>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

#include "platform/LargeBlock.h"
#include "rastik/CDCTFilter.h"
#include "rastik/CStoredRows.h"
#include "rastik/jpeg/DctCoder.h"
#include "rastik/jpeg/DctMcuBlocks.h"
#include "rastik/support/CFreeShelf.h"
#include "rastik/support/CPoolScope.h"
#include "rastik/support/CScopedBuffer.h"
#include "rastik/support/CWorkerPool.h"

namespace {

using Band = DctMcuBlocks::Band;

// The coded bits of one run of MCUs, most significant bit first. A run
// coded without the DC predictors before it leaves out the DC difference of
// the first block of each component; the bits that go there, once the
// predictors are known, are noted instead.
struct CodedRun {
    struct Deferred {
        uint32_t at;         // bit position in the run's bits
        uint32_t component;
        int32_t dc;          // the block's quantised DC value
    };
    std::vector<uint8_t> bytes;
    uint32_t bits = 0;         // valid bits in bytes
    int32_t predictor[4] = {};  // DC predictors after the run
    bool coded = true;          // every symbol had a code
    Deferred deferred[4] = {};
    uint32_t deferredCount = 0;
};

// Whole words of a run's bits, big-endian, without stuffing; out grows by
// doubling and is cut to the bytes stored by End.
struct RunSink {
    std::vector<uint8_t>& out;
    size_t used = 0;
    void Store(uint32_t word)
    {
        if (out.size() - used < 4) out.resize(std::max<size_t>(1024, 2 * out.size()));
        uint8_t* at = out.data() + used;
        for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(word >> (24 - 8 * i));
        used += 4;
    }
    void End() { out.resize(used); }
};

// The blocks of an MCU, the component of each in coding order.
struct McuOrder {
    uint32_t component[DctMcuBlocks::kMostBlocks];
    uint32_t blocks;
};

// Room for making one MCU's blocks.
struct McuRoom {
    int32_t area[DctMcuBlocks::kAreaValues];
    int32_t blocks[DctMcuBlocks::kMostBlocks * 64];
};

Band BandOf(uint32_t kind, uint32_t components, uint32_t width, uint32_t rows, uint32_t mcusPerRow,
            const uint8_t* const* planes)
{
    Band band{};
    band.kind = static_cast<DctMcuBlocks::Kind>(kind);
    band.components = components;
    band.width = width;
    band.rows = rows;
    band.mcusPerRow = mcusPerRow;
    for (uint32_t c = 0; c < 4; ++c) band.planes[c] = planes[c];
    return band;
}

// MCUs first .. end - 1 of band coded from the DC predictors in run.predictor,
// which it leaves as the last MCU does; or, deferred, without them. The run
// is coded into locals and stored at its end: runs lie side by side, and
// stores into them on every block would bounce their shared cache lines
// between the threads coding neighbouring runs.
void CodeMcus(const CDCTFilter& f, const Band& band, const McuOrder& order, uint32_t first, uint32_t end,
              bool deferred, McuRoom& room, CodedRun& run)
{
    CodedRun local;
    for (uint32_t c = 0; c < 4; ++c) local.predictor[c] = run.predictor[c];
    DctCoder::WideBits bits{0, 64};
    RunSink sink{local.bytes};
    bool known[4] = {!deferred, !deferred, !deferred, !deferred};
    for (uint32_t m = first; m < end; ++m) {
        DctMcuBlocks::Make(band, m, room.area, room.blocks);
        for (uint32_t b = 0; b < order.blocks; ++b) {
            const uint32_t c = order.component[b];
            const int32_t* block = room.blocks + 64 * b;
            if (!known[c]) {
                known[c] = true;
                const uint32_t at = static_cast<uint32_t>(sink.used * 8) + (64 - bits.free);
                if (!DctCoder::CodeBlock<RunSink, false>(f, c, block, local.predictor[c], bits, sink))
                    local.coded = false;
                local.deferred[local.deferredCount++] = {at, c, local.predictor[c]};
            } else if (!DctCoder::CodeBlock(f, c, block, local.predictor[c], bits, sink)) {
                local.coded = false;
            }
        }
    }
    sink.End();
    local.bits = static_cast<uint32_t>(local.bytes.size() * 8) + (64 - bits.free);
    for (uint32_t left = 64 - bits.free; left > 0; left = left > 8 ? left - 8 : 0, bits.acc <<= 8)
        local.bytes.push_back(static_cast<uint8_t>(bits.acc >> 56));
    run = std::move(local);
}

}  // namespace

struct CDCTFilter::BandAhead {
    CWorkerPool& pool;
    std::vector<CodedRun> runs;
    std::shared_ptr<CWorkerPool::CJob> job;

    BandAhead(CWorkerPool& p, uint32_t items) : pool(p), runs(items) {}
    // The items use the band's planes, the runs and the filter's tables.
    ~BandAhead()
    {
        if (job) pool.Wait(*job);
    }
    BandAhead(const BandAhead&) = delete;
    BandAhead& operator=(const BandAhead&) = delete;
};

void CDCTFilter::BandAheadEnd::operator()(BandAhead* band) const
{
    delete band;
}

uint32_t CDCTFilter::McuKind() const
{
    if (m_pMcuRoutine == &CDCTFilter::Encode_NoTransform_MCU1111) return DctMcuBlocks::kPlain8;
    if (m_pMcuRoutine == &CDCTFilter::Encode_NoTransform_MCU4114) return DctMcuBlocks::kPlain16;
    if (m_pMcuRoutine == &CDCTFilter::Encode_Transform_MCU1111) return DctMcuBlocks::kYcc8;
    return DctMcuBlocks::kYcc16;
}

void CDCTFilter::StartMcusOnPool(CWorkerPool& pool, uint32_t mcus)
{
    const Band band = BandOf(McuKind(), m_dwComponents, m_dwWidth, m_dwBandRows, m_dwMcusPerRow, m_pPlane);
    McuOrder order{};
    order.blocks = DctMcuBlocks::Order(band, order.component);
    int32_t start[4];
    for (uint32_t c = 0; c < 4; ++c) start[c] = m_DCPredictor[c];
    const uint32_t items = (mcus + kMcusPerItem - 1) / kMcusPerItem;
    m_pAhead.reset(new BandAhead(pool, items));
    CodedRun* runs = m_pAhead->runs.data();
    const CDCTFilter& self = *this;
    m_pAhead->job = pool.Start(items, [band, order, start, mcus, runs, &self](uint32_t item) {
        const uint32_t first = item * kMcusPerItem;
        McuRoom room;
        CodedRun& run = runs[item];
        for (uint32_t c = 0; c < 4; ++c) run.predictor[c] = start[c];
        // The band's first run starts from the filter's predictors; the
        // others' are filled in as the runs are appended.
        CodeMcus(self, band, order, first, std::min(mcus, first + kMcusPerItem), first > 0, room, run);
    });
    m_dwMcuColumn = 0;
    m_dwMcuRow = mcus / m_dwMcusPerRow * m_dwMcuHeight;
}

bool CDCTFilter::AppendAhead()
{
    if (!m_pAhead) return true;
    std::unique_ptr<BandAhead, BandAheadEnd> ahead = std::move(m_pAhead);
    return AppendRuns(*ahead, nullptr);
}

bool CDCTFilter::AppendRuns(BandAhead& ahead, BandAhead* next)
{
    CWorkerPool::CJob& job = *ahead.job;
    bool coded = true;
    // The DC predictors before the run being appended, for its deferred blocks.
    int32_t predictor[4];
    for (uint32_t c = 0; c < 4; ++c) predictor[c] = m_DCPredictor[c];
    auto append = [&](const CodedRun& run) {
        uint32_t from = 0;
        for (uint32_t d = 0; d < run.deferredCount; ++d) {
            const CodedRun::Deferred& block = run.deferred[d];
            AppendBitRange(run.bytes.data(), from, block.at);
            DctCoder::Bits b{m_dwBitBuffer, m_dwFreeBits};
            DctCoder::PutValue(*this, b, m_pDCCode[m_dwDCSelector[block.component]], 0,
                               block.dc - predictor[block.component]);
            m_dwBitBuffer = b.acc;
            m_dwFreeBits = b.free;
            from = block.at;
        }
        AppendBitRange(run.bytes.data(), from, run.bits);
        for (uint32_t c = 0; c < 4; ++c) predictor[c] = run.predictor[c];
    };
    for (uint32_t item = 0; item < job.Count(); ++item) {
        // Waiting for an item another thread codes, this one codes the next
        // band's items rather than idle.
        while (!job.Done(item) && (ahead.pool.TryRun(job) || (next && ahead.pool.TryRun(*next->job)))) {
        }
        ahead.pool.WaitFor(job, item);
        if (job.Failed()) break;
        append(ahead.runs[item]);
        coded = coded && ahead.runs[item].coded;
    }
    ahead.pool.Wait(job);
    if (job.Failed()) return false;
    for (uint32_t c = 0; c < 4; ++c) m_DCPredictor[c] = ahead.runs.back().predictor[c];
    if (!coded) m_bMissingCode = true;
    return !m_bMissingCode;
}

void CDCTFilter::AppendBitRange(const uint8_t* bytes, uint32_t from, uint32_t to)
{
    if (from >= to) return;
    bytes += from / 8;
    if (const uint32_t skip = from % 8) {
        // The rest of the first byte, as far as to.
        const uint32_t n = std::min(8 - skip, to - from);
        DctCoder::Bits b{m_dwBitBuffer, m_dwFreeBits};
        DctCoder::PutBits(*this, b, (static_cast<uint32_t>(*bytes) >> (8 - skip - n)) & ((1u << n) - 1), n);
        m_dwBitBuffer = b.acc;
        m_dwFreeBits = b.free;
        from += n;
        ++bytes;
    }
    AppendBits(bytes, to - from);
}

void CDCTFilter::AppendBits(const uint8_t* bytes, uint32_t bits)
{
    DctCoder::Bits b{m_dwBitBuffer, m_dwFreeBits};
    for (; bits >= 16; bits -= 16, bytes += 2)
        DctCoder::PutBits(*this, b, static_cast<uint32_t>(bytes[0]) << 8 | bytes[1], 16);
    if (bits > 8) {
        DctCoder::PutBits(*this, b, (static_cast<uint32_t>(bytes[0]) << 8 | bytes[1]) >> (16 - bits), bits);
    } else if (bits > 0) {
        DctCoder::PutBits(*this, b, static_cast<uint32_t>(bytes[0]) >> (8 - bits), bits);
    }
    m_dwBitBuffer = b.acc;
    m_dwFreeBits = b.free;
}

namespace {

// An item of stored-row coding takes whole MCU rows, about this many bytes
// of samples: enough that its read and hand-over are small against it,
// little enough that its rows stay in the cache of the thread that codes
// them.
constexpr size_t kStoredItemBytes = 256u << 10;
// Items of one band of stored-row coding, for each thread.
constexpr uint32_t kStoredItemsPerThread = 4;

// What an item of stored-row coding works in: its rows' planes and the
// stored rows' scratch. There is one for each thread; an item takes one for
// its run and gives it back. The rooms take at least one large page: every
// thread writes its room's fresh pages at once, and each small page mapped
// on first touch costs about a tenth of what zeroing a whole large page does.
class StoredRooms {
public:
    StoredRooms(uint32_t count, size_t planeBytes, size_t scratchBytes)
        : m_planeBytes(planeBytes), m_bytes((3 * planeBytes + scratchBytes + 63) / 64 * 64),
          m_block(static_cast<uint8_t*>(AllocLargeBlock(std::max(m_bytes * count, kLargeBlockPage), false)))
    {
        if (!m_block) throw std::bad_alloc();
        for (uint32_t i = 0; i < count; ++i) m_free.Give(m_block.get() + i * m_bytes);
    }

    struct Room {
        uint8_t* planes[3];
        uint8_t* scratch;
    };
    // A room no running item holds; there are as many as threads.
    Room Take()
    {
        uint8_t* base = nullptr;
        if (!m_free.Take(base)) throw std::logic_error("more items than rooms");
        Room room{};
        for (uint32_t c = 0; c < 3; ++c) room.planes[c] = base + c * m_planeBytes;
        room.scratch = base + 3 * m_planeBytes;
        return room;
    }
    void Give(const Room& room) { m_free.Give(room.planes[0]); }

private:
    struct Free {
        void operator()(uint8_t* p) const { std::free(p); }
    };
    const size_t m_planeBytes;
    const size_t m_bytes;
    std::unique_ptr<uint8_t, Free> m_block;
    CFreeShelf<uint8_t*> m_free;
};

// The rows an item of stored-row coding takes: the MCU rows of items at
// once, the last item's cut at the image's end.
struct StoredItems {
    uint32_t height;
    uint32_t itemRows;
    uint32_t First(uint32_t item) const { return item * itemRows; }
    uint32_t Rows(uint32_t item) const { return std::min(itemRows, height - First(item)); }
};

}  // namespace

struct CDCTFilter::StoredCoding {
    const CStoredRows& stored;
    StoredRooms& rooms;
    StoredItems items;
    Band band;  // the layout; planes and rows are each item's own
    McuOrder order;
    int32_t start[4];  // DC predictors before the image
};

void CDCTFilter::StartStoredOnPool(CWorkerPool& pool, const StoredCoding& coding, uint32_t firstItem,
                                   uint32_t count, std::unique_ptr<BandAhead, BandAheadEnd>& ahead)
{
    ahead.reset(new BandAhead(pool, count));
    CodedRun* runs = ahead->runs.data();
    const CDCTFilter& self = *this;
    ahead->job = pool.Start(count, [&coding, &self, runs, firstItem](uint32_t k) {
        const uint32_t item = firstItem + k;
        const uint32_t first = coding.items.First(item);
        const uint32_t rows = coding.items.Rows(item);
        const Band& layout = coding.band;
        StoredRooms::Room room = coding.rooms.Take();
        struct Given {
            StoredRooms& rooms;
            const StoredRooms::Room& room;
            ~Given() { rooms.Give(room); }
        } given{coding.rooms, room};
        if (!coding.stored.Take(first, rows, room.planes, layout.width, room.scratch))
            throw std::runtime_error("stored rows");
        McuRoom mcu;
        CodedRun& run = runs[k];
        for (uint32_t c = 0; c < 4; ++c) run.predictor[c] = coding.start[c];
        const Band band = BandOf(layout.kind, 3, layout.width, rows, layout.mcusPerRow, room.planes);
        const uint32_t mcus = (rows + self.m_dwMcuHeight - 1) / self.m_dwMcuHeight * layout.mcusPerRow;
        // Only the image's first run knows its predictors.
        CodeMcus(self, band, coding.order, 0, mcus, item > 0, mcu, run);
    });
}

uint32_t CDCTFilter::EncoderStored(const CStoredRows& stored, const std::function<bool(uint32_t rows)>& next)
{
    CWorkerPool* pool = CPoolScope::Lent();
    if (!TakesBands() || m_dwComponents != 3 || !pool || m_pAhead) return kFailure;
    const size_t mcuRowBytes = size_t{3} * m_dwWidth * m_dwMcuHeight;
    const uint32_t mcuRows = (m_dwHeight + m_dwMcuHeight - 1) / m_dwMcuHeight;
    const uint32_t itemRows =
        static_cast<uint32_t>(std::clamp<size_t>(kStoredItemBytes / mcuRowBytes, 1, mcuRows)) * m_dwMcuHeight;
    StoredRooms rooms(pool->Threads(), size_t{itemRows} * m_dwWidth, stored.ScratchBytes(itemRows));
    const uint8_t* none[4] = {};
    StoredCoding coding{stored, rooms, StoredItems{m_dwHeight, itemRows},
                        BandOf(McuKind(), 3, m_dwWidth, 0, m_dwMcusPerRow, none), McuOrder{}, {}};
    coding.order.blocks = DctMcuBlocks::Order(coding.band, coding.order.component);
    for (uint32_t c = 0; c < 4; ++c) coding.start[c] = m_DCPredictor[c];

    // Two bands on the pool at once, so that the threads go on with the next
    // while this one appends the bits of the band before.
    const uint32_t items = (m_dwHeight + itemRows - 1) / itemRows;
    const uint32_t bandItems = kStoredItemsPerThread * pool->Threads();
    std::unique_ptr<BandAhead, BandAheadEnd> bands[2];
    uint32_t appended = 0;  // rows
    bool ok = true;
    for (uint32_t firstItem = 0, turn = 0; ok && appended < m_dwHeight; turn ^= 1) {
        if (firstItem < items) {
            const uint32_t count = std::min(bandItems, items - firstItem);
            StartStoredOnPool(*pool, coding, firstItem, count, bands[turn]);
            firstItem += count;
        }
        std::unique_ptr<BandAhead, BandAheadEnd> before = std::move(bands[turn ^ 1]);
        if (!before) continue;
        ok = AppendRuns(*before, bands[turn].get());
        const uint32_t rows = std::min(m_dwHeight - appended, static_cast<uint32_t>(before->runs.size()) * itemRows);
        appended += rows;
        ok = ok && next(rows);
    }
    // Bands still on the pool end before the rooms and the stored rows do.
    for (auto& band : bands) band.reset();
    if (!ok) {
        Free_Memory();
        return kFailure;
    }
    m_dwHeight = 0;
    return 0;
}
