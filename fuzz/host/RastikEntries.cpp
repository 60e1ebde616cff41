// Entries of the image-reader fuzz targets.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "CFuzzScratch.h"
#include "CImageReadHost.h"
#include "FuzzEntries.h"
#include "SampleImages.h"
#include "TiffFixture.h"
#include "rastik/rastik.h"

namespace {

// The resource block of the thumbnail target goes into one APP13 segment.
constexpr size_t kApp13Id = 14;  // "Photoshop 3.0" and its zero byte
constexpr size_t kMaxResourceBlock = 0xFFFF - 2 - kApp13Id;

// The frame around a fuzzed resource block: an 8 x 6 grey TIFF.
constexpr uint32_t kFrameWidth = 8, kFrameHeight = 6;
// Tag of the Photoshop resource block.
constexpr uint16_t kTagPhotoshop = 34377;

// Largest declared source a conversion host accepts: converting reads the
// whole image, in time proportional to its pixels.
constexpr uint64_t kMaxConvertPixels = 1u << 20;
// Plane heap of a conversion input: the planes of all but small images
// spill, so declared sizes exercise the temporary file, never the heap.
constexpr uint64_t kConvertPlaneHeap = 256u << 10;

// The process-wide limits of one conversion input, restored afterwards: the
// plane heap cap, and the pixel limit the readers refuse in their header.
class ConvertLimits {
public:
    ConvertLimits()
    {
        SetPlaneHeapCap(kConvertPlaneHeap);
        SetMaxPixels(kMaxConvertPixels);
    }
    ~ConvertLimits()
    {
        SetPlaneHeapCap(0);
        SetMaxPixels(0);
    }
    ConvertLimits(const ConvertLimits&) = delete;
    ConvertLimits& operator=(const ConvertLimits&) = delete;
};

int ReadImageInput(unsigned type, const char* name, const uint8_t* data, size_t size)
{
    FuzzQuietMessages();
    CFuzzScratch& scratch = CFuzzScratch::Get();
    std::string path = scratch.Write(name, data, size);
    DetectFileType(path.c_str());
    CImageReadHost(type, path, CImageReadHost::ChoicesFor(data, size)).ReadAll();
    scratch.EndInput();
    return 0;
}

// A small JPEG made by the library's writer, without its start marker.
const std::vector<uint8_t>& FrameJpegBody()
{
    static std::vector<uint8_t> body;
    if (body.empty()) {
        CFuzzScratch& scratch = CFuzzScratch::Get();
        std::string path = scratch.Path("frame.jpg");
        if (!WriteSampleImage(kTypeJpeg, kModeRgb, 16, 12, path)) FuzzFault("cannot write the frame JPEG");
        std::vector<uint8_t> jpeg = FuzzReadFile(path);
        remove(path.c_str());
        if (jpeg.size() < 4) FuzzFault("the frame JPEG is empty");
        body.assign(jpeg.begin() + 2, jpeg.end());
    }
    return body;
}

// What the converting host learns from the source's header before it
// converts: whether it accepts the size, and the colour mode.
struct SourceProbe {
    bool accepted = true;
    uint32_t mode = 0;
};

SourceProbe ProbeSource(const std::string& path)
{
    SourceProbe probe;
    unsigned type = DetectFileType(path.c_str());
    if (!type) return probe;  // the conversion refuses it itself
    std::unique_ptr<CRastik> codec(NewRastikInstance(type, path.c_str()));
    if (!codec || !codec->File.Open(path.c_str(), CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary))
        return probe;
    if (codec->ReadImageHead()) {
        probe.accepted = static_cast<uint64_t>(codec->Width) * codec->Height <= kMaxConvertPixels;
        probe.mode = codec->ColorMode;
    }
    codec->File.Close();
    return probe;
}

// A converted target must hold the size the conversion reported: a bitmap
// read back, or for a two-colour source the packed rows of the
// black-and-white writer, (width + 7) / 8 bytes each.
void CheckTarget(const std::string& path, uint32_t sourceMode, int width, int height)
{
    std::string size = std::to_string(width) + " x " + std::to_string(height);
    if (sourceMode == kModeBitmap) {
        size_t expected = static_cast<size_t>(height) * ((static_cast<size_t>(width) + 7) / 8);
        if (FuzzReadFile(path).size() != expected)
            FuzzFault("the black-and-white rows do not hold the size reported", size);
        return;
    }
    std::unique_ptr<CRastik> back(NewRastikInstance(kTypeBmp, path.c_str()));
    if (!back->File.Open(path.c_str(), CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary))
        FuzzFault("the converted file cannot be opened");
    if (!back->ReadImageHead() || back->Width != static_cast<uint32_t>(width) ||
        back->Height != static_cast<uint32_t>(height))
        FuzzFault("the converted bitmap does not hold the size reported", size);
    back->File.Close();
}

// The frame TIFF with the block as its Photoshop resource block.
std::vector<uint8_t> TiffWithResources(const uint8_t* block, size_t size)
{
    std::vector<uint8_t> grey(kFrameWidth * kFrameHeight);
    for (size_t i = 0; i < grey.size(); ++i) grey[i] = static_cast<uint8_t>(i * 5);
    testutil::TiffFixture f = testutil::PlainTiff(kFrameWidth, kFrameHeight, 8, 1, 1, grey, kFrameHeight);
    if (size) f.entries.push_back({kTagPhotoshop, 7, {}, std::vector<uint8_t>(block, block + size)});
    return testutil::MakeTiff(f);
}

// Delivered bytes of one decoder call that holds whole rows; a fault otherwise.
uint32_t DeliveredRows(const DCTINFO& info, uint64_t bytes, uint64_t capacity)
{
    uint64_t row = static_cast<uint64_t>(info.dwWidth) * info.dwComponents;
    if (bytes > capacity || bytes % row != 0)
        FuzzFault("the decoder delivered a byte count that is not whole rows of its buffer",
                  std::to_string(bytes) + " of " + std::to_string(capacity));
    return static_cast<uint32_t>(bytes / row);
}

// Decodes band after band, pixel-interleaved (Decoder) or planar
// (L_Decoder), into a buffer of one band or of several.
void DecodeBands(CDCTFilter& decoder, const DCTINFO& info, uint32_t bandBytes, uint32_t h)
{
    bool planar = (h & 1) != 0 && info.dwComponents <= 4;
    uint64_t capacity = static_cast<uint64_t>(bandBytes) * (1 + (h >> 1) % 3);
    std::vector<uint8_t> buffer(capacity);
    uint64_t rows = 0;
    bool stalled = false;
    for (uint32_t left = 1; left != 0;) {
        uint64_t bytes = capacity;
        if (planar) {
            uint8_t* planes[4] = {};
            for (uint32_t c = 0; c < info.dwComponents; ++c) planes[c] = &buffer[c * (capacity / info.dwComponents)];
            uint32_t n = static_cast<uint32_t>(capacity / info.dwComponents * info.dwComponents);
            left = decoder.L_Decoder(planes, n);
            bytes = n;
        } else {
            int n = static_cast<int>(capacity);
            left = decoder.Decoder(buffer.data(), n);
            bytes = n < 0 ? UINT64_MAX : static_cast<uint64_t>(n);
        }
        if (left == 0xFFFFFFFFu) return;
        rows += DeliveredRows(info, bytes, capacity);
        if (rows > info.dwHeight) FuzzFault("the decoder delivered more rows than the image has");
        // A call may deliver nothing while rows remain only when the stream
        // ended inside the row (the end-of-image marker stops the band); the
        // next call must then refuse the stream.
        if (left != 0 && bytes == 0) {
            if (stalled) FuzzFault("the decoder delivered nothing twice into a buffer of a band");
            stalled = true;
        }
    }
    if (rows != info.dwHeight) FuzzFault("the decoder finished short of the image's rows");
}

}  // namespace

