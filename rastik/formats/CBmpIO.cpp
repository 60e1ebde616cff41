// Bitmap reading: the row sources of every way pixels are stored (rows as
// stored, run-length rows, bit fields), from which the base class reads the
// whole image, reduced images and the preview.
#include "rastik/CBmpIO.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "rastik/Exports.h"
#include "rastik/General.h"
#include "rastik/support/Allocates.h"
#include "rastik/Messages.h"
#include "rastik/core/CPlaneRowStream.h"
#include "rastik/core/CRowSource.h"
#include "rastik/core/CStatus.h"
#include "rastik/formats/CBmpBitFieldRows.h"
#include "rastik/formats/CBmpRunLengthRows.h"
#include "rastik/formats/CBmpStoredRows.h"
#include "rastik/support/PixelRows.h"

namespace {

// Stored rows are padded to whole 4-byte words.
uint64_t RowBytes(uint32_t bits, uint32_t width)
{
    return (static_cast<uint64_t>(bits) * width + 31) / 32 * 4;
}

}  // namespace

CBmpIO::CBmpIO(const char* path) : m_refusal(kMsgUnsupported)
{
    Path = path;
    // Rows a host hands to AddToReduceData hold blue, green, red.
    BgrSamples = true;
}

CBmpIO::~CBmpIO()
{
    FreeBuffer(&m_work);
}

uint32_t CBmpIO::FileRowBytes() const
{
    uint64_t n = RowBytes(BmpInfoHeader.BitCount, Width);
    return n > 0xFFFFFFFFull ? 0 : static_cast<uint32_t>(n);
}

CStatus CBmpIO::ReadHead()
{
    int message = ReadHeadFields();
    return message == 0 ? CStatus::Ok() : CStatus::Failed(message);
}

int CBmpIO::HeadReadError() const
{
    return kMsgBadHeader;
}

int CBmpIO::ReadRefusal() const
{
    return m_refusal;
}

int CBmpIO::ReadOneLineData(uint8_t* line)
{
    uint32_t rowBytes = FileRowBytes();
    uint16_t bits = BmpInfoHeader.BitCount;
    if (rowBytes == 0) return 0;
    if (bits >= 8) return File.Read(line, rowBytes) == rowBytes ? 1 : 0;
    if (!m_work || m_workSize < rowBytes) {
        FreeBuffer(&m_work);
        m_work = static_cast<uint8_t*>(AllocBuffer(rowBytes, 0, 1));
        m_workSize = m_work ? rowBytes : 0;
        if (!m_work) return 0;
    }
    if (File.Read(m_work, rowBytes) != rowBytes) return 0;
    rastik::UnpackPixels(m_work, Width, bits, line);
    return 1;
}

// The stored rows in file order: 1- and 4-bit rows unpacked into the index
// plane, other rows handed over as stored (blue, green, red and a fourth
// byte per pixel; a row is padded to whole words). Rows are passed over by
// seeking past them. A whole read of a bottom-up file that holds all its
// rows takes them from the top instead (chunks of stored rows read from the
// end of the data backwards), so that a step following the read can work
// on the rows above while it goes on.
class CBmpIO::RowSource : public CRowSource {
public:
    RowSource(CBmpIO& codec, uint32_t rowBytes, bool extra, bool fromTop)
        : CRowSource(codec.Width, codec.Height, LayoutOf(codec, rowBytes, extra, fromTop)), m_codec(codec),
          m_rowBytes(rowBytes), m_extra(extra), m_fromTop(fromTop), m_storedLeft(codec.Height)
    {
    }

    CStatus Start() override
    {
        m_codec.File.Seek(m_codec.BmpFileHeader.OffBits, CFile::begin);
        return CStatus::Ok();
    }
    CStatus Read(uint8_t* const* rows) override
    {
        if (m_fromTop) {
            const uint8_t* row = NextFromTop();
            if (!row) return CStatus::Failed();
            memcpy(rows[0], row, m_rowBytes);
        } else if (!m_codec.ReadOneLineData(rows[0])) {
            return CStatus::Failed();
        }
        if (m_extra)
            for (uint32_t x = 0; x < m_codec.Width; ++x) m_fourthBytes |= rows[0][4 * static_cast<size_t>(x) + 3];
        return CStatus::Ok();
    }
    CStatus Skip() override
    {
        if (m_fromTop) return NextFromTop() ? CStatus::Ok() : CStatus::Failed();
        m_codec.File.Seek(m_rowBytes, CFile::current);
        return CStatus::Ok();
    }
    CStatus Finish() override
    {
        FreeBuffer(&m_codec.m_work);
        m_codec.m_workSize = 0;
        return m_extra && m_fourthBytes == 0 ? m_codec.MakeExtraPlaneOpaque() : CStatus::Ok();
    }

private:
    // Stored bytes read backwards at once when rows are taken from the top.
    static constexpr uint32_t kChunkBytes = 256u << 10;

    static CRowLayout LayoutOf(const CBmpIO& codec, uint32_t rowBytes, bool extra, bool fromTop)
    {
        CRowLayout l;
        bool topDown = codec.BmpInfoHeader.Height < 0 || fromTop;
        l.Order = topDown ? CPlaneRowStream::kTopDown : CPlaneRowStream::kBottomUp;
        uint32_t bits = codec.BmpInfoHeader.BitCount;
        if (bits < 8) return l;
        l.Interleaved = bits / 8;
        l.Planes = bits == 8 ? 1 : extra ? 4 : 3;
        l.Bgr = bits > 8;
        l.RowBytes = rowBytes;
        return l;
    }

