// The default of the TIFF decoder interface.
#include "rastik/tiff/CTiffDecoder.h"

#include <cstring>

#include "rastik/tiff/CTiffStripBytes.h"

void CTiffDecoder::KeepWindow(CTiffStripBytes& bytes)
{
    m_bytes = &bytes;
    m_at = bytes.Begin();
}

void CTiffDecoder::SkipRows(uint32_t count, uint8_t* row)
{
    for (uint32_t i = 0; i < count; ++i) DecodeRow(row);
}

void CTiffDecoder::DecodeRows(uint8_t* rows, uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i, rows += m_rowBytes) {
        uint8_t* row = DecodeRow(rows);
        if (row != rows) memcpy(rows, row, m_rowBytes);
    }
}
