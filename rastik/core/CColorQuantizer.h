// Colour quantizer: turns planar RGB rows into palette indexes of at most 256
// colours. A colour tree counts every pixel; the palette is exact for up to
// 256 distinct colours, otherwise made by splitting the most populous tree
// entries; mapping walks the tree (nearest-colour search as fallback) with
// optional error diffusion to the right along each row.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/CObject.h"
#include "rastik/support/NonCopyable.h"

class CPrefault;
class CWorkerPool;

class CColorQuantizer : public CObject, private NonCopyable {
public:
    CColorQuantizer();
    ~CColorQuantizer() override;

    // Stores the geometry and creates the tree root; 0 only when the root
    // cannot be allocated.
    int SetImage(int32_t width, int32_t height, int32_t stride);
    // Enters rows x Width pixels; each row advances by Stride. Pixels are
    // collected and enter the tree in sorted batches (the last at
    // BuildPalette). 0 when the tree cannot grow (out of memory), when
    // SetImage was not called, or after BuildPalette (the tree is then fixed).
    int AddPlanes(const uint8_t* red, const uint8_t* green, const uint8_t* blue, int32_t rows);
    // Derives the palette from the tree and marks the tree entries that
    // became palette colours; 0 when the last pixels cannot enter the tree.
    // Calling it again changes nothing.
    int BuildPalette();
    // Writes one palette index per pixel for rows rows; input rows advance by
    // Stride, output rows by outStride. 0 when the error rows cannot be had.
    // After PrepareMapping, calls of one row each may come from several
    // threads at once (each row's indexes depend on that row alone).
    int MapPlanes(uint8_t* out, const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                  int32_t rows, int32_t outStride);
    // Makes the look-up tables of the palette as it stands (MapPlanes does
    // it too, when the palette or the flags changed since).
    void PrepareMapping();
    // The palette (entries of blue, green, red, 0); *count receives PaletteCount.
    uint8_t* GetPalette(int32_t* count);

    int32_t Dither = 1;
    int32_t NearestOnly = 0;
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t Stride = 0;
    uint8_t PaletteColors[256 * 4] = {};
    int32_t PaletteCount = 0;
    int32_t DistinctColors = 0;

private:
    // One of the eight entries of a node: a pixel count and a link: the
    // number of the child node (levels 1 to 7), the colour blue << 16 |
    // green << 8 | red (level 8), or, once marked with kMarked, the palette
    // index.
    struct Entry {
        uint32_t Count;
        uint32_t Link;
    };
    struct Node {
        Entry Entries[8];
    };
    // Nodes are carved from blocks of kNodesPerBlock nodes (the first one
    // shorter when the image cannot need as many); node n lies in block
    // n >> kBlockShift. Numbers are handed out in runs of up to kRunNodes, one
    // run at a time to each thread that enters keys, and a node is zeroed as
    // it is carved, so memory is touched only where nodes are. A tree has at
    // most one node per entry of levels 0 to 7, 1 + 8 + ... + 8^7 nodes; a
    // short first block leaves out fewer than one block's numbers, and the
    // runs not yet used up (one per piece and this thread's) fewer than
    // another block's.
    static constexpr uint32_t kBlockShift = 16;
    static constexpr uint32_t kNodesPerBlock = 1u << kBlockShift;
    static constexpr uint32_t kMostNodes = ((1u << 24) - 1) / 7;  // 1 + 8 + ... + 8^7 = (8^8 - 1) / 7
    static constexpr uint32_t kMaxBlocks = kMostNodes / kNodesPerBlock + 3;
    static constexpr uint32_t kRunNodes = 1024;
    // Node numbers [Next, End) a thread may carve.
    struct NodeRun {
        uint32_t Next = 0;
        uint32_t End = 0;
    };
    static constexpr uint32_t kNoNode = 0xFFFFFFFFu;
    Node* NodeAt(uint32_t number) const
    {
        return m_blocks[number >> kBlockShift] + (number & (kNodesPerBlock - 1));
    }
    Node* ChildOf(const Entry& e) const { return NodeAt(e.Link); }
    // An entry of the split list with its level (1 = entry of Root).
    struct SplitItem {
        Entry* Item;
        int32_t Level;
    };
    static constexpr int kSplitCapacity = 264;
    static constexpr uint32_t kMarked = 0xFFFFFFFFu;  // count of a palette entry (-1)
    static constexpr uint32_t kCountLimit = 0xFFFFFFFEu;

    // The tree's answer for the top kTopLevels bits of each component, and per
    // cell of colour space the palette entries that can be nearest to a
    // colour in it.
    static constexpr int kTopLevels = 4;
    static constexpr int kTopEntries = 1 << (3 * kTopLevels);
    static constexpr uint32_t kTopNearest = 0x100;  // search the palette
    static constexpr uint32_t kTopDeeper = 0x200;   // plus the node to walk on from
    static constexpr int kCellShift = 3;            // cells of 8 x 8 x 8 colours
    static constexpr int kCellsPerSide = 256 >> kCellShift;

