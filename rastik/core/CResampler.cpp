// Bilinear resampling. Target row j lies at y = j · (H − 1) / (h − 1) and
// column k at x = k · (W − 1) / (w − 1) of the source (0 for a target of one
// row or column); a sample is
//   ((S[y0][x0]·(1 − fx) + fx·S[y0][x1])·(1 − fy) + fy·((1 − fx)·S[y0+1][x0] + fx·S[y0+1][x1]))
// truncated, with x1 = x0 + 1 held inside the row, and only the horizontal
// blend on the last source row. Planes of palette indexes (bitmap and indexed
// modes) take the nearest of the four samples, rounding x and y. Columns are
// worked out once; source rows are taken two at a time, target rows written
// one at a time. With heap planes on both sides and a worker pool, bands of
// target rows are made on several threads at once; every row is the same
// function of the source whichever thread makes it. Following a read, a row
// is made as soon as its two source rows are final.
#include "rastik/core/CResampler.h"

#include <cstdlib>

#include "rastik/General.h"
#include "rastik/core/CFollowingRows.h"
#include "rastik/core/CPlaneRows.h"
#include "rastik/core/CPooledRows.h"
#include "rastik/core/CRowProgress.h"
#include "rastik/support/CPoolScope.h"

namespace {

bool AllPlanesOnHeap(const CRastik& image, uint32_t planes)
{
    for (uint32_t c = 0; c < planes; ++c)
        if (image.ChannelKind[c] != kChannelHeap || !image.ChannelData[c]) return false;
    return true;
}

}  // namespace

CResampler::CResampler(CRastik& source, CRastik& target) : m_source(source), m_target(target) {}

CResampler::~CResampler()
{
    m_following.reset();  // waits for the bands handed out
    free(m_x0);
    free(m_x1);
    free(m_fx);
}

int CResampler::TakeSettings()
{
    CRastik& s = m_source;
    CRastik& t = m_target;
    t.SetMode(&s);
    if (s.Palette && s.PaletteSize && !t.Palette) return 0;
    t.WritePreview = s.WritePreview;
    t.IntelByteOrder = s.IntelByteOrder;
    t.EscPressed = s.EscPressed;
    t.PrevIsBgr = s.PrevIsBgr;
    t.MaxPrevSize = s.MaxPrevSize;
    t.Compression = s.Compression;
    t.JpegQuality = s.JpegQuality;
    return 1;
}

int CResampler::PrepareTarget(uint32_t width, uint32_t height)
{
    CRastik& t = m_target;
    t.Width = width;
    t.Height = height;
    if (!TakeSettings() || width > 0x1FFFFFFFu) return 0;
    t.BytesPerLine = BytesPerRow(width * 8);
    return t.AllocChannelSpace();
}

int CResampler::BuildColumns()
{
    const uint32_t w = m_target.Width;
    const uint32_t W = m_source.Width;
    m_x0 = static_cast<uint32_t*>(malloc(sizeof(uint32_t) * w));
    m_x1 = static_cast<uint32_t*>(malloc(sizeof(uint32_t) * w));
    m_fx = static_cast<double*>(malloc(sizeof(double) * w));
    if (!m_x0 || !m_x1 || !m_fx) return 0;
    for (uint32_t k = 0; k < w; ++k) {
        double x = w > 1 ? static_cast<double>(k) * static_cast<double>(W - 1) / static_cast<double>(w - 1) : 0.0;
        uint32_t x0 = static_cast<uint32_t>(x);
        if (x0 > W - 1) x0 = W - 1;
        m_x0[k] = x0;
        m_x1[k] = x0 + 1 < W ? x0 + 1 : x0;
        m_fx[k] = x - x0;
    }
    return 1;
}

void CResampler::RowPosition(uint32_t j, uint32_t& y0, double& fy) const
{
    const uint32_t h = m_target.Height;
    const uint32_t H = m_source.Height;
    double y = h > 1 ? static_cast<double>(j) * static_cast<double>(H - 1) / static_cast<double>(h - 1) : 0.0;
    y0 = static_cast<uint32_t>(y);
    if (y0 > H - 1) y0 = H - 1;
    fy = y - y0;
}

void CResampler::BlendRow(const uint8_t* s0, const uint8_t* s1, double fy, uint8_t* out) const
{
    const uint32_t w = m_target.Width;
    const uint32_t* x0 = m_x0;
    const uint32_t* x1 = m_x1;
    const double* fx = m_fx;
    if (!s1) {
        for (uint32_t k = 0; k < w; ++k)
            out[k] = static_cast<uint8_t>(s0[x0[k]] * (1 - fx[k]) + fx[k] * s0[x1[k]]);
        return;
    }
    const double gy = 1 - fy;
    for (uint32_t k = 0; k < w; ++k) {
        const double f = fx[k];
        const double g = 1 - f;
        const double top = s0[x0[k]] * g + f * s0[x1[k]];
        const double bottom = g * s1[x0[k]] + f * s1[x1[k]];
        out[k] = static_cast<uint8_t>(top * gy + fy * bottom);
    }
}

