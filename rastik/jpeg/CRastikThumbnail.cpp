// The embedded preview resource: a small JPEG of the image made with libjpeg
// in memory, written as a Photoshop "8BIM" thumbnail resource, found again
// in a resource block and decoded in place by a second JPEG codec.
#include <cstring>
#include <string>
#include <vector>

#include "platform/Win32.h"
#include "rastik/CJpgIO.h"
#include "rastik/CRastik.h"
#include "rastik/Convert.h"
#include "rastik/General.h"
#include "rastik/core/CImageResources.h"
#include "rastik/core/CPlaneRowStream.h"
#include "rastik/core/CReducedSampler.h"
#include "rastik/jpeg/CJpegMemoryDestination.h"
#include "rastik/jpeg/CJpgIORun.h"
#include "rastik/support/ByteOrder.h"

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
constexpr int kPreviewQuality = 100;

// Scanlines of the preview: the rows and columns of the image that the
// reduced sampler selects for the preview size, as red, green, blue.
class PreviewRowSource : public JpegRowSource {
public:
    explicit PreviewRowSource(CRastik& image)
        : m_image(image), m_planes(PlaneCount(image.ColorMode)),
          m_sampler(image.Width, image.Height, image.PrevWidth, image.PrevHeight),
          m_rows(image, CPlaneRowStream::kDrain, CPlaneRowStream::kAnyOrder, m_planes)
    {
        m_rows.SetProgress(image.PrevHeight);
    }

    bool Prepare()
    {
        if (m_planes == 0 || m_image.ChannelCount < m_planes) return false;
        return !m_sampler.Columns().empty() && m_rows.Open();
    }

    bool Row(uint8_t* samples, uint32_t row) noexcept override
    {
        // When the sampler runs out of rows, the line still holds the last
        // row taken.
        const std::vector<uint32_t>& rows = m_sampler.Rows();
        if (row >= rows.size()) return row > 0;
        return FillRow(samples, rows[row]) && m_rows.Commit(rows[row]);
    }

private:
    static uint32_t PlaneCount(uint32_t mode)
    {
        switch (mode) {
        case kModeRgb: return 3;
        case kModeCmyk: return 4;
        case kModeIndexed:
        case kModeBitmap:
        case kModeGrey:
        case kModeOther: return 1;
        default: return 0;
        }
    }

