// Modified Huffman decoding with constant code trees: the T.4 code tables
// below are turned into two binary trees (white, black) when the library is
// compiled; decoding walks the tree of the current colour bit by bit.
#include "rastik/tiff/CTiffFaxDecoder.h"

#include <cstring>

#include "rastik/tiff/CTiffStripBytes.h"

namespace {

struct FaxCode {
    uint16_t run;
    const char* bits;
};

// ITU-T T.4 one-dimensional coding: terminating codes (runs 0 to 63) and
// make-up codes (64 to 1728) of each colour.
constexpr FaxCode kWhiteCodes[] = {
    {0, "00110101"},    {1, "000111"},      {2, "0111"},        {3, "1000"},        {4, "1011"},
    {5, "1100"},        {6, "1110"},        {7, "1111"},        {8, "10011"},       {9, "10100"},
    {10, "00111"},      {11, "01000"},      {12, "001000"},     {13, "000011"},     {14, "110100"},
    {15, "110101"},     {16, "101010"},     {17, "101011"},     {18, "0100111"},    {19, "0001100"},
    {20, "0001000"},    {21, "0010111"},    {22, "0000011"},    {23, "0000100"},    {24, "0101000"},
    {25, "0101011"},    {26, "0010011"},    {27, "0100100"},    {28, "0011000"},    {29, "00000010"},
    {30, "00000011"},   {31, "00011010"},   {32, "00011011"},   {33, "00010010"},   {34, "00010011"},
    {35, "00010100"},   {36, "00010101"},   {37, "00010110"},   {38, "00010111"},   {39, "00101000"},
    {40, "00101001"},   {41, "00101010"},   {42, "00101011"},   {43, "00101100"},   {44, "00101101"},
    {45, "00000100"},   {46, "00000101"},   {47, "00001010"},   {48, "00001011"},   {49, "01010010"},
    {50, "01010011"},   {51, "01010100"},   {52, "01010101"},   {53, "00100100"},   {54, "00100101"},
    {55, "01011000"},   {56, "01011001"},   {57, "01011010"},   {58, "01011011"},   {59, "01001010"},
    {60, "01001011"},   {61, "00110010"},   {62, "00110011"},   {63, "00110100"},   {64, "11011"},
    {128, "10010"},     {192, "010111"},    {256, "0110111"},   {320, "00110110"},  {384, "00110111"},
    {448, "01100100"},  {512, "01100101"},  {576, "01101000"},  {640, "01100111"},  {704, "011001100"},
    {768, "011001101"}, {832, "011010010"}, {896, "011010011"}, {960, "011010100"}, {1024, "011010101"},
    {1088, "011010110"}, {1152, "011010111"}, {1216, "011011000"}, {1280, "011011001"}, {1344, "011011010"},
    {1408, "011011011"}, {1472, "010011000"}, {1536, "010011001"}, {1600, "010011010"}, {1664, "011000"},
    {1728, "010011011"},
};

constexpr FaxCode kBlackCodes[] = {
    {0, "0000110111"},      {1, "010"},             {2, "11"},              {3, "10"},
    {4, "011"},             {5, "0011"},            {6, "0010"},            {7, "00011"},
    {8, "000101"},          {9, "000100"},          {10, "0000100"},        {11, "0000101"},
    {12, "0000111"},        {13, "00000100"},       {14, "00000111"},       {15, "000011000"},
    {16, "0000010111"},     {17, "0000011000"},     {18, "0000001000"},     {19, "00001100111"},
    {20, "00001101000"},    {21, "00001101100"},    {22, "00000110111"},    {23, "00000101000"},
    {24, "00000010111"},    {25, "00000011000"},    {26, "000011001010"},   {27, "000011001011"},
    {28, "000011001100"},   {29, "000011001101"},   {30, "000001101000"},   {31, "000001101001"},
    {32, "000001101010"},   {33, "000001101011"},   {34, "000011010010"},   {35, "000011010011"},
    {36, "000011010100"},   {37, "000011010101"},   {38, "000011010110"},   {39, "000011010111"},
    {40, "000001101100"},   {41, "000001101101"},   {42, "000011011010"},   {43, "000011011011"},
    {44, "000001010100"},   {45, "000001010101"},   {46, "000001010110"},   {47, "000001010111"},
    {48, "000001100100"},   {49, "000001100101"},   {50, "000001010010"},   {51, "000001010011"},
    {52, "000000100100"},   {53, "000000110111"},   {54, "000000111000"},   {55, "000000100111"},
    {56, "000000101000"},   {57, "000001011000"},   {58, "000001011001"},   {59, "000000101011"},
    {60, "000000101100"},   {61, "000001011010"},   {62, "000001100110"},   {63, "000001100111"},
    {64, "0000001111"},     {128, "000011001000"},  {192, "000011001001"},  {256, "000001011011"},
    {320, "000000110011"},  {384, "000000110100"},  {448, "000000110101"},  {512, "0000001101100"},
    {576, "0000001101101"}, {640, "0000001001010"}, {704, "0000001001011"}, {768, "0000001001100"},
    {832, "0000001001101"}, {896, "0000001110010"}, {960, "0000001110011"}, {1024, "0000001110100"},
    {1088, "0000001110101"}, {1152, "0000001110110"}, {1216, "0000001110111"}, {1280, "0000001010010"},
    {1344, "0000001010011"}, {1408, "0000001010100"}, {1472, "0000001010101"}, {1536, "0000001011010"},
    {1600, "0000001011011"}, {1664, "0000001100100"}, {1728, "0000001100101"},
};

// Extended make-up codes (1792 to 2560), the same for both colours.
constexpr FaxCode kExtendedMakeUp[] = {
    {1792, "00000001000"},  {1856, "00000001100"},  {1920, "00000001101"},  {1984, "000000010010"},
    {2048, "000000010011"}, {2112, "000000010100"}, {2176, "000000010101"}, {2240, "000000010110"},
    {2304, "000000010111"}, {2368, "000000011100"}, {2432, "000000011101"}, {2496, "000000011110"},
    {2560, "000000011111"},
};

constexpr const char* kEndOfLine = "000000000001";

// Tree entries: a positive value is the index of the child node; 0 is no
// code (invalid data); a negative value is a leaf: -(run + 1), or kEolLeaf.
constexpr int16_t kNoCode = 0;
constexpr int16_t kEolLeaf = -10000;
constexpr int32_t kTerminatingLimit = 64;  // runs below are terminating codes

struct FaxTree {
    int16_t next[128][2] = {};
    int nodes = 1;

