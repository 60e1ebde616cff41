// Copying clip paths from one image to another.
#include "rastik/core/ClipPathCopy.h"

#include <cstdlib>
#include <cstring>

#include "rastik/ClipPath.h"

bool CopyClipPaths(const CRastik& source, CRastik& target, double scaleX, double scaleY)
{
    if (!source.Paths || source.PathCount <= 0) return true;
    if (!target.AllocPathSpace(source.PathCount)) return false;
    auto sx = [scaleX](float v) { return static_cast<float>(v * scaleX); };
    auto sy = [scaleY](float v) { return static_cast<float>(v * scaleY); };
    for (int32_t i = 0; i < source.PathCount; ++i) {
        const uint32_t* from = source.Paths[i];
        if (!from) continue;
        uint32_t n = ClipPathNodeCount(from);
        size_t bytes = static_cast<size_t>(ClipPathRecordBytes(n));
        auto* record = static_cast<uint32_t*>(malloc(bytes));
        if (!record) return false;
        memcpy(record, from, bytes);
        for (uint32_t j = 0; j < n; ++j) {
            ClipPathNode node = GetClipPathNode(record, j);
            node.C1x = sx(node.C1x), node.C2x = sx(node.C2x), node.X = sx(node.X);
            node.C1y = sy(node.C1y), node.C2y = sy(node.C2y), node.Y = sy(node.Y);
            SetClipPathNode(record, j, node);
        }
        if (!target.AddPath(record)) {
            free(record);
            return false;
        }
    }
    return true;
}