    // Number of a new, empty node from run (this thread's when not given);
    // kNoNode when no memory is left.
    uint32_t NewNode(NodeRun& run);
    uint32_t NewNode() { return NewNode(m_nodeRun); }
    // Gives run the next numbers, making a block when none are left.
    bool TakeNodeRun(NodeRun& run);
    void FreeNodes();
    const uint32_t* SortBatch(uint32_t n);
    const uint32_t* SortBatchOnPool(CWorkerPool& pool, uint32_t n);
    // Sorts n keys by their low and then their high digit (a stable
    // counting sort each) through scratch; the sorted keys end in keys.
    void SortKeys(uint32_t* keys, uint32_t* scratch, uint32_t n);
    // Batches this large are sorted on the conversion's worker pool.
    static constexpr uint32_t kLeastPooledSort = 1u << 16;
    bool FlushBatch();
    // Enters n sorted keys into the tree, on the lent pool's threads when
    // there are many.
    bool EnterSorted(const uint32_t* in, uint32_t n);
    bool EnterSortedOnPool(CWorkerPool& pool, const uint32_t* in, uint32_t n);
    // Enters n sorted keys with nodes from run, counting the new colours in
    // distinct. With rootCounts, Root's entries (which then exist already)
    // leave their counts there instead.
    bool EnterKeys(const uint32_t* in, uint32_t n, NodeRun& run, uint64_t* rootCounts, uint32_t& distinct);
    // Pieces of a pooled entering: at most kMostPieces, four per thread.
    static constexpr uint32_t kMostPieces = 16;
    // With batches ahead: the full batch sorts on a worker while the batch
    // before it enters the tree (on the pool's other threads too).
    bool FlushBatchAhead();
    // Enters every key collected, ahead or not.
    bool FlushAll();
    void FreeBatch();
    void BuildExactPalette(Node* node, int level);
    void BuildSplitPalette();
    void InsertSplit(int32_t& length, Entry* item, int32_t level);
    void ColourOfEntry(const Entry* item, int32_t level, uint8_t* bgr) const;
    void SumLeaves(const Node* node, int level, uint64_t sums[3], uint64_t& weight) const;
    void PrepareLookup();
    bool LookupMatchesPalette() const;
    uint32_t TopAnswer(uint32_t key) const;
    int FindIndex(int r, int g, int b);
    int TreeIndex(uint32_t key, int r, int g, int b);
    int WalkIndex(const Node* node, int level, uint32_t key, int r, int g, int b);
    int NearestIndex(int r, int g, int b);
    int NearestByScan(int r, int g, int b) const;
    const uint8_t* CellCandidates(int r, int g, int b, int32_t& count);
    void MapRowCarried(uint8_t* out, const uint8_t* r, const uint8_t* g, const uint8_t* b);
    void MapRowDithered(uint8_t* out, const uint8_t* r, const uint8_t* g, const uint8_t* b,
                        int16_t* errors[3]);
    void MapRowPlain(uint8_t* out, const uint8_t* r, const uint8_t* g, const uint8_t* b);
    void FreeLookup();

    Node* m_blocks[kMaxBlocks] = {};
    // Numbers from m_nodeCount to m_nodeCapacity (the end of the newest
    // block) are not yet handed out; m_nodeMutex guards both and m_blocks
    // while pieces enter keys.
    uint32_t m_nodeCount = 0;
    uint32_t m_nodeCapacity = 0;
    std::mutex m_nodeMutex;
    NodeRun m_nodeRun;
    std::vector<NodeRun> m_pieceRuns;
    Node* Root = nullptr;
    SplitItem* m_splitList = nullptr;
    bool m_built = false;

    // Path keys of pixels entered but not yet in the tree, and room to sort
    // them: up to the image's pixels, at most kBatchKeys.
    static constexpr uint32_t kBatchKeys = 1u << 22;
    uint32_t* m_batch = nullptr;
    uint32_t* m_batchSorted = nullptr;
    // Keys are sorted by two digits of 12 bits; the counts of both.
    static constexpr uint32_t kDigitBits = 12;
    static constexpr uint32_t kDigitValues = 1u << kDigitBits;
    uint32_t* m_digitCounts = nullptr;
    uint32_t m_batchSize = 0;
    uint32_t m_batchUsed = 0;
    // Images of more than half a batch, with worker threads (m_ahead): the
    // batch before the one filling, sorted and not yet entered. Batches are
    // then half as large, so the three blocks hold no more than the two of
    // one whole batch.
    bool m_ahead = false;
    uint32_t* m_batchAhead = nullptr;
    uint32_t m_aheadUsed = 0;
    // When mapping, per top colour bits: a palette index, kTopNearest, or
    // kTopDeeper plus the number of the node the walk goes on from.
    uint32_t* m_top = nullptr;
    // Per cell: 0 when not yet made, else offset into m_candidates << 9 | count.
    uint32_t* m_cells = nullptr;
    static constexpr size_t kCandidateBytes = size_t(kCellsPerSide) * kCellsPerSide * kCellsPerSide * 256;
    uint8_t* m_candidates = nullptr;
    std::atomic<size_t> m_candidatesUsed{0};
    // What the tables were made from; the palette is handed out writable and
    // the flags are public, so a change remakes them.
    uint8_t m_lookupPalette[256 * 4] = {};
    int32_t m_lookupCount = -1;
    int32_t m_lookupDistinct = -1;
    int32_t m_lookupNearestOnly = -1;
    // Maps the pages of new large blocks on a worker of the conversion.
    std::unique_ptr<CPrefault> m_prefault;
};