int FuzzBmp(const uint8_t* data, size_t size)
{
    return ReadImageInput(kTypeBmp, "in.bmp", data, size);
}

int FuzzJpeg(const uint8_t* data, size_t size)
{
    return ReadImageInput(kTypeJpeg, "in.jpg", data, size);
}

int FuzzJpegThumbnail(const uint8_t* data, size_t size)
{
    FuzzQuietMessages();
    const std::vector<uint8_t>& body = FrameJpegBody();
    size_t block = size < kMaxResourceBlock ? size : kMaxResourceBlock;
    size_t segment = 2 + kApp13Id + block;
    // Start marker, APP13 marker, the segment length, "Photoshop 3.0" and its zero byte.
    uint8_t head[6 + kApp13Id] = {0xFF, 0xD8, 0xFF, 0xED, static_cast<uint8_t>(segment >> 8),
                                  static_cast<uint8_t>(segment & 0xFF)};
    memcpy(head + 6, "Photoshop 3.0", kApp13Id);
    std::vector<uint8_t> file(head, head + sizeof head);
    file.insert(file.end(), data, data + block);
    file.insert(file.end(), body.begin(), body.end());
    CFuzzScratch& scratch = CFuzzScratch::Get();
    std::string path = scratch.Write("thumb.jpg", file.data(), file.size());
    CImageReadHost(kTypeJpeg, path, CImageReadHost::ChoicesFor(data, size)).ReadPreview();
    scratch.EndInput();
    return 0;
}

