// JPEG codec, writing through the library's own encoder: the whole image
// from the channel planes (through the plane-row stream, a band at a time),
// and streamed rows collected in a planar temporary file that is encoded when
// the last row has arrived. With worker threads a band holds an MCU row per
// thread, which the encoder transforms on the workers.
#include <algorithm>
#include <cstring>

#include "platform/Win32.h"
#include "rastik/CJpgIO.h"
#include "rastik/Exports.h"
#include "rastik/General.h"
#include "rastik/Messages.h"
#include "rastik/core/CPlaneRowStream.h"
#include "rastik/core/CRowProgress.h"
#include "rastik/support/CPoolScope.h"

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
    virtual bool Stopped() const = 0;
};

// Bands of the channel planes, through the plane-row stream.
class PlaneBandSource : public BandSource {
public:
    PlaneBandSource(CRastik& image, uint32_t bandRows)
        : m_width(image.Width),
          m_rows(image, CPlaneRowStream::kDrain, CPlaneRowStream::kTopDown, image.ChannelCount, bandRows)
    {
    }

    bool Prepare() { return m_rows.Open(); }

    bool Fill(uint8_t* out, uint32_t c, uint32_t rows) override
    {
        for (uint32_t i = 0; i < rows; ++i, out += m_width) {
            const uint8_t* in = m_rows.Row(c, i);
            if (!in) return false;
            memcpy(out, in, m_width);
        }
        return true;
    }
    bool Next(uint32_t rows) override { return m_rows.Advance(rows); }
    bool Stopped() const override { return m_rows.Result() == CPlaneRowStream::kStopped; }

private:
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
        try {
            m_file.Seek(static_cast<int64_t>(at), CFile::begin);
            // The file was made at its full size: a short read is a failure.
            return m_file.Read(out, bytes) == bytes;
        } catch (const CFileException&) {
            return false;
        }
    }
    bool Next(uint32_t rows) override
    {
        m_row += rows;
        for (uint32_t i = 0; i < rows; ++i)
            if (!m_progress.Step()) return false;
        return true;
    }
    bool Stopped() const override { return m_progress.Escaped(); }

private:
    CFile& m_file;
    uint32_t m_width;
    uint32_t m_height;
    uint32_t m_row = 0;
    CRowProgress m_progress;
};

enum EncodeResult { kEncodeDone, kEncodeStopped, kEncodeFailed };

// Feeds the image band by band to the encoder; Esc stops (what was written
// stays).
EncodeResult EncodeBands(CJpgIO& codec, BandSource& source, uint8_t* band, uint32_t bandRows)
{
    const uint32_t width = codec.Width;
    const uint32_t height = codec.Height;
    const uint32_t channels = codec.ChannelCount;
    for (uint32_t row = 0; row < height;) {
        uint32_t rows = std::min(bandRows, height - row);
        for (uint32_t c = 0; c < channels; ++c)
            if (!source.Fill(band + static_cast<size_t>(c) * rows * width, c, rows)) return kEncodeFailed;
        if (!source.Next(rows)) return source.Stopped() ? kEncodeStopped : kEncodeFailed;
        uint32_t left = codec.Filter->Encoder(band, static_cast<int>(rows * width * channels));
        if (left == CDCTFilter::kFailure || left == CDCTFilter::kBadBand) return kEncodeFailed;
        row += rows;
    }
    return kEncodeDone;
}

// MCU rows in one band given to the encoder: one, or with worker threads as
// many as there are threads (the encoder keeps them busy across the band)
// while a band stays within kMostBandBytes.
constexpr uint32_t kMostBandBytes = 4u << 20;

