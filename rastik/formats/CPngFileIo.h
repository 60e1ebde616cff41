// libpng's input over the codec's CFile: a run reads the open file through
// the stand-in layer, so the file stays open with its lock. A short read
// ends the run through libpng's error exit.
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
    // position on.
    void AttachRead(png_structp png);

private:
    static void ReadData(png_structp png, png_bytep data, size_t length);

    CFile& m_file;
};
