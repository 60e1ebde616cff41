// Colour quantizer: colour tree, palette construction (exact or by splitting
// tree entries), and mapping of RGB rows to palette indexes.
#include "rastik/core/CColorQuantizer.h"

#include <cstdlib>
#include <cstring>

namespace {
constexpr int kLevels = 8;
constexpr int kMaxPalette = 256;

// Child slot of a pixel at the bit selected by mask: blue, green, red bits.
inline int ChildIndex(int r, int g, int b, int mask)
{
    return ((b & mask) ? 4 : 0) | ((g & mask) ? 2 : 0) | ((r & mask) ? 1 : 0);
}

// Count an entry of a level below 8 starts with when its node is created, so
// coarse entries sort after fine ones in the split list.
inline uint32_t StartCount(int level)
{
    return 1u << (24 - 3 * level);
}

inline int Clamp255(int v)
{
    return v < 0 ? 0 : (v > 255 ? 255 : v);
}
}  // namespace

CColorQuantizer::CColorQuantizer() = default;

CColorQuantizer::~CColorQuantizer()
{
    FreeNodes();
    free(m_splitList);
}

void CColorQuantizer::FreeNodes()
{
    NodeBlock* block = m_firstBlock;
    while (block) {
        NodeBlock* next = block->Next;
        free(block);
        block = next;
    }
    m_firstBlock = m_currentBlock = nullptr;
    m_nodesUsed = 0;
    Root = nullptr;
}

CColorQuantizer::Node* CColorQuantizer::NewNode()
{
    if (!m_currentBlock || m_nodesUsed >= kNodesPerBlock) {
        auto* block = static_cast<NodeBlock*>(calloc(1, sizeof(NodeBlock)));
        if (!block) return nullptr;
        if (m_currentBlock) m_currentBlock->Next = block;
        else m_firstBlock = block;
        m_currentBlock = block;
        m_nodesUsed = 0;
    }
    return &m_currentBlock->Nodes[m_nodesUsed++];
}

int CColorQuantizer::SetImage(int32_t width, int32_t height, int32_t stride)
{
    Width = width;
    Height = height;
    Stride = stride;
    if (!Root) Root = NewNode();
    return Root ? 1 : 0;
}

bool CColorQuantizer::AddPixel(uint8_t r, uint8_t g, uint8_t b)
{
    Node* node = Root;
    int mask = 128;
    for (int level = 1; level < kLevels; ++level, mask >>= 1) {
        Entry& e = node->Entries[ChildIndex(r, g, b, mask)];
        if (e.Count == 0) {
            Node* child = NewNode();
            if (!child) return false;
            e.Child = child;
            e.Count = StartCount(level);
        }
        // Counts stop short of the marker value on images of billions of pixels.
        if (e.Count < kCountLimit) ++e.Count;
        node = e.Child;
    }
    Entry& leaf = node->Entries[ChildIndex(r, g, b, mask)];
    if (leaf.Count == 0) {
        leaf.Value = (static_cast<uint32_t>(b) << 16) | (static_cast<uint32_t>(g) << 8) | r;
        ++DistinctColors;
    }
    if (leaf.Count < kCountLimit) ++leaf.Count;
    return true;
}

int CColorQuantizer::AddPlanes(const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                               int32_t rows)
{
    if (!Root || m_built) return 0;
    if (!red || !green || !blue) return 0;
    for (int32_t y = 0; y < rows; ++y) {
        size_t at = static_cast<size_t>(y) * static_cast<size_t>(Stride);
        for (int32_t x = 0; x < Width; ++x) {
            if (!AddPixel(red[at + x], green[at + x], blue[at + x])) return 0;
        }
    }
    return 1;
}

int CColorQuantizer::BuildPalette()
{
    if (m_built) return 1;
    m_built = true;
    PaletteCount = 0;
    if (!Root) return 1;
    if (DistinctColors <= kMaxPalette) BuildExactPalette(Root, 1);
    else BuildSplitPalette();
    return 1;
}

