// The embedded preview resource: a small JPEG of the image made with libjpeg,
// written as a Photoshop "8BIM" thumbnail resource, found again in a resource
// block and decoded through a temporary JPEG codec.
#include <cstring>
#include <string>
#include <vector>

#include "platform/Win32.h"
#include "rastik/CJpgIO.h"
#include "rastik/CRastik.h"
#include "rastik/Convert.h"
#include "rastik/General.h"
#include "rastik/jpeg/CJpgIORun.h"

// Thumbnail resource, all integers big-endian:
//   0  4  signature "8BIM"
//   4  2  resource id: 1036 (JPEG of red, green, blue), or on reading also
//         1033 (the older kind, whose JPEG holds blue, green, red)
//   6  2  name: length byte 0 and a pad byte (a name of n bytes takes n + 1
//         bytes with its length byte, padded to an even count)
//   8  4  data size = JPEG length + 28 (no pad byte follows an odd size)
//  12  4  format 1 (JPEG)
//  16  4  width
//  20  4  height
//  24  4  bytes per row = (width x 3 + 3) rounded down to a multiple of 4
//  28  4  total size = bytes per row x height
//  32  4  JPEG length
//  36  2  bits per pixel 24
//  38  2  planes 1
//  40     the JPEG file
namespace {

constexpr char kSignature[4] = {'8', 'B', 'I', 'M'};
constexpr uint16_t kIdThumbnail = 1036;
constexpr uint16_t kIdThumbnailBgr = 1033;
constexpr uint32_t kHeaderBytes = 40;
constexpr uint32_t kDataHeaderBytes = 28;
constexpr uint32_t kFormatJpeg = 1;
// Preview JPEGs are small; anything near 2 GiB is not one.
constexpr uint64_t kMaxPreviewJpeg = 0x7FFF0000u;
// Resource blocks of real files hold a few dozen resources.
constexpr int kMaxResources = 65536;
constexpr int kPreviewQuality = 100;

void Put4(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

void Put2(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

// Skips the name of a resource block; false when it would pass the end.
bool SkipResourceName(CFile& file, uint64_t length)
{
    uint8_t n = 0;
    if (file.Read(&n, 1) != 1) return false;
    uint64_t skip = n == 0 ? 1 : (n % 2 == 0 ? n + 1u : n);
    uint64_t at = file.GetPosition() + skip;
    if (at > length) return false;
    file.Seek(static_cast<int64_t>(at), CFile::begin);
    return true;
}

// Scanlines of the preview: the rows and columns of the image that the
// preview ratios select, as red, green, blue. Planes in the temporary file
// are read a chunk of rows at a time through one staging buffer.
class PreviewRowSource : public JpegRowSource {
public:
    explicit PreviewRowSource(CRastik& image) : m_image(image) {}
    ~PreviewRowSource() override { FreeBuffer(&m_staging); }

    bool Prepare()
    {
        switch (m_image.ColorMode) {
        case kModeRgb: m_planes = 3; break;
        case kModeCmyk: m_planes = 4; break;
        case kModeIndexed:
        case kModeBitmap:
        case kModeGrey:
        case kModeOther: m_planes = 1; break;
        default: return false;
        }
        if (m_image.ChannelCount < m_planes || m_image.BytesPerLine < m_image.Width) return false;
        uint32_t spilled = 0;
        for (uint32_t c = 0; c < m_planes; ++c) {
            if (m_image.ChannelKind[c] == kChannelHeap && m_image.ChannelData[c]) continue;
            if (m_image.ChannelKind[c] != kChannelTemp) return false;
            m_share[c] = spilled++;
        }
        m_vertical = static_cast<float>(m_image.PrevHeight) / static_cast<float>(m_image.Height);
        float horizontal = static_cast<float>(m_image.PrevWidth) / static_cast<float>(m_image.Width);
        for (uint32_t m = 0; m < m_image.Width && m_columns.size() < m_image.PrevWidth; ++m)
            if (static_cast<uint32_t>(static_cast<double>(horizontal) * m) == m_columns.size()) m_columns.push_back(m);
        if (m_columns.empty()) return false;
        if (spilled == 0) return true;
        uint64_t unit = static_cast<uint64_t>(spilled) * m_image.BytesPerLine;
        if (unit > 0xFFFFFFFFu) return false;
        uint64_t want = unit * m_image.Height;
        if (want > 0xFFFFFFFFu) want = 0xFFFFFFFFu / unit * unit;
        uint32_t granted = 0;
        m_staging = static_cast<uint8_t*>(
            AllocLargeBuffer(static_cast<uint32_t>(want), static_cast<uint32_t>(unit), &granted, 0));
        m_chunkRows = m_staging ? static_cast<uint32_t>(granted / unit) : 0;
        return m_chunkRows > 0;
    }

    bool Row(uint8_t* samples, uint32_t row) noexcept override
    {
        // The source row whose scaled position is this preview row; when the
        // rows run out the last one taken is repeated.
        while (m_source < m_image.Height &&
               static_cast<uint32_t>(static_cast<double>(m_vertical) * m_source) < row)
            ++m_source;
        if (m_source < m_image.Height) {
            if (!FillRow(samples, m_source)) return false;
            ++m_source;
            m_filled = true;
        }
        // Past the last source row the line still holds the last row taken.
        return m_filled;
    }

private:
    const uint8_t* PlaneRow(uint32_t c, uint32_t row)
    {
        const uint32_t bpl = m_image.BytesPerLine;
        if (m_image.ChannelKind[c] == kChannelHeap) return m_image.ChannelData[c] + static_cast<size_t>(row) * bpl;
        if (row < m_chunkStart || row >= m_chunkStart + m_chunkLoaded) {
            uint32_t rows = m_image.Height - row < m_chunkRows ? m_image.Height - row : m_chunkRows;
            for (uint32_t p = 0; p < m_planes; ++p) {
                if (m_image.ChannelKind[p] != kChannelTemp) continue;
                uint8_t* share = m_staging + static_cast<size_t>(m_share[p]) * m_chunkRows * bpl;
                if (!m_image.ReadPlaneRows(p, row, rows, share)) return nullptr;
            }
            m_chunkStart = row;
            m_chunkLoaded = rows;
        }
        return m_staging + (static_cast<size_t>(m_share[c]) * m_chunkRows + (row - m_chunkStart)) * bpl;
    }

    bool FillRow(uint8_t* out, uint32_t row)
    {
        const uint8_t* plane[4] = {};
        for (uint32_t c = 0; c < m_planes; ++c)
            if (!(plane[c] = PlaneRow(c, row))) return false;
        for (uint32_t m : m_columns) {
            switch (m_image.ColorMode) {
            case kModeRgb:
                out[0] = plane[0][m];
                out[1] = plane[1][m];
                out[2] = plane[2][m];
                break;
            case kModeCmyk: {
                uint8_t cmyk[4] = {plane[0][m], plane[1][m], plane[2][m], plane[3][m]};
                ConvertPixelParams params{cmyk, out, {1, 1, 1, 1}};
                uint32_t scratch = 0;
                ConvertPixel(3, &params, &scratch);
                break;
            }
            case kModeIndexed:
            case kModeBitmap: {
                uint32_t index = plane[0][m];
                if (m_image.Palette && index < m_image.PaletteSize) {
                    const uint8_t* entry = m_image.Palette + index * 4;
                    out[0] = entry[2];
                    out[1] = entry[1];
                    out[2] = entry[0];
                } else {
                    out[0] = out[1] = out[2] = 0;
                }
                break;
            }
            default: out[0] = out[1] = out[2] = plane[0][m]; break;
            }
            out += 3;
        }
        return true;
    }

    CRastik& m_image;
    uint32_t m_planes = 0;
    uint32_t m_share[4] = {};
    float m_vertical = 0.0f;
    std::vector<uint32_t> m_columns;
    uint32_t m_source = 0;
    bool m_filled = false;
    uint8_t* m_staging = nullptr;
    uint32_t m_chunkRows = 0;
    uint32_t m_chunkStart = 0;
    uint32_t m_chunkLoaded = 0;
};

// Copies count bytes of from (at its position) into a new temporary file;
// the copy stops early at the end of from.
bool CopyToTempFile(CFile& from, uint32_t count, const std::string& path)
{
    uint32_t granted = 0;
    uint8_t* buffer = static_cast<uint8_t*>(AllocLargeBuffer(count, 2000, &granted, 0));
    if (!buffer) return false;
    CFile to;
    bool ok = to.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary);
    try {
        while (ok && count > 0) {
            uint32_t want = count < granted ? count : granted;
            uint32_t got = from.Read(buffer, want);
            if (got) to.Write(buffer, got);
            count -= got;
            if (got < want) break;
        }
        if (ok) to.Close();
    } catch (const CFileException&) {
        to.Abort();
        ok = false;
    }
    FreeBuffer(&buffer);
    return ok;
}

}  // namespace

int CRastik::CreatePrevJpegFile(const char* path)
{
    if (!path || Width == 0 || Height == 0) return 0;
    GetPrevDataSize();
    PreviewRowSource source(*this);
    if (!source.Prepare()) return 0;
    return RunJpegCompress(path, PrevWidth, PrevHeight, kPreviewQuality, &source) == kJpegRunDone ? 1 : 0;
}

int32_t CRastik::WritePrevFile()
{
    std::string temp = MakeTempFileName(GetTempDirectory(), "tmp");
    if (temp.empty()) return 0;
    uint8_t* jpeg = nullptr;
    uint32_t jpegLength = 0;
    if (CreatePrevJpegFile(temp.c_str())) {
        CFile in;
        if (in.Open(temp.c_str(), CFile::modeRead | CFile::typeBinary)) {
            uint64_t length = in.GetLength();
            if (length > 0 && length <= kMaxPreviewJpeg) {
                jpeg = static_cast<uint8_t*>(AllocBuffer(static_cast<uint32_t>(length), 1, 0));
                if (jpeg && in.Read(jpeg, static_cast<uint32_t>(length)) == length)
                    jpegLength = static_cast<uint32_t>(length);
            }
            in.Abort();
        }
    }
    DeleteFile(temp.c_str());

    uint32_t rowBytes = (static_cast<uint32_t>(PrevWidth) * 3 + 3) & ~3u;
    uint64_t total = static_cast<uint64_t>(rowBytes) * PrevHeight;
    int32_t written = 0;
    if (jpegLength > 0 && total <= 0xFFFFFFFFu) {
        uint8_t head[kHeaderBytes] = {};
        memcpy(head, kSignature, 4);
        Put2(head + 4, kIdThumbnail);
        Put4(head + 8, jpegLength + kDataHeaderBytes);
        Put4(head + 12, kFormatJpeg);
        Put4(head + 16, PrevWidth);
        Put4(head + 20, PrevHeight);
        Put4(head + 24, rowBytes);
        Put4(head + 28, static_cast<uint32_t>(total));
        Put4(head + 32, jpegLength);
        Put2(head + 36, 24);
        Put2(head + 38, 1);
        try {
            File.Write(head, kHeaderBytes);
            File.Write(jpeg, jpegLength);
            written = static_cast<int32_t>(jpegLength + kHeaderBytes);
        } catch (const CFileException&) {
            written = 0;
        }
    }
    FreeBuffer(&jpeg);
    return written;
}

int32_t CRastik::GetPosOfPrevData()
{
    if (ResourcePos <= 0 || !File.IsOpen()) return 0;
    try {
        uint64_t length = File.GetLength();
        File.Seek(ResourcePos, CFile::begin);
        for (int i = 0; i < kMaxResources; ++i) {
            char signature[4] = {};
            if (File.Read(signature, 4) != 4 || memcmp(signature, kSignature, 4) != 0) return 0;
            uint16_t id = 0;
            if (!Read2ByteInt(id)) return 0;
            if (id == kIdThumbnail || id == kIdThumbnailBgr) {
                uint64_t at = File.GetPosition();
                if (at > 0x7FFFFFFF) return 0;
                PrevIsBgr = id == kIdThumbnailBgr ? 1 : 0;
                return static_cast<int32_t>(at);
            }
            if (!SkipResourceName(File, length)) return 0;
            uint32_t size = 0;
            if (!Read4ByteInt(size)) return 0;
            uint64_t next = File.GetPosition() + size + (size & 1u);
            if (next > length) return 0;
            File.Seek(static_cast<int64_t>(next), CFile::begin);
        }
    } catch (const CFileException&) {
    }
    return 0;
}

int CRastik::ReadPrevJpegFile(int32_t position, uint8_t*& buffer)
{
    buffer = nullptr;
    if (position <= 0 || !File.IsOpen()) return 0;
    uint32_t jpegLength = 0;
    try {
        uint64_t length = File.GetLength();
        File.Seek(position, CFile::begin);
        if (!SkipResourceName(File, length)) return 0;
        uint32_t dataSize = 0, format = 0, width = 0, height = 0, rowBytes = 0, total = 0;
        uint16_t bits = 0, planes = 0;
        if (!Read4ByteInt(dataSize) || !Read4ByteInt(format) || format != kFormatJpeg) return 0;
        if (!Read4ByteInt(width) || !Read4ByteInt(height) || !Read4ByteInt(rowBytes) || !Read4ByteInt(total))
            return 0;
        if (static_cast<uint64_t>(rowBytes) * height != total) return 0;
        if (!Read4ByteInt(jpegLength) || !Read2ByteInt(bits) || !Read2ByteInt(planes)) return 0;
        // The sizes must describe a thumbnail that lies inside the resource and the file.
        if (width == 0 || height == 0 || width > 0xFFFF || height > 0xFFFF) return 0;
        if (dataSize < kDataHeaderBytes || jpegLength == 0 || jpegLength > dataSize - kDataHeaderBytes) return 0;
        if (jpegLength > length - File.GetPosition() || jpegLength > kMaxPreviewJpeg) return 0;
    } catch (const CFileException&) {
        return 0;
    }

    std::string temp = MakeTempFileName(GetTempDirectory(), "tmp");
    if (temp.empty()) return 0;
    int result = 0;
    if (CopyToTempFile(File, jpegLength, temp)) {
        CJpgIO jpeg(temp.c_str());
        jpeg.PrevIsBgr = PrevIsBgr;
        jpeg.File.Open(temp.c_str(), CFile::modeRead | CFile::typeBinary);
        if (jpeg.ReadImageHead()) {
            // A thumbnail's own thumbnail is not followed.
            jpeg.ResourcePos = 0;
            jpeg.SetMaxPrevSize(static_cast<uint16_t>(MaxPrevSize <= 0 ? 0 : (MaxPrevSize > 0xFFFF ? 0xFFFF : MaxPrevSize)));
            uint32_t w = 0, h = 0;
            if (jpeg.ReadPrevImageData(w, h, buffer)) {
                PrevWidth = jpeg.PrevWidth;
                PrevHeight = jpeg.PrevHeight;
                result = 1;
            }
        }
        EscPressed = jpeg.EscPressed;
        jpeg.File.Abort();
    }
    DeleteFile(temp.c_str());
    return result;
}
