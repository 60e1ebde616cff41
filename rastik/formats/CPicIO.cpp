// Picture reading entry points: the header (a picture or one of the 1-bit
// formats), the whole image into the channel planes, the reduced read and
// the preview. Rows are top-down in the file.
#include "rastik/CPicIO.h"

#include <cstring>

#include "rastik/General.h"
#include "rastik/Messages.h"
#include "rastik/core/CPlaneRowStream.h"
#include "rastik/core/CReducedRows.h"
#include "rastik/formats/CPictRowLayout.h"
#include "rastik/formats/CPictSource.h"
#include "rastik/support/CScopedBuffer.h"

namespace {
constexpr uint32_t kHeaderBytes = 32;
}  // namespace

// The rows of the open file for the shared reduced-read loop.
class CPicIO::RowSource : public CReducedRows {
public:
    explicit RowSource(CPicIO& codec) : m_codec(codec) {}
    bool Read(uint8_t* row) override { return m_codec.ReadRow(row) != 0; }
    bool Skip() override { return m_codec.SkipRow() != 0; }

private:
    CPicIO& m_codec;
};

CPicIO::CPicIO(const char* path)
{
    Path = path;
}

CPicIO::~CPicIO()
{
    EndRows();
    FreeBuffer(&ColorTable);
}

int CPicIO::ReadImageHead()
{
    HeadResult result = kHeadBadData;
    IsMsp = 0;
    FreeBuffer(&ColorTable);
    m_layout.reset();
    try {
        uint8_t header[kHeaderBytes];
        File.Seek(0, CFile::begin);
        if (File.Read(header, kHeaderBytes) == kHeaderBytes) {
            int kind = CheckMsp(header);
            result = kind ? ReadMspHead(header, kind) : ReadPictHead();
        }
    } catch (const CFileException&) {
        result = kHeadBadData;
    }
    switch (result) {
    case kHeadOk: return 1;
    case kHeadEnd: return 0;
    case kHeadBadPattern: ShowRastikMessage(kMsgBadFileData); return 0;
    case kHeadUnsupported: Warn(kMsgUnsupported); return 0;
    default: Warn(kMsgBadFileData); return 0;
    }
}

int CPicIO::ReadImageData()
{
    if (!IsMsp && !Decodable()) {
        ShowRastikMessage(kMsgUnsupported);
        return 0;
    }
    uint32_t planes = Planes();
    if (!m_layout || Width == 0 || ChannelCount < planes || BytesPerLine < Width) return 0;
    CScopedBuffer line(AllocBuffer(Width * planes, 0, 0));
    if (!line.p) return 0;
    CPlaneRowStream rows(*this, CPlaneRowStream::kFill, CPlaneRowStream::kTopDown, planes);
    if (!rows.Open()) return 0;
    int ok = 1;
    try {
        ok = BeginRows();
        for (uint32_t n = 0; ok && n < Height; ++n) {
            ok = ReadRow(line.p);
            for (uint32_t k = 0; ok && k < planes; ++k) {
                uint8_t* dst = rows.Row(k);
                if (dst) memcpy(dst, line.p + static_cast<size_t>(k) * Width, Width);
                ok = dst != nullptr;
            }
            ok = ok && rows.Advance();
        }
    } catch (const CFileException&) {
        ok = 0;
    }
    EndRows();
    return ok && rows.Finish() == CPlaneRowStream::kDone ? 1 : 0;
}

int CPicIO::ReadReducedData(uint32_t width, uint32_t height, uint8_t** planes)
{
    if (!IsMsp && !Decodable()) {
        Warn(kMsgUnsupported);
        return 0;
    }
    if (!planes || width == 0 || height == 0 || width > 0xFFFF || height > 0xFFFF) return 0;
    if (!m_layout || Width == 0 || Height == 0 || ChannelCount < Planes()) return 0;
    for (uint32_t k = 0; k < Planes(); ++k)
        if (!planes[k]) return 0;
    int ok = 0;
    try {
        if (BeginRows()) {
            RowSource rows(*this);
            ok = ReduceRows(width, height, planes, Width * Planes(), false, rows);
        }
    } catch (const CFileException&) {
        ok = 0;
    }
    EndRows();
    return ok;
}

int CPicIO::ReadPrevImageData(uint32_t& width, uint32_t& height, uint8_t*& buffer)
{
    buffer = nullptr;
    if (!IsMsp && !Decodable()) return 0;
    return PreviewFromReducedData(width, height, buffer);
}
