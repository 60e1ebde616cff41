// Codec base class: defaults, image description, channel planes with spill to
// the temporary file, big-endian field I/O, bit codes, the clip-path list.
#include "rastik/CRastik.h"

#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/LargeBlock.h"
#include "rastik/General.h"
#include "rastik/Messages.h"
#include "rastik/core/CPlaneWindow.h"
#include "rastik/support/CPoolScope.h"
#include "rastik/support/CPrefault.h"

CRastik::CRastik()
{
    TempFile = new CGTempFile();
    TempFileObject = TempFile->GetFile();
}

CRastik::~CRastik()
{
    for (uint8_t*& b : FormatBuffers) FreeBuffer(&b);
    if (Paths) {
        for (int32_t i = 0; i < PathCount; ++i) free(Paths[i]);
        free(Paths);
        Paths = nullptr;
    }
    FreeChannelSpace();
    delete TempFile;
    TempFile = nullptr;
    FreeBuffer(&Palette);
}

int CRastik::GetImageData(int32_t*, CFile*, uint8_t**, int64_t*) { return 0; }
int CRastik::ReadImageDataForPage() { return 0; }
int CRastik::WriteFile() { return 0; }
int CRastik::WriteImageHead() { return 0; }
int CRastik::WriteHeader() { return 0; }
int CRastik::WriteImageData() { return 0; }
int CRastik::WriteBlockData(uint8_t*, uint32_t, uint32_t) { return 0; }
int CRastik::WriteRgbDataImage(uint8_t*, uint8_t*, uint8_t*, uint32_t) { return 0; }
int CRastik::WriteKDataImage(uint8_t*, uint32_t) { return 0; }
int CRastik::WriteTail() { return 0; }
int CRastik::IsPSorIMAGEmaked() { return 0; }
int CRastik::GetPhotoshopOrignClipPath() { return 0; }

namespace {

// Copies the named fields of one codec into another.
template <typename... Member>
void CopyFields(CRastik& to, const CRastik& from, Member CRastik::*... members)
{
    ((to.*members = from.*members), ...);
}

}  // namespace

int CRastik::SetSize(const CRastik* source)
{
    if (!source) return 0;
    CopyFields(*this, *source, &CRastik::Width, &CRastik::Height, &CRastik::XResolution, &CRastik::YResolution,
               &CRastik::ResolutionUnit, &CRastik::BytesPerLine, &CRastik::MaxPrevSize, &CRastik::JpegQuality);
    return 1;
}

int CRastik::SetMode(const CRastik* source)
{
    if (!source) return 0;
    CopyFields(*this, *source, &CRastik::ColorMode, &CRastik::FileBitCount, &CRastik::BitsPerChannel,
               &CRastik::ChannelCount, &CRastik::ColorChannels, &CRastik::PaletteSize);
    if (source->Palette && source->PaletteSize) SetPalette(source->Palette, source->PaletteSize);
    return 1;
}

int CRastik::SetMode(uint32_t mode)
{
    ColorMode = mode;
    uint32_t channels = 0;
    switch (mode) {
    case kModeGrey:
    case kModeIndexed: channels = 1; break;
    case kModeRgb: channels = 3; break;
    case kModeCmyk: channels = 4; break;
    default: return 1;
    }
    FileBitCount = 0;
    BitsPerChannel = 8;
    ChannelCount = ColorChannels = channels;
    if (channels == 1) {
        PaletteSize = 256;
    } else {
        PaletteSize = 0;
        FreeBuffer(&Palette);
    }
    return 1;
}

int CRastik::SetPalette(const uint8_t* entries, uint32_t count)
{
    FreeBuffer(&Palette);
    if (!entries || count == 0) return 1;
    if (count > 65536) return 0;
    Palette = static_cast<uint8_t*>(AllocBuffer(count * 4, 0, 0));
    if (!Palette) return 0;
    memcpy(Palette, entries, count * 4);
    return 1;
}

uint32_t CRastik::PlaneBytes() const
{
    uint64_t bytes = PlaneBytes64();
    return bytes > 0xFFFFFFFFull ? 0 : static_cast<uint32_t>(bytes);
}

uint64_t CRastik::PlaneBytes64() const
{
    return static_cast<uint64_t>(BytesPerLine) * Height;
}

void CRastik::FreeChannelSpace()
{
    for (int i = 0; i < kMaxChannels; ++i) {
        if (ChannelKind[i] == kChannelHeap) {
            free(ChannelData[i]);
            ReleasePlaneHeap(m_heapPlaneBytes[i]);
        }
        m_heapPlaneBytes[i] = 0;
        ChannelData[i] = nullptr;
        ChannelKind[i] = kChannelNone;
    }
}

