// JPEG codec: construction, the owned encoder and parameter record, the
// file a libjpeg run reads, and the locating of the Photoshop resource block.
#include "rastik/CJpgIO.h"

#include <cstring>

#include "platform/Win32.h"
#include "rastik/jpeg/CJpgIORun.h"
#include "rastik/jpeg/JpegMarkers.h"

CJpgIO::CJpgIO(const char* path)
{
    Path = path;
    Info = new DCTINFO();
    Filter = new CDCTFilter();
}

CJpgIO::~CJpgIO()
{
    DropStreamFile();
    delete Filter;
    delete Info;
}

void CJpgIO::DropStreamFile()
{
    if (!StreamFile) return;
    StreamFile->Abort();
    delete StreamFile;
    StreamFile = nullptr;
    if (!StreamFilePath.empty()) DeleteFile(StreamFilePath.c_str());
    StreamFilePath.clear();
}

void CJpgIO::SetSource(CFile& file, uint64_t start, uint64_t length)
{
    m_source = &file;
    m_sourceStart = start;
    m_sourceLength = length;
}

int CJpgIO::Run(JpegHead* head, JpegRowSink* sink)
{
    CFile& file = m_source ? *m_source : File;
    return RunJpegDecompress(file, m_sourceStart, m_sourceLength, head, sink, ShowMessages != 0);
}

int CJpgIO::WriteHeader() { return 1; }
int CJpgIO::WriteTail() { return 1; }
int CJpgIO::WriteQorHeader() { return 1; }
int CJpgIO::WriteBlockData(uint8_t*, uint32_t, uint32_t) { return 0; }

// The resource block is found by walking the segments before the first scan.
namespace {
// APP13 of Photoshop: the identifier "Photoshop 3.0" and a zero byte, then
// the "8BIM" resource blocks.
constexpr char kPhotoshopId[] = "Photoshop 3.0";
constexpr uint32_t kPhotoshopIdBytes = 14;
constexpr int kMaxSegments = 65536;
}  // namespace

void CJpgIO::GetResourcePos()
{
    ResourcePos = 0;
    if (!File.IsOpen()) return;
    try {
        File.SeekToBegin();
        uint64_t length = File.GetLength();
        uint16_t word = 0;
        if (!Read2ByteInt(word) || word != jpegmarker::kSoi) {
            File.SeekToBegin();
            return;
        }
        for (int i = 0; i < kMaxSegments; ++i) {
            uint16_t marker = 0;
            if (!Read2ByteInt(marker)) break;
            if (!jpegmarker::IsMarker(marker) || marker == jpegmarker::kSos || marker == jpegmarker::kEoi) break;
            // Markers without a segment (restarts, TEM) do not appear before a scan.
            if ((marker >= jpegmarker::kRst0 && marker <= jpegmarker::kSoi) || marker == jpegmarker::kTem || marker == jpegmarker::kFill) break;
            uint64_t segment = File.GetPosition();
            uint16_t segmentLength = 0;
            if (!Read2ByteInt(segmentLength) || segmentLength < 2) break;
            uint64_t next = segment + segmentLength;
            if (next > length) break;
            if (marker == jpegmarker::kApp13 && segmentLength >= 2 + kPhotoshopIdBytes) {
                char id[kPhotoshopIdBytes] = {};
                if (File.Read(id, kPhotoshopIdBytes) != kPhotoshopIdBytes) break;
                if (memcmp(id, kPhotoshopId, kPhotoshopIdBytes) == 0 && segment + 16 <= 0x7FFFFFFF) {
                    ResourcePos = static_cast<int32_t>(segment + 2 + kPhotoshopIdBytes);
                    break;
                }
            }
            File.Seek(static_cast<int64_t>(next), CFile::begin);
        }
        File.SeekToBegin();
    } catch (const CFileException&) {
        ResourcePos = 0;
    }
}
