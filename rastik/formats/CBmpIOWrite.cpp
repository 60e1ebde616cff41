// Bitmap writing: the headers and colour table, whole-image writing from the
// planes (bottom row first, in chunks; or, following the step that makes
// the rows, chunks from the top as their rows become final), and the block
// writers of streaming hosts (RGB blocks from the top, single channels
// sample by sample).
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "rastik/CBmpIO.h"
#include "rastik/Exports.h"
#include "rastik/General.h"
#include "rastik/Messages.h"
#include "rastik/core/COperation.h"
#include "rastik/core/COutputRows.h"
#include "rastik/core/CPlaneRowStream.h"
#include "rastik/core/CRowFeed.h"
#include "rastik/core/CRowProgress.h"
#include "rastik/formats/BmpHeaderLayout.h"
#include "rastik/support/CPoolScope.h"
#include "rastik/support/CScopedBuffer.h"
#include "rastik/support/PixelRows.h"

namespace {

// Without spilled planes the staging area only holds output rows; a few
// megabytes of them write as fast as the whole image would.
constexpr uint64_t kOutputChunkBytes = 4u << 20;

// A row of blue, green, red and alpha bytes.
void FillAlphaRow(uint8_t* out, uint32_t width, const uint8_t* const* src)
{
    const uint8_t* r = src[0];
    const uint8_t* g = src[1];
    const uint8_t* b = src[2];
    const uint8_t* a = src[3];
    for (uint32_t x = 0; x < width; ++x, out += 4) {
        out[0] = b[x];
        out[1] = g[x];
        out[2] = r[x];
        out[3] = a[x];
    }
}

// One stored row: samples interleaved with the channel order reversed (blue,
// green, red, and alpha last), or one index or grey byte per pixel, or 1-bit
// pixels packed most significant bit first; padding bytes are 0.
void FillRow(uint8_t* out, uint32_t rowBytes, uint32_t width, bool oneBit, uint32_t channels,
             const uint8_t* const* src)
{
    if (channels == 4) {
        FillAlphaRow(out, width, src);
        return;
    }
    if (oneBit) {
        memset(out, 0, rowBytes);
        rastik::PackNonZero(src[0], width, out);
        return;
    }
    if (channels == 1) {
        memcpy(out, src[0], width);
        memset(out + width, 0, rowBytes - width);
        return;
    }
    const uint8_t* r = src[0];
    const uint8_t* g = src[1];
    const uint8_t* b = src[2];
    uint8_t* o = out;
    for (uint32_t x = 0; x < width; ++x, o += 3) {
        o[0] = b[x];
        o[1] = g[x];
        o[2] = r[x];
    }
    memset(out + 3 * static_cast<size_t>(width), 0, rowBytes - 3 * static_cast<size_t>(width));
}

// The rows of a write that follows a feed, in chunks from the top as their
// rows become final: with heap planes and worker threads a chunk is turned
// into file rows on the workers while the feed goes on, and written at its
// place (the file holds rows bottom-up) when the chunk after it is final or
// the feed has ended; two chunk buffers take turns. Progress and Esc are the
// feed's.
class FollowingChunks {
public:
    struct Shape {
        uint64_t pixelsAt;  // file position of the bottom row
        uint32_t width, height, rowBytes, channels;
        bool oneBit;
    };

    FollowingChunks(CRastik& image, const Shape& shape)
        : m_file(image.File), m_shape(shape),
          m_rows(image, CPlaneRowStream::kDrain, CPlaneRowStream::kTopDown, shape.channels),
          m_pool(CPoolScope::Lent())
    {
        m_rows.LeaveMessagesToStatus();
        m_rows.WithoutProgress();
        for (uint32_t c = 0; c < shape.channels; ++c)
            if (image.ChannelKind[c] != kChannelHeap) m_pool = nullptr;
        uint64_t rows = std::max<uint64_t>(1, std::min<uint64_t>(shape.height / 8, kMostChunkBytes / shape.rowBytes));
        m_chunkRows = static_cast<uint32_t>(rows);
    }
    ~FollowingChunks()
    {
        for (Chunk& c : m_chunks)
            if (c.job) m_pool->Wait(*c.job);
    }
    FollowingChunks(const FollowingChunks&) = delete;
    FollowingChunks& operator=(const FollowingChunks&) = delete;