int CRastik::AllocChannelSpace()
{
    uint64_t bytes = PlaneBytes64();
    if (Width == 0 || Height == 0 || bytes == 0 || BytesPerLine < Width) return 0;
    if (ChannelCount == 0 || ChannelCount > static_cast<uint32_t>(kMaxChannels)) return 0;
    FreeChannelSpace();
    if (m_planeWindow && m_planeWindow->Rows() < Height && AllocWindowedPlanes(m_planeWindow->Rows())) return 1;
    m_planeWindow.reset();
    // Planes in memory start zeroed, all at once below.
    std::vector<std::pair<void*, size_t>> fresh;
    for (uint32_t i = 0; i < ChannelCount; ++i) {
        if (AllocHeapPlane(i, bytes, fresh)) continue;
        int64_t offset = TempFile ? TempFile->GetFreeOffset64(bytes) : -1;
        if (offset < 0) {
            CPrefault::Zero(nullptr, fresh);
            return 0;
        }
        ChannelKind[i] = kChannelTemp;
        ChannelOffset[i] = offset;
    }
    CPrefault::Zero(CPoolScope::Lent(), fresh);
    return 1;
}

bool CRastik::AllocWindowedPlanes(uint32_t rows)
{
    // Whole large pages, so that the window is mapped a large page at a time.
    const uint64_t bytes = WholeLargePages(uint64_t{rows} * BytesPerLine);
    std::vector<std::pair<void*, size_t>> fresh;
    for (uint32_t i = 0; i < ChannelCount; ++i) {
        if (!AllocHeapPlane(i, bytes, fresh)) {
            FreeChannelSpace();
            return false;
        }
    }
    CPrefault::Zero(CPoolScope::Lent(), fresh);
    return true;
}

bool CRastik::AllocHeapPlane(uint32_t channel, uint64_t bytes, std::vector<std::pair<void*, size_t>>& fresh)
{
    if (!ReservePlaneHeap(bytes)) return false;
    void* p = AllocLargeBlock(static_cast<size_t>(bytes), false);
    if (!p) {
        ReleasePlaneHeap(bytes);
        return false;
    }
    ChannelKind[channel] = kChannelHeap;
    ChannelData[channel] = static_cast<uint8_t*>(p);
    m_heapPlaneBytes[channel] = bytes;
    fresh.emplace_back(p, static_cast<size_t>(bytes));
    return true;
}

void CRastik::ReleasePlaneRows(uint32_t row)
{
    if (m_planeWindow) m_planeWindow->Release(row);
}

bool CRastik::PlaneRowRange(uint32_t channel, uint32_t row, uint32_t rows, size_t* at, size_t* len) const
{
    if (channel >= static_cast<uint32_t>(kMaxChannels)) return false;
    // Windowed planes are filled and drained through the plane-row stream only.
    if (m_planeWindow) return false;
    if (static_cast<uint64_t>(row) + rows > Height) return false;
    *len = static_cast<size_t>(rows) * BytesPerLine;
    *at = static_cast<size_t>(row) * BytesPerLine;
    // Rows move in one file call, which takes at most 32 bits of bytes.
    return *len <= 0xFFFFFFFFu;
}

// Positions the temporary file at byte at of a spilled plane.
void CRastik::SeekSpilledPlane(uint32_t channel, size_t at)
{
    TempFileObject->Seek(ChannelOffset[channel] + static_cast<int64_t>(at), CFile::begin);
}

int CRastik::ReadPlaneRows(uint32_t channel, uint32_t row, uint32_t rows, uint8_t* out)
{
    size_t at = 0, len = 0;
    if (!out || !PlaneRowRange(channel, row, rows, &at, &len)) return 0;
    if (ChannelKind[channel] == kChannelHeap) {
        memcpy(out, ChannelData[channel] + at, len);
        return 1;
    }
    if (ChannelKind[channel] != kChannelTemp || !TempFileObject) return 0;
    try {
        SeekSpilledPlane(channel, at);
        // The plane's range was reserved in full: a short read is a failure.
        if (TempFileObject->Read(out, static_cast<uint32_t>(len)) != len) return 0;
    } catch (const CFileException&) {
        return 0;
    }
    return 1;
}

