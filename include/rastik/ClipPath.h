// The records of the clip-path list of an image (CRastik::Paths): each path
// is one malloc'ed block holding a 32-bit node count followed by that many
// nodes of 28 bytes. A node is the segment that ends at its end point,
// starting from the previous node's end point and shaped by its two control
// points; coordinates are in pixels.
#pragma once

#include <cstdint>
#include <cstring>

// Kinds of a node.
enum ClipPathNodeKind : uint16_t {
    kPathStart = 0,    // first node of a path: only the end point counts
    kPathLine = 1,     // straight segment
    kPathBezier = 2    // cubic Bezier segment
};

struct ClipPathNode {
    float C1x = 0, C1y = 0;  // first control point
    float C2x = 0, C2y = 0;  // second control point
    float X = 0, Y = 0;      // end point
    uint16_t Kind = kPathStart;
};

// Node layout in the record: six floats, the kind, two zero bytes.
constexpr uint32_t kClipPathNodeBytes = 28;

inline uint32_t ClipPathNodeCount(const uint32_t* record)
{
    return record ? record[0] : 0;
}

// Bytes of a record of count nodes.
inline uint64_t ClipPathRecordBytes(uint32_t count)
{
    return 4 + static_cast<uint64_t>(count) * kClipPathNodeBytes;
}

inline ClipPathNode GetClipPathNode(const uint32_t* record, uint32_t i)
{
    const uint8_t* p = reinterpret_cast<const uint8_t*>(record + 1) + static_cast<size_t>(i) * kClipPathNodeBytes;
    ClipPathNode n;
    float f[6];
    memcpy(f, p, sizeof f);
    n.C1x = f[0], n.C1y = f[1], n.C2x = f[2], n.C2y = f[3], n.X = f[4], n.Y = f[5];
    memcpy(&n.Kind, p + 24, 2);
    return n;
}

inline void SetClipPathNode(uint32_t* record, uint32_t i, const ClipPathNode& n)
{
    uint8_t* p = reinterpret_cast<uint8_t*>(record + 1) + static_cast<size_t>(i) * kClipPathNodeBytes;
    const float f[6] = {n.C1x, n.C1y, n.C2x, n.C2y, n.X, n.Y};
    memcpy(p, f, sizeof f);
    memcpy(p + 24, &n.Kind, 2);
    p[26] = p[27] = 0;
}
