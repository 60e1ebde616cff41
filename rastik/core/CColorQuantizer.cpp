// Colour quantizer: colour tree, palette construction (exact or by splitting
// tree entries), and mapping of RGB rows to palette indexes, sped up by a
// table of the tree's top levels and per-cell nearest-colour candidates.
#include "rastik/core/CColorQuantizer.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/LargeBlock.h"
#include "rastik/support/CPoolScope.h"
#include "rastik/support/CPrefault.h"

namespace {
constexpr int kLevels = 8;
constexpr int kMaxPalette = 256;

// A pixel's path through the tree as one key: the bits of blue, green and
// red interleaved from the highest, so the child slot at level L (1 to 8) is
// key >> 3 * (8 - L) & 7 = 4 x blue bit + 2 x green bit + red bit.
struct SpreadTable {
    uint32_t Bits[256];
};

constexpr SpreadTable MakeSpreadTable()
{
    SpreadTable t{};
    for (uint32_t v = 0; v < 256; ++v)
        for (int bit = 0; bit < 8; ++bit)
            if (v & (1u << bit)) t.Bits[v] |= 1u << (3 * bit);
    return t;
}

constexpr SpreadTable kSpread = MakeSpreadTable();

inline uint32_t PathKey(int r, int g, int b)
{
    return (kSpread.Bits[b] << 2) | (kSpread.Bits[g] << 1) | kSpread.Bits[r];
}

inline int ChildIndex(uint32_t key, int level)
{
    return static_cast<int>((key >> (3 * (kLevels - level))) & 7);
}

// Every third bit of x from bit 0 on, packed together (the inverse of the
// spread table).
inline uint32_t Compact(uint32_t x)
{
    x &= 0x09249249u;
    x = (x ^ (x >> 2)) & 0x030C30C3u;
    x = (x ^ (x >> 4)) & 0x0300F00Fu;
    x = (x ^ (x >> 8)) & 0xFF0000FFu;
    x = (x ^ (x >> 16)) & 0x000003FFu;
    return x;
}

// The colour blue << 16 | green << 8 | red of a path key.
inline uint32_t ColourOfKey(uint32_t key)
{
    return (Compact(key >> 2) << 16) | (Compact(key >> 1) << 8) | Compact(key);
}

// Levels (from the root) two keys share a path for: the whole three-bit
// groups above the highest bit in which they differ.
inline int SharedLevels(uint32_t a, uint32_t b)
{
    const uint32_t differ = (a ^ b) << (32 - 3 * kLevels);
    return differ == 0 ? kLevels : std::countl_zero(differ) / 3;
}

// Adds n pixels to a count as n single increases would: counts stop short
// of the marker value on images of billions of pixels.
inline void AddCount(uint32_t& count, uint64_t n, uint32_t limit)
{
    if (count < limit) count = limit - count > n ? count + static_cast<uint32_t>(n) : limit;
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

CColorQuantizer::CColorQuantizer() : m_prefault(std::make_unique<CPrefault>(CPoolScope::Lent())) {}

CColorQuantizer::~CColorQuantizer()
{
    FreeNodes();
    free(m_splitList);
    FreeLookup();
    FreeBatch();
}

// Releases malloc'd blocks and clears their pointers.
template <class... T>
void FreeBlocks(T*&... blocks)
{
    ((free(blocks), blocks = nullptr), ...);
}

void CColorQuantizer::FreeBatch()
{
    m_prefault->Wait();
    FreeBlocks(m_batch, m_batchSorted, m_batchAhead, m_digitCounts);
    m_batchUsed = m_aheadUsed = 0;
    m_ahead = false;
}

void CColorQuantizer::FreeLookup()
{
    FreeBlocks(m_top, m_cells, m_candidates);
    m_candidatesUsed = 0;
}

void CColorQuantizer::FreeNodes()
{
    m_prefault->Wait();
    for (Node*& block : m_blocks) {
        free(block);
        block = nullptr;
    }
    m_nodeCount = m_nodeCapacity = 0;
    m_nodeRun = NodeRun{};
    m_pieceRuns.clear();
    Root = nullptr;
}

uint32_t CColorQuantizer::NewNode(NodeRun& run)
{
    if (run.Next == run.End && !TakeNodeRun(run)) return kNoNode;
    const uint32_t number = run.Next++;
    memset(NodeAt(number), 0, sizeof(Node));
    return number;
}

bool CColorQuantizer::TakeNodeRun(NodeRun& run)
{
    std::lock_guard<std::mutex> lock(m_nodeMutex);
    if (m_nodeCount == m_nodeCapacity) {
        // A new block starts at the next multiple of kNodesPerBlock; the
        // numbers a short first block leaves out are never used.
        const uint32_t block = (m_nodeCount + kNodesPerBlock - 1) >> kBlockShift;
        if (block >= kMaxBlocks) return false;
        // The tree of the n pixels of the image has at most 1 + 7n nodes;
        // more rows than its height go on in whole blocks.
        const uint64_t pixels = static_cast<uint64_t>(Width > 0 ? Width : 1) * static_cast<uint64_t>(Height > 0 ? Height : 1);
        const uint64_t most = 1 + 7 * pixels;
        const uint32_t nodes = block == 0 && most < kNodesPerBlock ? static_cast<uint32_t>(most) : kNodesPerBlock;
        m_blocks[block] = static_cast<Node*>(AllocLargeBlock(sizeof(Node) * nodes, false));
        if (!m_blocks[block]) return false;
        // The prefault jobs belong to this thread: pieces map their pages
        // as they carve them.
        if (&run == &m_nodeRun) m_prefault->Add(m_blocks[block], sizeof(Node) * nodes);
        m_nodeCount = block << kBlockShift;
        m_nodeCapacity = m_nodeCount + nodes;
    }
    run.Next = m_nodeCount;
    run.End = m_nodeCapacity - m_nodeCount > kRunNodes ? m_nodeCount + kRunNodes : m_nodeCapacity;
    m_nodeCount = run.End;
    return true;
}

int CColorQuantizer::SetImage(int32_t width, int32_t height, int32_t stride)
{
    Width = width;
    Height = height;
    Stride = stride;
    if (!Root && NewNode() != kNoNode) Root = NodeAt(0);
    return Root ? 1 : 0;
}

// Sorts the batch's keys; the sorted keys end in m_batch again.
const uint32_t* CColorQuantizer::SortBatch(uint32_t n)
{
    CWorkerPool* pool = CPoolScope::Lent();
    if (pool && n >= kLeastPooledSort) return SortBatchOnPool(*pool, n);
    SortKeys(m_batch, m_batchSorted, n);
    return m_batch;
}

void CColorQuantizer::SortKeys(uint32_t* keys, uint32_t* scratch, uint32_t n)
{
    uint32_t* low = m_digitCounts;
    uint32_t* high = m_digitCounts + kDigitValues;
    memset(m_digitCounts, 0, 2 * kDigitValues * sizeof(uint32_t));
    for (uint32_t i = 0; i < n; ++i) {
        ++low[keys[i] & (kDigitValues - 1)];
        ++high[keys[i] >> kDigitBits];
    }
    uint32_t lowAt = 0, highAt = 0;
    for (uint32_t d = 0; d < kDigitValues; ++d) {
        const uint32_t l = low[d], h = high[d];
        low[d] = lowAt;
        high[d] = highAt;
        lowAt += l;
        highAt += h;
    }
    for (uint32_t i = 0; i < n; ++i) scratch[low[keys[i] & (kDigitValues - 1)]++] = keys[i];
    for (uint32_t i = 0; i < n; ++i) keys[high[scratch[i] >> kDigitBits]++] = scratch[i];
}

// The same two stable passes, each cut into one piece of the keys per
// thread: every piece counts its digits, the counts give each piece its
// places for every digit, and the pieces move their keys at once. The keys
// are numbers, so the sorted batch is the same however it is cut.
const uint32_t* CColorQuantizer::SortBatchOnPool(CWorkerPool& pool, uint32_t n)
{
    const uint32_t pieces = pool.Threads();
    std::vector<uint32_t> at(static_cast<size_t>(pieces) * kDigitValues);
    auto pass = [&](const uint32_t* from, uint32_t* to, uint32_t shift) {
        auto range = [&](uint32_t p, uint32_t& begin, uint32_t& end) {
            begin = static_cast<uint32_t>(static_cast<uint64_t>(n) * p / pieces);
            end = static_cast<uint32_t>(static_cast<uint64_t>(n) * (p + 1) / pieces);
        };
        pool.Run(pieces, [&](uint32_t p) {
            uint32_t* count = at.data() + static_cast<size_t>(p) * kDigitValues;
            std::fill(count, count + kDigitValues, 0u);
            uint32_t begin, end;
            range(p, begin, end);
            for (uint32_t i = begin; i < end; ++i) ++count[(from[i] >> shift) & (kDigitValues - 1)];
        });
        uint32_t next = 0;
        for (uint32_t d = 0; d < kDigitValues; ++d) {
            for (uint32_t p = 0; p < pieces; ++p) {
                const uint32_t c = at[static_cast<size_t>(p) * kDigitValues + d];
                at[static_cast<size_t>(p) * kDigitValues + d] = next;
                next += c;
            }
        }
        pool.Run(pieces, [&](uint32_t p) {
            uint32_t* place = at.data() + static_cast<size_t>(p) * kDigitValues;
            uint32_t begin, end;
            range(p, begin, end);
            for (uint32_t i = begin; i < end; ++i) to[place[(from[i] >> shift) & (kDigitValues - 1)]++] = from[i];
        });
    };
    pass(m_batch, m_batchSorted, 0);
    pass(m_batchSorted, m_batch, kDigitBits);
    return m_batch;
}

// Enters the keys collected so far, sorted: pixels of one colour walk the
// tree once, and a colour walks on from where its path leaves the path of
// the colour before; the pixels through each entry of the current path are
// added to its count when the path leaves it. The tree, its counts and
// colours do not depend on the order of entering.
bool CColorQuantizer::FlushBatch()
{
    const uint32_t n = m_batchUsed;
    m_batchUsed = 0;
    return EnterSorted(SortBatch(n), n);
}

bool CColorQuantizer::FlushBatchAhead()
{
    if (m_aheadUsed == 0) {
        // Nothing to enter meanwhile: the batch sorts on every thread.
        SortBatch(m_batchUsed);
        std::swap(m_batch, m_batchAhead);
        m_aheadUsed = m_batchUsed;
        m_batchUsed = 0;
        return true;
    }
    // The batch before, sorted, is entered from the block the next keys
    // then fill, while the full batch sorts on a worker, which then joins
    // the entering; no sorting outlives the call.
    std::swap(m_batch, m_batchAhead);
    const uint32_t before = m_aheadUsed;
    uint32_t* const keys = m_batchAhead;
    const uint32_t n = m_aheadUsed = m_batchUsed;
    m_batchUsed = 0;
    CWorkerPool* pool = CPoolScope::Lent();
    if (!pool) {
        SortKeys(keys, m_batchSorted, n);
        return EnterSorted(m_batch, before);
    }
    struct Sorting {
        CWorkerPool& pool;
        std::shared_ptr<CWorkerPool::CJob> job;
        ~Sorting() { pool.Wait(*job); }
    } sorting{*pool, pool->Start(1, [this, keys, n](uint32_t) { SortKeys(keys, m_batchSorted, n); })};
    const bool entered = EnterSorted(m_batch, before);
    pool->Wait(*sorting.job);
    return entered && !sorting.job->Failed();
}

bool CColorQuantizer::FlushAll()
{
    if (!m_ahead) return FlushBatch();
    if (!FlushBatchAhead()) return false;
    const uint32_t n = m_aheadUsed;
    m_aheadUsed = 0;
    return EnterSorted(m_batchAhead, n);
}

bool CColorQuantizer::EnterSorted(const uint32_t* in, uint32_t n)
{
    CWorkerPool* pool = CPoolScope::Lent();
    if (pool && pool->Threads() > 1 && n >= kLeastPooledSort) return EnterSortedOnPool(*pool, in, n);
    uint32_t distinct = 0;
    const bool entered = EnterKeys(in, n, m_nodeRun, nullptr, distinct);
    DistinctColors += static_cast<int32_t>(distinct);
    return entered;
}

// The keys are cut into pieces of about equal size where their path of the
// first two levels changes, so that every entry below Root is reached from
// one piece only; Root's entries, which pieces share, are made first and
// take the pieces' counts when all are done. Counts only add up, and the
// tree is the same however the keys are cut.
bool CColorQuantizer::EnterSortedOnPool(CWorkerPool& pool, const uint32_t* in, uint32_t n)
{
    constexpr uint32_t kRootShift = 3 * (kLevels - 1);
    constexpr uint32_t kPieceShift = 3 * (kLevels - 2);
    for (uint32_t i = 0; i < n;) {
        const uint32_t top = in[i] >> kRootShift;
        Entry& e = Root->Entries[top];
        if (e.Count == 0) {
            const uint32_t child = NewNode();
            if (child == kNoNode) return false;
            e.Link = child;
            e.Count = StartCount(1);
        }
        i = static_cast<uint32_t>(std::lower_bound(in + i, in + n, (top + 1) << kRootShift) - in);
    }
    const uint32_t pieces = std::min(kMostPieces, 4 * pool.Threads());
    if (m_pieceRuns.size() < pieces) m_pieceRuns.resize(pieces);
    std::vector<uint32_t> bounds(pieces + 1, n);
    bounds[0] = 0;
    for (uint32_t p = 1; p < pieces; ++p) {
        const uint32_t at = static_cast<uint32_t>(static_cast<uint64_t>(n) * p / pieces);
        const uint32_t group = in[at] >> kPieceShift << kPieceShift;
        const auto start = static_cast<uint32_t>(std::lower_bound(in, in + n, group) - in);
        bounds[p] = std::max(bounds[p - 1], start);
    }
    struct Piece {
        uint64_t rootCounts[8] = {};
        uint32_t distinct = 0;
        bool entered = false;
    };
    std::vector<Piece> done(pieces);
    bool entered = pool.Run(pieces, [&](uint32_t p) {
        Piece& piece = done[p];
        piece.entered = EnterKeys(in + bounds[p], bounds[p + 1] - bounds[p], m_pieceRuns[p], piece.rootCounts,
                                  piece.distinct);
    });
    for (const Piece& piece : done) {
        entered = entered && piece.entered;
        DistinctColors += static_cast<int32_t>(piece.distinct);
        for (int t = 0; t < 8; ++t)
            if (piece.rootCounts[t]) AddCount(Root->Entries[t].Count, piece.rootCounts[t], kCountLimit);
    }
    return entered;
}

bool CColorQuantizer::EnterKeys(const uint32_t* in, uint32_t n, NodeRun& run, uint64_t* rootCounts,
                                uint32_t& distinct)
{
    Entry* path[kLevels + 1] = {};
    uint64_t pending[kLevels + 1] = {};
    auto settle = [&](int level) {
        if (level == 1 && rootCounts) rootCounts[path[1] - Root->Entries] += pending[1];
        else AddCount(path[level]->Count, pending[level], kCountLimit);
    };
    int shared = 0;
    for (uint32_t i = 0; i < n;) {
        const uint32_t key = in[i];
        uint32_t j = i + 1;
        while (j < n && in[j] == key) ++j;
        if (i > 0) {
            shared = SharedLevels(key, in[i - 1]);
            for (int level = shared + 1; level <= kLevels; ++level) settle(level);
        }
        for (int level = 1; level <= shared; ++level) pending[level] += j - i;
        Node* node = shared == 0 ? Root : ChildOf(*path[shared]);
        for (int level = shared + 1; level <= kLevels; ++level) {
            Entry& e = node->Entries[ChildIndex(key, level)];
            if (e.Count == 0) {
                if (level < kLevels) {
                    const uint32_t child = NewNode(run);
                    if (child == kNoNode) return false;
                    e.Link = child;
                    e.Count = StartCount(level);
                } else {
                    e.Link = ColourOfKey(key);
                    ++distinct;
                }
            }
            path[level] = &e;
            pending[level] = j - i;
            if (level < kLevels) node = ChildOf(e);
        }
        i = j;
    }
    for (int level = 1; level <= kLevels && n > 0; ++level) settle(level);
    return true;
}

int CColorQuantizer::AddPlanes(const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                               int32_t rows)
{
    if (!Root || m_built) return 0;
    if (!red || !green || !blue) return 0;
    if (!m_batch) {
        uint64_t pixels = static_cast<uint64_t>(Width > 0 ? Width : 1) * static_cast<uint64_t>(Height > 0 ? Height : 1);
        CWorkerPool* pool = CPoolScope::Lent();
        const bool ahead = pool && pool->Threads() > 1 && pixels > kBatchKeys / 2;
        m_batchSize = ahead ? kBatchKeys / 2 : static_cast<uint32_t>(pixels < kBatchKeys ? pixels : kBatchKeys);
        const size_t bytes = m_batchSize * sizeof(uint32_t);
        m_batch = static_cast<uint32_t*>(AllocLargeBlock(bytes, false));
        m_batchSorted = static_cast<uint32_t*>(AllocLargeBlock(bytes, false));
        if (ahead) m_batchAhead = static_cast<uint32_t*>(AllocLargeBlock(bytes, false));
        m_digitCounts = static_cast<uint32_t*>(malloc(2 * kDigitValues * sizeof(uint32_t)));
        if (!m_batch || !m_batchSorted || (ahead && !m_batchAhead) || !m_digitCounts) {
            FreeBatch();
            return 0;
        }
        m_ahead = ahead;
        for (uint32_t* block : {m_batch, m_batchSorted, m_batchAhead})
            if (block) m_prefault->Add(block, bytes);
    }
    for (int32_t y = 0; y < rows; ++y) {
        size_t at = static_cast<size_t>(y) * static_cast<size_t>(Stride);
        const uint8_t* r = red + at;
        const uint8_t* g = green + at;
        const uint8_t* b = blue + at;
        for (int32_t x = 0; x < Width; ++x) {
            m_batch[m_batchUsed++] = PathKey(r[x], g[x], b[x]);
            if (m_batchUsed == m_batchSize && !(m_ahead ? FlushBatchAhead() : FlushBatch())) return 0;
        }
    }
    return 1;
}

int CColorQuantizer::BuildPalette()
{
    if (m_built) return 1;
    m_built = true;
    bool entered = !m_batch || FlushAll();
    FreeBatch();
    if (!entered) return 0;
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
            BuildExactPalette(ChildOf(e), level + 1);
            continue;
        }
        uint8_t* p = PaletteColors + 4 * PaletteCount;
        p[0] = static_cast<uint8_t>(e.Link >> 16);
        p[1] = static_cast<uint8_t>(e.Link >> 8);
        p[2] = static_cast<uint8_t>(e.Link);
        p[3] = 0;
        e.Count = kMarked;
        e.Link = static_cast<uint32_t>(PaletteCount++);
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
        for (Entry& c : ChildOf(*split.Item)->Entries)
            if (c.Count != 0) InsertSplit(length, &c, split.Level + 1);
    }