int CRastik::WritePlaneRows(uint32_t channel, uint32_t row, uint32_t rows, const uint8_t* in)
{
    size_t at = 0, len = 0;
    if (!in || !PlaneRowRange(channel, row, rows, &at, &len)) return 0;
    if (ChannelKind[channel] == kChannelHeap) {
        memcpy(ChannelData[channel] + at, in, len);
        return 1;
    }
    if (ChannelKind[channel] != kChannelTemp || !TempFileObject) return 0;
    try {
        SeekSpilledPlane(channel, at);
        TempFileObject->Write(in, static_cast<uint32_t>(len));
    } catch (const CFileException&) {
        return 0;
    }
    return 1;
}

int CRastik::ReadPlaneRow(uint32_t channel, uint32_t row, uint8_t* out)
{
    return ReadPlaneRows(channel, row, 1, out);
}

int CRastik::WritePlaneRow(uint32_t channel, uint32_t row, const uint8_t* in)
{
    return WritePlaneRows(channel, row, 1, in);
}

int CRastik::Read2ByteInt(uint16_t& value)
{
    uint8_t b[2] = {};
    uint32_t got = 0;
    for (int i = 0; i < 2; ++i) got += File.Read(&b[i], 1);
    value = static_cast<uint16_t>((b[0] << 8) | b[1]);
    return got == 2;
}

int CRastik::Read4ByteInt(uint32_t& value)
{
    uint8_t b[4] = {};
    uint32_t got = 0;
    for (int i = 0; i < 4; ++i) got += File.Read(&b[i], 1);
    value = (static_cast<uint32_t>(b[0]) << 24) | (static_cast<uint32_t>(b[1]) << 16) |
            (static_cast<uint32_t>(b[2]) << 8) | b[3];
    return got == 4;
}

int CRastik::Write2ByteInt(uint16_t value)
{
    uint8_t b[2] = {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    try {
        File.Write(b, 2);
    } catch (const CFileException&) {
        return 0;
    }
    return 1;
}

int CRastik::Write4ByteInt(uint32_t value)
{
    uint8_t b[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                    static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    try {
        File.Write(b, 4);
    } catch (const CFileException&) {
        return 0;
    }
    return 1;
}

int CRastik::ReadCode(const uint8_t* data, int* bitPos, int codeLength, int mask)
{
    const uint8_t* p = data + *bitPos / 8;
    uint32_t v = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8);
    if (codeLength > 7) v |= static_cast<uint32_t>(p[2]) << 16;
    v >>= (*bitPos % 8);
    *bitPos += codeLength;
    return static_cast<int>(v & static_cast<uint32_t>(mask));
}

int CRastik::ReadCode(const uint8_t* data, int* bitPos, int codeLength, int mask, size_t dataBytes)
{
    if (!data || !bitPos || *bitPos < 0 || codeLength < 0 || codeLength > 24) return -1;
    size_t at = static_cast<size_t>(*bitPos) / 8;
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i)
        if (at + i < dataBytes) v |= static_cast<uint32_t>(data[at + i]) << (8 * i);
    v >>= (*bitPos % 8);
    bool whole = static_cast<uint64_t>(*bitPos) + static_cast<uint64_t>(codeLength) <= 8ull * dataBytes;
    *bitPos += codeLength;
    return whole ? static_cast<int>(v & static_cast<uint32_t>(mask)) : -1;
}

int CRastik::AllocPathSpace(int count)
{
    if (count <= 0) return 0;
    if (Paths) {
        for (int32_t i = 0; i < PathCount; ++i) free(Paths[i]);
        free(Paths);
    }
    Paths = static_cast<uint32_t**>(calloc(static_cast<size_t>(count), sizeof(uint32_t*)));
    PathCount = 0;
    PathCapacity = Paths ? count : 0;
    return Paths ? 1 : 0;
}

int CRastik::AddPath(uint32_t* record)
{
    if (!record || !Paths || PathCount >= PathCapacity) return 0;
    Paths[PathCount++] = record;
    return 1;
}

int CRastik::SetMaxPrevSize(uint16_t size)
{
    MaxPrevSize = size ? size : 96;
    return 1;
}

int CRastik::IsPressedEscKey()
{
    return EscPressed;
}

int CRastik::SetWarningMsg(int flag)
{
    ShowMessages = flag;
    return flag;
}

void CRastik::GetMessageFigures(int id, uint64_t* first, uint64_t* second) const
{
    // A format of one image holds one page.
    *first = id == kMsgTooManyPixels ? GetMaxPixels() : id == kMsgNoSuchPage ? 1 : 0;
    *second = id == kMsgNoSuchPage ? Page : 0;
}