uint32_t BandMcuRows(const CWorkerPool* pool, uint32_t mcuRowBytes)
{
    if (!pool || mcuRowBytes == 0) return 1;
    uint32_t rows = pool->Threads();
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

void CJpgIO::FailOutput()
{
    // The encoder writes through the encoded-data stream, which reports a
    // full disk here rather than by an exception.
    if (EncodedDataFailure() == CFileException::diskFull) ShowRastikMessage(kMsgDiskFull);
    ClearEncodedDataFailure();
    DeleteOutput();
}

void CJpgIO::DeleteOutput()
{
    std::string path = File.GetFilePath();
    File.Abort();
    if (path.empty() && Path) path = Path;
    if (!path.empty()) DeleteFile(path.c_str());
}

int CJpgIO::WriteFile()
{
    if (!EncodableImage(*this) || BytesPerLine < Width || !File.IsOpen()) return 0;
    CPoolScope pool;
    g_pEncodedDataFile = &File;
    ClearEncodedDataFailure();
    if (WithQorHeader) WriteQorHeader();
    FillInfo(QuantScale(), true);
    uint8_t* band = nullptr;
    EncodeResult result = kEncodeFailed;
    try {
        uint32_t bandBytes = Filter->Encode_Header(kStreamFile, Info);
        if (bandBytes == CDCTFilter::kFailure || bandBytes == 0) {
            g_pEncodedDataFile = nullptr;
            return 0;
        }
        uint32_t bandRows = bandBytes / (Width * ChannelCount) * BandMcuRows(pool.Pool(), bandBytes);
        bandBytes = bandRows * Width * ChannelCount;
        band = static_cast<uint8_t*>(AllocBuffer(bandBytes, 0, 1));
        PlaneBandSource source(*this, bandRows);
        if (!band) {
            ShowRastikMessage(kMsgNoBuffer);
        } else if (source.Prepare()) {
            result = EncodeBands(*this, source, band, bandRows);
            if (result == kEncodeDone && Filter->Encode_EOD() == CDCTFilter::kFailure) result = kEncodeFailed;
        }
    } catch (const CFileException& e) {
        ShowFileError(e);
        result = kEncodeFailed;
    }
    FreeBuffer(&band);
    g_pEncodedDataFile = nullptr;
    if (result == kEncodeFailed) FailOutput();
    return result == kEncodeDone ? 1 : 0;
}

int CJpgIO::WriteToFile(CFile* tempFile)
{
    if (!tempFile || StreamFilePath.empty() || !EncodableImage(*this) || !File.IsOpen()) return 0;
    if (!tempFile->Open(StreamFilePath.c_str(), CFile::modeRead | CFile::typeBinary)) {
        ShowRastikMessage(kMsgCannotCreate);
        return 0;
    }
    CPoolScope pool;
    g_pEncodedDataFile = &File;
    ClearEncodedDataFailure();
    if (WithQorHeader) WriteQorHeader();
    FillInfo(QuantScale(), false);
    uint8_t* band = nullptr;
    EncodeResult result = kEncodeFailed;
    try {
        uint32_t bandBytes = Filter->Encode_Header(kStreamFile, Info);
        if (bandBytes != CDCTFilter::kFailure && bandBytes != 0) {
            band = static_cast<uint8_t*>(AllocBuffer(bandBytes, 0, 1));
            if (band) {
                StreamBandSource source(*this, *tempFile);
                result = EncodeBands(*this, source, band, bandBytes / (Width * ChannelCount));
                if (result == kEncodeDone && Filter->Encode_EOD() == CDCTFilter::kFailure) result = kEncodeFailed;
            } else {
                ShowRastikMessage(kMsgNoBuffer);
            }
        }
    } catch (const CFileException& e) {
        ShowFileError(e);
        result = kEncodeFailed;
    }
    FreeBuffer(&band);
    tempFile->Abort();
    g_pEncodedDataFile = nullptr;
    if (result == kEncodeFailed) FailOutput();
    return result == kEncodeDone ? 1 : 0;
}

int CJpgIO::OpenStreamFile(bool reopen)
{
    if (!reopen) {
        DropStreamFile();
        StreamFilePath = MakeTempFileName(GetTempDirectory(), "tmp");
        if (StreamFilePath.empty()) return 0;
        StreamFile = new CFile();
    }
    unsigned flags = reopen ? CFile::modeWrite | CFile::typeBinary
                            : CFile::modeCreate | CFile::modeWrite | CFile::typeBinary;
    if (!StreamFile->Open(StreamFilePath.c_str(), flags)) {
        DropStreamFile();
        ShowRastikMessage(kMsgCannotCreate);
        return 0;
    }
    if (reopen) return 1;
    try {
        StreamFile->SetLength(static_cast<uint64_t>(Width) * Height * ChannelCount);
    } catch (const CFileException& e) {
        ShowFileError(e);
        DropStreamFile();
        return 0;
    }
    return 1;
}

int CJpgIO::StreamRows(uint32_t first, uint8_t* const* rows, uint32_t count, uint32_t rowCount)
{
    uint32_t received = RowsWritten[0];
    if (rowCount == 0 || rowCount > Height - received) return 0;
    for (uint32_t p = 0; p < count; ++p)
        if (!rows[p]) return 0;
    CRowProgress progress(Height, received, &EscPressed);
    if (!progress.Step()) {
        AbandonStream();
        return 0;
    }
    try {
        for (uint32_t p = 0; p < count; ++p) {
            uint64_t at = (static_cast<uint64_t>(first + p) * Height + received) * Width;
            StreamFile->Seek(static_cast<int64_t>(at), CFile::begin);
            StreamFile->Write(rows[p], rowCount * Width);
        }
    } catch (const CFileException& e) {
        ShowFileError(e);
        AbandonStream();
        return 0;
    }
    RowsWritten[0] = received + rowCount;
    return 1;
}

void CJpgIO::AbandonStream()
{
    DropStreamFile();
    m_streamPhase = 0;
    RowsWritten[0] = 0;
}

int CJpgIO::FinishStream()
{
    try {
        StreamFile->Close();
    } catch (const CFileException& e) {
        ShowFileError(e);
        AbandonStream();
        return 0;
    }
    int result = WriteToFile(StreamFile);
    DropStreamFile();
    m_streamPhase = 0;
    return result;
}

int CJpgIO::WriteRgbDataImage(uint8_t* r, uint8_t* g, uint8_t* b, uint32_t rowCount)
{
    if ((ChannelCount != 3 && ChannelCount != 4) || Width == 0 || Height == 0) return 0;
    if (m_streamPhase == 0) {
        if (RowsWritten[0] != 0) return 0;
        if (!OpenStreamFile(false)) return 0;
        m_streamPhase = 1;
    } else if (m_streamPhase != 1) {
        return 0;
    }
    uint8_t* rows[3] = {r, g, b};
    if (!StreamRows(0, rows, 3, rowCount)) return 0;
    if (RowsWritten[0] < Height) return 1;
    if (ChannelCount == 4) {
        RowsWritten[0] = 0;
        try {
            StreamFile->Close();
        } catch (const CFileException& e) {
            ShowFileError(e);
            AbandonStream();
            return 0;
        }
        m_streamPhase = 2;
        return 1;
    }
    return FinishStream();
}

int CJpgIO::WriteKDataImage(uint8_t* rows, uint32_t rowCount)
{
    if (ChannelCount != 4 || m_streamPhase != 2 || !StreamFile) return 0;
    if (RowsWritten[0] == 0 && !StreamFile->IsOpen() && !OpenStreamFile(true)) {
        AbandonStream();
        return 0;
    }
    uint8_t* planes[1] = {rows};
    if (!StreamRows(3, planes, 1, rowCount)) return 0;
    if (RowsWritten[0] < Height) return 1;
    return FinishStream();
}
