// TIFF colour beyond grey, palette, RGB and CMYK: the directory fields of
// YCbCr, L*a*b*, LogLuv and old-style JPEG images, which of their layouts
// the row source reads, the L*a*b* rows, and the old-style JPEG stream put
// together from its pieces for the whole image.
#include <algorithm>
#include <cstring>
#include <span>
#include <vector>

#include "rastik/CTiffIO.h"
#include "rastik/General.h"
#include "rastik/Messages.h"
#include "rastik/core/CStatus.h"
#include "rastik/support/ByteOrder.h"
#include "rastik/tiff/CTiffOldJpegStream.h"
#include "rastik/tiff/TiffColourConvert.h"
#include "rastik/tiff/TiffColourFields.h"
#include "rastik/tiff/TiffEntry.h"
#include "rastik/tiff/TiffTags.h"

using rastik::Get16;
using rastik::Get32;
using tiff::TiffColourFields;
using tiff::TiffEntry;

namespace {

constexpr uint32_t kMostItems = 64;         // of any field read here
constexpr size_t kQuantBytes = 64;
constexpr size_t kHuffmanBytes = 16 + 256;  // counts, and at most 256 values
// An old-style JPEG stream is held whole: its pieces may come to this many
// times the file's length (strips that overlap), and no more.
constexpr uint64_t kMostStreamFiles = 2;

// The items of a BYTE, SHORT, LONG, RATIONAL or SRATIONAL entry as numbers,
// where they stand; false (27610) when they lie outside the file. Other
// types and over kMostItems items give none.
bool ReadNumbers(CFile& file, const TiffEntry& e, bool little, tiff::TiffWidths w, uint64_t fileLength,
                 std::vector<double>& out)
{
    out.clear();
    uint32_t size = tiff::TypeBytes(e.type);
    bool known = e.type == tiff::kByte || e.type == tiff::kShort || e.type == tiff::kLong ||
                 e.type == tiff::kRational || e.type == tiff::kSRational;
    if (!known || e.count == 0 || e.count > kMostItems) return true;
    size_t bytes = static_cast<size_t>(e.count) * size;
    uint8_t data[kMostItems * 8];
    if (e.Fits(w)) {
        memcpy(data, e.field, bytes);
    } else {
        uint64_t at = e.Offset(little, w);
        if (at > fileLength || bytes > fileLength - at) return false;
        file.Seek(static_cast<int64_t>(at), CFile::begin);
        if (file.Read(data, static_cast<uint32_t>(bytes)) != bytes) return false;
    }
    for (uint32_t i = 0; i < e.count; ++i) {
        const uint8_t* p = data + static_cast<size_t>(i) * size;
        if (e.type == tiff::kRational || e.type == tiff::kSRational) {
            uint32_t n = Get32(p, little), d = Get32(p + 4, little);
            double num = e.type == tiff::kSRational ? static_cast<double>(static_cast<int32_t>(n)) : n;
            double den = e.type == tiff::kSRational ? static_cast<double>(static_cast<int32_t>(d)) : d;
            out.push_back(den != 0 ? num / den : 0);
        } else {
            out.push_back(size == 1 ? *p : size == 2 ? Get16(p, little) : Get32(p, little));
        }
    }
    return true;
}

std::vector<uint32_t> Offsets(const std::vector<double>& numbers)
{
    return std::vector<uint32_t>(numbers.begin(), numbers.end());
}

}  // namespace

CStatus CTiffIO::ReadColourEntry(const TiffEntry& e, uint64_t fileLength)
{
    TiffColourFields& c = *m_colour;
    std::vector<double> n;
    bool wanted = e.tag == tiff::kDecode || (e.tag >= tiff::kJpegProc && e.tag <= tiff::kJpegRestartInterval) ||
                  (e.tag >= tiff::kJpegQTables && e.tag <= tiff::kJpegAcTables) ||
                  (e.tag >= tiff::kYCbCrCoefficients && e.tag <= tiff::kReferenceBlackWhite);
    if (!wanted) return CStatus::Ok();
    if (!ReadNumbers(File, e, IntelByteOrder != 0, tiff::TiffWidths{BigTiff != 0}, fileLength, n)) return CStatus::Failed(kMsgBadFileData);
    if (n.empty()) return CStatus::Ok();
    switch (e.tag) {
    case tiff::kYCbCrSubSampling:
        c.subH = static_cast<uint32_t>(n[0]);
        c.subV = n.size() > 1 ? static_cast<uint32_t>(n[1]) : c.subH;
        break;
    case tiff::kYCbCrCoefficients:
        if (n.size() < 3 || n[1] == 0) break;
        for (int k = 0; k < 3; ++k) c.coefficients[k] = static_cast<float>(n[k]);
        c.hasCoefficients = true;
        break;
    case tiff::kReferenceBlackWhite:
        if (n.size() < 6) break;
        for (int k = 0; k < 6; ++k) c.referenceBlackWhite[k] = static_cast<float>(n[k]);
        c.hasReference = true;
        break;
    case tiff::kDecode:
        if (n.size() < 6) break;
        std::copy(n.begin(), n.begin() + 6, c.decode);
        c.hasDecode = true;
        break;
    case tiff::kJpegProc: c.jpegProc = static_cast<uint32_t>(n[0]); break;
    case tiff::kJpegInterchange: c.hasInterchange = true, c.interchangeAt = static_cast<uint32_t>(n[0]); break;
    case tiff::kJpegInterchangeLength: c.interchangeLength = static_cast<uint32_t>(n[0]); break;
    case tiff::kJpegRestartInterval: c.restartInterval = static_cast<uint32_t>(n[0]); break;
    case tiff::kJpegQTables: c.qTables = Offsets(n); break;
    case tiff::kJpegDcTables: c.dcTables = Offsets(n); break;
    case tiff::kJpegAcTables: c.acTables = Offsets(n); break;
    default: break;
    }
    return CStatus::Ok();
}