// Depth first, children 0 to 7: every leaf becomes the next palette colour.
void CColorQuantizer::BuildExactPalette(Node* node, int level)
{
    for (Entry& e : node->Entries) {
        if (e.Count == 0) continue;
        if (level < kLevels) {
            BuildExactPalette(e.Child, level + 1);
            continue;
        }
        uint8_t* p = PaletteColors + 4 * PaletteCount;
        p[0] = static_cast<uint8_t>(e.Value >> 16);
        p[1] = static_cast<uint8_t>(e.Value >> 8);
        p[2] = static_cast<uint8_t>(e.Value);
        p[3] = 0;
        e.Count = kMarked;
        e.Value = static_cast<uint32_t>(PaletteCount++);
    }
}

// Inserts before the first entry whose count is not lower, keeping the list
// in ascending order of count.
void CColorQuantizer::InsertSplit(int32_t& length, Entry* item, int32_t level)
{
    if (length >= kSplitCapacity) return;
    int32_t at = 0;
    while (at < length && m_splitList[at].Item->Count < item->Count) ++at;
    memmove(m_splitList + at + 1, m_splitList + at, sizeof(SplitItem) * static_cast<size_t>(length - at));
    m_splitList[at] = SplitItem{item, level};
    ++length;
}

void CColorQuantizer::BuildSplitPalette()
{
    if (!m_splitList) {
        m_splitList = static_cast<SplitItem*>(malloc(sizeof(SplitItem) * kSplitCapacity));
        if (!m_splitList) return;
    }
    int32_t length = 0;
    for (Entry& e : Root->Entries)
        if (e.Count != 0) InsertSplit(length, &e, 1);

    // Split the most populous entry that still has children until the list
    // holds a palette's worth.
    while (length < kMaxPalette) {
        int32_t i = length - 1;
        while (i >= 0 && m_splitList[i].Level >= kLevels) --i;
        if (i < 0) break;
        SplitItem split = m_splitList[i];
        memmove(m_splitList + i, m_splitList + i + 1, sizeof(SplitItem) * static_cast<size_t>(length - i - 1));
        --length;
        for (Entry& c : split.Item->Child->Entries)
            if (c.Count != 0) InsertSplit(length, &c, split.Level + 1);
    }

    PaletteCount = length < kMaxPalette ? length : kMaxPalette;
    // Index j is list entry PaletteCount - 1 - j: the most populous first.
    for (int32_t j = 0; j < PaletteCount; ++j) {
        const SplitItem& s = m_splitList[PaletteCount - 1 - j];
        ColourOfEntry(s.Item, s.Level, PaletteColors + 4 * j);
        PaletteColors[4 * j + 3] = 0;
    }
    // Marking replaces child pointers, so it follows all colour sums.
    for (int32_t j = 0; j < PaletteCount; ++j) {
        Entry* e = m_splitList[PaletteCount - 1 - j].Item;
        e->Count = kMarked;
        e->Value = static_cast<uint32_t>(j);
    }
    free(m_splitList);
    m_splitList = nullptr;
}

void CColorQuantizer::SumLeaves(const Node* node, int level, uint64_t sums[3], uint64_t& weight)
{
    for (const Entry& e : node->Entries) {
        if (e.Count == 0) continue;
        if (level < kLevels) {
            SumLeaves(e.Child, level + 1, sums, weight);
            continue;
        }
        sums[0] += static_cast<uint64_t>((e.Value >> 16) & 0xFF) * e.Count;
        sums[1] += static_cast<uint64_t>((e.Value >> 8) & 0xFF) * e.Count;
        sums[2] += static_cast<uint64_t>(e.Value & 0xFF) * e.Count;
        weight += e.Count;
    }
}

// Blue, green, red of a split-list entry: a leaf's own colour, else the
// pixel-weighted mean of the leaves below it. The weight is the entry's count
// less its starting count, summed from the leaves so that it stays exact when
// an interior count has stopped at its limit.
void CColorQuantizer::ColourOfEntry(const Entry* item, int32_t level, uint8_t* bgr) const
{
    if (level >= kLevels) {
        bgr[0] = static_cast<uint8_t>(item->Value >> 16);
        bgr[1] = static_cast<uint8_t>(item->Value >> 8);
        bgr[2] = static_cast<uint8_t>(item->Value);
        return;
    }
    uint64_t sums[3] = {0, 0, 0};
    uint64_t weight = 0;
    SumLeaves(item->Child, level + 1, sums, weight);
    for (int c = 0; c < 3; ++c) bgr[c] = weight ? static_cast<uint8_t>(sums[c] / weight) : 0;
}