    CStatus Run(CRowFeed& feed)
    {
        CRowFeed::Follow(feed, m_status, [this](uint32_t rows) { Take(rows); }, m_shape.height);
        for (uint32_t i = 0; i < 2 && m_status; ++i, m_turn ^= 1) m_status = Write(m_chunks[m_turn]);
        return m_status;
    }

private:
    static constexpr uint64_t kMostChunkBytes = 512u << 10;
    static constexpr uint32_t kRowsPerItem = 16;

    struct Chunk {
        COutputRows out;
        std::vector<const uint8_t*> src;  // plane rows, channels per row
        std::shared_ptr<CWorkerPool::CJob> job;
        uint32_t first = 0, rows = 0;
    };

    // Makes the file rows of every chunk whose rows are final.
    void Take(uint32_t finalRows)
    {
        const uint32_t height = m_shape.height;
        while (m_status && m_row < height && std::min(m_chunkRows, height - m_row) <= finalRows - m_row) {
            Chunk& chunk = m_chunks[m_turn];
            if (!(m_status = Write(chunk))) return;
            if (!m_opened && !(m_opened = m_rows.Open())) m_status = StreamStatus();
            if (m_status && !chunk.out.Data()) m_status = chunk.out.Take(m_shape.rowBytes, m_chunkRows);
            if (!m_status) return;
            chunk.first = m_row;
            chunk.rows = std::min({m_chunkRows, chunk.out.Rows(), height - m_row});
            m_status = m_pool ? Start(chunk) : Fill(chunk);
            m_row += chunk.rows;
            m_turn ^= 1;
        }
    }

    CStatus StreamStatus() const { return m_rows.Status() ? CStatus::Failed() : m_rows.Status(); }

    // File row of image row first + i: the chunk's rows stored from its last up.
    uint8_t* OutRow(const Chunk& chunk, uint32_t i) const { return chunk.out.Row(chunk.rows - 1 - i); }

    // The chunk's rows here, one plane row at a time (spilled planes).
    CStatus Fill(Chunk& chunk)
    {
        for (uint32_t i = 0; i < chunk.rows; ++i) {
            const uint8_t* src[4] = {};
            for (uint32_t k = 0; k < m_shape.channels; ++k)
                if (!(src[k] = m_rows.Row(k))) return StreamStatus();
            FillRow(OutRow(chunk, i), m_shape.rowBytes, m_shape.width, m_shape.oneBit, m_shape.channels, src);
            if (!m_rows.Advance()) return m_rows.Status();
        }
        return CStatus::Ok();
    }

    // The chunk's rows on the workers, from heap plane rows that stay put.
    CStatus Start(Chunk& chunk)
    {
        const uint32_t channels = m_shape.channels;
        chunk.src.resize(static_cast<size_t>(chunk.rows) * channels);
        for (uint32_t i = 0; i < chunk.rows; ++i)
            for (uint32_t k = 0; k < channels; ++k)
                if (!(chunk.src[static_cast<size_t>(i) * channels + k] = m_rows.Row(k, i))) return StreamStatus();
        if (!m_rows.Advance(chunk.rows)) return m_rows.Status();
        const Shape shape = m_shape;
        Chunk* c = &chunk;
        chunk.job = m_pool->Start((chunk.rows + kRowsPerItem - 1) / kRowsPerItem, [this, c, shape](uint32_t item) {
            const uint32_t end = std::min(c->rows, (item + 1) * kRowsPerItem);
            for (uint32_t i = item * kRowsPerItem; i < end; ++i)
                FillRow(OutRow(*c, i), shape.rowBytes, shape.width, shape.oneBit, shape.channels,
                        c->src.data() + static_cast<size_t>(i) * shape.channels);
        });
        return CStatus::Ok();
    }

