// TIFF block writing for streaming hosts: RGB rows in one pass straight into
// uncompressed strips (a strip per block); CMYK in two passes, cyan, magenta
// and yellow pixels kept in a temporary file until the black rows arrive.
#include <algorithm>

#include "platform/Win32.h"
#include "rastik/CTiffIO.h"
#include "rastik/General.h"
#include "rastik/Messages.h"
#include "rastik/core/CRowProgress.h"
#include "rastik/support/CScopedBuffer.h"
#include "rastik/support/Interleave.h"
#include "rastik/tiff/TiffTags.h"

namespace {

constexpr int kFirstPass = 1;
constexpr int kSecondPass = 2;

}  // namespace

bool CTiffIO::PlanContiguousStrips(uint32_t rows, uint64_t rowBytes)
{
    uint64_t at = File.GetPosition();
    if (at + rowBytes * Height > 0xFFFFFFFFull) return false;
    RowsPerStrip = std::min(rows, Height);
    StripTotal = (Height - 1) / RowsPerStrip + 1;
    StripOffsets.assign(StripTotal, 0);
    StripByteCounts.assign(StripTotal, 0);
    for (uint32_t i = 0; i < StripTotal; ++i) {
        uint32_t first = i * RowsPerStrip;
        StripOffsets[i] = static_cast<uint32_t>(at + rowBytes * first);
        StripByteCounts[i] = static_cast<uint32_t>(rowBytes * std::min(RowsPerStrip, Height - first));
    }
    m_writtenCompression = tiff::kNone;
    m_writtenBits = 8;
    return true;
}

void CTiffIO::DropCmykFile()
{
    if (m_cmykFile) m_cmykFile->Abort();
    m_cmykFile.reset();
    if (!m_cmykPath.empty()) DeleteFile(m_cmykPath.c_str());
    m_cmykPath.clear();
}

int CTiffIO::FailBlocks()
{
    DropCmykFile();
    DeleteOutput();
    m_cmykPass = 0;
    m_headerWritten = false;
    RowsReceived = 0;
    return 0;
}

int CTiffIO::WriteRgbDataImage(uint8_t* r, uint8_t* g, uint8_t* b, uint32_t rowCount)
{
    bool cmyk = ColorMode == kModeCmyk;
    if (!r || !g || !b || !m_headerWritten || (ColorMode != kModeRgb && !cmyk)) return 0;
    if (cmyk && m_cmykPass == kSecondPass) return 0;
    if (rowCount == 0) return 1;
    uint64_t rowBytes = 3ull * Width;
    if (static_cast<uint64_t>(RowsReceived) + rowCount > Height || rowBytes * rowCount > 0xFFFFFFFFull)
        return FailBlocks();
    CScopedBuffer block(AllocBuffer(static_cast<uint32_t>(rowBytes * rowCount), 0, 0));
    if (!block.p) {
        ShowRastikMessage(kMsgNoBuffer);
        return FailBlocks();
    }
    if (RowsReceived == 0) {
        if (!cmyk) {
            m_writtenSamples = 3;
            if (!PlanContiguousStrips(rowCount, rowBytes)) return FailBlocks();
        } else {
            m_cmykPath = MakeTempFileName(GetTempDirectory(), "tmp");
            m_cmykFile = std::make_unique<CFile>();
            if (m_cmykPath.empty() || !m_cmykFile->Open(m_cmykPath.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary))
                return FailBlocks();
            m_cmykPass = kFirstPass;
        }
    }
    CRowProgress progress(cmyk ? 2 * Height : Height, RowsReceived, &EscPressed);
    for (uint32_t i = 0; i < rowCount; ++i) {
        size_t at = static_cast<size_t>(i) * Width;
        const uint8_t* rows[3] = {r + at, g + at, b + at};
        rastik::JoinSamples(rows, Width, 3, block.p + i * rowBytes);
        if (!progress.Step()) return FailBlocks();
    }
    try {
        (cmyk ? *m_cmykFile : File).Write(block.p, static_cast<uint32_t>(rowBytes * rowCount));
        RowsReceived += rowCount;
        if (RowsReceived < Height) return 1;
        RowsReceived = 0;
        if (!cmyk) return WriteTail();
        m_cmykFile->Close();
        m_cmykPass = kSecondPass;
    } catch (const CFileException& e) {
        ShowFileError(e);
        return FailBlocks();
    }
    return 1;
}

int CTiffIO::WriteKDataImage(uint8_t* k, uint32_t rowCount)
{
    if (!k || ColorMode != kModeCmyk || m_cmykPass != kSecondPass || !m_cmykFile) return 0;
    if (rowCount == 0) return 1;
    uint64_t rowBytes = 4ull * Width;
    if (static_cast<uint64_t>(RowsReceived) + rowCount > Height || rowBytes * rowCount > 0xFFFFFFFFull)
        return FailBlocks();
    CScopedBuffer block(AllocBuffer(static_cast<uint32_t>(rowBytes * rowCount), 1, 0));
    CScopedBuffer cmy(AllocBuffer(3 * Width, 1, 0));
    if (!block.p || !cmy.p) {
        ShowRastikMessage(kMsgNoBuffer);
        return FailBlocks();
    }
    try {
        if (RowsReceived == 0) {
            m_writtenSamples = 4;
            if (!PlanContiguousStrips(rowCount, rowBytes) ||
                !m_cmykFile->Open(m_cmykPath.c_str(), CFile::modeRead | CFile::typeBinary))
                return FailBlocks();
        }
        CRowProgress progress(2 * Height, Height + RowsReceived, &EscPressed);
        for (uint32_t i = 0; i < rowCount; ++i) {
            if (m_cmykFile->Read(cmy.p, 3 * Width) != 3 * Width) return FailBlocks();
            const uint8_t* black = k + static_cast<size_t>(i) * Width;
            uint8_t* out = block.p + i * rowBytes;
            for (uint32_t x = 0; x < Width; ++x, out += 4) {
                out[0] = cmy.p[3 * x];
                out[1] = cmy.p[3 * x + 1];
                out[2] = cmy.p[3 * x + 2];
                out[3] = black[x];
            }
            if (!progress.Step()) return FailBlocks();
        }
        File.Write(block.p, static_cast<uint32_t>(rowBytes * rowCount));
    } catch (const CFileException& e) {
        ShowFileError(e);
        return FailBlocks();
    }
    RowsReceived += rowCount;
    if (RowsReceived < Height) return 1;
    RowsReceived = 0;
    m_cmykPass = 0;
    EndProgress();
    DropCmykFile();
    return WriteTail();
}
