// Colour-mode conversions of whole images, row by row. Grey values use the
// weights 0.3 (red), 0.6 (green) and 0.1 (blue) as doubles, truncated.
#include "rastik/core/CColorConverter.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "rastik/Convert.h"
#include "rastik/General.h"
#include "rastik/core/CColorQuantizer.h"
#include "rastik/core/CPlaneRows.h"
#include "rastik/core/CPooledRows.h"
#include "rastik/support/CPoolScope.h"

namespace {

constexpr double kRedWeight = 0.3;
constexpr double kGreenWeight = 0.6;
constexpr double kBlueWeight = 0.1;

// Pixels a row function converts at a time through buffers of its own.
constexpr uint32_t kPiece = 256;

// Grey of an RGB pixel or palette entry, in the order the RGB rules add it.
inline uint8_t GreyOfRgb(uint8_t r, uint8_t g, uint8_t b)
{
    return static_cast<uint8_t>(kGreenWeight * g + kRedWeight * r + kBlueWeight * b);
}

// Grey of a CMYK pixel after its conversion to RGB, in the order of that rule.
inline uint8_t GreyOfCmykRgb(uint8_t r, uint8_t g, uint8_t b)
{
    return static_cast<uint8_t>(kRedWeight * r + kGreenWeight * g + kBlueWeight * b);
}

// Planes a source of a mode must have.
uint32_t PlanesOfMode(uint32_t mode)
{
    switch (mode) {
    case kModeRgb: return 3;
    case kModeCmyk: return 4;
    default: return 1;
    }
}

}  // namespace

CColorConverter::CColorConverter(CRastik& source, CRastik& target) : m_source(source), m_target(target) {}

bool CColorConverter::HasRule(uint32_t from, uint32_t to)
{
    switch (from) {
    case kModeRgb: return to == kModeGrey || to == kModeCmyk || to == kModeIndexed;
    case kModeCmyk: return to == kModeRgb || to == kModeGrey || to == kModeIndexed;
    case kModeIndexed: return to == kModeGrey || to == kModeRgb || to == kModeCmyk;
    case kModeBitmap: return to == kModeGrey || to == kModeIndexed;
    case kModeGrey: return to == kModeIndexed;
    default: return false;
    }
}

uint32_t CColorConverter::Passes(uint32_t from, uint32_t to)
{
    if (to != kModeIndexed || from == kModeBitmap || from == kModeGrey) return 1;
    return from == kModeCmyk ? 3 : 2;  // (CMYK to RGB,) colour tree, mapping
}

int CColorConverter::Convert(uint32_t mode)
{
    uint32_t from = m_source.ColorMode;
    if (!HasRule(from, mode)) return 0;
    if (m_source.ChannelCount < PlanesOfMode(from) || m_source.Width == 0 || m_source.Height == 0) return 0;
    m_target.SetSize(&m_source);
    m_target.SetMode(mode);
    if (!m_target.AllocChannelSpace()) return 0;
    uint64_t rows = static_cast<uint64_t>(m_source.Height) * Passes(from, mode);
    CRowProgress progress(rows > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(rows));
    m_progress = &progress;
    int result = Dispatch(from, mode);
    m_progress = nullptr;
    return result;
}

int CColorConverter::Dispatch(uint32_t from, uint32_t to)
{
    CRastik& s = m_source;
    CRastik& t = m_target;
    if (from == kModeRgb) {
        if (to == kModeGrey) return RgbToGrey(s, t);
        if (to == kModeCmyk) return RgbToCmyk(s, t);
        return RgbToIndexed(s, t);
    }
    if (from == kModeCmyk) {
        if (to == kModeRgb) return CmykToRgb(s, t);
        if (to == kModeGrey) return CmykToGrey(s, t);
        return CmykToIndexed(s, t);
    }
    if (from == kModeBitmap) return to == kModeGrey ? IndexedToGrey(s, t) : BitmapToIndexed(s, t);
    if (from == kModeGrey) return GreyToIndexed(s, t);
    if (to == kModeGrey) return IndexedToGrey(s, t);
    if (to == kModeRgb) return IndexedToRgb(s, t);
    return IndexedToCmyk(s, t);
}

template <class RowFunction>
int CColorConverter::EachRow(CRastik& from, uint32_t inPlanes, CRastik& to, uint32_t outPlanes, RowFunction fn,
                             bool anyOrder)
{
    CPoolScope scope;
    if (anyOrder && scope.Pool() && OnHeap(from, inPlanes) && OnHeap(to, outPlanes))
        return EachRowOnPool(*scope.Pool(), from, inPlanes, to, outPlanes, fn);
    CPlaneRows in(from, 1);
    CPlaneRows out(to, 1);
    if (!in.Ready() || !out.Ready()) return 0;
    const uint32_t width = from.Width;
    for (uint32_t row = 0; row < from.Height; ++row) {
        const uint8_t* src[4] = {};
        uint8_t* dst[4] = {};
        for (uint32_t c = 0; c < inPlanes; ++c)
            if (!(src[c] = in.Rows(c, row, 1))) return 0;
        for (uint32_t c = 0; c < outPlanes; ++c)
            if (!(dst[c] = out.Target(c, row))) return 0;
        fn(src, dst, width);
        for (uint32_t c = 0; c < outPlanes; ++c)
            if (!out.Store(c, row)) return 0;
        if (m_progress && !m_progress->Step()) return 0;
    }
    return 1;
}

