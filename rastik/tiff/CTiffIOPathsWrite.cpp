// Clip paths, writing: the path list of the image as one path resource of
// the Photoshop resource block (record layout in TiffPathLayout.h). Every
// path becomes an open subpath of open knots; straight segments get their
// control points at one and two thirds of their length.
#include <cmath>
#include <cstring>

#include "rastik/CTiffIO.h"
#include "rastik/ClipPath.h"
#include "rastik/support/ByteOrder.h"
#include "rastik/tiff/TiffPathLayout.h"

using namespace tiffpath;

namespace {

constexpr char kSignature[4] = {'8', 'B', 'I', 'M'};
// The resource's name: a length byte, the name, a pad byte to an even length.
constexpr char kPathName[] = "kestrima";
constexpr uint32_t kNameField = 10;
// Signature, id, name field, data size.
constexpr uint32_t kResourceHeadBytes = 4 + 2 + kNameField + 4;
// Knots a subpath length record can count.
constexpr uint32_t kMaxKnots = 0xFFFF;

using Point = CTiffIO::_float_point_;

Point EndOf(const ClipPathNode& n)
{
    return {n.X, n.Y};
}

// One third of the way from a to b.
Point Third(const Point& a, const Point& b)
{
    return {(2 * a.x + b.x) / 3, (2 * a.y + b.y) / 3};
}

// The three points of knot j of a path of n nodes: the control point before
// the anchor, the anchor, the control point after it.
void KnotPoints(const uint32_t* record, uint32_t n, uint32_t j, Point points[3])
{
    ClipPathNode node = GetClipPathNode(record, j);
    Point anchor = EndOf(node);
    points[1] = anchor;
    if (j == 0) points[0] = anchor;
    else if (node.Kind == kPathBezier) points[0] = {node.C2x, node.C2y};
    else points[0] = Third(anchor, EndOf(GetClipPathNode(record, j - 1)));
    if (j + 1 == n) {
        points[2] = anchor;
        return;
    }
    ClipPathNode next = GetClipPathNode(record, j + 1);
    points[2] = next.Kind == kPathBezier ? Point{next.C1x, next.C1y} : Third(anchor, EndOf(next));
}

bool Writable(const uint32_t* record)
{
    uint32_t n = ClipPathNodeCount(record);
    return n > 0 && n <= kMaxKnots;
}

}  // namespace

// Big-endian fields; a failed write throws to the tail writer.
void CTiffIO::Write2Byte(uint16_t value)
{
    uint8_t b[2];
    rastik::PutBE16(b, value);
    File.Write(b, 2);
}

void CTiffIO::Write4Byte(uint32_t value)
{
    uint8_t b[4];
    rastik::PutBE32(b, value);
    File.Write(b, 4);
}

void CTiffIO::Write3Byte(uint32_t value)
{
    uint8_t b[3] = {static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    File.Write(b, 3);
}

void CTiffIO::WriteNode(const _float_point_& point)
{
    // Vertical component first, as a fraction of the height; then the
    // horizontal one of the width. Points up to one size outside the image
    // carry it in the sign byte; points further out are held at the edge of
    // what can be written.
    const double components[2][2] = {{point.y, static_cast<double>(Height)}, {point.x, static_cast<double>(Width)}};
    for (const auto& [value, size] : components) {
        double v = value;
        uint8_t sign = 0;
        if (v < 0) {
            v += size;
            sign = kSignMinusOne;
        } else if (v > size) {
            v -= size;
            sign = kSignPlusOne;
        }
        double f = size > 0 ? v / size * kFractionScale : 0.0;
        uint32_t fraction = f >= kMaxFraction ? kMaxFraction : f > 0 ? static_cast<uint32_t>(f) : 0;
        File.Write(&sign, 1);
        Write3Byte(fraction);
    }
}

uint32_t CTiffIO::WritePath()
{
    if (!Paths || PathCount <= 0) return 0;
    uint64_t paths = 0, nodes = 0;
    for (int32_t i = 0; i < PathCount; ++i) {
        if (!Writable(Paths[i])) continue;
        ++paths;
        nodes += ClipPathNodeCount(Paths[i]);
    }
    uint64_t dataSize = (nodes + 1 + paths) * kRecordBytes;
    if (paths == 0 || kResourceHeadBytes + dataSize > 0x7FFFFFFFu) return 0;
    static const uint8_t kZeros[kRecordBytes] = {};
    File.Write(kSignature, 4);
    Write2Byte(kFirstPathId);
    uint8_t name[kNameField] = {static_cast<uint8_t>(sizeof kPathName - 1)};
    memcpy(name + 1, kPathName, sizeof kPathName - 1);
    File.Write(name, kNameField);
    Write4Byte(static_cast<uint32_t>(dataSize));
    Write2Byte(kFillRule);
    File.Write(kZeros, kRecordBytes - 2);
    for (int32_t i = 0; i < PathCount; ++i) {
        const uint32_t* record = Paths[i];
        if (!Writable(record)) continue;
        uint32_t n = ClipPathNodeCount(record);
        Write2Byte(kOpenLength);
        Write2Byte(static_cast<uint16_t>(n));
        File.Write(kZeros, kRecordBytes - 4);
        for (uint32_t j = 0; j < n; ++j) {
            Point points[3];
            KnotPoints(record, n, j, points);
            Write2Byte(kOpenKnot);
            for (const Point& p : points) WriteNode(p);
        }
    }
    return static_cast<uint32_t>(kResourceHeadBytes + dataSize);
}
