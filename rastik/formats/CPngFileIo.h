// libpng's input and output over the codec's CFile: a run reads or writes
// the open file through the stand-in layer, so the file stays open with its
// lock. A short read and a failed write end the run through libpng's error
// exit; the write failure is kept for the codec to report.
#pragma once

#include <cstddef>

#include <png.h>

#include "platform/CFile.h"
#include "platform/CFileException.h"
#include "rastik/support/NonCopyable.h"

class CPngFileIo : private NonCopyable {
public:
    explicit CPngFileIo(CFile& file) : m_file(file) {}

    // Makes the file the input of a read structure, from the file's current
    // position on, or the output of a write structure.
    void AttachRead(png_structp png);
    void AttachWrite(png_structp png);

    // A write or flush of the file failed, and how.
    bool WriteFailed() const { return m_writeFailed; }
    const CFileException& WriteError() const { return m_writeError; }

private:
    static void ReadData(png_structp png, png_bytep data, size_t length);
    static void WriteData(png_structp png, png_bytep data, size_t length);
    static void FlushData(png_structp png);
    // Records a failed write; libpng's error exit follows outside the handler.
    void Failed(const CFileException& error);

    CFile& m_file;
    bool m_writeFailed = false;
    CFileException m_writeError;
};
