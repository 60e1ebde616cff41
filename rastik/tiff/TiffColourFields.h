// The directory fields that say how a TIFF image's samples become colour,
// beyond PhotometricInterpretation, and those of old-style JPEG data
// (compression 6). The decoders that need them find them in their row
// shape (CTiffDecoder.h).
//
// YCbCr: YCbCrSubSampling (tag 530, two SHORTs: horizontal, vertical; 1, 2
// or 4 each, default 2, 2), YCbCrCoefficients (529, three RATIONALs, the
// red, green and blue shares of luma), ReferenceBlackWhite (532, six
// RATIONALs, the black and white codes of Y, Cb and Cr; some writers store
// LONGs). ITULab: Decode (433, six SRATIONALs, the L*, a* and b* ranges).
// Old-style JPEG: JPEGProc (512), JPEGInterchangeFormat (513, an offset)
// and its length (514), JPEGRestartInterval (515), and per component the
// offsets of a quantisation table (519, 64 bytes) and of a DC and an AC
// Huffman table (520, 521: 16 code counts, then the values they count).
#pragma once

#include <cstdint>
#include <vector>

#include "rastik/tiff/CTiffOldJpegStream.h"
#include "rastik/tiff/TiffTags.h"

namespace tiff {

struct TiffColourFields {
    uint32_t subH = 2, subV = 2;
    bool hasCoefficients = false;
    float coefficients[3] = {0.299f, 0.587f, 0.114f};
    bool hasReference = false;
    float referenceBlackWhite[6] = {0, 255, 128, 255, 128, 255};
    bool hasDecode = false;
    double decode[6] = {};

    uint32_t jpegProc = 1;
    bool hasInterchange = false;
    uint32_t interchangeAt = 0, interchangeLength = 0;
    uint32_t restartInterval = 0;
    std::vector<uint32_t> qTables, dcTables, acTables;  // file offsets, one per component

    // Old-style JPEG, made by the read: the bytes of JPEGInterchangeFormat
    // and of the tables, the fields of the frames that refer to them, and
    // for strips the whole image's JPEG stream and the size of its frame
    // (tiles are a frame each, put together as they are decoded).
    std::vector<uint8_t> jpegHead;
    TiffOldJpegFields jpegFields;
    std::vector<uint8_t> jpegStream;
    uint32_t frameWidth = 0, frameHeight = 0;

    const float* Coefficients() const { return hasCoefficients ? coefficients : nullptr; }
    const float* Reference() const { return hasReference ? referenceBlackWhite : nullptr; }
};

}  // namespace tiff
