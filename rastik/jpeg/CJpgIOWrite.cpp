// JPEG codec, writing through the library's own encoder: the whole image
// from the channel planes (through the plane-row stream, a band at a time),
// and streamed rows collected in a planar temporary file that is encoded when
// the last row has arrived. With worker threads a band holds an MCU row per
// thread, which the encoder transforms on the workers; a write that follows
// the step making its rows encodes each band on the workers as soon as its
// rows are final, while the step makes the next; one given stored rows has
// the workers take them straight from the source's file.
#include <algorithm>
#include <cstring>

#include "platform/LargeBlock.h"
#include "platform/Win32.h"
#include "rastik/CJpgIO.h"
#include "rastik/Exports.h"
#include "rastik/General.h"
#include "rastik/Messages.h"
#include "rastik/core/COperation.h"
#include "rastik/core/CPlaneRowStream.h"
#include "rastik/core/CRowFeed.h"
#include "rastik/core/CRowProgress.h"
#include "rastik/support/CPoolScope.h"
#include "rastik/support/CScopedBuffer.h"

namespace {

constexpr int kStreamFile = 1;  // encoder output goes to g_pEncodedDataFile

// Supplies the bands of the image in order, with progress and Esc.
class BandSource {
public:
    virtual ~BandSource() = default;
    // Copies the next rows rows of channel c into out, Width bytes each.
    virtual bool Fill(uint8_t* out, uint32_t c, uint32_t rows) = 0;
    // Passes the rows of the band just filled; false on Esc or a failure.
    virtual bool Next(uint32_t rows) = 0;
    // Why Fill or Next returned false: stopped by Esc, or failed.
    virtual CStatus Status() const = 0;
};

// Bands of the channel planes, through the plane-row stream.
class PlaneBandSource : public BandSource {
public:
    PlaneBandSource(CRastik& image, uint32_t bandRows)
        : m_image(image), m_width(image.Width),
          m_rows(image, CPlaneRowStream::kDrain, CPlaneRowStream::kTopDown, image.ChannelCount, bandRows)
    {
        m_rows.LeaveMessagesToStatus();
    }

    bool Prepare() { return m_rows.Open(); }
    // Progress and Esc are left to the step that makes the rows.
    void LeaveProgress() { m_rows.WithoutProgress(); }

    bool Fill(uint8_t* out, uint32_t c, uint32_t rows) override
    {
        for (uint32_t i = 0; i < rows; ++i, out += m_width) {
            const uint8_t* in = m_rows.Row(c, i);
            if (!in) return false;
            memcpy(out, in, m_width);
        }
        return true;
    }
    // The next rows rows of every plane where they lie, when each plane is
    // in memory with its rows one after the other (no padding), so that
    // the encoder may take them without a copy; false otherwise.
    bool InPlace(uint32_t rows, const uint8_t** planes)
    {
        for (uint32_t c = 0; c < m_image.ChannelCount; ++c) {
            if (m_image.ChannelKind[c] != kChannelHeap || m_image.BytesPerLine != m_width) return false;
            planes[c] = m_rows.Row(c, 0);
            if (!planes[c] || m_rows.Row(c, rows - 1) != planes[c] + static_cast<size_t>(rows - 1) * m_width)
                return false;
        }
        return true;
    }
    bool Next(uint32_t rows) override { return m_rows.Advance(rows); }
    CStatus Status() const override { return m_rows.Status() ? CStatus::Failed() : m_rows.Status(); }

private:
    const CRastik& m_image;
    uint32_t m_width;
    CPlaneRowStream m_rows;
};

// Bands of the planar temporary file of streamed writing: plane c at
// c x width x height, rows of width bytes.
class StreamBandSource : public BandSource {
public:
    StreamBandSource(CRastik& image, CFile& file)
        : m_file(file), m_width(image.Width), m_height(image.Height),
          m_progress(image.Height, 0, &image.EscPressed)
    {
    }

