// libjpeg's data destination into memory: a compression run (the embedded
// thumbnail) leaves its JPEG in a growing buffer instead of a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <jpeglib.h>
#include "rastik/support/NonCopyable.h"

class CJpegMemoryDestination : private NonCopyable {
public:
    CJpegMemoryDestination();
    ~CJpegMemoryDestination();

    // Makes this the destination of a compression object.
    void Attach(j_compress_ptr cinfo);
    // The JPEG written, valid after the run finished.
    const uint8_t* Data() const { return m_data; }
    size_t Size() const { return m_size; }

private:
    static void InitDestination(j_compress_ptr cinfo);
    static boolean EmptyOutputBuffer(j_compress_ptr cinfo);
    static void TermDestination(j_compress_ptr cinfo);
    static CJpegMemoryDestination* Of(j_compress_ptr cinfo);
    // Makes room for at least one more buffer's worth; false without memory.
    bool Grow();

    // What libjpeg holds: its manager, and the object the callbacks serve.
    struct Manager {
        jpeg_destination_mgr pub;
        CJpegMemoryDestination* self;
    };
    Manager m_link{};
    jpeg_destination_mgr& m_manager = m_link.pub;
    uint8_t* m_data = nullptr;
    size_t m_capacity = 0;
    size_t m_size = 0;
};
