// JPEG codec, writing through the library's own encoder: the whole image
// from the channel planes (spilled planes staged a chunk of bands at a time),
// and streamed rows collected in a planar temporary file that is encoded when
// the last row has arrived.
#include <algorithm>
#include <cstring>

#include "platform/Win32.h"
#include "rastik/CJpgIO.h"
#include "rastik/Exports.h"
#include "rastik/General.h"
#include "rastik/Messages.h"

namespace {

constexpr int kStreamFile = 1;  // encoder output goes to g_pEncodedDataFile

// Supplies the rows of one channel for a band.
class BandSource {
public:
    virtual ~BandSource() = default;
    // Copies rows rows of channel c from row on into out, Width bytes each.
    virtual bool Fill(uint8_t* out, uint32_t c, uint32_t row, uint32_t rows) = 0;
};

// Rows of the channel planes; planes in the temporary file are read a chunk
// of whole bands at a time into their share of one staging buffer.
class PlaneBandSource : public BandSource {
public:
    explicit PlaneBandSource(CRastik& image) : m_image(image) {}
    ~PlaneBandSource() override { FreeBuffer(&m_staging); }

    bool Prepare(uint32_t bandRows)
    {
        uint32_t spilled = 0;
        for (uint32_t c = 0; c < m_image.ChannelCount; ++c) {
            if (m_image.ChannelKind[c] == kChannelHeap && m_image.ChannelData[c]) continue;
            if (m_image.ChannelKind[c] != kChannelTemp) return false;
            m_share[c] = spilled++;
        }
        if (spilled == 0) return true;
        uint64_t rowUnit = static_cast<uint64_t>(spilled) * m_image.BytesPerLine;
        uint64_t unit = rowUnit * bandRows;
        if (unit == 0 || unit > 0xFFFFFFFFu) return false;
        uint64_t want = rowUnit * m_image.Height;
        if (want < unit) want = unit;
        if (want > 0xFFFFFFFFu) want = 0xFFFFFFFFu / unit * unit;
        uint32_t granted = 0;
        m_staging = static_cast<uint8_t*>(
            AllocLargeBuffer(static_cast<uint32_t>(want), static_cast<uint32_t>(unit), &granted, 0));
        if (!m_staging) return false;
        m_chunkRows = static_cast<uint32_t>(granted / unit) * bandRows;
        return m_chunkRows > 0;
    }

    bool Fill(uint8_t* out, uint32_t c, uint32_t row, uint32_t rows) override
    {
        const uint32_t width = m_image.Width;
        const uint32_t bpl = m_image.BytesPerLine;
        const uint8_t* in = nullptr;
        if (m_image.ChannelKind[c] == kChannelHeap) {
            in = m_image.ChannelData[c] + static_cast<size_t>(row) * bpl;
        } else {
            if (row < m_chunkStart || row + rows > m_chunkStart + m_chunkLoaded) {
                if (!Load(row)) return false;
                if (row + rows > m_chunkStart + m_chunkLoaded) return false;
            }
            in = m_staging + (static_cast<size_t>(m_share[c]) * m_chunkRows + (row - m_chunkStart)) * bpl;
        }
        for (uint32_t i = 0; i < rows; ++i, out += width, in += bpl) memcpy(out, in, width);
        return true;
    }

private:
    bool Load(uint32_t row)
    {
        uint32_t rows = std::min(m_chunkRows, m_image.Height - row);
        const size_t shareBytes = static_cast<size_t>(m_chunkRows) * m_image.BytesPerLine;
        for (uint32_t c = 0; c < m_image.ChannelCount; ++c) {
            if (m_image.ChannelKind[c] != kChannelTemp) continue;
            if (!m_image.ReadPlaneRows(c, row, rows, m_staging + m_share[c] * shareBytes)) return false;
        }
        m_chunkStart = row;
        m_chunkLoaded = rows;
        return true;
    }

    CRastik& m_image;
    uint32_t m_share[kMaxChannels] = {};
    uint8_t* m_staging = nullptr;
    uint32_t m_chunkRows = 0;
    uint32_t m_chunkStart = 0;
    uint32_t m_chunkLoaded = 0;
};

// Rows of the planar temporary file of streamed writing: plane c at
// c x width x height, rows of width bytes.
class StreamBandSource : public BandSource {
public:
    StreamBandSource(CFile& file, uint32_t width, uint32_t height) : m_file(file), m_width(width), m_height(height) {}

