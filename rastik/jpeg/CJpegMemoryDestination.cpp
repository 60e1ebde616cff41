// libjpeg data destination into a growing memory buffer.
#include "rastik/jpeg/CJpegMemoryDestination.h"

#include <cstdlib>

#include <jerror.h>

namespace {
constexpr size_t kFirstBytes = 65536;
// A thumbnail is small; a run that passes this is refused.
constexpr size_t kMostBytes = 0x7FFF0000u;
}  // namespace

CJpegMemoryDestination::CJpegMemoryDestination()
{
    m_link.self = this;
    m_manager.init_destination = InitDestination;
    m_manager.empty_output_buffer = EmptyOutputBuffer;
    m_manager.term_destination = TermDestination;
}

CJpegMemoryDestination::~CJpegMemoryDestination()
{
    free(m_data);
}

void CJpegMemoryDestination::Attach(j_compress_ptr cinfo)
{
    cinfo->dest = &m_manager;
}

CJpegMemoryDestination* CJpegMemoryDestination::Of(j_compress_ptr cinfo)
{
    return reinterpret_cast<Manager*>(cinfo->dest)->self;
}

bool CJpegMemoryDestination::Grow()
{
    size_t capacity = m_capacity ? m_capacity * 2 : kFirstBytes;
    if (capacity > kMostBytes) return false;
    auto* data = static_cast<uint8_t*>(realloc(m_data, capacity));
    if (!data) return false;
    m_data = data;
    m_manager.next_output_byte = m_data + m_capacity;
    m_manager.free_in_buffer = capacity - m_capacity;
    m_capacity = capacity;
    return true;
}

void CJpegMemoryDestination::InitDestination(j_compress_ptr cinfo)
{
    CJpegMemoryDestination* self = Of(cinfo);
    self->m_size = 0;
    if (!self->m_data && !self->Grow()) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
    self->m_manager.next_output_byte = self->m_data;
    self->m_manager.free_in_buffer = self->m_capacity;
}

boolean CJpegMemoryDestination::EmptyOutputBuffer(j_compress_ptr cinfo)
{
    // libjpeg calls this with the whole buffer full.
    if (!Of(cinfo)->Grow()) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
    return TRUE;
}

void CJpegMemoryDestination::TermDestination(j_compress_ptr cinfo)
{
    CJpegMemoryDestination* self = Of(cinfo);
    self->m_size = self->m_capacity - self->m_manager.free_in_buffer;
}
