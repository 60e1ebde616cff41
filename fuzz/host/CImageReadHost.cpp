// The host protocol of image reading, as the fuzz targets drive it.
#include "CImageReadHost.h"

#include <cstring>
#include <vector>

#include "CFuzzScratch.h"
#include "rastik/rastik.h"

namespace {

// Staging grants of a spilled read: a few rows, so every chunk boundary is met.
constexpr uint32_t kSpillLargeBufferCap = 512;

// The process-wide memory settings of one spilled read, restored afterwards.
class SpillSettings {
public:
    explicit SpillSettings(bool spill) : m_spill(spill)
    {
        if (!spill) return;
        SetPlaneHeapCap(1);
        SetLargeBufferCap(kSpillLargeBufferCap);
    }
    ~SpillSettings()
    {
        if (!m_spill) return;
        SetPlaneHeapCap(0);
        SetLargeBufferCap(0);
    }
    SpillSettings(const SpillSettings&) = delete;
    SpillSettings& operator=(const SpillSettings&) = delete;

private:
    bool m_spill;
};

// A GIF naming a transparent colour hands out a mask record; the host puts
// the address of a plane of Height x BytesPerLine bytes into its first field.
void ProvideMask(CRastik& codec, std::vector<uint8_t>& plane)
{
    if (!dynamic_cast<CGifIO*>(&codec) || codec.FormatCount != 1 || !codec.FormatBuffers[1]) return;
    plane.assign(static_cast<size_t>(codec.BytesPerLine) * codec.Height, 0);
    uint8_t* address = plane.data();
    memcpy(codec.FormatBuffers[1], &address, sizeof address);
}

// Directories a TIFF chain is read to at the most.
constexpr uint32_t kMostPages = 65536;

}  // namespace

CImageReadHost::Choices CImageReadHost::ChoicesFor(const uint8_t* data, size_t size)
{
    uint32_t h = FuzzHash(data, size);
    Choices c;
    c.spill = (h & 1) != 0;
    c.reducedSize = static_cast<uint16_t>(1 + (h >> 1) % 64);
    c.previewSize = static_cast<uint16_t>(1 + (h >> 7) % 128);
    c.colourOnly = (h >> 14 & 1) != 0;
    c.mask = (h >> 15 & 1) != 0;
    c.page = static_cast<uint8_t>(h >> 16);
    return c;
}

CImageReadHost::CImageReadHost(unsigned type, std::string path, const Choices& choices)
    : m_type(type), m_path(std::move(path)), m_choices(choices)
{
}

std::unique_ptr<CRastik> CImageReadHost::OpenCodec() const
{
    std::unique_ptr<CRastik> codec(NewRastikInstance(m_type, m_path.c_str()));
    if (!codec) FuzzFault("the factory has no codec for the type", std::to_string(m_type));
    CFileException error;
    if (!codec->File.Open(m_path.c_str(), CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary, &error))
        FuzzFault("cannot open the input", m_path);
    if (auto* tiff = dynamic_cast<CTiffIO*>(codec.get())) {
        uint32_t pages = tiff->GetPageCount();
        if (pages > kMostPages) FuzzFault("more pages than the chain holds", std::to_string(pages));
        tiff->Page = pages ? m_choices.page % pages : 0;
        uint32_t width = 0, height = 0, compression = 0;
        if (pages && !tiff->GetPageSize(tiff->Page, width, height, compression))
            FuzzFault("a counted page cannot be found", std::to_string(tiff->Page));
    }
    if (!codec->ReadImageHead()) return nullptr;
    return codec;
}

void CImageReadHost::ReadAll()
{
    ReadWhole();
    ReadReduced();
    ReadPreview();
}

bool CImageReadHost::ReadPaths()
{
    std::unique_ptr<CRastik> codec = OpenCodec();
    auto* tiff = dynamic_cast<CTiffIO*>(codec.get());
    if (!tiff) return false;
    bool ok = tiff->ReadPath() != 0;
    if (tiff->PathCount < 0 || tiff->PathCount > tiff->PathCapacity)
        FuzzFault("path count outside the path list", std::to_string(tiff->PathCount));
    volatile float sum = 0;
    for (int32_t p = 0; p < tiff->PathCount; ++p) {
        const uint32_t* record = tiff->Paths[p];
        for (uint32_t i = 0; i < ClipPathNodeCount(record); ++i) sum = sum + GetClipPathNode(record, i).X;
    }
    tiff->File.Close();
    return ok;
}

bool CImageReadHost::ReadWhole()
{
    std::unique_ptr<CRastik> codec = OpenCodec();
    if (!codec) return false;
    uint64_t samples = static_cast<uint64_t>(codec->Width) * codec->Height * codec->ChannelCount;
    if (samples > kWholeReadSamples) return false;
    SpillSettings settings(m_choices.spill);
    if (m_choices.colourOnly && codec->ChannelCount > codec->ColorChannels) codec->UseColorChannels = 1;
    codec->BytesPerLine = BytesPerRow(codec->Width * 8);
    std::vector<uint8_t> mask;
    bool ok = codec->AllocChannelSpace();
    if (ok && m_choices.mask) ProvideMask(*codec, mask);
    ok = ok && codec->ReadImageData();
    codec->File.Close();
    return ok;
}

bool CImageReadHost::ReadReduced()
{
    std::unique_ptr<CRastik> codec = OpenCodec();
    if (!codec) return false;
    // The size a preview of the asked-for side would have.
    codec->SetMaxPrevSize(m_choices.reducedSize);
    codec->GetPrevDataSize();
    uint32_t width = codec->PrevWidth, height = codec->PrevHeight;
    if (width == 0 || height == 0) return false;
    // One plane per colour channel, each exactly BytesPerRow(width x 8) x height.
    uint32_t planes = codec->ColorChannels ? codec->ColorChannels : 1;
    if (planes > static_cast<uint32_t>(kMaxChannels)) return false;
    size_t planeBytes = static_cast<size_t>(BytesPerRow(width * 8)) * height;
    std::vector<std::vector<uint8_t>> storage(planes, std::vector<uint8_t>(planeBytes));
    uint8_t* pointers[kMaxChannels] = {};
    for (uint32_t c = 0; c < planes; ++c) pointers[c] = storage[c].data();
    bool ok = codec->ReadReducedData(width, height, pointers) != 0;
    codec->File.Close();
    return ok;
}

bool CImageReadHost::ReadPreview()
{
    std::unique_ptr<CRastik> codec = OpenCodec();
    if (!codec) return false;
    codec->SetMaxPrevSize(m_choices.previewSize);
    uint32_t width = 0, height = 0;
    uint8_t* buffer = nullptr;
    bool ok = codec->ReadPrevImageData(width, height, buffer) != 0;
    codec->File.Close();
    if (ok && !buffer) FuzzFault("preview reported without a buffer");
    if (ok) {
        if (width == 0 || height == 0 || width > m_choices.previewSize || height > m_choices.previewSize)
            FuzzFault("preview size outside 1 .. MaxPrevSize",
                      std::to_string(width) + " x " + std::to_string(height) + " for " +
                          std::to_string(m_choices.previewSize));
        // Every byte of the documented buffer is read: a shorter buffer is an
        // out-of-bounds read the sanitizer reports.
        size_t bytes = static_cast<size_t>((width * 24 + 31) / 32 * 4) * height;
        volatile uint8_t sum = 0;
        for (size_t i = 0; i < bytes; ++i) sum = static_cast<uint8_t>(sum + buffer[i]);
    }
    FreeBuffer(&buffer);
    return ok;
}
