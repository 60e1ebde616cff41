// libjpeg data source reading a CFile range.
#include "rastik/jpeg/CJpegFileSource.h"

#include <jerror.h>


CJpegFileSource::CJpegFileSource(CFile& file, uint64_t start, uint64_t length)
    : m_file(file), m_next(start), m_end(length > UINT64_MAX - start ? UINT64_MAX : start + length)
{
    m_link.self = this;
    m_manager.init_source = InitSource;
    m_manager.fill_input_buffer = FillInputBuffer;
    m_manager.skip_input_data = SkipInputData;
    m_manager.resync_to_restart = jpeg_resync_to_restart;
    m_manager.term_source = TermSource;
}

void CJpegFileSource::Attach(j_decompress_ptr cinfo)
{
    cinfo->src = &m_manager;
}

CJpegFileSource* CJpegFileSource::Of(j_decompress_ptr cinfo)
{
    return reinterpret_cast<Manager*>(cinfo->src)->self;
}

void CJpegFileSource::InitSource(j_decompress_ptr) {}
void CJpegFileSource::TermSource(j_decompress_ptr) {}

boolean CJpegFileSource::FillInputBuffer(j_decompress_ptr cinfo)
{
    CJpegFileSource* self = Of(cinfo);
    uint32_t got = 0;
    if (self->m_next < self->m_end) {
        uint64_t want = self->m_end - self->m_next;
        if (want > sizeof self->m_buffer) want = sizeof self->m_buffer;
        try {
            self->m_file.Seek(static_cast<int64_t>(self->m_next), CFile::begin);
            got = self->m_file.Read(self->m_buffer, static_cast<uint32_t>(want));
        } catch (const CFileException&) {
            got = 0;
        }
        self->m_next += got;
    }
    if (got == 0) {
        // As libjpeg's own sources do: warn, and end the data with an EOI.
        WARNMS(cinfo, JWRN_JPEG_EOF);
        self->m_exhausted = true;
        self->m_buffer[0] = 0xFF;
        self->m_buffer[1] = JPEG_EOI;
        got = 2;
    }
    self->m_manager.next_input_byte = self->m_buffer;
    self->m_manager.bytes_in_buffer = got;
    return TRUE;
}

void CJpegFileSource::SkipInputData(j_decompress_ptr cinfo, long count)
{
    CJpegFileSource* self = Of(cinfo);
    if (count <= 0) return;
    size_t skip = static_cast<size_t>(count);
    while (skip > self->m_manager.bytes_in_buffer) {
        skip -= self->m_manager.bytes_in_buffer;
        self->m_manager.bytes_in_buffer = 0;
        // Whole buffers beyond are passed over without reading them.
        uint64_t left = self->m_end > self->m_next ? self->m_end - self->m_next : 0;
        uint64_t jump = skip < left ? skip : left;
        self->m_next += jump;
        skip -= static_cast<size_t>(jump);
        if (skip == 0) return;
        FillInputBuffer(cinfo);
    }
    self->m_manager.next_input_byte += skip;
    self->m_manager.bytes_in_buffer -= skip;
}