    // The next stored row from the end of the data; null when it cannot be read.
    const uint8_t* NextFromTop()
    {
        if (m_inChunk == 0) {
            if (m_storedLeft == 0) return nullptr;
            const uint32_t rows = std::min(m_storedLeft, std::max<uint32_t>(1, kChunkBytes / m_rowBytes));
            m_storedLeft -= rows;
            const size_t bytes = static_cast<size_t>(rows) * m_rowBytes;
            if (m_chunk.size() < bytes && !rastik::Allocates([&] { m_chunk.resize(bytes); })) return nullptr;
            m_codec.File.Seek(static_cast<int64_t>(m_codec.BmpFileHeader.OffBits + uint64_t{m_storedLeft} * m_rowBytes),
                              CFile::begin);
            if (m_codec.File.Read(m_chunk.data(), bytes) != bytes) return nullptr;
            m_inChunk = rows;
        }
        --m_inChunk;
        return m_chunk.data() + static_cast<size_t>(m_inChunk) * m_rowBytes;
    }

    CBmpIO& m_codec;
    uint32_t m_rowBytes;
    bool m_extra;
    bool m_fromTop;
    uint8_t m_fourthBytes = 0;
    uint32_t m_storedLeft;   // stored rows below the chunk
    uint32_t m_inChunk = 0;  // rows of the chunk still to take, the last stored first
    std::vector<uint8_t> m_chunk;
};

std::unique_ptr<CRowSource> CBmpIO::OpenRowSource(RowPurpose purpose)
{
    if (m_store == PixelStore::kEmbedded) return OpenEmbeddedSource(purpose);
    uint32_t rowBytes = FileRowBytes();
    if (m_fileChannels == 0 || rowBytes == 0 || Width == 0 || Height == 0) return nullptr;
    // The reduced read takes the colour channels from the stored row as the
    // header describes it, stepping over a pixel's fourth sample.
    if (purpose == kReducedImage && (ChannelCount != m_fileChannels || BitsPerChannel != m_fileBitsPerChannel))
        return nullptr;
    bool extra = purpose == kWholeImage && FillsExtraPlane();
    switch (m_store) {
    case PixelStore::kRunLength:
        return std::make_unique<CBmpRunLengthRows>(File, BmpFileHeader.OffBits, Width, Height,
                                                   BmpInfoHeader.BitCount);
    case PixelStore::kBitFields:
        if (!StoredAsBgr()) return std::make_unique<CBmpBitFieldRows>(*this, m_masks, extra);
        break;
    case PixelStore::kRows:
    case PixelStore::kEmbedded: break;
    }
    bool fromTop = purpose == kWholeImage && BmpInfoHeader.Height > 0 && StoredRowsFromTop();
    return std::make_unique<RowSource>(*this, rowBytes, extra, fromTop);
}

bool CBmpIO::StoredRowsFromTop()
{
    if (BmpInfoHeader.Height < 0) return true;
    // A bottom-up file that holds all its rows is read from the end backwards.
    const uint32_t rowBytes = FileRowBytes();
    return BmpInfoHeader.BitCount >= 8 && rowBytes > 0 &&
           File.GetLength() >= BmpFileHeader.OffBits + uint64_t{rowBytes} * Height;
}

bool CBmpIO::FillsExtraPlane() const
{
    // A fourth channel fills the extra plane too, unless the host holds
    // only the colour channels.
    return m_fileChannels == 4 && ChannelCount >= 4 && !UseColorChannels;
}

bool CBmpIO::WholeReadFromTop()
{
    // Stored rows of whole bytes, split into the planes a row at a time; the
    // extra plane may be made opaque after the read, over all its rows.
    return m_store == PixelStore::kRows && BmpInfoHeader.BitCount >= 8 && !FillsExtraPlane() && StoredRowsFromTop();
}

std::unique_ptr<CStoredRows> CBmpIO::OpenStoredRows()
{
    // Uncompressed 24-bit rows, all of them in the file, as the colour channels.
    const uint32_t rowBytes = FileRowBytes();
    if (m_store != PixelStore::kRows || BmpInfoHeader.BitCount != 24 || ChannelCount != 3 || rowBytes == 0 ||
        Width == 0 || Height == 0 || !File.IsOpen() ||
        File.GetLength() < BmpFileHeader.OffBits + uint64_t{rowBytes} * Height)
        return nullptr;
    return std::make_unique<CBmpStoredRows>(File, BmpFileHeader.OffBits, rowBytes, Width, Height,
                                            BmpInfoHeader.Height < 0);
}

// Masks of a 32-bit pixel's blue, green, red (and alpha) bytes in order:
// the rows read as those of an uncompressed 32-bit file.
bool CBmpIO::StoredAsBgr() const
{
    return BmpInfoHeader.BitCount == 32 && m_masks[0] == 0x00FF0000 && m_masks[1] == 0x0000FF00 &&
           m_masks[2] == 0x000000FF && (m_masks[3] == 0 || m_masks[3] == 0xFF000000);
}

// Most 32-bit files leave the fourth byte unused, as 0: read as alpha, such a
// file would be wholly transparent, so an extra plane of nothing but zeros
// becomes fully opaque instead.
CStatus CBmpIO::MakeExtraPlaneOpaque()
{
    CPlaneRowStream::PlaneSet set{ChannelKind + 3, ChannelData + 3, ChannelOffset + 3, TempFileObject};
    CPlaneRowStream rows(*this, set, CPlaneRowStream::kFill, CPlaneRowStream::kTopDown, 1);
    rows.LeaveMessagesToStatus();
    if (!rows.Open()) return rows.Status() ? CStatus::Failed() : rows.Status();
    for (uint32_t n = 0; n < Height; ++n) {
        uint8_t* row = rows.Row(0);
        if (!row) return rows.Status();
        memset(row, 0xFF, Width);
        if (!rows.Advance()) return rows.Status();
    }
    rows.Finish();
    return rows.Status();
}