int FuzzImgProc(const uint8_t* data, size_t size)
{
    FuzzQuietMessages();
    CFuzzScratch& scratch = CFuzzScratch::Get();
    std::string source = scratch.Write("source", data, size);
    ConvertLimits limits;
    SourceProbe probe = ProbeSource(source);
    if (probe.accepted) {
        uint32_t h = FuzzHash(data, size);
        unsigned width = 1 + h % 48;
        int height = static_cast<int>(1 + (h >> 8) % 48);
        std::string target = scratch.Path("target.bmp");
        int outWidth = 0, outHeight = 0;
        if (ImgProc(source.c_str(), target.c_str(), kModeIndexed, 3, 72, width, height, &outWidth, &outHeight, 1)) {
            scratch.Expect("target.bmp");
            CheckTarget(target, probe.mode, outWidth, outHeight);
        }
    }
    scratch.EndInput();
    return 0;
}

int FuzzTiff(const uint8_t* data, size_t size)
{
    return ReadImageInput(kTypeTiff, "in.tif", data, size);
}

int FuzzTiffResources(const uint8_t* data, size_t size)
{
    FuzzQuietMessages();
    std::vector<uint8_t> file = TiffWithResources(data, size);
    CFuzzScratch& scratch = CFuzzScratch::Get();
    std::string path = scratch.Write("paths.tif", file.data(), file.size());
    CImageReadHost host(kTypeTiff, path, CImageReadHost::ChoicesFor(data, size));
    host.ReadPaths();
    host.ReadWhole();
    host.ReadPreview();
    scratch.EndInput();
    return 0;
}

int FuzzGif(const uint8_t* data, size_t size)
{
    return ReadImageInput(kTypeGif, "in.gif", data, size);
}

int FuzzPng(const uint8_t* data, size_t size)
{
    return ReadImageInput(kTypePng, "in.png", data, size);
}

int FuzzPict(const uint8_t* data, size_t size)
{
    return ReadImageInput(kTypePict, "in.pct", data, size);
}

int FuzzDct(const uint8_t* data, size_t size)
{
    FuzzQuietMessages();
    CFuzzScratch& scratch = CFuzzScratch::Get();
    std::string path = scratch.Write("in.jpg", data, size);
    CFile in;
    if (!in.Open(path.c_str(), CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary))
        FuzzFault("cannot open the input", path);
    CFile* previous = SetEncodedDataFile(&in);
    {
        CDCTFilter decoder;
        DCTINFO info;
        uint32_t bandBytes = decoder.Decode_Header(1, &info);
        if (bandBytes != 0xFFFFFFFFu) {
            if (info.dwWidth == 0 || info.dwHeight == 0 || info.dwComponents == 0 || info.dwComponents > 4 ||
                bandBytes == 0 || bandBytes % (info.dwWidth * info.dwComponents) != 0)
                FuzzFault("the header was accepted with an impossible size",
                          std::to_string(info.dwWidth) + " x " + std::to_string(info.dwHeight) + " x " +
                              std::to_string(info.dwComponents) + ", band " + std::to_string(bandBytes));
            DecodeBands(decoder, info, bandBytes, FuzzHash(data, size));
        }
    }
    SetEncodedDataFile(previous);
    in.Close();
    scratch.EndInput();
    return 0;
}
