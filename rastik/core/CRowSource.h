// The rows of one read of an image file, as a codec supplies them: the
// codec makes one source per read (CRastik::OpenRowSource), and the base
// class runs the whole read, the reduced read and the preview from it.
//
// A source starts at the first stored row (Start) and hands its rows to the
// sink the base gives it (Run). Most sources only say how to read the next
// stored row (Read) and, where the format allows it, how to pass over one
// cheaply (Skip); the default Run then reads the rows the sink wants and
// skips the others, in stored order, until the sink has all it wants.
// Decoders that push rows (libjpeg, libpng) override Run and hand each row
// over themselves. Rows come in the layout the source declares (CRowLayout).
//
// Shapes that fit: a format with rows decoded in order whose unwanted rows
// must still be decoded (run-length rows) reads them in Skip and drops them;
// a decoder of row groups (JPEG MCU rows, TIFF strips or rows of tiles)
// decodes a group when Read first reaches it, and decodes nothing for a
// group whose rows the sink does not want (WantsAny); an image embedded in
// another file is read by the embedded format's source, which the outer
// codec hands out as its own (CRastik::RowSourceOf).
#pragma once

#include <cstdint>

#include "rastik/core/CRowBuffer.h"
#include "rastik/core/CRowLayout.h"
#include "rastik/core/CRowSink.h"
#include "rastik/core/CStatus.h"
#include "rastik/support/NonCopyable.h"

class CRowSource : private NonCopyable {
public:
    // Rows of width pixels, height of them stored, in the given layout.
    CRowSource(uint32_t width, uint32_t height, const CRowLayout& layout);
    virtual ~CRowSource();

    const CRowLayout& Layout() const { return m_layout; }
    uint32_t Width() const { return m_width; }
    uint32_t Height() const { return m_height; }

    // Positions at the first stored row (seeks, starts a decoder).
    virtual CStatus Start();
    // Hands the stored rows to sink until it is done or the rows end.
    virtual CStatus Run(CRowSink& sink);
    // After every row went to the sink.
    virtual CStatus Finish();

protected:
    // The next stored row into rows, in the layout: Planes rows of Width
    // bytes, or one interleaved row (Layout().RowBytes bytes when set).
    virtual CStatus Read(uint8_t* const* rows);
    // Passes over the next stored row; by default reads it into a row of
    // the source's own.
    virtual CStatus Skip();
    // The image row of the next stored row: by the layout's order from the
    // rows passed so far; a source of its own order says.
    virtual uint32_t NextRow() const;
    // Stored rows read or skipped so far.
    uint32_t RowsPassed() const { return m_passed; }
    CRowLayout& MutableLayout() { return m_layout; }

private:
    CStatus ReadInto(CRowSink& sink, uint32_t row);
    CStatus SkipPast(CRowSink& sink, uint32_t row);

    uint32_t m_width;
    uint32_t m_height;
    CRowLayout m_layout;
    uint32_t m_passed = 0;
    CRowBuffer m_skipped;  // the rows Skip reads and drops
};