void CResampler::NearestRow(const uint8_t* s0, const uint8_t* s1, double fy, uint8_t* out) const
{
    const uint8_t* row = s1 && fy >= 0.5 ? s1 : s0;
    const uint32_t w = m_target.Width;
    for (uint32_t k = 0; k < w; ++k) out[k] = row[m_fx[k] >= 0.5 ? m_x1[k] : m_x0[k]];
}

void CResampler::MakeRow(uint32_t c, uint32_t j) const
{
    uint32_t y0 = 0;
    double fy = 0;
    RowPosition(j, y0, fy);
    const size_t stride = m_source.BytesPerLine;
    const uint8_t* rows = m_source.ChannelData[c] + y0 * stride;
    const uint8_t* next = y0 >= m_source.Height - 1 ? nullptr : rows + stride;
    uint8_t* target = m_target.ChannelData[c] + static_cast<size_t>(j) * m_target.BytesPerLine;
    if (m_indexes) NearestRow(rows, next, fy, target);
    else BlendRow(rows, next, fy, target);
}

uint32_t CResampler::RowsNeeded(uint32_t j) const
{
    uint32_t y0 = 0;
    double fy = 0;
    RowPosition(j, y0, fy);
    return y0 >= m_source.Height - 1 ? m_source.Height : y0 + 2;
}

int CResampler::ResampleOnPool(CWorkerPool& pool, CRowProgress& progress)
{
    for (uint32_t c = 0; c < m_target.ChannelCount; ++c)
        if (!CPooledRows::Run(pool, m_target.Height, &progress, [this, c](uint32_t j) { MakeRow(c, j); })) return 0;
    return 1;
}

int CResampler::Begin(uint32_t width, uint32_t height)
{
    if (m_source.Width == 0 || m_source.Height == 0 || width == 0 || height == 0) return 0;
    if (!PrepareTarget(width, height) || !BuildColumns()) return 0;
    m_indexes = m_source.ColorMode == kModeBitmap || m_source.ColorMode == kModeIndexed;
    return 1;
}

int CResampler::Resample(uint32_t width, uint32_t height)
{
    return Begin(width, height) ? MakeRows() : 0;
}

int CResampler::Follow(CWorkerPool& pool, uint32_t width, uint32_t height)
{
    if (!Begin(width, height)) return 0;
    const uint32_t planes = m_target.ChannelCount;
    if (AllPlanesOnHeap(m_source, planes) && AllPlanesOnHeap(m_target, planes))
        m_following = std::make_unique<CFollowingRows>(
            pool, height, [this](uint32_t j) { return RowsNeeded(j); },
            [this, planes](uint32_t j) {
                for (uint32_t c = 0; c < planes; ++c) MakeRow(c, j);
            });
    return 1;
}

CReadFollower* CResampler::Follower() const
{
    return m_following.get();
}

uint32_t CResampler::RowsMade() const
{
    return m_following ? m_following->RowsMade() : 0;
}

int CResampler::Complete(bool readSucceeded)
{
    // The read may have completed the source's description (a palette).
    const uint32_t planes = m_target.ChannelCount;
    if (readSucceeded && (!TakeSettings() || m_target.ChannelCount != planes)) readSucceeded = false;
    if (!m_following) return readSucceeded ? MakeRows() : 0;
    uint64_t total = static_cast<uint64_t>(planes) * m_target.Height;
    CRowProgress progress(total > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(total));
    bool made = m_following->Finish(readSucceeded, progress, planes);
    m_following.reset();
    return made ? 1 : 0;
}

int CResampler::MakeRows()
{
    const uint32_t planes = m_target.ChannelCount;
    const uint32_t height = m_target.Height;
    uint64_t total = static_cast<uint64_t>(planes) * height;
    CRowProgress progress(total > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(total));
    CPoolScope scope;
    if (scope.Pool() && AllPlanesOnHeap(m_source, planes) && AllPlanesOnHeap(m_target, planes))
        return ResampleOnPool(*scope.Pool(), progress);
    CPlaneRows in(m_source, 2);
    CPlaneRows out(m_target, 1);
    if (!in.Ready() || !out.Ready()) return 0;
    const uint32_t H = m_source.Height;
    const uint32_t stride = m_source.BytesPerLine;
    for (uint32_t c = 0; c < planes; ++c) {
        for (uint32_t j = 0; j < height; ++j) {
            uint32_t y0 = 0;
            double fy = 0;
            RowPosition(j, y0, fy);
            bool lastRow = y0 >= H - 1;
            const uint8_t* rows = in.Rows(c, y0, lastRow ? 1 : 2);
            uint8_t* target = out.Target(c, j);
            if (!rows || !target) return 0;
            const uint8_t* next = lastRow ? nullptr : rows + stride;
            if (m_indexes) NearestRow(rows, next, fy, target);
            else BlendRow(rows, next, fy, target);
            if (!out.Store(c, j) || !progress.Step()) return 0;
        }
    }
    return 1;
}