bool CColorConverter::OnHeap(const CRastik& image, uint32_t planes)
{
    for (uint32_t c = 0; c < planes; ++c)
        if (image.ChannelKind[c] != kChannelHeap || !image.ChannelData[c]) return false;
    return true;
}

// Rows of heap planes spread over the pool.
template <class RowFunction>
int CColorConverter::EachRowOnPool(CWorkerPool& pool, CRastik& from, uint32_t inPlanes, CRastik& to,
                                   uint32_t outPlanes, RowFunction& fn)
{
    auto makeRow = [&](uint32_t row) {
        const uint8_t* src[4] = {};
        uint8_t* dst[4] = {};
        const size_t in = static_cast<size_t>(row) * from.BytesPerLine;
        const size_t out = static_cast<size_t>(row) * to.BytesPerLine;
        for (uint32_t c = 0; c < inPlanes; ++c) src[c] = from.ChannelData[c] + in;
        for (uint32_t c = 0; c < outPlanes; ++c) dst[c] = to.ChannelData[c] + out;
        fn(src, dst, from.Width);
    };
    return CPooledRows::Run(pool, from.Height, m_progress, makeRow) ? 1 : 0;
}

void CColorConverter::LoadPalette(const CRastik& image, Palette256& palette)
{
    uint32_t entries = image.Palette ? image.PaletteSize : 0;
    if (entries > 256) entries = 256;
    for (uint32_t i = 0; i < 256; ++i) {
        const uint8_t* e = i < entries ? image.Palette + 4 * i : nullptr;
        palette.Blue[i] = e ? e[0] : 0;
        palette.Green[i] = e ? e[1] : 0;
        palette.Red[i] = e ? e[2] : 0;
    }
    if (image.ColorMode == kModeBitmap && entries == 0)
        palette.Red[1] = palette.Green[1] = palette.Blue[1] = 255;
}

int CColorConverter::RgbToGrey(CRastik& from, CRastik& to)
{
    auto row = [](const uint8_t* const* in, uint8_t* const* out, uint32_t width) {
        const uint8_t* r = in[0];
        const uint8_t* g = in[1];
        const uint8_t* b = in[2];
        uint8_t* grey = out[0];
        for (uint32_t x = 0; x < width; ++x) grey[x] = GreyOfRgb(r[x], g[x], b[x]);
    };
    return EachRow(from, 3, to, 1, row, true);
}

int CColorConverter::RgbToCmyk(CRastik& from, CRastik& to)
{
    const uint32_t stride = from.BytesPerLine;
    auto row = [stride](const uint8_t* const* in, uint8_t* const* out, uint32_t width) {
        ::RgbToCmyk(in[0], in[1], in[2], out[0], out[1], out[2], out[3], stride, stride, width, 1);
    };
    return EachRow(from, 3, to, 4, row, true);
}

int CColorConverter::CmykToRgb(CRastik& from, CRastik& to)
{
    const uint32_t stride = from.BytesPerLine;
    auto row = [stride](const uint8_t* const* in, uint8_t* const* out, uint32_t width) {
        ::CmykToRgb(in[0], in[1], in[2], in[3], out[0], out[1], out[2], stride, stride, width, 1, 0);
    };
    return EachRow(from, 4, to, 3, row, true);
}

// Through RGB pieces of a row, in buffers of the thread converting it.
int CColorConverter::CmykToGrey(CRastik& from, CRastik& to)
{
    const uint32_t stride = from.BytesPerLine;
    auto row = [stride](const uint8_t* const* in, uint8_t* const* out, uint32_t width) {
        uint8_t r[kPiece], g[kPiece], b[kPiece];
        for (uint32_t at = 0; at < width; at += kPiece) {
            const uint32_t n = std::min(kPiece, width - at);
            ::CmykToRgb(in[0] + at, in[1] + at, in[2] + at, in[3] + at, r, g, b, stride, stride, n, 1, 0);
            uint8_t* grey = out[0] + at;
            for (uint32_t x = 0; x < n; ++x) grey[x] = GreyOfCmykRgb(r[x], g[x], b[x]);
        }
    };
    return EachRow(from, 4, to, 1, row, true);
}

