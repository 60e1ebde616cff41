// The base class's reads: the header read and the whole, reduced and
// preview reads of every codec that supplies a header read and a row
// source. Argument checks, the data refusal, progress and Esc, row
// selection, spilled planes and the message rule are here, once.
#include <memory>

#include "rastik/CRastik.h"
#include "rastik/General.h"
#include "rastik/Messages.h"
#include "rastik/core/COperation.h"
#include "rastik/core/CPlaneRowSink.h"
#include "rastik/core/CReducedRowSink.h"
#include "rastik/core/CRowSource.h"

CStatus CRastik::ReadHead()
{
    return CStatus::Failed();
}

bool CRastik::WholeReadFromTop()
{
    return false;
}

std::unique_ptr<CStoredRows> CRastik::OpenStoredRows()
{
    return nullptr;
}

int CRastik::HeadReadError() const
{
    return 0;
}

int CRastik::ReadRefusal() const
{
    return 0;
}

std::unique_ptr<CRowSource> CRastik::OpenRowSource(RowPurpose)
{
    return nullptr;
}

std::unique_ptr<CRowSource> CRastik::RowSourceOf(CRastik& codec, RowPurpose purpose)
{
    return codec.OpenRowSource(purpose);
}

uint32_t CRastik::ReducedPlaneCount() const
{
    return ColorMode == kModeRgb || ColorMode == kModeCmyk ? ColorChannels : 1;
}

int CRastik::ReadImageHead()
{
    COperation op(*this, COperation::kRead, HeadReadError());
    // What the data reads would refuse is refused here, before a host
    // allocates planes for it.
    return op.Run([&] {
        if (Page > 0 && !ReadsPages()) return CStatus::Failed(kMsgNoSuchPage);
        CStatus head = ReadHead();
        if (!head) return head;
        if (int refusal = ReadRefusal()) return CStatus::Failed(refusal);
        return WithinPixelLimit();
    });
}

CStatus CRastik::WithinPixelLimit() const
{
    uint64_t limit = GetMaxPixels();
    bool over = limit && static_cast<uint64_t>(Width) * Height > limit;
    return over ? CStatus::Failed(kMsgTooManyPixels) : CStatus::Ok();
}

int CRastik::ReadImageData()
{
    return ReadPlanesFromSource(ChannelKind, TempFileObject, ChannelData, ChannelOffset);
}

int CRastik::ReadPlanesFromSource(int32_t* kinds, CFile* tempFile, uint8_t** planes, int64_t* offsets)
{
    COperation op(*this, COperation::kRead);
    return op.Run([&] { return ReadWhole(kinds, tempFile, planes, offsets); });
}

CStatus CRastik::ReadWhole(int32_t* kinds, CFile* tempFile, uint8_t** planes, int64_t* offsets)
{
    m_rowsRead = 0;
    if (int refusal = ReadRefusal()) return CStatus::Failed(refusal);
    if (!kinds || !planes || !offsets || Width == 0 || Height == 0 || BytesPerLine < Width) return CStatus::Failed();
    std::unique_ptr<CRowSource> source = OpenRowSource(kWholeImage);
    if (!source) return CStatus::Failed();
    const CRowLayout& layout = source->Layout();
    if (layout.Planes == 0 || layout.Planes > ChannelCount) return CStatus::Failed();
    CPlaneRowSink sink(*this, CPlaneRowStream::PlaneSet{kinds, planes, offsets, tempFile}, layout);
    sink.FollowedBy(m_follower);
    if (CStatus s = sink.Open(); !s) return s;
    if (CStatus s = source->Start(); !s) return s;
    CStatus run = source->Run(sink);
    m_rowsRead = sink.RowsHanded();
    if (CStatus s = sink.Finish(run); !s) return s;
    return source->Finish();
}

int CRastik::ReadReducedData(uint32_t width, uint32_t height, uint8_t** planes)
{
    COperation op(*this, COperation::kRead);
    return op.Run([&] { return ReadReduced(width, height, planes); });
}

CStatus CRastik::ReadReduced(uint32_t width, uint32_t height, uint8_t** planes)
{
    if (int refusal = ReadRefusal()) return CStatus::Failed(refusal);
    uint32_t colours = ReducedPlaneCount();
    if (!planes || width == 0 || height == 0 || width > 0xFFFF || height > 0xFFFF || Width == 0 || Height == 0 ||
        colours == 0 || colours > static_cast<uint32_t>(kMaxChannels))
        return CStatus::Failed();
    for (uint32_t c = 0; c < colours; ++c)
        if (!planes[c]) return CStatus::Failed();
    std::unique_ptr<CRowSource> source = OpenRowSource(kReducedImage);
    if (!source) return CStatus::Failed();
    PrevWidth = static_cast<uint16_t>(width);
    PrevHeight = static_cast<uint16_t>(height);
    CReducedRowSink sink(*this, source->Layout(), width, height, planes, colours);
    BeginProgress();
    CStatus s = source->Start();
    if (s) s = source->Run(sink);
    if (s) s = source->Finish();
    EndProgress();
    return s;
}

int CRastik::ReadPrevImageData(uint32_t& width, uint32_t& height, uint8_t*& buffer)
{
    buffer = nullptr;
    COperation op(*this, COperation::kRead);
    return op.Run([&] { return ReadPreview(width, height, buffer); });
}

CStatus CRastik::ReadPreview(uint32_t& width, uint32_t& height, uint8_t*& buffer)
{
    if (int refusal = ReadRefusal()) return CStatus::Failed(refusal);
    uint32_t colours = ReducedPlaneCount();
    if (ChannelCount == 0 || ChannelCount > static_cast<uint32_t>(kMaxChannels) || colours == 0 || colours > 4)
        return CStatus::Failed();
    int result = PreviewFromReducedData(width, height, buffer);
    return result ? CStatus::Ok() : CStatus::Failed(m_lastMessage);
}
