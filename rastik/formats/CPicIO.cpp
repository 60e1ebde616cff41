// Picture reading entry points: the header (a picture or one of the 1-bit
// formats), what refuses its rows, and the row source the base class reads
// the whole image, the reduced image and the preview from. Rows are top-down
// in the file.
#include "rastik/CPicIO.h"

#include "rastik/General.h"
#include "rastik/Messages.h"
#include "rastik/core/CRowSource.h"
#include "rastik/core/CStatus.h"
#include "rastik/formats/CPictRowLayout.h"
#include "rastik/formats/CPictSource.h"

namespace {
constexpr uint32_t kHeaderBytes = 32;
}  // namespace

// The stored rows, a row per plane, in file order; rows passed over are
// stepped over by their stored length.
class CPicIO::RowSource : public CRowSource {
public:
    explicit RowSource(CPicIO& codec) : CRowSource(codec.Width, codec.Height, LayoutOf(codec)), m_codec(codec) {}
    ~RowSource() override { m_codec.EndRows(); }

    CStatus Start() override { return m_codec.BeginRows() ? CStatus::Ok() : CStatus::Failed(); }
    CStatus Read(uint8_t* const* rows) override { return m_codec.ReadRow(rows) ? CStatus::Ok() : CStatus::Failed(); }
    CStatus Skip() override { return m_codec.SkipRow() ? CStatus::Ok() : CStatus::Failed(); }

private:
    static CRowLayout LayoutOf(const CPicIO& codec)
    {
        CRowLayout l;
        l.Planes = codec.Planes();
        return l;
    }

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

CStatus CPicIO::ReadHead()
{
    HeadResult result = kHeadBadData;
    IsMsp = 0;
    FreeBuffer(&ColorTable);
    m_layout.reset();
    uint8_t header[kHeaderBytes];
    File.Seek(0, CFile::begin);
    if (File.Read(header, kHeaderBytes) == kHeaderBytes) {
        int kind = CheckMsp(header);
        result = kind ? ReadMspHead(header, kind) : ReadPictHead();
    }
    switch (result) {
    case kHeadOk: return CStatus::Ok();
    case kHeadEnd: return CStatus::Failed();
    case kHeadUnsupported: return CStatus::Failed(kMsgUnsupported);
    default: return CStatus::Failed(kMsgBadFileData);
    }
}

int CPicIO::HeadReadError() const
{
    return kMsgBadFileData;
}

int CPicIO::ReadRefusal() const
{
    return IsMsp || Decodable() ? 0 : kMsgUnsupported;
}

std::unique_ptr<CRowSource> CPicIO::OpenRowSource(RowPurpose)
{
    if (!m_layout || Width == 0 || Height == 0 || ChannelCount < Planes()) return nullptr;
    return std::make_unique<RowSource>(*this);
}
