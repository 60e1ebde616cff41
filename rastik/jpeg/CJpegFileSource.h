// libjpeg's data source over a byte range of a CFile: a run reads the
// codec's own open file (or an embedded JPEG inside another file) through
// the stand-in layer, so the file stays open with its lock. Data that ends
// early reads as an end-of-image marker, and the source remembers it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <jpeglib.h>

#include "platform/CFile.h"
#include "rastik/support/NonCopyable.h"

class CJpegFileSource : private NonCopyable {
public:
    // length bytes of file from start on (the rest of the file when length
    // runs past its end).
    CJpegFileSource(CFile& file, uint64_t start, uint64_t length);

    // Makes this the source of a decompression object.
    void Attach(j_decompress_ptr cinfo);
    // The data ended before the decoder was done with it.
    bool Exhausted() const { return m_exhausted; }

private:
    static void InitSource(j_decompress_ptr cinfo);
    static boolean FillInputBuffer(j_decompress_ptr cinfo);
    static void SkipInputData(j_decompress_ptr cinfo, long count);
    static void TermSource(j_decompress_ptr cinfo);
    static CJpegFileSource* Of(j_decompress_ptr cinfo);

    // What libjpeg holds: its manager, and the object the callbacks serve.
    struct Manager {
        jpeg_source_mgr pub;
        CJpegFileSource* self;
    };
    Manager m_link{};
    jpeg_source_mgr& m_manager = m_link.pub;
    CFile& m_file;
    uint64_t m_next;
    uint64_t m_end;
    bool m_exhausted = false;
    JOCTET m_buffer[65536];
};
