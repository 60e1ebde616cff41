// Modified Huffman decoding with constant code trees: the T.4 code tables
// of FaxCodeTrees.h are turned into two binary trees (white, black) when
// the library is compiled; decoding walks the tree of the current colour
// bit by bit.
#include "rastik/tiff/CTiffFaxDecoder.h"

#include <cstring>

#include "rastik/tiff/CTiffStripBytes.h"
#include "rastik/tiff/FaxCodeTrees.h"

namespace {

using namespace tiff::fax;

// Sets count bits of row from bit position at on.
void FillBits(uint8_t* row, uint32_t at, uint32_t count)
{
    for (; count && (at & 7); ++at, --count) row[at >> 3] |= static_cast<uint8_t>(0x80u >> (at & 7));
    if (count >= 8) {
        memset(row + (at >> 3), 0xFF, count >> 3);
        at += count & ~7u;
        count &= 7;
    }
    for (; count; ++at, --count) row[at >> 3] |= static_cast<uint8_t>(0x80u >> (at & 7));
}

}  // namespace

bool CTiffFaxDecoder::Start(CTiffStripBytes& bytes)
{
    KeepWindow(bytes);
    m_bits = rastik::CMsbBitReader(bytes.Begin(), bytes.End());
    return true;
}

uint8_t* CTiffFaxDecoder::DecodeRow(uint8_t* row)
{
    ReadHuffmanTiff(row, m_shape.width);
    return row;
}

// One code of a colour: its run length, kEolLeaf, or -1 for invalid data
// or the end of the strip.
int32_t CTiffFaxDecoder::ReadCode(bool black)
{
    const FaxTree& tree = black ? kBlackTree : kWhiteTree;
    int node = 0;
    for (;;) {
        uint32_t bit;
        if (!m_bits.Read(1, bit) && (!m_bytes->Refill(m_bits) || !m_bits.Read(1, bit))) return -1;
        int16_t e = tree.next[node][bit];
        if (e > 0) {
            node = e;
            continue;
        }
        if (e == kNoCode) return -1;
        return e == kEolLeaf ? kEolLeaf : -(e + 1);
    }
}

int32_t CTiffFaxDecoder::ReadRun(bool black, uint32_t limit)
{
    uint32_t run = 0;
    for (;;) {
        int32_t length = ReadCode(black);
        if (length < 0) return -1;
        run = run + static_cast<uint32_t>(length) > limit ? limit : run + static_cast<uint32_t>(length);
        if (length < kTerminatingLimit) return static_cast<int32_t>(run);
    }
}

int CTiffFaxDecoder::ReadHuffmanTiff(uint8_t* row, uint32_t width)
{
    memset(row, 0, (static_cast<size_t>(width) + 7) / 8);
    if (!m_bytes) return 1;
    m_bits.AlignToByte();
    uint32_t column = 0;
    bool black = false;
    while (column < width) {
        int32_t run = ReadRun(black, width - column);
        if (run < 0) break;
        if (black) FillBits(row, column, static_cast<uint32_t>(run));
        column += static_cast<uint32_t>(run);
        black = !black;
    }
    return 1;
}