    bool Fill(uint8_t* out, uint32_t c, uint32_t rows) override
    {
        uint64_t at = (static_cast<uint64_t>(c) * m_height + m_row) * m_width;
        uint32_t bytes = rows * m_width;
        m_file.Seek(static_cast<int64_t>(at), CFile::begin);
        // The file was made at its full size: a short read is a failure.
        return m_file.Read(out, bytes) == bytes;
    }
    bool Next(uint32_t rows) override
    {
        m_row += rows;
        for (uint32_t i = 0; i < rows; ++i)
            if (!m_progress.Step()) return false;
        return true;
    }
    CStatus Status() const override { return m_progress.Escaped() ? CStatus::Stopped() : CStatus::Failed(); }

private:
    CFile& m_file;
    uint32_t m_width;
    uint32_t m_height;
    uint32_t m_row = 0;
    CRowProgress m_progress;
};

// Feeds the image band by band to the encoder and ends the image; Esc stops
// (what was written stays).
CStatus EncodeBands(CJpgIO& codec, BandSource& source, uint8_t* band, uint32_t bandRows)
{
    const uint32_t width = codec.Width;
    const uint32_t height = codec.Height;
    const uint32_t channels = codec.ChannelCount;
    for (uint32_t row = 0; row < height;) {
        uint32_t rows = std::min(bandRows, height - row);
        for (uint32_t c = 0; c < channels; ++c)
            if (!source.Fill(band + static_cast<size_t>(c) * rows * width, c, rows)) return source.Status();
        if (!source.Next(rows)) return source.Status();
        uint32_t left = codec.Filter->Encoder(band, static_cast<int>(rows * width * channels));
        if (left == CDCTFilter::kFailure || left == CDCTFilter::kBadBand) return CStatus::Failed();
        row += rows;
    }
    return codec.Filter->Encode_EOD() == CDCTFilter::kFailure ? CStatus::Failed() : CStatus::Ok();
}

// Bands of a following write: about an eighth of the image, at most
// kMostFollowingBytes and at least an MCU row, so that the first band is
// final early and the last one, encoded after the step, is short.
constexpr uint32_t kMostFollowingBytes = 1024u << 10;

uint32_t FollowingMcuRows(uint32_t height, uint32_t mcuHeight, uint32_t mcuRowBytes)
{
    uint32_t mcuRows = (height + mcuHeight - 1) / mcuHeight;
    uint32_t rows = std::max<uint32_t>(1, mcuRows / 8);
    return std::max<uint32_t>(1, std::min(rows, kMostFollowingBytes / mcuRowBytes));
}

// Rows of an MCU at most: a sampling factor of 4.
constexpr uint32_t kMostMcuHeight = 32;

}  // namespace

uint32_t CJpgIO::FollowingRowsHeld(uint32_t width, uint32_t channels)
{
    // A band holds one MCU row, or as many as kMostFollowingBytes holds.
    const uint64_t rowBytes = std::max<uint64_t>(1, uint64_t{width} * channels);
    const uint64_t band = std::max<uint64_t>(kMostMcuHeight, kMostFollowingBytes / rowBytes);
    return static_cast<uint32_t>(2 * band);
}

namespace {

// The write that follows feed: every band whose rows are final is left
// coding on the workers while the feed goes on, so at most two bands are in
// flight. The band is coded where it lies in planes in memory without row
// padding; otherwise it is copied out of the planes into one of two buffers
// that take turns.
class FollowingEncode {
public:
    FollowingEncode(CJpgIO& codec, uint8_t* buffers, uint32_t bandRows)
        : m_codec(codec), m_buffers(buffers), m_bandRows(bandRows),
          m_bandBytes(static_cast<size_t>(bandRows) * codec.Width * codec.ChannelCount), m_source(codec, bandRows)
    {
        m_source.LeaveProgress();
    }

    // An image not ended (a throw on the way) is ended, so that no band on
    // the workers reads the buffers any longer.
    ~FollowingEncode()
    {
        if (!m_ended) m_codec.Filter->Encode_EOD();
    }
    FollowingEncode(const FollowingEncode&) = delete;
    FollowingEncode& operator=(const FollowingEncode&) = delete;

