// Bilinear resampling of every channel plane of an image into a target
// image of another size. Planes of palette indexes (bitmap and indexed
// images) take the nearest of the four source samples instead, since a blend
// of two indexes is an unrelated palette entry.
#pragma once

#include <cstdint>
#include <memory>

#include "rastik/CRastik.h"
#include "rastik/support/NonCopyable.h"

class CFollowingRows;
class CReadFollower;
class CRowProgress;
class CWorkerPool;

class CResampler : private NonCopyable {
public:
    CResampler(CRastik& source, CRastik& target);
    ~CResampler();

    // The target takes width x height, the source's mode, palette and codec
    // settings, gets its planes and receives every plane resampled. 0 when
    // the planes or work tables cannot be had, a plane row cannot be moved,
    // or Esc was pressed.
    int Resample(uint32_t width, uint32_t height);

    // Resampling that follows the whole read of the source: the target
    // takes its description and planes now, before the read. With source
    // and target planes all on the heap, bands of target rows are then made
    // on the pool while the read goes on (Follower, for the source's
    // FollowRead), else all of them after it. 0 as Resample.
    int Follow(CWorkerPool& pool, uint32_t width, uint32_t height);
    // What the source's read should tell, or null when the rows wait for Complete.
    CReadFollower* Follower() const;
    // Target rows made from the top while the read goes on (0 when the rows
    // wait for Complete); on the reading thread.
    uint32_t RowsMade() const;
    // After the read: the rows left, and the wait for every band. 0 when the
    // read failed, or as Resample.
    int Complete(bool readSucceeded);

private:
    // The target's description and planes, and the column tables.
    int Begin(uint32_t width, uint32_t height);
    // Every plane's rows, after the source was read.
    int MakeRows();
    // The settings and mode the target takes from the source.
    int TakeSettings();
    int PrepareTarget(uint32_t width, uint32_t height);
    int BuildColumns();
    // Source row position of target row j: row y0 and the weight fy of row y0 + 1.
    void RowPosition(uint32_t j, uint32_t& y0, double& fy) const;
    // One target row from source rows s0 and s1 (s1 null on the last source row).
    void BlendRow(const uint8_t* s0, const uint8_t* s1, double fy, uint8_t* out) const;
    // The same with the nearest sample: column x1 when fx >= 0.5, row s1 when fy >= 0.5.
    void NearestRow(const uint8_t* s0, const uint8_t* s1, double fy, uint8_t* out) const;

    // Target row j of heap plane c, straight from the source plane.
    void MakeRow(uint32_t c, uint32_t j) const;
    // Source rows 0 .. n - 1 that target row j is made from.
    uint32_t RowsNeeded(uint32_t j) const;
    // Every plane of heap images in bands spread over the pool.
    int ResampleOnPool(CWorkerPool& pool, CRowProgress& progress);

    CRastik& m_source;
    CRastik& m_target;
    // Per target column: left and right source column and weight of the right one.
    uint32_t* m_x0 = nullptr;
    uint32_t* m_x1 = nullptr;
    double* m_fx = nullptr;
    bool m_indexes = false;
    std::unique_ptr<CFollowingRows> m_following;
};
