// One libpng run of the PNG codec, kept apart from the codec's C++ objects:
// libpng reports an error by jumping back to the run's recovery point, so
// the frames it jumps over hold nothing that needs destroying. The run calls
// back into the codec (its row sink) only between libpng calls.
#pragma once

#include <cstdint>

class CPngFileIo;

// Header facts of a PNG file as libpng reports them.
struct PngHead {
    uint32_t Width = 0;
    uint32_t Height = 0;
    uint32_t BitDepth = 0;       // 1, 2, 4, 8 or 16 bits per sample as stored
    uint32_t ColorType = 0;      // 0 grey, 2 RGB, 3 palette, 4 grey + alpha, 6 RGB + alpha
    uint32_t Channels = 0;       // samples per pixel (1 to 4)
    uint32_t Interlace = 0;      // 0 none, 1 Adam7
    uint32_t PaletteEntries = 0;
    uint8_t Palette[3 * 256] = {};  // red, green, blue
    // Physical pixel size (pHYs): pixels per unit, the unit being the metre
    // or unknown (an aspect ratio only).
    bool HasPixelSize = false;
    bool PixelSizeInMetres = false;
    uint32_t XPixelsPerUnit = 0;
    uint32_t YPixelsPerUnit = 0;
};

// The image description of each PNG colour type: colour mode, planes
// (libpng's channel count, alpha last) and colour planes. Palette images of
// 8 bits and fewer read as indexes; written ones are 8-bit with 256 entries.
struct PngColorType {
    uint32_t ColorType;
    uint32_t Mode;
    uint32_t Channels;
    uint32_t Colors;
    // The row of a colour type, or of a mode with a channel count; null when
    // there is none.
    static const PngColorType* Of(uint32_t colorType);
    static const PngColorType* For(uint32_t mode, uint32_t channels);
};

// Where the rows of an interlaced (Adam7) image lie: pass p (0 to 6) holds
// the pixels of rows RowStart + k x RowStep and columns ColumnStart +
// k x ColumnStep.
struct PngPasses {
    static uint32_t RowStart(uint32_t pass);
    static uint32_t RowStep(uint32_t pass);
    static uint32_t ColumnStart(uint32_t pass);
    static uint32_t ColumnStep(uint32_t pass);
    // Whether row of an image of the given width has pixels in pass.
    static bool RowHasPixels(uint32_t row, uint32_t pass, uint32_t width);
    // Rows handed to a sink over all passes (the height when not interlaced).
    static uint64_t RowVisits(uint32_t width, uint32_t height, bool interlaced);
};

// Receiver of the decoded rows of a run.
class PngRowSink {
public:
    virtual ~PngRowSink() = default;
    // Checks the geometry the run decodes; false refuses the run.
    virtual bool Start(const PngHead& head) = 0;
    // One row of width x channels samples, one byte each: 16-bit samples
    // reduced to their high byte, 1-, 2- and 4-bit grey scaled to 0..255,
    // palette indexes one per byte. An interlaced image hands each row over
    // once per pass in which it has pixels, and only that pass's columns are
    // new. False stops the run.
    virtual bool Row(const uint8_t* samples, uint32_t row, uint32_t pass) = 0;
    // Every row wanted was had: the run may end early.
    virtual bool Done() const { return false; }
};

enum PngRunResult { kPngRunFailed = 0, kPngRunDone = 1, kPngRunStopped = 2 };

// Reads the header of the PNG file at the input's position into head; with
// a sink, also decodes the image and hands every row to it. libpng's
// warnings and errors go to the message sink when showMessages is set.
int RunPngRead(CPngFileIo& input, PngHead* head, PngRowSink* sink, bool showMessages);