    CStatus Run(CRowFeed& feed)
    {
        CRowFeed::Follow(feed, m_status, [this](uint32_t rows) { Take(rows); }, m_codec.Height);
        const bool ended = !m_ended && m_codec.Filter->Encode_EOD() != CDCTFilter::kFailure;
        m_ended = true;
        return !m_status ? m_status : ended ? CStatus::Ok() : CStatus::Failed();
    }

private:
    // Encodes the bands whose rows are final; the planes are opened at the
    // first, after the step's own staging of spilled rows is over.
    void Take(uint32_t finalRows)
    {
        const uint32_t height = m_codec.Height;
        while (m_status && m_row < height && std::min(m_bandRows, height - m_row) <= finalRows - m_row) {
            const uint32_t rows = std::min(m_bandRows, height - m_row);
            if (!m_opened && !(m_opened = m_source.Prepare())) m_status = m_source.Status();
            if (!m_status) break;
            const uint32_t left = EncodeBand(rows);
            if (m_status && (left == CDCTFilter::kFailure || left == CDCTFilter::kBadBand)) m_status = CStatus::Failed();
            if (!m_status) break;
            // The band before is coded: its rows may be filled again.
            m_codec.ReleasePlaneRows(m_row);
            m_row += rows;
            m_turn ^= 1;
        }
        if (!m_status) Abandon(finalRows);
    }

    // A failed write takes no more rows: the image is ended, so that no band
    // on the workers reads the planes any longer, and the read goes on over
    // them to its end; the write's failure is the conversion's.
    void Abandon(uint32_t finalRows)
    {
        if (!m_ended) m_codec.Filter->Encode_EOD();
        m_ended = true;
        m_codec.ReleasePlaneRows(finalRows);
    }

    // Leaves the next rows rows coding on the workers: in place in the
    // planes when they lie so, else copied into the buffer of this turn.
    uint32_t EncodeBand(uint32_t rows)
    {
        const uint8_t* planes[4] = {};
        if (m_source.InPlace(rows, planes)) {
            if (!m_source.Next(rows)) return Failed(m_source.Status());
            return m_codec.Filter->EncoderAhead(planes, rows);
        }
        const uint32_t width = m_codec.Width;
        uint8_t* band = m_buffers + m_turn * m_bandBytes;
        for (uint32_t c = 0; c < m_codec.ChannelCount; ++c)
            if (!m_source.Fill(band + static_cast<size_t>(c) * rows * width, c, rows)) return Failed(m_source.Status());
        if (!m_source.Next(rows)) return Failed(m_source.Status());
        return m_codec.Filter->EncoderAhead(band, static_cast<int>(static_cast<size_t>(rows) * width * m_codec.ChannelCount));
    }
    uint32_t Failed(const CStatus& status)
    {
        m_status = status;
        return CDCTFilter::kFailure;
    }

    CJpgIO& m_codec;
    uint8_t* m_buffers;
    const uint32_t m_bandRows;
    const size_t m_bandBytes;
    PlaneBandSource m_source;
    bool m_opened = false;
    uint32_t m_row = 0;
    uint32_t m_turn = 0;
    bool m_ended = false;
    CStatus m_status = CStatus::Ok();
};

// MCU rows in one band given to the encoder: one, or with worker threads as
// many as kMostBandBytes holds, at least one per thread, so that the
// workers get long runs between the bands this thread fills.
constexpr uint32_t kMostBandBytes = 4u << 20;

uint32_t BandMcuRows(const CWorkerPool* pool, uint32_t mcuRowBytes)
{
    if (!pool || mcuRowBytes == 0) return 1;
    uint32_t rows = std::max<uint32_t>(pool->Threads(), kMostBandBytes / mcuRowBytes);
    while (rows > 1 && static_cast<uint64_t>(rows) * mcuRowBytes > kMostBandBytes) --rows;
    return rows;
}

bool EncodableImage(const CRastik& image)
{
    return image.Width > 0 && image.Height > 0 &&
           (image.ChannelCount == 1 || image.ChannelCount == 3 || image.ChannelCount == 4);
}

uint32_t Density(float resolution)
{
    if (!(resolution >= 0.0f)) return 0;
    if (resolution >= 65535.0f) return 65535;
    return static_cast<uint32_t>(resolution);
}

}  // namespace