    bool FillRow(uint8_t* out, uint32_t row)
    {
        const uint8_t* plane[4] = {};
        for (uint32_t c = 0; c < m_planes; ++c)
            if (!(plane[c] = m_rows.RowAt(c, row))) return false;
        for (uint32_t m : m_sampler.Columns()) {
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
    uint32_t m_planes;
    CReducedSampler m_sampler;
    CPlaneRowStream m_rows;
};

// Encodes the preview JPEG of the image into out.
bool EncodePreview(CRastik& image, CJpegMemoryDestination& out)
{
    if (image.Width == 0 || image.Height == 0) return false;
    image.GetPrevDataSize();
    PreviewRowSource source(image);
    if (!source.Prepare()) return false;
    return RunJpegCompress(out, image.PrevWidth, image.PrevHeight, kPreviewQuality, &source,
                           image.ShowMessages != 0) == kJpegRunDone;
}

}  // namespace

int CRastik::CreatePrevJpegFile(const char* path)
{
    if (!path) return 0;
    CJpegMemoryDestination jpeg;
    if (!EncodePreview(*this, jpeg)) return 0;
    CFile out;
    if (!out.Open(path, CFile::modeCreate | CFile::modeWrite | CFile::typeBinary)) return 0;
    try {
        out.Write(jpeg.Data(), static_cast<uint32_t>(jpeg.Size()));
        out.Close();
    } catch (const CFileException&) {
        out.Abort();
        DeleteFile(path);
        return 0;
    }
    return 1;
}

int32_t CRastik::WritePrevFile()
{
    CJpegMemoryDestination jpeg;
    if (!EncodePreview(*this, jpeg) || jpeg.Size() == 0 || jpeg.Size() > kMaxPreviewJpeg) return 0;
    uint32_t jpegLength = static_cast<uint32_t>(jpeg.Size());
    uint32_t rowBytes = (static_cast<uint32_t>(PrevWidth) * 3 + 3) & ~3u;
    uint64_t total = static_cast<uint64_t>(rowBytes) * PrevHeight;
    if (total > 0xFFFFFFFFu) return 0;
    uint8_t head[kHeaderBytes] = {};
    memcpy(head, kSignature, 4);
    rastik::PutBE16(head + 4, kIdThumbnail);
    rastik::PutBE32(head + 8, jpegLength + kDataHeaderBytes);
    rastik::PutBE32(head + 12, kFormatJpeg);
    rastik::PutBE32(head + 16, PrevWidth);
    rastik::PutBE32(head + 20, PrevHeight);
    rastik::PutBE32(head + 24, rowBytes);
    rastik::PutBE32(head + 28, static_cast<uint32_t>(total));
    rastik::PutBE32(head + 32, jpegLength);
    rastik::PutBE16(head + 36, 24);
    rastik::PutBE16(head + 38, 1);
    try {
        File.Write(head, kHeaderBytes);
        File.Write(jpeg.Data(), jpegLength);
    } catch (const CFileException&) {
        return 0;
    }
    return static_cast<int32_t>(jpegLength + kHeaderBytes);
}

int32_t CRastik::GetPosOfPrevData()
{
    if (ResourcePos <= 0 || !File.IsOpen()) return 0;
    try {
        CImageResources resources(File, ResourcePos);
        while (resources.Next()) {
            uint16_t id = resources.Id();
            if (id != kIdThumbnail && id != kIdThumbnailBgr) continue;
            if (resources.NameAt() > 0x7FFFFFFF) return 0;
            PrevIsBgr = id == kIdThumbnailBgr ? 1 : 0;
            return static_cast<int32_t>(resources.NameAt());
        }
    } catch (const CFileException&) {
    }
    return 0;
}

// The embedded thumbnail as the preview: 1 when it was read, 0 when there
// is none or it cannot be decoded (the codec then reduces its image), -1
// when Esc stopped it.
int CRastik::PreviewFromThumbnail(uint32_t& width, uint32_t& height, uint8_t*& buffer)
{
    buffer = nullptr;
    int32_t position = GetPosOfPrevData();
    if (position <= 0) return 0;
    if (ReadPrevJpegFile(position, buffer)) {
        width = PrevWidth;
        height = PrevHeight;
        return 1;
    }
    if (EscPressed) return -1;
    PrevIsBgr = 0;
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
        uint32_t dataSize = 0, format = 0, width = 0, height = 0, rowBytes = 0, total = 0;
        uint16_t bits = 0, planes = 0;
        if (!CImageResources::SkipName(File, dataSize)) return 0;
        if (!Read4ByteInt(format) || format != kFormatJpeg) return 0;
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

    // The thumbnail is decoded where it lies, by a JPEG codec reading this
    // file's range; a thumbnail's own thumbnail is not followed.
    CJpgIO jpeg(Path);
    jpeg.PrevIsBgr = PrevIsBgr;
    jpeg.ShowMessages = ShowMessages;
    int result = 0;
    try {
        jpeg.SetSource(File, File.GetPosition(), jpegLength);
    } catch (const CFileException&) {
        return 0;
    }
    if (jpeg.ReadImageHead()) {
        jpeg.SetMaxPrevSize(static_cast<uint16_t>(MaxPrevSize <= 0 ? 0 : (MaxPrevSize > 0xFFFF ? 0xFFFF : MaxPrevSize)));
        uint32_t w = 0, h = 0;
        if (jpeg.ReadPrevImageData(w, h, buffer)) {
            PrevWidth = jpeg.PrevWidth;
            PrevHeight = jpeg.PrevHeight;
            result = 1;
        }
    }
    EscPressed = jpeg.EscPressed;
    return result;
}
