// The rows of an uncompressed 24-bit bitmap taken straight from its file,
// by position, from any thread at once.
#pragma once

#include <cstdint>

#include "rastik/CStoredRows.h"

class CFile;

class CBmpStoredRows final : public CStoredRows {
public:
    // Rows of width pixels in rowBytes bytes from dataOffset on, bottom-up
    // unless topDown; the file must hold all height of them.
    CBmpStoredRows(const CFile& file, uint64_t dataOffset, uint32_t rowBytes, uint32_t width, uint32_t height,
                   bool topDown);

    size_t ScratchBytes(uint32_t rows) const override;
    bool Take(uint32_t first, uint32_t rows, uint8_t* const* planes, size_t stride,
              uint8_t* scratch) const override;

private:
    // Notes a Take that failed; false.
    bool Failure() const;
    // Where the image's row y lies in the file.
    uint64_t RowOffset(uint32_t y) const;

    const CFile& m_file;
    uint64_t m_dataOffset;
    uint32_t m_rowBytes;
    uint32_t m_width;
    uint32_t m_height;
    bool m_topDown;
};