    // Writes a chunk made before, if any, at its place in the file.
    CStatus Write(Chunk& chunk)
    {
        if (chunk.job) {
            m_pool->Wait(*chunk.job);
            bool failed = chunk.job->Failed();
            chunk.job.reset();
            if (failed) return CStatus::Failed();
        }
        if (chunk.rows == 0) return CStatus::Ok();
        const uint64_t below = m_shape.height - chunk.first - chunk.rows;
        m_file.Seek(static_cast<int64_t>(m_shape.pixelsAt + below * m_shape.rowBytes), CFile::begin);
        m_file.Write(chunk.out.Data(), chunk.rows * m_shape.rowBytes);
        chunk.rows = 0;
        return CStatus::Ok();
    }

    CFile& m_file;
    const Shape m_shape;
    CPlaneRowStream m_rows;
    CWorkerPool* m_pool;
    uint32_t m_chunkRows = 1;
    Chunk m_chunks[2];
    uint32_t m_turn = 0;
    uint32_t m_row = 0;
    bool m_opened = false;
    CStatus m_status = CStatus::Ok();
};

}  // namespace

bool CBmpIO::HasAlphaPlane() const
{
    return ColorMode == kModeRgb && ColorChannels == 3 && ChannelCount == 4 && !UseColorChannels;
}

uint32_t CBmpIO::WrittenChannels() const
{
    return m_withAlpha ? 4 : ColorChannels;
}

uint32_t CBmpIO::WrittenRowBytes() const
{
    uint64_t n = ColorMode == kModeBitmap ? (static_cast<uint64_t>(Width) + 31) / 32 * 4
                                          : (static_cast<uint64_t>(Width) * WrittenChannels() + 3) / 4 * 4;
    return n > 0xFFFFFFFFull ? 0 : static_cast<uint32_t>(n);
}

int CBmpIO::MakeGreyPalette(uint32_t count)
{
    FreeBuffer(&Palette);
    Palette = static_cast<uint8_t*>(AllocBuffer(count * 4, 0, 0));
    if (!Palette) return 0;
    rastik::FillGreyRamp(Palette, count);
    return 1;
}

int CBmpIO::WriteHeader()
{
    COperation op(*this, COperation::kWrite);
    return op.Run([&] { return WriteHeaderFields(); });
}

CStatus CBmpIO::WriteHeaderFields()
{
    // A bitmap holds one index or grey byte, or blue, green and red, per pixel.
    if (ColorChannels != 1 && ColorChannels != 3) return CStatus::Failed(kMsgBmpChannels);
    if (Width == 0 || Height == 0 || Width > 0x7FFFFFFF || Height > 0x7FFFFFFF) return CStatus::Failed();
    if (!MakeHeaderPalette()) return CStatus::Failed();
    uint32_t rowBytes = WrittenRowBytes();
    uint32_t headerBytes = m_withAlpha ? kBmpV5InfoHeaderBytes : kInfoHeaderBytes;
    uint64_t offset = kFileHeaderBytes + headerBytes + (m_withAlpha ? 0 : 4ull * PaletteSize);
    // The file size is rounded up to whole words: 2 bytes past the last row.
    uint64_t size = (offset + static_cast<uint64_t>(rowBytes) * Height + 3) / 4 * 4;
    if (rowBytes == 0 || size > 0xFFFFFFFFull) return CStatus::Failed();
    int32_t xppm = 0, yppm = 0;
    if (!BmpPelsPerMetre(XResolution, ResolutionUnit, &xppm) || !BmpPelsPerMetre(YResolution, ResolutionUnit, &yppm))
        return CStatus::Failed(kMsgResolutionUnit);

    BmpFileHeader = FileHeader{kBmpType, static_cast<uint32_t>(size), 0, 0, static_cast<uint32_t>(offset)};
    InfoHeader& h = BmpInfoHeader;
    h = InfoHeader{};
    h.Size = headerBytes;
    h.Width = static_cast<int32_t>(Width);
    h.Height = static_cast<int32_t>(Height);
    h.Planes = 1;
    h.BitCount = static_cast<uint16_t>(ColorMode == kModeBitmap ? 1 : WrittenChannels() * 8);
    h.XPelsPerMeter = xppm;
    h.YPelsPerMeter = yppm;
    h.ClrUsed = m_withAlpha ? 0 : PaletteSize;
    if (m_withAlpha) {
        h.Compression = kBmpBitFields;
        h.SizeImage = static_cast<uint32_t>(static_cast<uint64_t>(rowBytes) * Height);
    }

    uint8_t b[kFileHeaderBytes + kBmpV5InfoHeaderBytes] = {};
    PackBmpHeaders(BmpFileHeader, h, b);
    if (m_withAlpha) PackBmpV5Fields(b + kBmpHeadersBytes);
    File.Write(b, kFileHeaderBytes + headerBytes);
    if (PaletteSize > 0 && !m_withAlpha) File.Write(Palette, PaletteSize * 4);
    File.Flush();
    return CStatus::Ok();
}

