// TIFF block writing for streaming hosts: RGB rows in one pass straight into
// uncompressed strips (a strip per block) or into Deflate or JPEG strips
// coded as they complete; CMYK in two passes, cyan, magenta and yellow
// pixels kept in a temporary file until the black rows arrive.
#include <algorithm>
#include <functional>

#include "platform/Win32.h"
#include "rastik/CTiffIO.h"
#include "rastik/General.h"
#include "rastik/Messages.h"
#include "rastik/core/COperation.h"
#include "rastik/core/CRowProgress.h"
#include "rastik/support/CScopedBuffer.h"
#include "rastik/support/PixelRows.h"
#include "rastik/tiff/CTiffBlockStrips.h"
#include "rastik/tiff/TiffTags.h"

namespace {

constexpr int kFirstPass = 1;
constexpr int kSecondPass = 2;

}  // namespace

bool CTiffIO::PlanContiguousStrips(uint32_t rows, uint64_t rowBytes)
{
    uint64_t at = File.GetPosition();
    if (!m_writeBig && at + rowBytes * Height > 0xFFFFFFFFull) return false;
    RowsPerStrip = std::min(rows, Height);
    StripTotal = (Height - 1) / RowsPerStrip + 1;
    StripOffsets.assign(StripTotal, 0);
    StripByteCounts.assign(StripTotal, 0);
    for (uint32_t i = 0; i < StripTotal; ++i) {
        uint32_t first = i * RowsPerStrip;
        StripOffsets[i] = at + rowBytes * first;
        StripByteCounts[i] = rowBytes * std::min(RowsPerStrip, Height - first);
    }
    m_writtenCompression = tiff::kNone;
    m_writtenBits = 8;
    return true;
}

CStatus CTiffIO::PlanBlockStrips(uint32_t rows, uint32_t samples)
{
    m_blockStrips.reset();
    m_writtenSamples = samples;
    const uint64_t rowBytes = static_cast<uint64_t>(Width) * samples;
    if (Compression != tiff::kDeflate && Compression != tiff::kJpeg)
        return PlanContiguousStrips(rows, rowBytes) ? CStatus::Ok() : CStatus::Failed();
    std::unique_ptr<CTiffStripEncoder> coder = MakeStripEncoder(samples);
    if (!coder) return CStatus::Failed(kMsgNoBuffer);
    const uint32_t stripRows = CodedStripRows(*coder, rowBytes);
    auto strips = std::make_unique<CTiffBlockStrips>(std::move(coder), rowBytes, stripRows);
    if (!strips->Reserve()) return CStatus::Failed(kMsgNoBuffer);
    RowsPerStrip = stripRows;
    StripTotal = (Height - 1) / stripRows + 1;
    StripOffsets.assign(StripTotal, 0);
    StripByteCounts.assign(StripTotal, 0);
    m_writtenBits = 8;
    m_blockStrips = std::move(strips);
    return CStatus::Ok();
}

CStatus CTiffIO::AddBlockRow(uint32_t row)
{
    if (!m_blockStrips->Add() && row + 1 < Height) return CStatus::Ok();
    uint32_t bytes = 0;
    const uint8_t* strip = m_blockStrips->Code(bytes);
    if (!strip) return CStatus::Failed(kMsgNoBuffer);
    if (CStatus recorded = RecordStrip(row / RowsPerStrip, bytes); !recorded) return recorded;
    File.Write(strip, bytes);
    return CStatus::Ok();
}

void CTiffIO::DropCmykFile()
{
    if (m_cmykFile) m_cmykFile->Abort();
    m_cmykFile.reset();
    if (!m_cmykPath.empty()) DeleteFile(m_cmykPath.c_str());
    m_cmykPath.clear();
}

void CTiffIO::FailBlocks()
{
    DropCmykFile();
    DeleteOutput();
    m_blockStrips.reset();
    m_cmykPass = 0;
    m_headerWritten = false;
    RowsReceived = 0;
}

int CTiffIO::WriteBlock(const std::function<CStatus(bool& begun)>& write)
{
    COperation op(*this, COperation::kWrite);
    bool begun = false;
    int ok = op.Run([&] { return write(begun); });
    if (!ok && begun) FailBlocks();
    return ok;
}

int CTiffIO::WriteRgbDataImage(uint8_t* r, uint8_t* g, uint8_t* b, uint32_t rowCount)
{
    return WriteBlock([&](bool& begun) {
        bool cmyk = ColorMode == kModeCmyk;
        if (!r || !g || !b || !m_headerWritten || (ColorMode != kModeRgb && !cmyk)) return CStatus::Failed();
        if (cmyk && m_cmykPass == kSecondPass) return CStatus::Failed();
        begun = rowCount != 0;
        return begun ? WriteColourRows(r, g, b, rowCount) : CStatus::Ok();
    });
}

