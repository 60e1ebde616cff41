// The default of the TIFF decoder interface.
#include "rastik/tiff/CTiffDecoder.h"

void CTiffDecoder::SkipRows(uint32_t count, uint8_t* row)
{
    for (uint32_t i = 0; i < count; ++i) DecodeRow(row);
}
