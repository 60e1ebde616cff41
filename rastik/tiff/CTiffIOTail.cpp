// TIFF writing after the pixel data: the value arrays that do not fit into
// directory entries, the Photoshop resource block (clip paths, thumbnail),
// the directory of the image and its offset patched into the header.
#include <algorithm>
#include <vector>

#include "rastik/CTiffIO.h"
#include "rastik/Messages.h"
#include "rastik/core/COperation.h"
#include "rastik/core/CSizeRule.h"
#include "rastik/support/ByteOrder.h"
#include "rastik/tiff/TiffEntry.h"
#include "rastik/tiff/TiffTags.h"

using tiff::TiffEntry;
using tiff::TiffWidths;

namespace {

// Bytes written in the file's byte order, gathered for one write.
class TailBytes {
public:
    explicit TailBytes(bool little) : m_little(little) {}
    void Put16(uint16_t v)
    {
        size_t at = m_bytes.size();
        m_bytes.resize(at + 2);
        rastik::Put16(&m_bytes[at], v, m_little);
    }
    void Put32(uint32_t v)
    {
        size_t at = m_bytes.size();
        m_bytes.resize(at + 4);
        rastik::Put32(&m_bytes[at], v, m_little);
    }
    void Put64(uint64_t v)
    {
        size_t at = m_bytes.size();
        m_bytes.resize(at + 8);
        rastik::Put64(&m_bytes[at], v, m_little);
    }
    // An item of a SHORT, LONG or LONG8 entry.
    void PutItem(uint16_t type, uint64_t v)
    {
        if (type == tiff::kShort) Put16(static_cast<uint16_t>(v));
        else if (type == tiff::kLong8) Put64(v);
        else Put32(static_cast<uint32_t>(v));
    }
    void PutOffset(uint64_t v, TiffWidths w)
    {
        if (w.big) Put64(v);
        else Put32(static_cast<uint32_t>(v));
    }
    void PutEntry(const TiffEntry& e, TiffWidths w)
    {
        size_t at = m_bytes.size();
        m_bytes.resize(at + w.EntryBytes());
        e.Write(&m_bytes[at], m_little, w);
    }
    // Moves what was gathered into the value field of e (it fits there).
    void InlineInto(TiffEntry& e)
    {
        std::copy(m_bytes.begin(), m_bytes.begin() + std::min<size_t>(m_bytes.size(), sizeof e.field), e.field);
        e.inlined = true;
        m_bytes.clear();
    }
    void PutBytes(const std::vector<uint8_t>& bytes) { m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end()); }
    // Writes what was gathered at the file position, which it returns.
    uint64_t WriteTo(CFile& file)
    {
        uint64_t at = file.GetPosition();
        if (!m_bytes.empty()) file.Write(m_bytes.data(), static_cast<uint32_t>(m_bytes.size()));
        m_bytes.clear();
        return at;
    }

private:
    bool m_little;
    std::vector<uint8_t> m_bytes;
};

// Whole dots per inch of a resolution in its unit, as the RATIONAL n / 1.
uint32_t DotsPerInch(float resolution, uint32_t unit)
{
    return static_cast<uint32_t>(std::max<int32_t>(0, CSizeRule::DotsPerInch(resolution, unit)));
}

// JPEG strips: YCbCr with the chrominance sampled 2 x 2 and the full range
// of 8-bit samples (ReferenceBlackWhite, six RATIONALs n / 1), and the
// tables stream, last since its length may be odd.
constexpr uint16_t kChromaSampling = 2;
constexpr uint32_t kBlackWhite[6] = {0, 255, 128, 255, 128, 255};

void AddJpegValues(TailBytes& out, CFile& file, const std::vector<uint8_t>& tables, bool ycc,
                   std::vector<TiffEntry>& entries)
{
    if (ycc) {
        entries.push_back({tiff::kYCbCrSubSampling, tiff::kShort, 2, kChromaSampling, kChromaSampling});
        for (uint32_t v : kBlackWhite) out.Put32(v), out.Put32(1);
        entries.push_back({tiff::kReferenceBlackWhite, tiff::kRational, 6, out.WriteTo(file)});
    }
    if (tables.empty()) return;
    out.PutBytes(tables);
    uint64_t at = out.WriteTo(file);
    entries.push_back({tiff::kJpegTables, tiff::kUndefined, static_cast<uint32_t>(tables.size()), at});
}

// Directories and value arrays begin on a word boundary.
void PadToWord(CFile& file)
{
    static const uint8_t kZero = 0;
    if (file.GetPosition() % 2) file.Write(&kZero, 1);
}

}  // namespace

uint32_t CTiffIO::WriteResourceBlock()
{
    uint32_t bytes = WritePath();
    if (!WritePreview) return bytes;
    // A thumbnail that cannot be made is left out.
    uint64_t at = File.GetPosition();
    int32_t preview = WritePrevFile();
    if (preview > 0) return bytes + static_cast<uint32_t>(preview);
    File.Seek(static_cast<int64_t>(at), CFile::begin);
    return bytes;
}

int CTiffIO::WriteTail()
{
    if (m_tailWritten) return 1;
    COperation op(*this, COperation::kWrite);
    if (!m_headerWritten || StripTotal == 0 || StripOffsets.size() != StripTotal ||
        StripByteCounts.size() != StripTotal || m_writtenSamples == 0)
        return op.Conclude(CStatus::Failed());
    int ok = op.Run([&] { return WriteTailParts(); });
    if (ok)
        m_tailWritten = true;
    else
        DeleteOutput();
    return ok;
}