// The first pass of a block write: RGB rows into the strips, or the cyan,
// magenta and yellow rows of a CMYK image into the temporary file.
CStatus CTiffIO::WriteColourRows(const uint8_t* r, const uint8_t* g, const uint8_t* b, uint32_t rowCount)
{
    bool cmyk = ColorMode == kModeCmyk;
    uint64_t rowBytes = 3ull * Width;
    if (static_cast<uint64_t>(RowsReceived) + rowCount > Height || rowBytes * rowCount > 0xFFFFFFFFull)
        return CStatus::Failed();
    CScopedBuffer block(AllocBuffer(static_cast<uint32_t>(rowBytes * rowCount), 0, 0));
    if (!block.p) return CStatus::Failed(kMsgNoBuffer);
    if (RowsReceived == 0) {
        if (!cmyk) {
            if (CStatus s = PlanBlockStrips(rowCount, 3); !s) return s;
        } else {
            m_cmykPath = MakeTempFileName(GetTempDirectory(), "tmp");
            m_cmykFile = std::make_unique<CFile>();
            if (m_cmykPath.empty() || !m_cmykFile->Open(m_cmykPath.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary))
                return CStatus::Failed();
            m_cmykPass = kFirstPass;
        }
    }
    CRowProgress progress(cmyk ? 2 * Height : Height, RowsReceived, &EscPressed);
    const bool coded = !cmyk && m_blockStrips;
    for (uint32_t i = 0; i < rowCount; ++i) {
        size_t at = static_cast<size_t>(i) * Width;
        const uint8_t* rows[3] = {r + at, g + at, b + at};
        rastik::JoinSamples(rows, Width, 3, coded ? m_blockStrips->Row() : block.p + i * rowBytes);
        if (coded)
            if (CStatus s = AddBlockRow(RowsReceived + i); !s) return s;
        if (!progress.Step()) return CStatus::Stopped();
    }
    if (!coded) (cmyk ? *m_cmykFile : File).Write(block.p, static_cast<uint32_t>(rowBytes * rowCount));
    RowsReceived += rowCount;
    if (RowsReceived < Height) return CStatus::Ok();
    RowsReceived = 0;
    if (!cmyk) {
        m_blockStrips.reset();
        return Nested(WriteTail());
    }
    m_cmykFile->Close();
    m_cmykPass = kSecondPass;
    return CStatus::Ok();
}

int CTiffIO::WriteKDataImage(uint8_t* k, uint32_t rowCount)
{
    return WriteBlock([&](bool& begun) {
        if (!k || ColorMode != kModeCmyk || m_cmykPass != kSecondPass || !m_cmykFile) return CStatus::Failed();
        begun = rowCount != 0;
        return begun ? WriteBlackRows(k, rowCount) : CStatus::Ok();
    });
}

// The second pass of a CMYK block write: each black row joined to the
// cyan, magenta and yellow row kept for it.
CStatus CTiffIO::WriteBlackRows(const uint8_t* k, uint32_t rowCount)
{
    uint64_t rowBytes = 4ull * Width;
    if (static_cast<uint64_t>(RowsReceived) + rowCount > Height || rowBytes * rowCount > 0xFFFFFFFFull)
        return CStatus::Failed();
    CScopedBuffer block(AllocBuffer(static_cast<uint32_t>(rowBytes * rowCount), 1, 0));
    CScopedBuffer cmy(AllocBuffer(3 * Width, 1, 0));
    if (!block.p || !cmy.p) return CStatus::Failed(kMsgNoBuffer);
    if (RowsReceived == 0) {
        if (CStatus s = PlanBlockStrips(rowCount, 4); !s) return s;
        if (!m_cmykFile->Open(m_cmykPath.c_str(), CFile::modeRead | CFile::typeBinary)) return CStatus::Failed();
    }
    CRowProgress progress(2 * Height, Height + RowsReceived, &EscPressed);
    for (uint32_t i = 0; i < rowCount; ++i) {
        if (m_cmykFile->Read(cmy.p, 3 * Width) != 3 * Width) return CStatus::Failed();
        const uint8_t* black = k + static_cast<size_t>(i) * Width;
        uint8_t* out = m_blockStrips ? m_blockStrips->Row() : block.p + i * rowBytes;
        for (uint32_t x = 0; x < Width; ++x, out += 4) {
            out[0] = cmy.p[3 * x];
            out[1] = cmy.p[3 * x + 1];
            out[2] = cmy.p[3 * x + 2];
            out[3] = black[x];
        }
        if (m_blockStrips)
            if (CStatus s = AddBlockRow(RowsReceived + i); !s) return s;
        if (!progress.Step()) return CStatus::Stopped();
    }
    if (!m_blockStrips) File.Write(block.p, static_cast<uint32_t>(rowBytes * rowCount));
    RowsReceived += rowCount;
    if (RowsReceived < Height) return CStatus::Ok();
    RowsReceived = 0;
    m_cmykPass = 0;
    m_blockStrips.reset();
    EndProgress();
    DropCmykFile();
    return Nested(WriteTail());
}