    bool Fill(uint8_t* out, uint32_t c, uint32_t row, uint32_t rows) override
    {
        uint64_t at = (static_cast<uint64_t>(c) * m_height + row) * m_width;
        uint32_t bytes = rows * m_width;
        try {
            m_file.Seek(static_cast<int64_t>(at), CFile::begin);
            uint32_t got = m_file.Read(out, bytes);
            if (got < bytes) memset(out + got, 0, bytes - got);
        } catch (const CFileException&) {
            return false;
        }
        return true;
    }

private:
    CFile& m_file;
    uint32_t m_width;
    uint32_t m_height;
};

enum EncodeResult { kEncodeDone, kEncodeStopped, kEncodeFailed };

// Feeds the image band by band to the encoder: progress after every row,
// Esc stops (what was written stays).
EncodeResult EncodeBands(CJpgIO& codec, BandSource& source, uint8_t* band, uint32_t bandRows)
{
    const uint32_t width = codec.Width;
    const uint32_t height = codec.Height;
    const uint32_t channels = codec.ChannelCount;
    int32_t start = 0, end = 0;
    GetProgressRange(&start, &end);
    int32_t span = GetProgressSpan();
    for (uint32_t row = 0; row < height;) {
        uint32_t rows = std::min(bandRows, height - row);
        for (uint32_t c = 0; c < channels; ++c)
            if (!source.Fill(band + static_cast<size_t>(c) * rows * width, c, row, rows)) return kEncodeFailed;
        for (uint32_t i = 1; i <= rows; ++i) {
            StepProgress(start, span, row + i, height);
            if (GetEscapeKB()) return kEncodeStopped;
        }
        uint32_t left = codec.Filter->Encoder(band, static_cast<int>(rows * width * channels));
        if (left == CDCTFilter::kFailure || left == CDCTFilter::kBadBand) return kEncodeFailed;
        row += rows;
    }
    return kEncodeDone;
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
    g_pEncodedDataFile = &File;
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
        uint32_t bandRows = bandBytes / (Width * ChannelCount);
        band = static_cast<uint8_t*>(AllocBuffer(bandBytes, 0, 1));
        PlaneBandSource source(*this);
        if (!band || !source.Prepare(bandRows)) {
            FreeBuffer(&band);
            g_pEncodedDataFile = nullptr;
            ShowRastikMessage(kMsgNoBuffer);
            return 0;
        }
        result = EncodeBands(*this, source, band, bandRows);
        if (result == kEncodeDone && Filter->Encode_EOD() == CDCTFilter::kFailure) result = kEncodeFailed;
    } catch (const CFileException& e) {
        if (e.m_cause == CFileException::diskFull) ShowRastikMessage(kMsgDiskFull);
        result = kEncodeFailed;
    }
    FreeBuffer(&band);
    g_pEncodedDataFile = nullptr;
    if (result == kEncodeFailed) DeleteOutput();
    return result == kEncodeDone ? 1 : 0;
}

int CJpgIO::WriteToFile(CFile* tempFile)
{
    if (!tempFile || StreamFilePath.empty() || !EncodableImage(*this) || !File.IsOpen()) return 0;
    if (!tempFile->Open(StreamFilePath.c_str(), CFile::modeRead | CFile::typeBinary)) {
        ShowRastikMessage(kMsgCannotCreate);
        return 0;
    }
    g_pEncodedDataFile = &File;
    if (WithQorHeader) WriteQorHeader();
    FillInfo(QuantScale(), false);
    uint8_t* band = nullptr;
    EncodeResult result = kEncodeFailed;
    try {
        uint32_t bandBytes = Filter->Encode_Header(kStreamFile, Info);
        if (bandBytes != CDCTFilter::kFailure && bandBytes != 0) {
            band = static_cast<uint8_t*>(AllocBuffer(bandBytes, 0, 1));
            if (band) {
                StreamBandSource source(*tempFile, Width, Height);
                result = EncodeBands(*this, source, band, bandBytes / (Width * ChannelCount));
                if (result == kEncodeDone && Filter->Encode_EOD() == CDCTFilter::kFailure) result = kEncodeFailed;
            } else {
                ShowRastikMessage(kMsgNoBuffer);
            }
        }
    } catch (const CFileException& e) {
        if (e.m_cause == CFileException::diskFull) ShowRastikMessage(kMsgDiskFull);
        result = kEncodeFailed;
    }
    FreeBuffer(&band);
    tempFile->Abort();
    g_pEncodedDataFile = nullptr;
    if (result == kEncodeFailed) DeleteOutput();
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
        if (e.m_cause == CFileException::diskFull) ShowRastikMessage(kMsgDiskFull);
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
    int32_t start = 0, end = 0;
    GetProgressRange(&start, &end);
    StepProgress(start, GetProgressSpan(), received, Height);
    if (GetEscapeKB()) {
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
        if (e.m_cause == CFileException::diskFull) ShowRastikMessage(kMsgDiskFull);
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
        if (e.m_cause == CFileException::diskFull) ShowRastikMessage(kMsgDiskFull);
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
            if (e.m_cause == CFileException::diskFull) ShowRastikMessage(kMsgDiskFull);
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
