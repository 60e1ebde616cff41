// Bands of the DCT encoder spread over worker threads. The band's MCUs are
// cut into runs; each run is transformed and Huffman-coded on any thread
// into bits of its own, without byte stuffing, starting from the DC
// predictors that the MCU before the run leaves (that MCU is transformed
// again for them). This thread then appends the runs' bits to the scan in
// band order through the filter's own packer, which stuffs and flushes, so
// the scan is bit for bit the one a single thread writes. A band may be
// left coding on the pool while this thread goes on; its bits are appended
// before anything else enters the scan.
#include <algorithm>
#include <memory>
#include <new>
#include <vector>

#include "rastik/CDCTFilter.h"
#include "rastik/jpeg/DctCoder.h"
#include "rastik/jpeg/DctMcuBlocks.h"
#include "rastik/support/CWorkerPool.h"

namespace {

// The coded bits of one run of MCUs, most significant bit first.
struct CodedRun {
    std::vector<uint8_t> bytes;
    uint32_t bits = 0;         // valid bits in bytes
    int32_t predictor[4] = {};  // DC predictors after the run
    bool coded = true;          // every symbol had a code
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

DctMcuBlocks::Band BandOf(uint32_t kind, uint32_t components, uint32_t width, uint32_t rows, uint32_t mcusPerRow,
                          const uint8_t* const* planes)
{
    DctMcuBlocks::Band band{};
    band.kind = static_cast<DctMcuBlocks::Kind>(kind);
    band.components = components;
    band.width = width;
    band.rows = rows;
    band.mcusPerRow = mcusPerRow;
    for (uint32_t c = 0; c < 4; ++c) band.planes[c] = planes[c];
    return band;
}

}  // namespace

struct CDCTFilter::BandAhead {
    CWorkerPool& pool;
    uint32_t mcus;
    std::vector<CodedRun> runs;
    std::shared_ptr<CWorkerPool::CJob> job;

    BandAhead(CWorkerPool& p, uint32_t m, uint32_t items) : pool(p), mcus(m), runs(items) {}
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

void CDCTFilter::StartMcusOnPool(CWorkerPool& pool, uint32_t mcus)
{
    uint32_t kind = DctMcuBlocks::kYcc16;
    if (m_pMcuRoutine == &CDCTFilter::Encode_NoTransform_MCU1111) kind = DctMcuBlocks::kPlain8;
    else if (m_pMcuRoutine == &CDCTFilter::Encode_NoTransform_MCU4114) kind = DctMcuBlocks::kPlain16;
    else if (m_pMcuRoutine == &CDCTFilter::Encode_Transform_MCU1111) kind = DctMcuBlocks::kYcc8;
    const DctMcuBlocks::Band band = BandOf(kind, m_dwComponents, m_dwWidth, m_dwBandRows, m_dwMcusPerRow, m_pPlane);
    struct Order {
        uint32_t component[DctMcuBlocks::kMostBlocks];
        uint32_t blocks;
        int32_t start[4];
    } order{};
    order.blocks = DctMcuBlocks::Order(band, order.component);
    for (uint32_t c = 0; c < 4; ++c) order.start[c] = m_DCPredictor[c];
    const uint32_t items = (mcus + kMcusPerItem - 1) / kMcusPerItem;
    m_pAhead.reset(new BandAhead(pool, mcus, items));
    CodedRun* runs = m_pAhead->runs.data();
    const CDCTFilter& self = *this;
    m_pAhead->job = pool.Start(items, [band, order, mcus, runs, &self](uint32_t item) {
        // The run is coded into locals and stored at its end: runs lie side
        // by side, and stores into them on every block would bounce their
        // shared cache lines between the threads coding neighbouring runs.
        CodedRun local;
        const uint32_t perMcu = order.blocks;
        std::vector<int32_t> blocks(static_cast<size_t>(perMcu) * 64);
        int32_t area[DctMcuBlocks::kAreaValues];
        const uint32_t first = item * kMcusPerItem;
        const uint32_t end = std::min(mcus, first + kMcusPerItem);
        for (uint32_t c = 0; c < 4; ++c) local.predictor[c] = order.start[c];
        if (first > 0) {
            DctMcuBlocks::Make(band, first - 1, area, blocks.data());
            for (uint32_t b = 0; b < perMcu; ++b)
                local.predictor[order.component[b]] =
                    DctCoder::QuantisedDc(self, order.component[b], blocks.data() + 64 * b);
        }
        DctCoder::WideBits bits{0, 64};
        RunSink sink{local.bytes};
        for (uint32_t m = first; m < end; ++m) {
            DctMcuBlocks::Make(band, m, area, blocks.data());
            for (uint32_t b = 0; b < perMcu; ++b) {
                const uint32_t c = order.component[b];
                if (!DctCoder::CodeBlock(self, c, blocks.data() + 64 * b, local.predictor[c], bits, sink))
                    local.coded = false;
            }
        }
        sink.End();
        local.bits = static_cast<uint32_t>(local.bytes.size() * 8) + (64 - bits.free);
        for (uint32_t left = 64 - bits.free; left > 0; left = left > 8 ? left - 8 : 0, bits.acc <<= 8)
            local.bytes.push_back(static_cast<uint8_t>(bits.acc >> 56));
        runs[item] = std::move(local);
    });
    m_dwMcuColumn = 0;
    m_dwMcuRow = mcus / m_dwMcusPerRow * m_dwMcuHeight;
}

bool CDCTFilter::AppendAhead()
{
    if (!m_pAhead) return true;
    std::unique_ptr<BandAhead, BandAheadEnd> ahead = std::move(m_pAhead);
    CWorkerPool::CJob& job = *ahead->job;
    bool coded = true;
    for (uint32_t item = 0; item < job.Count(); ++item) {
        ahead->pool.WaitFor(job, item);
        if (job.Failed()) break;
        AppendBits(ahead->runs[item].bytes.data(), ahead->runs[item].bits);
        coded = coded && ahead->runs[item].coded;
    }
    ahead->pool.Wait(job);
    if (job.Failed()) return false;
    for (uint32_t c = 0; c < 4; ++c) m_DCPredictor[c] = ahead->runs.back().predictor[c];
    if (!coded) m_bMissingCode = true;
    return coded;
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
