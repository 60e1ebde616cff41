// One libjpeg run of the JPEG codec, kept apart from the codec's C++ objects:
// libjpeg reports a fatal error by jumping back to a recovery point, so the
// frames it jumps over must hold nothing that needs destroying. The runs call
// back into the codec only between libjpeg calls.
#pragma once

#include <cstdint>

#include "platform/CFile.h"

class CJpegMemoryDestination;

// Header facts of a JPEG file as libjpeg reports them.
struct JpegHead {
    uint32_t Width = 0;
    uint32_t Height = 0;
    uint32_t Components = 0;
    uint32_t DensityUnit = 0;  // JFIF: 0 aspect ratio only, 1 per inch, 2 per centimetre
    uint32_t XDensity = 0;
    uint32_t YDensity = 0;
    // Bytes the entropy-coded data takes at least. Sequential Huffman
    // coding gives every block of every component a DC difference of at
    // least one bit; 0 where the data may be smaller (arithmetic coding,
    // progressive scans that may be missing).
    uint64_t LeastDataBytes = 0;
};

// Receiver of the decoded scanlines of a run.
class JpegRowSink {
public:
    virtual ~JpegRowSink() = default;
    // Output geometry after decompression started; false refuses the run.
    virtual bool Start(const JpegHead& output) = 0;
    // One scanline of interleaved samples (width x components bytes); false stops.
    virtual bool Row(const uint8_t* samples, uint32_t row) = 0;
    // count scanlines from row on, all equal to samples (the rest of an image
    // whose data ran out); a sink that can skip rows does it faster.
    virtual bool Repeat(const uint8_t* samples, uint32_t row, uint32_t count)
    {
        for (uint32_t i = 0; i < count; ++i)
            if (!Row(samples, row + i)) return false;
        return true;
    }
};

// Supplier of the RGB scanlines of a compression run.
class JpegRowSource {
public:
    virtual ~JpegRowSource() = default;
    // Fills scanline row (width x 3 bytes, red, green, blue); false stops.
    virtual bool Row(uint8_t* samples, uint32_t row) = 0;
};

enum JpegRunResult { kJpegRunFailed = 0, kJpegRunDone = 1, kJpegRunStopped = 2 };

// Reads the header of the JPEG in length bytes of file from start on into
// head; with a sink, also decodes the image with libjpeg's defaults (grey
// stays grey, three components come out as RGB, four as CMYK) and hands
// every scanline to it. libjpeg's warnings and errors go to the message
// sink when showMessages is set.
int RunJpegDecompress(CFile& file, uint64_t start, uint64_t length, JpegHead* head, JpegRowSink* sink,
                      bool showMessages);

// Writes a baseline JPEG of width x height RGB pixels at the given quality
// (libjpeg defaults otherwise) into out, rows taken from source.
int RunJpegCompress(CJpegMemoryDestination& out, uint32_t width, uint32_t height, int quality,
                    JpegRowSource* source, bool showMessages);