    PaletteCount = length < kMaxPalette ? length : kMaxPalette;
    // Index j is list entry PaletteCount - 1 - j: the most populous first.
    // The entries head disjoint subtrees, so their colours sum apart, on the
    // lent pool's threads when there is one.
    auto colour = [this](uint32_t j) {
        const SplitItem& s = m_splitList[PaletteCount - 1 - static_cast<int32_t>(j)];
        ColourOfEntry(s.Item, s.Level, PaletteColors + 4 * j);
        PaletteColors[4 * j + 3] = 0;
    };
    const uint32_t colours = static_cast<uint32_t>(PaletteCount);
    CWorkerPool* pool = CPoolScope::Lent();
    if (!pool || !pool->Run(colours, colour))
        for (uint32_t j = 0; j < colours; ++j) colour(j);
    // Marking replaces child pointers, so it follows all colour sums.
    for (int32_t j = 0; j < PaletteCount; ++j) {
        Entry* e = m_splitList[PaletteCount - 1 - j].Item;
        e->Count = kMarked;
        e->Link = static_cast<uint32_t>(j);
    }
    free(m_splitList);
    m_splitList = nullptr;
}

void CColorQuantizer::SumLeaves(const Node* node, int level, uint64_t sums[3], uint64_t& weight) const
{
    for (const Entry& e : node->Entries) {
        if (e.Count == 0) continue;
        if (level < kLevels) {
            SumLeaves(ChildOf(e), level + 1, sums, weight);
            continue;
        }
        sums[0] += static_cast<uint64_t>((e.Link >> 16) & 0xFF) * e.Count;
        sums[1] += static_cast<uint64_t>((e.Link >> 8) & 0xFF) * e.Count;
        sums[2] += static_cast<uint64_t>(e.Link & 0xFF) * e.Count;
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
        bgr[0] = static_cast<uint8_t>(item->Link >> 16);
        bgr[1] = static_cast<uint8_t>(item->Link >> 8);
        bgr[2] = static_cast<uint8_t>(item->Link);
        return;
    }
    uint64_t sums[3] = {0, 0, 0};
    uint64_t weight = 0;
    SumLeaves(ChildOf(*item), level + 1, sums, weight);
    for (int c = 0; c < 3; ++c) bgr[c] = weight ? static_cast<uint8_t>(sums[c] / weight) : 0;
}

