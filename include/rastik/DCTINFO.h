// Parameter record of the DCT codec: what a caller hands to the encoder's
// header step, and what the decoder's header step reports.
#pragma once

#include <cstdint>

struct DCTINFO {
    uint32_t dwWidth = 0;       // image width in pixels
    uint32_t dwHeight = 0;      // image height in pixels
    uint32_t dwComponents = 0;  // number of components, 1..4
    // Encode: horizontal / vertical sampling factor (1 or 2) per component,
    // or null. They only choose between the 8 x 8 and the 16 x 16 MCU.
    const uint8_t* pHSampling = nullptr;
    const uint8_t* pVSampling = nullptr;
    // Encode: per component a 64-byte quantisation table in zig-zag order,
    // or null for the built-in tables.
    const uint8_t* const* ppQuantTables = nullptr;
    // Encode: factor applied to every quantisation entry (at least 0; 0 gives
    // tables of all ones). Decode sets 0.
    double dQuantScale = 0.0;
    // Encode: per component a pair of Huffman tables, entry 2c the DC table
    // and entry 2c + 1 the AC table of component c, each 16 code-length counts
    // followed by the symbols; or null for the built-in tables.
    const uint8_t* const* pHuffTables = nullptr;
    uint32_t dwTransform = 0;    // colour transform on (non-zero) or off; decode sets 1
    uint32_t dwThumbnail = 0;    // decode: 1 when the JFIF segment announces a thumbnail
    int32_t dwDensityUnit = 0;   // decode: JFIF density unit; -1 when none was seen
    uint32_t dwXDensity = 0;     // horizontal density
    uint32_t dwYDensity = 0;     // vertical density
    int32_t dwPreviewWidth = 0;  // encode: width of the embedded preview
    int32_t dwPreviewHeight = 0; // encode: height of the embedded preview
    // Encode: path of a JPEG file embedded as Photoshop thumbnail, or null.
    const char* pszPreviewFile = nullptr;
};