double CJpgIO::QuantScale() const
{
    uint32_t quality = JpegQuality > 100 ? 100 : JpegQuality;
    return 1.0 - static_cast<double>(quality) / 100.0;
}

void CJpgIO::FillInfo(double quantScale, bool withPreviewSize)
{
    Info->dwWidth = Width;
    Info->dwHeight = Height;
    Info->dwComponents = ChannelCount;
    Info->pHSampling = nullptr;
    Info->pVSampling = nullptr;
    Info->ppQuantTables = nullptr;
    Info->dQuantScale = quantScale;
    Info->pHuffTables = nullptr;
    Info->dwTransform = 1;
    Info->dwXDensity = Density(XResolution);
    Info->dwYDensity = Density(YResolution);
    if (withPreviewSize) {
        Info->dwPreviewWidth = PrevWidth;
        Info->dwPreviewHeight = PrevHeight;
    }
    Info->pszPreviewFile = nullptr;
}

// One encoding into File: the encoded-data stream points at File while it
// lasts. An encoding that does not end, and does not stop for Esc, removes
// the half-written output; a full disk on the stream (which reports it
// instead of throwing) is named by 27708.
class CJpgIO::EncodedOutput {
public:
    explicit EncodedOutput(CJpgIO& codec) : m_codec(codec)
    {
        g_pEncodedDataFile = &codec.File;
        ClearEncodedDataFailure();
    }
    ~EncodedOutput()
    {
        g_pEncodedDataFile = nullptr;
        ClearEncodedDataFailure();
        if (!m_kept) m_codec.DeleteOutput();
    }
    EncodedOutput(const EncodedOutput&) = delete;
    EncodedOutput& operator=(const EncodedOutput&) = delete;

    // The encoding's status; the output stays unless it failed.
    CStatus End(const CStatus& status)
    {
        m_kept = status.IsOk() || status.IsStopped();
        if (m_kept || EncodedDataFailure() != CFileException::diskFull) return status;
        return CStatus::Failed(kMsgDiskFull);
    }
    // Ends an encoding that never began: the output stays as it is.
    CStatus Abandon()
    {
        m_kept = true;
        return CStatus::Failed();
    }

private:
    CJpgIO& m_codec;
    bool m_kept = false;
};

void CJpgIO::DeleteOutput()
{
    std::string path = File.GetFilePath();
    File.Abort();
    if (path.empty() && Path) path = Path;
    if (!path.empty()) DeleteFile(path.c_str());
}

int CJpgIO::WriteFile()
{
    COperation op(*this, COperation::kWrite);
    return op.Run([&] { return EncodePlanes(); });
}

CStatus CJpgIO::EncodePlanes()
{
    if (!EncodableImage(*this) || BytesPerLine < Width || !File.IsOpen()) return CStatus::Failed();
    CPoolScope pool;
    EncodedOutput output(*this);
    if (WithQorHeader) WriteQorHeader();
    FillInfo(QuantScale(), true);
    uint32_t bandBytes = Filter->Encode_Header(kStreamFile, Info);
    if (bandBytes == CDCTFilter::kFailure || bandBytes == 0) return output.Abandon();
    if (const CStoredRows* stored = Stored()) {
        WriteStored(nullptr);
        return output.End(EncodeStored(*stored));
    }
    if (CRowFeed* feed = Feed()) {
        WriteFollowing(nullptr);
        return output.End(EncodeFollowing(*feed, bandBytes));
    }
    uint32_t bandRows = bandBytes / (Width * ChannelCount) * BandMcuRows(pool.Pool(), bandBytes);
    bandBytes = bandRows * Width * ChannelCount;
    CScopedBuffer band(AllocBuffer(bandBytes, 0, 1));
    if (!band.p) return output.End(CStatus::Failed(kMsgNoBuffer));
    PlaneBandSource source(*this, bandRows);
    if (!source.Prepare()) return output.End(source.Status());
    return output.End(EncodeBands(*this, source, band.p, bandRows));
}

