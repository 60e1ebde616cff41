// Reads one image file with one codec type the way a host does: a codec
// from the factory, File opened read-only with deny-write sharing,
// ReadImageHead, then BytesPerLine = BytesPerRow(Width x 8),
// AllocChannelSpace and ReadImageData (of a TIFF file, one page of those
// GetPageCount counts) (planes in memory or spilled; the
// colour planes only, when asked; a GIF's transparency mask plane in the
// host's memory, when asked); or,
// each on a codec of its own, ReadReducedData into planes the host
// allocated, or ReadPrevImageData. A preview larger than asked for is
// reported as a fault.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class CRastik;

class CImageReadHost {
public:
    // What the host asks for, chosen per input.
    struct Choices {
        bool spill = false;            // planes in the temporary file, staged a few rows at a time
        uint16_t reducedSize = 32;     // longest side of the reduced read
        uint16_t previewSize = 96;     // MaxPrevSize of the preview
        bool colourOnly = false;       // UseColorChannels when the image has extra channels
        bool mask = false;             // a mask plane for a transparent colour
        uint8_t page = 0;              // of a TIFF file: this page modulo the pages it holds
    };
    static Choices ChoicesFor(const uint8_t* data, size_t size);

    // A whole read is made only of images of at most this many samples: it
    // takes time in proportion to the pixels the header declares, as it
    // must, while reduced reads and previews take time in proportion to
    // what the file holds.
    static constexpr uint64_t kWholeReadSamples = 1u << 22;

    CImageReadHost(unsigned type, std::string path, const Choices& choices);

    // Header, whole read, reduced read and preview, each on a fresh codec.
    void ReadAll();
    // Header and clip paths (ReadPath) as the tools read them; every node of
    // the path list is then read.
    bool ReadPaths();
    // Each returns the operation's result (false too when the header failed).
    bool ReadWhole();
    bool ReadReduced();
    bool ReadPreview();

private:
    // A new codec with its File open and the header read, or null.
    std::unique_ptr<CRastik> OpenCodec() const;

    unsigned m_type;
    std::string m_path;
    Choices m_choices;
};
