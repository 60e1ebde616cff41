// Colour-mode conversion of whole images between channel planes: RGB, CMYK
// and indexed sources into grey, RGB, CMYK and indexed targets, bitmap and
// grey sources into the modes formats without them hold, one row at a time
// (indexed targets of colour sources through the colour quantizer).
#pragma once

#include <cstdint>

#include "rastik/CRastik.h"
#include "rastik/core/CRowProgress.h"

class CWorkerPool;

class CColorConverter {
public:
    CColorConverter(CRastik& source, CRastik& target);

    // Whether a rule converts source mode `from` into target mode `to`:
    // RGB to grey, CMYK or indexed; CMYK to RGB, grey or indexed; indexed to
    // grey, RGB or CMYK; bitmap to grey or (two-colour) indexed; grey to
    // indexed (a grey palette). No other pair converts.
    static bool HasRule(uint32_t from, uint32_t to);

    // The target takes the source's size and the mode's channels, gets its
    // planes and receives every converted row; an indexed target also gets
    // its palette. 0 for a pair without a rule, a source without the planes
    // of its mode, a failed allocation or plane access, or Esc.
    int Convert(uint32_t mode);

private:
    struct Palette256 {
        uint8_t Red[256];
        uint8_t Green[256];
        uint8_t Blue[256];
    };

    int Dispatch(uint32_t from, uint32_t to);
    int RgbToGrey(CRastik& from, CRastik& to);
    int RgbToCmyk(CRastik& from, CRastik& to);
    int RgbToIndexed(CRastik& from, CRastik& to);
    int CmykToRgb(CRastik& from, CRastik& to);
    int CmykToGrey(CRastik& from, CRastik& to);
    int CmykToIndexed(CRastik& from, CRastik& to);
    int IndexedToGrey(CRastik& from, CRastik& to);
    int IndexedToRgb(CRastik& from, CRastik& to);
    int IndexedToCmyk(CRastik& from, CRastik& to);
    // The same indexes with a palette: the bitmap's two colours, or for a
    // grey source the grey ramp.
    int BitmapToIndexed(CRastik& from, CRastik& to);
    int GreyToIndexed(CRastik& from, CRastik& to);
    int CopyIndexes(CRastik& from, CRastik& to, const uint8_t* palette, uint32_t entries);

    // Calls fn(in, out, width) for every row with the rows of the first
    // inPlanes source planes and outPlanes target planes. anyOrder: fn may
    // make rows in any order and on several threads at once (heap planes
    // are then split into bands over the conversion's worker pool).
    template <class RowFunction>
    int EachRow(CRastik& from, uint32_t inPlanes, CRastik& to, uint32_t outPlanes, RowFunction fn,
                bool anyOrder = false);
    template <class RowFunction>
    int EachRowOnPool(CWorkerPool& pool, CRastik& from, uint32_t inPlanes, CRastik& to, uint32_t outPlanes,
                      RowFunction& fn);
    static bool OnHeap(const CRastik& image, uint32_t planes);
    // Entries of the source palette as red, green, blue; entries past the
    // palette are black. A bitmap without a palette is black (0) and white (1).
    static void LoadPalette(const CRastik& image, Palette256& palette);
    // Image rows the conversion of this pair walks through (for progress).
    static uint32_t Passes(uint32_t from, uint32_t to);

    CRastik& m_source;
    CRastik& m_target;
    CRowProgress* m_progress = nullptr;
};
