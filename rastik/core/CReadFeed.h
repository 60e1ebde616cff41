// The feed of a writer that follows a conversion's read: the whole read of
// the source into its planes, which the target borrows, or the read and the
// resampling of the target's rows that follows it on the workers. The writer
// is told the rows final as the read fills the planes from the top, or as
// bands of target rows are made; a read that cannot tell (bottom-up,
// spilled planes) makes every row final at its end.
#pragma once

#include <cstdint>
#include <functional>

#include "rastik/core/CReadFollower.h"
#include "rastik/core/CRowFeed.h"
#include "rastik/support/NonCopyable.h"

class CRastik;
class CResampler;

class CReadFeed final : public CRowFeed, private CReadFollower, private NonCopyable {
public:
    // The read of the source's planes, with source's FollowRead set; true
    // when every row was read.
    using Read = std::function<bool()>;

    // The target borrows the source's planes: their rows are the writer's.
    CReadFeed(CRastik& source, Read read);
    // The writer's rows are the resampler's, which follows the read.
    CReadFeed(CRastik& source, Read read, CResampler& resampler);

    bool Run(const Final& final) override;
    // Whether the read itself failed (not the resampling).
    bool ReadFailed() const { return m_readFailed; }

private:
    void RowsFinal(uint32_t rows) noexcept override;

    CRastik& m_source;
    const Read m_read;
    CResampler* m_resampler = nullptr;
    const Final* m_final = nullptr;
    bool m_readFailed = false;
};