// PhotometricInterpretation 8, 9, 10 (the L*a*b* encodings, read as RGB),
// 32844 (LogL, grey) and 32845 (LogLuv, RGB); false for any other.
bool CTiffIO::TakeColourPhotometric(uint32_t photometric)
{
    switch (photometric) {
    case tiff::kCieLab:
    case tiff::kIccLab:
    case tiff::kItuLab:
    case tiff::kLogLuv: ColorMode = kModeRgb, ColorChannels = 3; return true;
    case tiff::kLogL: PhotometricSense = 1, ColorChannels = 1; return true;
    default: return false;
    }
}

bool CTiffIO::IsLab() const
{
    return Photometric == tiff::kCieLab || Photometric == tiff::kIccLab || Photometric == tiff::kItuLab;
}

// LogLuv strips decode to bytes: three RGB samples, or one grey.
void CTiffIO::CompleteColour()
{
    if (Compression != static_cast<int32_t>(tiff::kSgiLog) || (Photometric != tiff::kLogL && Photometric != tiff::kLogLuv)) return;
    BitsPerChannel = 8;
    ChannelCount = Photometric == tiff::kLogLuv ? 3 : 1;
    SampleFormat = 1;
    ExtraSampleCount = 0;
    AssociatedAlpha = false;
}

int CTiffIO::ColourRefusal() const
{
    const TiffColourFields& c = *m_colour;
    auto sampling = [](uint32_t s) { return s == 1 || s == 2 || s == 4; };
    bool ycbcr = Photometric == tiff::kYCbCr;
    bool logLuv = Photometric == tiff::kLogL || Photometric == tiff::kLogLuv;
    if ((Compression == static_cast<int32_t>(tiff::kSgiLog)) != logLuv) return kMsgUnsupported;
    if (logLuv) return IsPlanar() ? kMsgUnsupported : 0;
    if (IsLab()) {
        bool depth = BitsPerChannel == 8 || BitsPerChannel == 16;
        return depth && ChannelCount >= 3 && !IsPlanar() && SampleFormat != 3 ? 0 : kMsgUnsupported;
    }
    if (Compression == static_cast<int32_t>(tiff::kOldJpeg)) {
        bool grey = ColorMode == kModeGrey && ChannelCount == 1;
        bool colour = (ycbcr || ColorMode == kModeRgb) && ChannelCount == 3;
        if (BitsPerChannel != 8 || (!grey && !colour) || IsPlanar() || c.jpegProc != 1) return kMsgUnsupported;
        if (ycbcr && (!sampling(c.subH) || !sampling(c.subV))) return kMsgUnsupported;
        bool tables = c.qTables.size() >= ChannelCount && c.dcTables.size() >= ChannelCount &&
                      c.acTables.size() >= ChannelCount;
        return c.hasInterchange || tables ? 0 : kMsgUnsupported;
    }
    if (!ycbcr) return 0;
    // JPEG converts YCbCr from interleaved samples only.
    if (Compression == static_cast<int32_t>(tiff::kJpeg)) return IsPlanar() ? kMsgUnsupported : 0;
    // Uncompressed YCbCr of 8-bit samples, interleaved in data units.
    bool units = Compression == static_cast<int32_t>(tiff::kNone) && BitsPerChannel == 8 && ChannelCount == 3;
    return units && !IsPlanar() && sampling(c.subH) && sampling(c.subV) ? 0 : kMsgUnsupported;
}

uint64_t CTiffIO::StoredBytes(uint32_t rows, uint64_t rowBytes) const
{
    const TiffColourFields& c = *m_colour;
    if (Photometric != tiff::kYCbCr || c.subH == 0 || c.subV == 0) return rowBytes * rows;
    // A data unit: subH x subV luma samples, then Cb and Cr.
    uint64_t units = (static_cast<uint64_t>(Width) + c.subH - 1) / c.subH;
    uint64_t unitRows = (static_cast<uint64_t>(rows) + c.subV - 1) / c.subV;
    return unitRows * units * (static_cast<uint64_t>(c.subH) * c.subV + 2);
}