// The colour table written: the grey ramp for a grey image, two entries
// for a bitmap, the image's own for an indexed one.
int CBmpIO::MakeHeaderPalette()
{
    if (ColorMode == kModeGrey) {
        PaletteSize = 256;
        return MakeGreyPalette(256);
    }
    if (ColorMode == kModeBitmap) {
        // Without a palette of its own the image is black and white.
        if ((!Palette || PaletteSize < 2) && !MakeGreyPalette(2)) return 0;
        PaletteSize = 2;
        return 1;
    }
    // An 8-bit bitmap needs its colour table; grey stands in for a missing one.
    if (ColorChannels == 1 && PaletteSize == 0) PaletteSize = 256;
    if (PaletteSize > 256) return 0;
    return PaletteSize == 0 || Palette || MakeGreyPalette(PaletteSize);
}

CStatus CBmpIO::EmitRows()
{
    uint32_t channels = WrittenChannels();
    uint32_t rowBytes = WrittenRowBytes();
    if ((channels != 1 && channels != 3 && channels != 4) || rowBytes == 0) return CStatus::Failed();
    bool oneBit = ColorMode == kModeBitmap;
    CPlaneRowStream rows(*this, CPlaneRowStream::kDrain, CPlaneRowStream::kBottomUp, channels);
    rows.LeaveMessagesToStatus();
    if (m_withAlpha) rows.SetProgress(2 * Height, Height);
    if (!rows.Open()) return rows.Status() ? CStatus::Failed() : rows.Status();
    // Output rows are collected and written a few megabytes at a time.
    COutputRows out;
    if (CStatus s = out.Take(rowBytes, std::min<uint64_t>(Height, std::max<uint64_t>(1, kOutputChunkBytes / rowBytes)));
        !s)
        return s;
    uint32_t chunkRows = out.Rows();
    // Plane rows go out from the bottom of the image upwards.
    for (uint32_t done = 0; done < Height;) {
        uint32_t n = std::min(chunkRows, Height - done);
        for (uint32_t i = 0; i < n; ++i) {
            const uint8_t* src[4] = {};
            for (uint32_t k = 0; k < channels; ++k)
                if (!(src[k] = rows.Row(k))) return rows.Status() ? CStatus::Failed() : rows.Status();
            FillRow(out.Row(i), rowBytes, Width, oneBit, channels, src);
            if (!rows.Advance()) return rows.Status();
        }
        File.Write(out.Data(), n * rowBytes);
        done += n;
    }
    rows.Finish();
    return rows.Status();
}