// Nearest of count palette entries, entry k being palette index indexAt(k),
// taken in ascending index order: squared distance, an exact match returns at
// once, otherwise the first entry of smallest distance wins.
template <class IndexAt>
inline int NearestAmong(const uint8_t* palette, int32_t count, IndexAt indexAt, int r, int g, int b)
{
    int best = 0;
    int32_t bestDistance = INT32_MAX;
    for (int32_t k = 0; k < count; ++k) {
        const int i = indexAt(k);
        const uint8_t* p = palette + 4 * i;
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

// Squared distance to every palette entry from index 0: the first entry of
// smallest distance wins (an entry at distance 0 is the first such).
int CColorQuantizer::NearestByScan(int r, int g, int b) const
{
    return NearestAmong(PaletteColors, PaletteCount, [](int32_t k) { return static_cast<int>(k); }, r, g, b);
}

// The palette entries, in index order, that can be nearest to some colour of
// the cell holding (r, g, b); made on first use. An entry nearest to a colour
// is no farther from the cell than the smallest farthest-corner distance of
// any entry, so keeping every entry within that bound keeps the nearest ones
// and all entries tied with them. nullptr when the list cannot be stored.
const uint8_t* CColorQuantizer::CellCandidates(int r, int g, int b, int32_t& count)
{
    const int cr = r >> kCellShift, cg = g >> kCellShift, cb = b >> kCellShift;
    std::atomic_ref<uint32_t> cell(m_cells[(cb * kCellsPerSide + cg) * kCellsPerSide + cr]);
    uint32_t made = cell.load(std::memory_order_acquire);
    if (made) {
        count = static_cast<int32_t>(made & 0x1FF);
        return m_candidates + (made >> 9);
    }
    const int side = 1 << kCellShift;
    const int low[3] = {cb * side, cg * side, cr * side};  // blue, green, red as in the palette
    int32_t nearness[kMaxPalette];
    int32_t bound = INT32_MAX;
    for (int32_t i = 0; i < PaletteCount; ++i) {
        const uint8_t* p = PaletteColors + 4 * i;
        int32_t nearest = 0, farthest = 0;
        for (int c = 0; c < 3; ++c) {
            const int lo = low[c], hi = low[c] + side - 1, v = p[c];
            const int inside = v < lo ? lo - v : (v > hi ? v - hi : 0);
            const int outside = v - lo > hi - v ? v - lo : hi - v;
            nearest += inside * inside;
            farthest += outside * outside;
        }
        nearness[i] = nearest;
        if (farthest < bound) bound = farthest;
    }
    uint8_t list[kMaxPalette];
    count = 0;
    for (int32_t i = 0; i < PaletteCount; ++i)
        if (nearness[i] <= bound) list[count++] = static_cast<uint8_t>(i);
    // Threads mapping at once may make the same cell; each list is the same,
    // and the first one stored serves from then on. A full store leaves the
    // cell unmade (the whole palette is searched instead, with the same result).
    const size_t at = m_candidatesUsed.fetch_add(static_cast<size_t>(count));
    if (at + static_cast<size_t>(count) > kCandidateBytes) return nullptr;
    memcpy(m_candidates + at, list, static_cast<size_t>(count));
    const uint32_t entry = static_cast<uint32_t>(at << 9) | static_cast<uint32_t>(count);
    if (!cell.compare_exchange_strong(made, entry, std::memory_order_acq_rel)) {
        count = static_cast<int32_t>(made & 0x1FF);
        return m_candidates + (made >> 9);
    }
    return m_candidates + at;
}

// Nearest-colour search: the same result as a scan of the whole palette, got
// from the entries of the colour's cell when they are at hand.
int CColorQuantizer::NearestIndex(int r, int g, int b)
{
    if (PaletteCount <= 0) return 0;
    if (PaletteCount > kMaxPalette) return NearestByScan(r, g, b);  // cells hold at most 256 entries
    int32_t count = 0;
    const uint8_t* list = m_cells ? CellCandidates(r, g, b, count) : nullptr;
    if (!list) return NearestByScan(r, g, b);
    return NearestAmong(PaletteColors, count, [list](int32_t k) { return static_cast<int>(list[k]); }, r, g, b);
}

int CColorQuantizer::TreeIndex(uint32_t key, int r, int g, int b)
{
    if ((DistinctColors > kMaxPalette && NearestOnly) || !Root) return NearestIndex(r, g, b);
    return WalkIndex(Root, 1, key, r, g, b);
}

// The walk from a node of the given level down the key's path: a marked
// entry gives its index; a zero entry or the end of the path, the nearest.
int CColorQuantizer::WalkIndex(const Node* node, int level, uint32_t key, int r, int g, int b)
{
    for (;; ++level) {
        const Entry& e = node->Entries[ChildIndex(key, level)];
        if (e.Count == kMarked) return static_cast<int>(e.Link);
        if (e.Count == 0 || level == kLevels) break;
        node = ChildOf(e);
    }
    return NearestIndex(r, g, b);
}

// What the walk of TreeIndex meets in the first kTopLevels levels for a key:
// a marked entry, a zero entry (nearest colour), or neither (the node of
// level kTopLevels + 1 to go on from).
uint32_t CColorQuantizer::TopAnswer(uint32_t key) const
{
    if ((DistinctColors > kMaxPalette && NearestOnly) || !Root) return kTopNearest;
    const Node* node = Root;
    for (int level = 1; level <= kTopLevels; ++level) {
        const Entry& e = node->Entries[ChildIndex(key, level)];
        if (e.Count == kMarked) return e.Link;
        if (e.Count == 0) return kTopNearest;
        if (level == kTopLevels) return kTopDeeper + e.Link;
        node = ChildOf(e);
    }
    return kTopNearest;
}

// Palette index of a colour: the marked tree entry on its path, else the
// nearest colour. Most colours are settled by the table of the top levels.
inline int CColorQuantizer::FindIndex(int r, int g, int b)
{
    if (m_top) {
        constexpr int kDrop = kLevels - kTopLevels;
        const uint32_t answer = m_top[((b >> kDrop) << (2 * kTopLevels)) | ((g >> kDrop) << kTopLevels) | (r >> kDrop)];
        if (answer < kTopNearest) return static_cast<int>(answer);
        if (answer == kTopNearest) return NearestIndex(r, g, b);
        return WalkIndex(NodeAt(answer - kTopDeeper), kTopLevels + 1, PathKey(r, g, b), r, g, b);
    }
    return TreeIndex(PathKey(r, g, b), r, g, b);
}

bool CColorQuantizer::LookupMatchesPalette() const
{
    return m_lookupCount == PaletteCount && m_lookupDistinct == DistinctColors &&
           m_lookupNearestOnly == NearestOnly && memcmp(m_lookupPalette, PaletteColors, sizeof PaletteColors) == 0;
}

// The tables serve only a built tree (fixed from then on) and the palette
// they were made from. Without memory for them the search runs without.
void CColorQuantizer::PrepareLookup()
{
    if (!m_built) return;
    if (m_top && LookupMatchesPalette()) return;
    const size_t cells = static_cast<size_t>(kCellsPerSide) * kCellsPerSide * kCellsPerSide;
    if (!m_top) {
        m_top = static_cast<uint32_t*>(malloc(kTopEntries * sizeof(uint32_t)));
        m_cells = static_cast<uint32_t*>(calloc(cells, sizeof(uint32_t)));
        // Room for every cell with every entry; pages are touched as lists are stored.
        m_candidates = static_cast<uint8_t*>(malloc(kCandidateBytes));
        if (!m_top || !m_cells || !m_candidates) {
            FreeLookup();
            return;
        }
    } else {
        memset(m_cells, 0, cells * sizeof(uint32_t));
        m_candidatesUsed = 0;
    }
    constexpr int kDrop = kLevels - kTopLevels;
    constexpr int kMask = (1 << kTopLevels) - 1;
    for (int i = 0; i < kTopEntries; ++i) {
        const int r = (i & kMask) << kDrop;
        const int g = ((i >> kTopLevels) & kMask) << kDrop;
        const int b = (i >> (2 * kTopLevels)) << kDrop;
        m_top[i] = TopAnswer(PathKey(r, g, b));
    }
    memcpy(m_lookupPalette, PaletteColors, sizeof PaletteColors);
    m_lookupCount = PaletteCount;
    m_lookupDistinct = DistinctColors;
    m_lookupNearestOnly = NearestOnly;
}

void CColorQuantizer::PrepareMapping()
{
    PrepareLookup();
}

void CColorQuantizer::MapRowPlain(uint8_t* out, const uint8_t* r, const uint8_t* g, const uint8_t* b)
{
    for (int32_t j = 0; j < Width; ++j) out[j] = static_cast<uint8_t>(FindIndex(r[j], g[j], b[j]));
}

// Error diffusion along the first (or only) row of a call: every error row
// entry is still 0 when it is read, and what the row hands down is read only
// by a next row of the same call; so only the carry, 7/16 to the right,
// takes effect.
void CColorQuantizer::MapRowCarried(uint8_t* out, const uint8_t* r, const uint8_t* g, const uint8_t* b)
{
    int carryR = 0, carryG = 0, carryB = 0;
    for (int32_t j = 0; j < Width; ++j) {
        const int vr = Clamp255(r[j] + carryR);
        const int vg = Clamp255(g[j] + carryG);
        const int vb = Clamp255(b[j] + carryB);
        const int index = FindIndex(vr, vg, vb);
        out[j] = static_cast<uint8_t>(index);
        const uint8_t* p = PaletteColors + 4 * index;
        carryR = (7 * (vr - p[2])) >> 4;
        carryG = (7 * (vg - p[1])) >> 4;
        carryB = (7 * (vb - p[0])) >> 4;
    }
}

// Error diffusion along one row: 7/16 to the right (the carry), 5/16 below,
// 3/16 below left, in 16-bit entries with arithmetic shifts.
void CColorQuantizer::MapRowDithered(uint8_t* out, const uint8_t* r, const uint8_t* g,
                                     const uint8_t* b, int16_t* errors[3])
{
    int16_t* const er = errors[0];
    int16_t* const eg = errors[1];
    int16_t* const eb = errors[2];
    int carryR = 0, carryG = 0, carryB = 0;
    for (int32_t j = 0; j < Width; ++j) {
        const int vr = Clamp255(r[j] + er[j] + carryR);
        const int vg = Clamp255(g[j] + eg[j] + carryG);
        const int vb = Clamp255(b[j] + eb[j] + carryB);
        const int index = FindIndex(vr, vg, vb);
        out[j] = static_cast<uint8_t>(index);
        const uint8_t* p = PaletteColors + 4 * index;
        const int dr = static_cast<int16_t>(vr - p[2]);
        const int dg = static_cast<int16_t>(vg - p[1]);
        const int db = static_cast<int16_t>(vb - p[0]);
        if (j > 0) {
            er[j - 1] = static_cast<int16_t>(er[j - 1] + ((3 * dr) >> 4));
            eg[j - 1] = static_cast<int16_t>(eg[j - 1] + ((3 * dg) >> 4));
            eb[j - 1] = static_cast<int16_t>(eb[j - 1] + ((3 * db) >> 4));
        }
        er[j] = static_cast<int16_t>((5 * dr) >> 4);
        eg[j] = static_cast<int16_t>((5 * dg) >> 4);
        eb[j] = static_cast<int16_t>((5 * db) >> 4);
        carryR = (7 * dr) >> 4;
        carryG = (7 * dg) >> 4;
        carryB = (7 * db) >> 4;
    }
}

int CColorQuantizer::MapPlanes(uint8_t* out, const uint8_t* red, const uint8_t* green,
                               const uint8_t* blue, int32_t rows, int32_t outStride)
{
    if (!out || !red || !green || !blue) return 0;
    if (rows <= 0 || Width <= 0) return 1;
    int16_t* errors[3] = {nullptr, nullptr, nullptr};
    PrepareLookup();
    if (Dither && rows == 1) {
        MapRowCarried(out, red, green, blue);
        return 1;
    }
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