void CTiffIO::LabToRgbRow(const uint8_t* row, uint8_t* own, uint32_t samples) const
{
    const TiffColourFields& c = *m_colour;
    uint8_t rgb[3 * 256];
    const size_t step = static_cast<size_t>(samples) * (BitsPerChannel / 8);
    for (uint32_t x = 0; x < Width; x += 256) {
        uint32_t n = std::min<uint32_t>(256, Width - x);
        tiff::LabRowToRgb(row + x * step, rgb, n, samples, Photometric, BitsPerChannel, IntelByteOrder != 0,
                          c.hasDecode ? c.decode : nullptr);
        for (uint32_t i = 0; i < n; ++i) memcpy(own + static_cast<size_t>(x + i) * samples, rgb + 3 * i, 3);
    }
}

// Bytes [at, at + count) of the file, cut at its end, appended to store;
// false when they would take store past most bytes or cannot be read.
bool CTiffIO::AppendFileBytes(uint64_t at, uint64_t count, uint64_t most, std::vector<uint8_t>& store)
{
    const uint64_t fileLength = File.GetLength();
    uint64_t from = std::min<uint64_t>(at, fileLength);
    uint64_t bytes = std::min<uint64_t>(count, fileLength - from);
    if (store.size() + bytes > most) return false;
    size_t first = store.size();
    store.resize(first + bytes);
    File.Seek(static_cast<int64_t>(from), CFile::begin);
    return bytes == 0 || File.Read(store.data() + first, static_cast<uint32_t>(bytes)) == bytes;
}

bool CTiffIO::BuildOldJpegStream()
{
    TiffColourFields& c = *m_colour;
    const uint64_t most = kMostStreamFiles * File.GetLength() + 4096;
    // The head's parts, one after the other in jpegHead: the interchange
    // bytes, then each component's quantisation, DC and AC table.
    std::vector<size_t> ends;
    c.jpegHead.clear();
    bool ok = true;
    if (c.hasInterchange) {
        uint64_t length = c.interchangeLength ? c.interchangeLength : File.GetLength();
        ok = AppendFileBytes(c.interchangeAt, length, most, c.jpegHead);
        ends.push_back(c.jpegHead.size());
    }
    for (const std::vector<uint32_t>* tables : {&c.qTables, &c.dcTables, &c.acTables})
        for (uint32_t k = 0; ok && k < ChannelCount && k < tables->size(); ++k) {
            ok = AppendFileBytes((*tables)[k], tables == &c.qTables ? kQuantBytes : kHuffmanBytes, most, c.jpegHead);
            ends.push_back(c.jpegHead.size());
        }
    if (!ok) return false;
    size_t next = 0;
    auto part = [&]() {
        size_t from = next ? ends[next - 1] : 0;
        return std::span<const uint8_t>(c.jpegHead.data() + from, ends[next++] - from);
    };
    TiffOldJpegFields& f = c.jpegFields;
    f = TiffOldJpegFields();
    f.samplesPerPixel = ChannelCount;
    // Colour frames without a PhotometricInterpretation are YCbCr, as the decoder takes them.
    f.ycbcr = Photometric == tiff::kYCbCr || (Photometric == tiff::kNoPhotometric && ChannelCount == 3);
    f.subH = c.subH, f.subV = c.subV;
    f.process = c.jpegProc;
    f.restartInterval = c.restartInterval;
    if (c.hasInterchange) f.interchange = part();
    for (auto* tables : {&f.qTables, &f.dcTables, &f.acTables}) {
        const std::vector<uint32_t>& from = tables == &f.qTables ? c.qTables : tables == &f.dcTables ? c.dcTables : c.acTables;
        for (uint32_t k = 0; k < ChannelCount && k < from.size(); ++k) tables->push_back(part());
    }
    c.jpegStream.clear();
    return Tiled || BuildOldJpegStrips(most);
}

// Strips are pieces of one frame of the whole image.
bool CTiffIO::BuildOldJpegStrips(uint64_t most)
{
    TiffColourFields& c = *m_colour;
    std::vector<uint8_t> store;
    std::vector<size_t> ends;
    // Strips past the image's are no part of it.
    const uint32_t strips = std::min<uint32_t>(StripTotal, (Height - 1) / RowsPerStrip + 1);
    for (uint32_t s = 0; s < strips; ++s) {
        if (!AppendFileBytes(StripOffsets[s], StripByteCounts[s], most, store)) return false;
        ends.push_back(store.size());
    }
    std::vector<std::span<const uint8_t>> pieces;
    for (size_t i = 0; i < ends.size(); ++i) {
        size_t from = i ? ends[i - 1] : 0;
        pieces.emplace_back(store.data() + from, ends[i] - from);
    }
    TiffOldJpegFields f = c.jpegFields;
    f.width = c.frameWidth = Width;
    f.height = c.frameHeight = Height;
    f.rowsPerStrip = RowsPerStrip;
    return CTiffOldJpegStream::Build(f, pieces, &c.jpegStream);
}
