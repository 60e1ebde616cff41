// Bands of the DCT encoder spread over worker threads: runs of MCUs are
// turned into transformed blocks on any thread, and this thread codes the
// blocks in band order as soon as each run is ready, so the scan is the one
// a single thread writes.
#include <memory>
#include <new>

#include "rastik/CDCTFilter.h"
#include "rastik/jpeg/DctCoder.h"
#include "rastik/jpeg/DctMcuBlocks.h"
#include "rastik/support/CWorkerPool.h"

bool CDCTFilter::EncodeMcusOnPool(CWorkerPool& pool, uint32_t mcus)
{
    DctMcuBlocks::Band band{};
    if (m_pMcuRoutine == &CDCTFilter::Encode_NoTransform_MCU1111) band.kind = DctMcuBlocks::kPlain8;
    else if (m_pMcuRoutine == &CDCTFilter::Encode_NoTransform_MCU4114) band.kind = DctMcuBlocks::kPlain16;
    else if (m_pMcuRoutine == &CDCTFilter::Encode_Transform_MCU1111) band.kind = DctMcuBlocks::kYcc8;
    else band.kind = DctMcuBlocks::kYcc16;
    band.components = m_dwComponents;
    band.width = m_dwWidth;
    band.rows = m_dwBandRows;
    band.mcusPerRow = m_dwMcusPerRow;
    for (uint32_t c = 0; c < 4; ++c) band.planes[c] = m_pPlane[c];
    uint32_t order[DctMcuBlocks::kMostBlocks];
    const uint32_t perMcu = DctMcuBlocks::Order(band, order);
    const size_t valuesPerMcu = static_cast<size_t>(perMcu) * 64;
    std::unique_ptr<int32_t[]> blocks(new (std::nothrow) int32_t[valuesPerMcu * mcus]);
    if (!blocks) {
        // Without room for the blocks the band is coded MCU by MCU here.
        for (uint32_t i = 0; i < mcus; ++i)
            if ((this->*m_pMcuRoutine)() != 0) return false;
        return true;
    }
    const uint32_t items = (mcus + kMcusPerItem - 1) / kMcusPerItem;
    int32_t* all = blocks.get();
    auto job = pool.Start(items, [&band, all, valuesPerMcu, mcus](uint32_t item) {
        int32_t area[DctMcuBlocks::kAreaValues];
        const uint32_t end = std::min(mcus, (item + 1) * kMcusPerItem);
        for (uint32_t m = item * kMcusPerItem; m < end; ++m) DctMcuBlocks::Make(band, m, area, all + valuesPerMcu * m);
    });
    bool coded = true;
    for (uint32_t item = 0; item < items && coded; ++item) {
        pool.WaitFor(*job, item);
        const uint32_t end = std::min(mcus, (item + 1) * kMcusPerItem);
        for (uint32_t m = item * kMcusPerItem; m < end && coded; ++m) {
            for (uint32_t b = 0; b < perMcu; ++b) {
                m_pBlock = all + valuesPerMcu * m + 64 * b;
                DctCoder::EncodeBlock(*this, order[b]);
            }
            coded = !m_bMissingCode;
        }
    }
    m_pBlock = m_Block;
    pool.Wait(*job);  // the items use this frame's band and blocks
    m_dwMcuColumn = 0;
    m_dwMcuRow = mcus / m_dwMcusPerRow * m_dwMcuHeight;
    return coded && !job->Failed();
}
