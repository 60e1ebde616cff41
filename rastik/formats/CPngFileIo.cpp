// libpng's read callback over a CFile. No C++ exception may pass through
// libpng: file failures are caught here and turned into libpng errors once
// the handler is left.
#include "rastik/formats/CPngFileIo.h"

#include <cstdint>

void CPngFileIo::AttachRead(png_structp png)
{
    png_set_read_fn(png, this, ReadData);
}

void CPngFileIo::ReadData(png_structp png, png_bytep data, size_t length)
{
    auto* self = static_cast<CPngFileIo*>(png_get_io_ptr(png));
    bool complete = false;
    try {
        complete = length <= UINT32_MAX && self->m_file.Read(data, static_cast<uint32_t>(length)) == length;
    } catch (const CFileException&) {
        complete = false;
    }
    if (!complete) png_error(png, "file ends before the image does");
}
