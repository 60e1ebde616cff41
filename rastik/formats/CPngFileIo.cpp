// libpng read and write callbacks over a CFile. No C++ exception may pass
// through libpng: file failures are caught here and turned into libpng errors
// once the handler is left.
#include "rastik/formats/CPngFileIo.h"

#include <cstdint>

void CPngFileIo::AttachRead(png_structp png)
{
    png_set_read_fn(png, this, ReadData);
}

void CPngFileIo::AttachWrite(png_structp png)
{
    png_set_write_fn(png, this, WriteData, FlushData);
}

void CPngFileIo::Failed(const CFileException& error)
{
    m_writeFailed = true;
    m_writeError = error;
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

void CPngFileIo::WriteData(png_structp png, png_bytep data, size_t length)
{
    auto* self = static_cast<CPngFileIo*>(png_get_io_ptr(png));
    bool written = false;
    try {
        if (length <= UINT32_MAX) {
            self->m_file.Write(data, static_cast<uint32_t>(length));
            written = true;
        }
    } catch (const CFileException& e) {
        self->Failed(e);
    }
    if (!written) png_error(png, "file write failed");
}

void CPngFileIo::FlushData(png_structp png)
{
    auto* self = static_cast<CPngFileIo*>(png_get_io_ptr(png));
    bool flushed = false;
    try {
        self->m_file.Flush();
        flushed = true;
    } catch (const CFileException& e) {
        self->Failed(e);
    }
    if (!flushed) png_error(png, "file write failed");
}