int CColorConverter::RgbToIndexed(CRastik& from, CRastik& to)
{
    if (from.ChannelCount < 3 || from.Width > 0x7FFFFFFFu || from.Height > 0x7FFFFFFFu ||
        from.BytesPerLine > 0x7FFFFFFFu)
        return 0;
    CColorQuantizer quantizer;
    const int32_t stride = static_cast<int32_t>(from.BytesPerLine);
    if (!quantizer.SetImage(static_cast<int32_t>(from.Width), static_cast<int32_t>(from.Height), stride)) return 0;
    bool ok = true;
    int pass = EachRow(from, 3, to, 0, [&](const uint8_t* const* in, uint8_t* const*, uint32_t) {
        if (ok && !quantizer.AddPlanes(in[0], in[1], in[2], 1)) ok = false;
    });
    if (!pass || !ok || !quantizer.BuildPalette()) return 0;
    // Each row is mapped on its own (the error diffusion carries along the
    // row only), so rows may be mapped on several threads at once.
    quantizer.PrepareMapping();
    std::atomic<bool> mapped{true};
    auto map = [&](const uint8_t* const* in, uint8_t* const* out, uint32_t) {
        if (!quantizer.MapPlanes(out[0], in[0], in[1], in[2], 1, stride)) mapped = false;
    };
    pass = EachRow(from, 3, to, 1, map, true);
    if (!pass || !mapped) return 0;
    int32_t count = 0;
    const uint8_t* palette = quantizer.GetPalette(&count);
    if (!palette || count <= 0 || count > 256) return 0;
    to.PaletteSize = static_cast<uint32_t>(count);
    return to.SetPalette(palette, static_cast<uint32_t>(count));
}

int CColorConverter::CmykToIndexed(CRastik& from, CRastik& to)
{
    CRastik rgb;
    rgb.SetSize(&from);
    rgb.SetMode(static_cast<uint32_t>(kModeRgb));
    if (!rgb.AllocChannelSpace()) return 0;
    if (!CmykToRgb(from, rgb)) return 0;
    return RgbToIndexed(rgb, to);
}

int CColorConverter::IndexedToGrey(CRastik& from, CRastik& to)
{
    Palette256 p;
    LoadPalette(from, p);
    uint8_t grey[256];
    for (int i = 0; i < 256; ++i) grey[i] = GreyOfRgb(p.Red[i], p.Green[i], p.Blue[i]);
    auto row = [&grey](const uint8_t* const* in, uint8_t* const* out, uint32_t width) {
        const uint8_t* index = in[0];
        uint8_t* g = out[0];
        for (uint32_t x = 0; x < width; ++x) g[x] = grey[index[x]];
    };
    return EachRow(from, 1, to, 1, row, true);
}

int CColorConverter::IndexedToRgb(CRastik& from, CRastik& to)
{
    Palette256 p;
    LoadPalette(from, p);
    auto row = [&p](const uint8_t* const* in, uint8_t* const* out, uint32_t width) {
        const uint8_t* index = in[0];
        for (uint32_t x = 0; x < width; ++x) {
            out[0][x] = p.Red[index[x]];
            out[1][x] = p.Green[index[x]];
            out[2][x] = p.Blue[index[x]];
        }
    };
    return EachRow(from, 1, to, 3, row, true);
}

// Through RGB pieces of a row, in buffers of the thread converting it.
int CColorConverter::IndexedToCmyk(CRastik& from, CRastik& to)
{
    Palette256 p;
    LoadPalette(from, p);
    const uint32_t stride = from.BytesPerLine;
    auto row = [&p, stride](const uint8_t* const* in, uint8_t* const* out, uint32_t width) {
        uint8_t r[kPiece], g[kPiece], b[kPiece];
        for (uint32_t at = 0; at < width; at += kPiece) {
            const uint32_t n = std::min(kPiece, width - at);
            const uint8_t* index = in[0] + at;
            for (uint32_t x = 0; x < n; ++x) {
                r[x] = p.Red[index[x]];
                g[x] = p.Green[index[x]];
                b[x] = p.Blue[index[x]];
            }
            ::RgbToCmyk(r, g, b, out[0] + at, out[1] + at, out[2] + at, out[3] + at, stride, stride, n, 1);
        }
    };
    return EachRow(from, 1, to, 4, row, true);
}

int CColorConverter::BitmapToIndexed(CRastik& from, CRastik& to)
{
    Palette256 p;
    LoadPalette(from, p);
    // Two entries in use; the table is whole, for writers that store 256.
    uint8_t entries[256 * 4] = {};
    for (uint32_t i = 0; i < 2; ++i) {
        entries[4 * i] = p.Blue[i];
        entries[4 * i + 1] = p.Green[i];
        entries[4 * i + 2] = p.Red[i];
    }
    return CopyIndexes(from, to, entries, 2);
}

int CColorConverter::GreyToIndexed(CRastik& from, CRastik& to)
{
    uint8_t ramp[256 * 4] = {};
    for (uint32_t i = 0; i < 256; ++i) ramp[4 * i] = ramp[4 * i + 1] = ramp[4 * i + 2] = static_cast<uint8_t>(i);
    return CopyIndexes(from, to, ramp, 256);
}

int CColorConverter::CopyIndexes(CRastik& from, CRastik& to, const uint8_t* palette, uint32_t entries)
{
    auto row = [](const uint8_t* const* in, uint8_t* const* out, uint32_t width) { memcpy(out[0], in[0], width); };
    int copied = EachRow(from, 1, to, 1, row, true);
    if (!copied || !to.SetPalette(palette, 256)) return 0;
    to.PaletteSize = entries;
    return 1;
}