CStatus CTiffIO::WriteTailParts()
{
    int32_t escBefore = EscPressed;
    PadToWord(File);
    std::vector<TiffEntry> entries = WriteTailValues();
    uint64_t blockAt = File.GetPosition();
    uint32_t blockBytes = WriteResourceBlock();
    if (EscPressed && !escBefore) return CStatus::Stopped();
    // An empty block is left out: readers refuse an entry of no values.
    if (blockBytes) entries.push_back({tiff::kPhotoshop, tiff::kByte, blockBytes, blockAt});
    AddImageEntries(entries);
    return WriteDirectory(entries);
}

// An entry of the items: in its value field when they fit, else written at
// the file position, which the entry then holds.
TiffEntry CTiffIO::ValuesEntry(uint16_t tag, uint16_t type, const std::vector<uint64_t>& items)
{
    TiffWidths w{m_writeBig};
    TailBytes out(IntelByteOrder != 0);
    TiffEntry e{tag, type, items.size(), 0};
    uint16_t itemType = type == tiff::kRational ? static_cast<uint16_t>(tiff::kLong) : type;
    for (uint64_t v : items) out.PutItem(itemType, v);
    if (type == tiff::kRational) e.count /= 2;
    if (e.Fits(w))
        out.InlineInto(e);
    else
        e.value = out.WriteTo(File);
    return e;
}

// Value arrays: bits per sample, resolutions, strip tables, extra samples,
// each written where it does not fit into its entry.
std::vector<TiffEntry> CTiffIO::WriteTailValues()
{
    uint32_t samples = m_writtenSamples;
    uint32_t extra = samples > ColorChannels ? samples - ColorChannels : 0;
    uint16_t tableType = m_writeBig ? tiff::kLong8 : tiff::kLong;
    std::vector<TiffEntry> entries = {
        ValuesEntry(tiff::kBitsPerSample, tiff::kShort, std::vector<uint64_t>(samples, m_writtenBits)),
        ValuesEntry(tiff::kXResolution, tiff::kRational, {DotsPerInch(XResolution, ResolutionUnit), 1}),
        ValuesEntry(tiff::kYResolution, tiff::kRational, {DotsPerInch(YResolution, ResolutionUnit), 1}),
        ValuesEntry(tiff::kStripOffsets, tableType, StripOffsets),
        ValuesEntry(tiff::kStripByteCounts, tableType, StripByteCounts),
    };
    if (extra) entries.push_back(ValuesEntry(tiff::kExtraSamples, tiff::kShort, std::vector<uint64_t>(extra, tiff::kExtraUnspecified)));
    if (m_writtenCompression == tiff::kJpeg) {
        TailBytes out(IntelByteOrder != 0);
        AddJpegValues(out, File, JpegTables, WritesYCbCr(), entries);
    }
    return entries;
}

// The entries whose values stand in the entry.
void CTiffIO::AddImageEntries(std::vector<TiffEntry>& entries) const
{
    entries.insert(entries.end(), {
        {tiff::kImageWidth, tiff::kLong, 1, Width},
        {tiff::kImageLength, tiff::kLong, 1, Height},
        {tiff::kCompression, tiff::kShort, 1, m_writtenCompression},
        {tiff::kPhotometric, tiff::kShort, 1, WrittenPhotometric()},
        {tiff::kSamplesPerPixel, tiff::kShort, 1, m_writtenSamples},
        {tiff::kRowsPerStrip, tiff::kLong, 1, RowsPerStrip},
        {tiff::kPlanarConfig, tiff::kShort, 1, tiff::kPlanarContiguous},
        {tiff::kResolutionUnit, tiff::kShort, 1, tiff::kResolutionInch},
    });
    if (m_writtenCompression == tiff::kLzw || m_writtenCompression == tiff::kDeflate)
        entries.push_back({tiff::kPredictor, tiff::kShort, 1, tiff::kPredictorHorizontal});
    if (uint32_t map = ColorMapEntries())
        entries.push_back({tiff::kColorMap, tiff::kShort, map * 3, TiffWidths{m_writeBig}.HeaderBytes()});
}

// The directory on a word boundary, entries in ascending tag order, and its
// offset in the header. A failure (27709) when a classic file would pass the
// 4 GiB it can address.
CStatus CTiffIO::WriteDirectory(std::vector<TiffEntry>& entries)
{
    std::stable_sort(entries.begin(), entries.end(),
                     [](const TiffEntry& a, const TiffEntry& b) { return a.tag < b.tag; });
    TiffWidths w{m_writeBig};
    PadToWord(File);
    TailBytes out(IntelByteOrder != 0);
    if (w.big) out.Put64(entries.size());
    else out.Put16(static_cast<uint16_t>(entries.size()));
    for (const TiffEntry& e : entries) out.PutEntry(e, w);
    out.PutOffset(0, w);
    uint64_t directoryAt = out.WriteTo(File);
    uint64_t end = File.GetPosition();
    if (!w.big && end > 0xFFFFFFFFull) return CStatus::Failed(kMsgUnsupported);
    out.PutOffset(directoryAt, w);
    File.Seek(w.big ? tiff::kBigFirstDirectoryAt : tiff::kFirstDirectoryAt, CFile::begin);
    out.WriteTo(File);
    File.Seek(static_cast<int64_t>(end), CFile::begin);
    File.Flush();
    return CStatus::Ok();
}