void CBmpIO::WritePixelEnd()
{
    uint64_t end = static_cast<uint64_t>(BmpFileHeader.OffBits) + static_cast<uint64_t>(WrittenRowBytes()) * Height;
    if (BmpFileHeader.Size <= end || BmpFileHeader.Size - end > 3) return;
    static const uint8_t kZeros[4] = {};
    File.Seek(static_cast<int64_t>(end), CFile::begin);
    File.Write(kZeros, static_cast<uint32_t>(BmpFileHeader.Size - end));
}

int CBmpIO::WriteFile()
{
    COperation op(*this, COperation::kWrite);
    CRowFeed* feed = Feed();
    WriteFollowing(nullptr);
    int result = op.Run([&] {
        // Whether alpha is written depends on the whole alpha plane, which
        // the header tells: the feed ends first.
        if (feed && HasAlphaPlane()) {
            if (!feed->Run([](uint32_t) {})) return CStatus::Failed();
            feed = nullptr;
        }
        if (CStatus s = FindTransparency(&m_withAlpha); !s) return s;
        if (!WriteHeader()) return op.Of(0);
        return feed ? EmitFollowing(*feed) : EmitPixels();
    });
    m_withAlpha = false;
    return result;
}

// Whether the alpha plane holds any pixel that is not opaque (255). One of
// nothing but opaque pixels (the unused fourth bytes of a 32-bit file) is
// written as 24-bit pixels; this pass takes the first half of the progress.
CStatus CBmpIO::FindTransparency(bool* found)
{
    *found = false;
    if (!HasAlphaPlane() || Height > 0x7FFFFFFF) return CStatus::Ok();
    CPlaneRowStream::PlaneSet set{ChannelKind + 3, ChannelData + 3, ChannelOffset + 3, TempFileObject};
    CPlaneRowStream rows(*this, set, CPlaneRowStream::kDrain, CPlaneRowStream::kBottomUp, 1);
    rows.LeaveMessagesToStatus();
    rows.SetProgress(2 * Height, 0);
    if (!rows.Open()) return rows.Status() ? CStatus::Failed() : rows.Status();
    for (uint32_t n = 0; n < Height && !*found; ++n) {
        const uint8_t* row = rows.Row(0);
        if (!row) return rows.Status() ? CStatus::Failed() : rows.Status();
        for (uint32_t x = 0; x < Width; ++x)
            if (row[x] != 0xFF) {
                *found = true;
                break;
            }
        if (!rows.Advance()) return rows.Status();
    }
    rows.Finish();
    return rows.Status();
}

int CBmpIO::WriteImageData()
{
    COperation op(*this, COperation::kWrite);
    return op.Run([&] {
        if (BmpFileHeader.Type != kBmpType || BmpFileHeader.OffBits == 0) return CStatus::Failed();
        File.Seek(BmpFileHeader.OffBits, CFile::begin);
        return EmitPixels();
    });
}

CStatus CBmpIO::EmitPixels()
{
    if (CStatus s = EmitRows(); !s) return s;
    WritePixelEnd();
    File.Flush();
    return CStatus::Ok();
}

CStatus CBmpIO::EmitFollowing(CRowFeed& feed)
{
    uint32_t channels = WrittenChannels();
    uint32_t rowBytes = WrittenRowBytes();
    if ((channels != 1 && channels != 3 && channels != 4) || rowBytes == 0) return CStatus::Failed();
    FollowingChunks rows(*this, {BmpFileHeader.OffBits, Width, Height, rowBytes, channels, ColorMode == kModeBitmap});
    if (CStatus s = rows.Run(feed); !s) return s;
    WritePixelEnd();
    File.Flush();
    return CStatus::Ok();
}

int CBmpIO::WriteRgbDataImage(uint8_t* r, uint8_t* g, uint8_t* b, uint32_t rowCount)
{
    COperation op(*this, COperation::kWrite);
    return op.Run([&] { return WriteRgbRows(r, g, b, rowCount); });
}