CStatus CJpgIO::EncodeFollowing(CRowFeed& feed, uint32_t mcuRowBytes)
{
    const uint32_t mcuHeight = mcuRowBytes / (Width * ChannelCount);
    const uint32_t bandRows = mcuHeight * FollowingMcuRows(Height, mcuHeight, mcuRowBytes);
    // Filled before use, and used only by bands that do not lie in place:
    // left untouched, so that their pages are not mapped for nothing.
    CScopedBuffer buffers(AllocLargeBlock(size_t{2} * bandRows * Width * ChannelCount, false));
    if (!buffers.p) return CStatus::Failed(kMsgNoBuffer);
    FollowingEncode encode(*this, buffers.p, bandRows);
    return encode.Run(feed);
}

CStatus CJpgIO::EncodeStored(const CStoredRows& stored)
{
    CRowProgress progress(Height, 0, &EscPressed);
    const uint32_t coded = Filter->EncoderStored(stored, [&progress](uint32_t rows) {
        for (uint32_t i = 0; i < rows; ++i)
            if (!progress.Step()) return false;
        return true;
    });
    const bool ended = Filter->Encode_EOD() != CDCTFilter::kFailure;
    if (coded == CDCTFilter::kFailure) return progress.Escaped() ? CStatus::Stopped() : CStatus::Failed();
    return ended ? CStatus::Ok() : CStatus::Failed();
}

int CJpgIO::WriteToFile(CFile* tempFile)
{
    COperation op(*this, COperation::kWrite);
    return op.Run([&] { return EncodeStreamFile(tempFile); });
}

CStatus CJpgIO::EncodeStreamFile(CFile* tempFile)
{
    if (!tempFile || StreamFilePath.empty() || !EncodableImage(*this) || !File.IsOpen()) return CStatus::Failed();
    if (!tempFile->Open(StreamFilePath.c_str(), CFile::modeRead | CFile::typeBinary))
        return CStatus::Failed(kMsgCannotCreate);
    CPoolScope pool;
    struct Closed {
        CFile* file;
        ~Closed() { file->Abort(); }
    } closed{tempFile};
    EncodedOutput output(*this);
    if (WithQorHeader) WriteQorHeader();
    FillInfo(QuantScale(), false);
    uint32_t bandBytes = Filter->Encode_Header(kStreamFile, Info);
    if (bandBytes == CDCTFilter::kFailure || bandBytes == 0) return output.End(CStatus::Failed());
    CScopedBuffer band(AllocBuffer(bandBytes, 0, 1));
    if (!band.p) return output.End(CStatus::Failed(kMsgNoBuffer));
    StreamBandSource source(*this, *tempFile);
    return output.End(EncodeBands(*this, source, band.p, bandBytes / (Width * ChannelCount)));
}

// A streamed write under way that a failure or Esc ends: the temporary file
// goes and the counters start again, unless the step was kept.
class CJpgIO::StreamStep {
public:
    explicit StreamStep(CJpgIO& codec) : m_codec(codec) {}
    ~StreamStep()
    {
        if (!m_kept) m_codec.AbandonStream();
    }
    StreamStep(const StreamStep&) = delete;
    StreamStep& operator=(const StreamStep&) = delete;
    CStatus Keep(const CStatus& status)
    {
        m_kept = true;
        return status;
    }

private:
    CJpgIO& m_codec;
    bool m_kept = false;
};