    // Adds a code; a code that is a prefix of another, or that doubles
    // one, stops the compilation.
    constexpr void Add(const char* bits, int16_t leaf)
    {
        int node = 0;
        for (const char* p = bits;; ++p) {
            int bit = *p - '0';
            if (bit != 0 && bit != 1) throw "bad code";
            if (p[1] == '\0') {
                if (next[node][bit] != kNoCode) throw "code not prefix-free";
                next[node][bit] = leaf;
                return;
            }
            if (next[node][bit] < 0) throw "code not prefix-free";
            if (next[node][bit] == kNoCode) {
                if (nodes >= 128) throw "tree too large";
                next[node][bit] = static_cast<int16_t>(nodes++);
            }
            node = next[node][bit];
        }
    }
};

template <size_t N>
constexpr FaxTree MakeTree(const FaxCode (&codes)[N])
{
    FaxTree tree;
    for (const FaxCode& c : codes) tree.Add(c.bits, static_cast<int16_t>(-(c.run + 1)));
    for (const FaxCode& c : kExtendedMakeUp) tree.Add(c.bits, static_cast<int16_t>(-(c.run + 1)));
    tree.Add(kEndOfLine, kEolLeaf);
    return tree;
}

constexpr FaxTree kWhiteTree = MakeTree(kWhiteCodes);
constexpr FaxTree kBlackTree = MakeTree(kBlackCodes);

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
    m_bytes = &bytes;
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