CStatus CBmpIO::WriteRgbRows(uint8_t* r, uint8_t* g, uint8_t* b, uint32_t rowCount)
{
    if (!r || !g || !b || Width == 0) return CStatus::Failed();
    if (rowCount == 0) return CStatus::Ok();
    uint32_t pad = (4 - (3 * Width) % 4) % 4;
    uint64_t rowBytes = 3ull * Width + pad;
    uint32_t first = RowsWritten[0];
    if (static_cast<uint64_t>(first) + rowCount > Height || rowBytes * rowCount > 0xFFFFFFFFull) return CStatus::Failed();
    RowsWritten[0] = first + rowCount;
    CScopedBuffer buf(AllocBuffer(static_cast<uint32_t>(rowBytes * rowCount), 1, 0));
    if (!buf.p) return CStatus::Failed();
    CRowProgress progress(Height, first, &EscPressed);
    // Block row i is image row first + i; the file holds rows bottom-up, so
    // the block lands below the rows written before it, its first row highest.
    for (uint32_t i = 0; i < rowCount; ++i) {
        if (!progress.Step()) return CStatus::Stopped();
        const uint8_t* src[3] = {r + static_cast<size_t>(i) * Width, g + static_cast<size_t>(i) * Width,
                                 b + static_cast<size_t>(i) * Width};
        FillRow(buf.p + (rowCount - 1 - i) * rowBytes, static_cast<uint32_t>(rowBytes), Width, false, 3, src);
    }
    uint64_t p = File.Seek(kFileHeaderBytes + kInfoHeaderBytes + 4ull * PaletteSize, CFile::begin);
    File.Seek(static_cast<int64_t>(p + (Height - RowsWritten[0]) * rowBytes), CFile::begin);
    File.Write(buf.p, static_cast<uint32_t>(rowBytes * rowCount));
    File.Flush();
    return CStatus::Ok();
}

int CBmpIO::WriteBlockData(uint8_t* rows, uint32_t channel, uint32_t rowCount)
{
    COperation op(*this, COperation::kWrite);
    return op.Run([&] { return WriteChannelRows(rows, channel, rowCount); });
}

CStatus CBmpIO::WriteChannelRows(const uint8_t* rows, uint32_t channel, uint32_t rowCount)
{
    // Channel c is byte c of each stored pixel: 0 blue, 1 green, 2 red.
    if (!rows || channel > 2 || Width == 0) return CStatus::Failed();
    if (rowCount == 0) return CStatus::Ok();
    uint32_t pad = (4 - (3 * Width) % 4) % 4;
    uint64_t rowBytes = 3ull * Width + pad;
    uint64_t before = RowsWritten[channel] / Width;
    if (before + rowCount > Height ||
        static_cast<uint64_t>(RowsWritten[channel]) + static_cast<uint64_t>(rowCount) * Width > 0xFFFFFFFFull)
        return CStatus::Failed();
    uint64_t base = kFileHeaderBytes + kInfoHeaderBytes + 4ull * PaletteSize + before * rowBytes;
    // Blocks are placed from the bottom of the image upwards; within a
    // block the first row is the highest.
    for (uint32_t i = 0; i < rowCount; ++i) {
        uint64_t at = base + static_cast<uint64_t>(rowCount - 1 - i) * rowBytes + channel;
        const uint8_t* src = rows + static_cast<size_t>(i) * Width;
        for (uint32_t j = 0; j < Width; ++j, at += 3) {
            File.Seek(static_cast<int64_t>(at), CFile::begin);
            File.Write(src + j, 1);
        }
    }
    File.Flush();
    RowsWritten[channel] += rowCount * Width;
    return CStatus::Ok();
}

int CBmpIO::WriteTail()
{
    COperation op(*this, COperation::kWrite);
    return op.Run([&] {
        if (BmpFileHeader.Type != kBmpType || BmpFileHeader.OffBits == 0) return CStatus::Ok();
        WritePixelEnd();
        File.Flush();
        return CStatus::Ok();
    });
}