CStatus CJpgIO::OpenStreamFile(bool reopen)
{
    if (!reopen) {
        DropStreamFile();
        StreamFilePath = MakeTempFileName(GetTempDirectory(), "tmp");
        if (StreamFilePath.empty()) return CStatus::Failed();
        StreamFile = new CFile();
    }
    unsigned flags = reopen ? CFile::modeWrite | CFile::typeBinary
                            : CFile::modeCreate | CFile::modeWrite | CFile::typeBinary;
    if (!StreamFile->Open(StreamFilePath.c_str(), flags)) {
        DropStreamFile();
        return CStatus::Failed(kMsgCannotCreate);
    }
    if (reopen) return CStatus::Ok();
    StreamStep step(*this);
    StreamFile->SetLength(static_cast<uint64_t>(Width) * Height * ChannelCount);
    return step.Keep(CStatus::Ok());
}

CStatus CJpgIO::StreamRows(uint32_t first, uint8_t* const* rows, uint32_t count, uint32_t rowCount)
{
    uint32_t received = RowsWritten[0];
    if (rowCount == 0 || rowCount > Height - received) return CStatus::Failed();
    for (uint32_t p = 0; p < count; ++p)
        if (!rows[p]) return CStatus::Failed();
    StreamStep step(*this);
    CRowProgress progress(Height, received, &EscPressed);
    if (!progress.Step()) return CStatus::Stopped();
    for (uint32_t p = 0; p < count; ++p) {
        uint64_t at = (static_cast<uint64_t>(first + p) * Height + received) * Width;
        StreamFile->Seek(static_cast<int64_t>(at), CFile::begin);
        StreamFile->Write(rows[p], rowCount * Width);
    }
    RowsWritten[0] = received + rowCount;
    return step.Keep(CStatus::Ok());
}

void CJpgIO::AbandonStream()
{
    DropStreamFile();
    m_streamPhase = 0;
    RowsWritten[0] = 0;
}

CStatus CJpgIO::FinishStream(COperation& op)
{
    {
        StreamStep step(*this);
        StreamFile->Close();
        (void)step.Keep(CStatus::Ok());
    }
    int result = WriteToFile(StreamFile);
    DropStreamFile();
    m_streamPhase = 0;
    return op.Of(result);
}

int CJpgIO::WriteRgbDataImage(uint8_t* r, uint8_t* g, uint8_t* b, uint32_t rowCount)
{
    COperation op(*this, COperation::kWrite);
    return op.Run([&] { return StreamRgbRows(op, r, g, b, rowCount); });
}

CStatus CJpgIO::StreamRgbRows(COperation& op, uint8_t* r, uint8_t* g, uint8_t* b, uint32_t rowCount)
{
    if ((ChannelCount != 3 && ChannelCount != 4) || Width == 0 || Height == 0) return CStatus::Failed();
    if (m_streamPhase == 0) {
        if (RowsWritten[0] != 0) return CStatus::Failed();
        if (CStatus s = OpenStreamFile(false); !s) return s;
        m_streamPhase = 1;
    } else if (m_streamPhase != 1) {
        return CStatus::Failed();
    }
    uint8_t* rows[3] = {r, g, b};
    if (CStatus s = StreamRows(0, rows, 3, rowCount); !s) return s;
    if (RowsWritten[0] < Height) return CStatus::Ok();
    if (ChannelCount == 4) {
        StreamStep step(*this);
        RowsWritten[0] = 0;
        StreamFile->Close();
        m_streamPhase = 2;
        return step.Keep(CStatus::Ok());
    }
    return FinishStream(op);
}

int CJpgIO::WriteKDataImage(uint8_t* rows, uint32_t rowCount)
{
    COperation op(*this, COperation::kWrite);
    return op.Run([&] {
        if (ChannelCount != 4 || m_streamPhase != 2 || !StreamFile) return CStatus::Failed();
        if (RowsWritten[0] == 0 && !StreamFile->IsOpen()) {
            StreamStep step(*this);
            if (CStatus s = OpenStreamFile(true); !s) return s;
            (void)step.Keep(CStatus::Ok());
        }
        uint8_t* planes[1] = {rows};
        if (CStatus s = StreamRows(3, planes, 1, rowCount); !s) return s;
        if (RowsWritten[0] < Height) return CStatus::Ok();
        return FinishStream(op);
    });
}
