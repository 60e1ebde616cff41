// Clip paths, reading: the path resources (ids 2000 to 2998) of the
// Photoshop resource block become the path list of the image, in pixel
// coordinates (record layout in TiffPathLayout.h).
#include <cstdlib>
#include <cstring>

#include "rastik/CTiffIO.h"
#include "rastik/ClipPath.h"
#include "rastik/core/CImageResources.h"
#include "rastik/tiff/TiffPathLayout.h"

using namespace tiffpath;

int CTiffIO::Read2Byte(uint16_t& value)
{
    return Read2ByteInt(value);
}

int CTiffIO::Read4Byte(uint32_t& value)
{
    return Read4ByteInt(value);
}

int CTiffIO::Read3Byte(uint32_t& value)
{
    uint8_t b[3];
    if (File.Read(b, 3) != 3) return 0;
    value = (static_cast<uint32_t>(b[0]) << 16) | (static_cast<uint32_t>(b[1]) << 8) | b[2];
    return 1;
}

void CTiffIO::ReadBezier3Point()
{
    for (int i = 0; i < 3; ++i) {
        double v[2] = {};
        for (double& component : v) {
            uint8_t sign = 0;
            uint32_t fraction = 0;
            File.Read(&sign, 1);
            Read3Byte(fraction);
            component = fraction / kFractionScale + (sign == kSignMinusOne ? -1.0 : sign == kSignPlusOne ? 1.0 : 0.0);
        }
        m_pathPoints.push_back({v[1], v[0]});
    }
}

int CTiffIO::ReadPath()
{
    if (ResourcePos <= 0) return 1;
    m_pathPoints.clear();
    m_subpaths.clear();
    try {
        std::vector<std::pair<uint64_t, uint32_t>> resources;
        CImageResources walk(File, ResourcePos);
        while (walk.Next())
            if (walk.Id() >= kFirstPathId && walk.Id() <= kLastPathId) resources.emplace_back(walk.DataAt(), walk.DataSize());
        uint64_t fileLength = File.GetLength();
        for (const auto& [at, size] : resources)
            if (at + size > fileLength || !ReadPathResource(at, size)) return 0;
    } catch (const CFileException&) {
        return 0;
    }
    return StorePaths();
}

// The data of one path resource (within the file); 0 when it is not whole
// records.
int CTiffIO::ReadPathResource(uint64_t at, uint32_t size)
{
    if (size % kRecordBytes != 0) return 0;
    File.Seek(static_cast<int64_t>(at), CFile::begin);
    uint32_t records = size / kRecordBytes;
    for (uint32_t r = 0; r < records;) {
        uint16_t selector = 0;
        Read2Byte(selector);
        ++r;
        if (selector != kClosedLength && selector != kOpenLength) {
            File.Seek(kRecordBytes - 2, CFile::current);
            continue;
        }
        uint16_t knots = 0;
        Read2Byte(knots);
        File.Seek(kRecordBytes - 4, CFile::current);
        Subpath subpath{selector == kClosedLength, m_pathPoints.size(), 0};
        for (; subpath.knots < knots && r < records; ++subpath.knots, ++r) {
            File.Seek(2, CFile::current);
            ReadBezier3Point();
        }
        if (subpath.knots) m_subpaths.push_back(subpath);
    }
    return 1;
}

// Every subpath becomes a path: a start node on the first anchor, a Bezier
// segment to each further anchor (leaving control of the knot before,
// preceding control of the knot reached), and for a closed subpath one more
// segment back to the first anchor.
int CTiffIO::StorePaths()
{
    if (m_subpaths.empty()) return 1;
    if (!AllocPathSpace(static_cast<int>(m_subpaths.size()))) return 0;
    float w = static_cast<float>(Width);
    float h = static_cast<float>(Height);
    for (const Subpath& s : m_subpaths) {
        uint32_t nodes = s.knots + (s.closed ? 1 : 0);
        auto* record = static_cast<uint32_t*>(malloc(ClipPathRecordBytes(nodes)));
        if (!record) return 0;
        record[0] = nodes;
        auto point = [&](uint32_t knot, int which) {
            const PathPoint& p = m_pathPoints[s.first + 3 * (knot % s.knots) + which];
            return std::pair<float, float>(static_cast<float>(p.x * w), static_cast<float>(p.y * h));
        };
        for (uint32_t j = 0; j < nodes; ++j) {
            ClipPathNode n;
            auto anchor = point(j, 1);
            n.X = anchor.first, n.Y = anchor.second;
            if (j > 0) {
                auto leaving = point(j - 1, 2);
                auto preceding = point(j, 0);
                n.C1x = leaving.first, n.C1y = leaving.second;
                n.C2x = preceding.first, n.C2y = preceding.second;
                n.Kind = kPathBezier;
            }
            SetClipPathNode(record, j, n);
        }
        if (!AddPath(record)) {
            free(record);
            return 0;
        }
    }
    return 1;
}