int CColorQuantizer::NearestIndex(int r, int g, int b) const
{
    int best = 0;
    int32_t bestDistance = INT32_MAX;
    for (int32_t i = 0; i < PaletteCount; ++i) {
        const uint8_t* p = PaletteColors + 4 * i;
        int db = b - p[0], dg = g - p[1], dr = r - p[2];
        int32_t d = db * db + dg * dg + dr * dr;
        if (d == 0) return i;
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return best;
}

int CColorQuantizer::FindIndex(int r, int g, int b) const
{
    if ((DistinctColors > kMaxPalette && NearestOnly) || !Root) return NearestIndex(r, g, b);
    const Node* node = Root;
    int mask = 128;
    for (int level = 1; level <= kLevels; ++level, mask >>= 1) {
        const Entry& e = node->Entries[ChildIndex(r, g, b, mask)];
        if (e.Count == kMarked) return static_cast<int>(e.Value);
        if (e.Count == 0 || level == kLevels) break;
        node = e.Child;
    }
    return NearestIndex(r, g, b);
}

void CColorQuantizer::MapRowPlain(uint8_t* out, const uint8_t* r, const uint8_t* g,
                                  const uint8_t* b) const
{
    for (int32_t j = 0; j < Width; ++j) out[j] = static_cast<uint8_t>(FindIndex(r[j], g[j], b[j]));
}

// Error diffusion along one row: 7/16 to the right (the carry), 5/16 below,
// 3/16 below left, in 16-bit entries with arithmetic shifts.
void CColorQuantizer::MapRowDithered(uint8_t* out, const uint8_t* r, const uint8_t* g,
                                     const uint8_t* b, int16_t* errors[3]) const
{
    const uint8_t* in[3] = {r, g, b};
    int carry[3] = {0, 0, 0};
    for (int32_t j = 0; j < Width; ++j) {
        int v[3];
        for (int c = 0; c < 3; ++c) v[c] = Clamp255(in[c][j] + errors[c][j] + carry[c]);
        int index = FindIndex(v[0], v[1], v[2]);
        out[j] = static_cast<uint8_t>(index);
        const uint8_t* p = PaletteColors + 4 * index;
        const int paletteRgb[3] = {p[2], p[1], p[0]};
        for (int c = 0; c < 3; ++c) {
            int e = static_cast<int16_t>(v[c] - paletteRgb[c]);
            if (j > 0) errors[c][j - 1] = static_cast<int16_t>(errors[c][j - 1] + ((3 * e) >> 4));
            errors[c][j] = static_cast<int16_t>((5 * e) >> 4);
            carry[c] = (7 * e) >> 4;
        }
    }
}

int CColorQuantizer::MapPlanes(uint8_t* out, const uint8_t* red, const uint8_t* green,
                               const uint8_t* blue, int32_t rows, int32_t outStride)
{
    if (!out || !red || !green || !blue) return 0;
    if (rows <= 0 || Width <= 0) return 1;
    int16_t* errors[3] = {nullptr, nullptr, nullptr};
    if (Dither) {
        size_t entries = static_cast<size_t>(Stride > Width ? Stride : Width);
        bool ok = true;
        for (auto& row : errors) {
            row = static_cast<int16_t*>(calloc(entries, sizeof(int16_t)));
            ok = ok && row;
        }
        if (!ok) {
            for (auto& row : errors) free(row);
            return 0;
        }
    }
    for (int32_t y = 0; y < rows; ++y) {
        size_t at = static_cast<size_t>(y) * static_cast<size_t>(Stride);
        uint8_t* o = out + static_cast<size_t>(y) * static_cast<size_t>(outStride);
        if (Dither) MapRowDithered(o, red + at, green + at, blue + at, errors);
        else MapRowPlain(o, red + at, green + at, blue + at);
    }
    for (auto& row : errors) free(row);
    return 1;
}

uint8_t* CColorQuantizer::GetPalette(int32_t* count)
{
    if (count) *count = PaletteCount;
    return PaletteColors;
}
