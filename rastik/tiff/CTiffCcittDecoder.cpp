// CCITT fax decoding by table lookup: a run code is found by the next 12
// (white) or 13 (black) bits in one table read, a two-dimensional mode code
// by the next 7. The run tables are made, when the library is compiled, from
// the Modified Huffman code trees shared with the Modified Huffman decoder.
// A row is decoded into its changing elements and then drawn with whole
// byte fills.
#include "rastik/tiff/CTiffCcittDecoder.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "rastik/tiff/CTiffStripBytes.h"
#include "rastik/tiff/FaxCodeTrees.h"

namespace {

using Code = CTiffCcittDecoder::Code;

enum Kind : uint8_t { kNone, kTerminating, kMakeUp, kEndOfLine, kPass, kHorizontal, kVertical, kExtension };

constexpr unsigned kWhiteBits = 12;  // longest white code: 12 bits
constexpr unsigned kBlackBits = 13;  // longest black code: 13 bits
constexpr unsigned kModeBits = 7;    // longest mode code: 7 bits

template <unsigned Bits>
struct CodeTable {
    Code code[1u << Bits] = {};
};

// Entry i: the code the Bits-bit number i begins with, found by walking the
// tree from its most significant bit. Eleven or more zeros are taken for an
// end-of-line code (with fill bits before it).
template <unsigned Bits>
constexpr CodeTable<Bits> MakeRunTable(const tiff::fax::FaxTree& tree)
{
    CodeTable<Bits> table;
    for (uint32_t i = 0; i < (1u << Bits); ++i) {
        if ((i >> (Bits - 11)) == 0) {
            table.code[i] = {0, 0, kEndOfLine};
            continue;
        }
        int node = 0;
        for (unsigned b = 0; b < Bits; ++b) {
            int16_t e = tree.next[node][(i >> (Bits - 1 - b)) & 1];
            if (e > 0) {
                node = e;
                continue;
            }
            if (e == tiff::fax::kEolLeaf) {
                table.code[i] = {0, 0, kEndOfLine};
            } else if (e != tiff::fax::kNoCode) {
                int32_t run = -(e + 1);
                uint8_t kind = run < tiff::fax::kTerminatingLimit ? kTerminating : kMakeUp;
                table.code[i] = {static_cast<uint16_t>(run), static_cast<uint8_t>(b + 1), kind};
            }
            break;
        }
    }
    return table;
}

// ITU-T T.4 two-dimensional mode codes; a vertical mode's value is the
// offset of a1 from b1 plus 3.
struct ModeCode {
    uint8_t kind;
    uint8_t value;
    const char* bits;
};
constexpr ModeCode kModeCodes[] = {
    {kPass, 0, "0001"},      {kHorizontal, 0, "001"},  {kVertical, 3, "1"},       {kVertical, 4, "011"},
    {kVertical, 5, "000011"}, {kVertical, 6, "0000011"}, {kVertical, 2, "010"},     {kVertical, 1, "000010"},
    {kVertical, 0, "0000010"}, {kExtension, 0, "0000001"},
};

constexpr CodeTable<kModeBits> MakeModeTable()
{
    CodeTable<kModeBits> table;
    for (const ModeCode& m : kModeCodes) {
        uint32_t prefix = 0, length = 0;
        for (const char* p = m.bits; *p; ++p, ++length) prefix = (prefix << 1) | static_cast<uint32_t>(*p - '0');
        uint32_t first = prefix << (kModeBits - length);
        for (uint32_t i = first; i < first + (1u << (kModeBits - length)); ++i)
            table.code[i] = {m.value, static_cast<uint8_t>(length), m.kind};
    }
    return table;
}

constexpr CodeTable<kWhiteBits> kWhiteTable = MakeRunTable<kWhiteBits>(tiff::fax::kWhiteTree);
constexpr CodeTable<kBlackBits> kBlackTable = MakeRunTable<kBlackBits>(tiff::fax::kBlackTree);
constexpr CodeTable<kModeBits> kModeTable = MakeModeTable();

// Sets the bits [from, to) of a row, most significant bit first.
void FillBlack(uint8_t* row, uint32_t from, uint32_t to)
{
    if (from >= to) return;
    uint32_t first = from >> 3, last = (to - 1) >> 3;
    uint8_t head = static_cast<uint8_t>(0xFFu >> (from & 7));
    uint8_t tail = static_cast<uint8_t>(0xFF00u >> (((to - 1) & 7) + 1));
    if (first == last) {
        row[first] |= head & tail;
        return;
    }
    row[first] |= head;
    memset(row + first + 1, 0xFF, last - first - 1);
    row[last] |= tail;
}

uint64_t LoadBE64(const uint8_t* p)
{
    uint64_t v;
    memcpy(&v, p, 8);
    return __builtin_bswap64(v);
}

}  // namespace

CTiffCcittDecoder::CTiffCcittDecoder(uint32_t width, Coding coding, uint32_t t4Options)
    : m_width(width), m_coding(coding), m_options(coding == kGroup3 ? t4Options : 0)
{
    if (!Ok()) return;
    // The lists grow as rows need it, up to the width.
    size_t size = std::min<uint32_t>(width, 1024) + 4;
    m_current.assign(size, width);
    m_reference.assign(size, width);
}

void CTiffCcittDecoder::Start(const uint8_t* data, size_t size)
{
    m_at = data;
    m_end = data ? data + size : data;
    m_strip = nullptr;
    m_acc = 0;
    m_count = 0;
    m_resync = false;
    m_dead = !Ok();
    if (m_dead) return;
    // The row above the first is white.
    std::fill(m_reference.begin(), m_reference.begin() + 3, m_width);
}

void CTiffCcittDecoder::Start(CTiffStripBytes& bytes)
{
    Start(bytes.Begin(), static_cast<size_t>(bytes.End() - bytes.Begin()));
    m_strip = &bytes;
}

bool CTiffCcittDecoder::DecodeRow(uint8_t* row)
{
    bool whole = Decode();
    if (Ok()) Render(row);
    return whole;
}

bool CTiffCcittDecoder::SkipRow()
{
    return Decode();
}

bool CTiffCcittDecoder::Decode()
{
    if (!Ok()) return false;
    m_changes = 0;
    Status status = kEnded;
    if (!m_dead) {
        // A row of the width needs fewer codes; damaged data may spend no more.
        m_budget = 2 * m_width + 64;
        bool twoDimensional = false;
        status = StartRow(twoDimensional);
        if (status == kWhole) status = twoDimensional ? Decode2D() : Decode1D();
    }
    if (status != kWhole && m_changes == 0) EndRow(status, 0);
    // T.6 data cannot be found again after a fault; Group 3 data at the
    // next end-of-line code.
    if (status == kEnded || (m_coding == kGroup4 && status != kWhole)) m_dead = true;
    if (status == kInvalid && m_coding == kGroup3) m_resync = true;
    std::swap(m_current, m_reference);
    return status == kWhole;
}

CTiffCcittDecoder::Status CTiffCcittDecoder::StartRow(bool& twoDimensional)
{
    twoDimensional = m_coding == kGroup4;
    if (m_coding == kGroup4) return kWhole;
    if (m_coding == kModifiedHuffman && m_count > 0) Consume(static_cast<unsigned>(m_count) & 7);
    // A tag bit follows every end-of-line code of two-dimensional Group 3
    // data, and is read also where a writer left the code out.
    bool tagged = m_coding == kGroup3 && (m_options & kTwoDimensional);
    bool tagRead = false;
    if (m_resync) {
        m_resync = false;
        if (!ScanToEol()) return kEnded;
        if (tagged && ReadTag(twoDimensional) != kWhole) return kEnded;
        tagRead = tagged;
    }
    // Eleven zeros start an end-of-line code and no run code; more than one
    // code in a row (the end of a page) is passed over as well.
    for (;;) {
        Fill();
        if (Peek(11) != 0) break;
        if (!ScanToEol()) return kEnded;
        if (tagged && ReadTag(twoDimensional) != kWhole) return kEnded;
        tagRead = tagged;
    }
    if (tagged && !tagRead) return ReadTag(twoDimensional);
    return kWhole;
}

CTiffCcittDecoder::Status CTiffCcittDecoder::ReadTag(bool& twoDimensional)
{
    Fill();
    twoDimensional = Peek(1) == 0;
    Consume(1);
    return m_count < 0 ? kEnded : kWhole;
}

// Passes over bits up to and including the next end-of-line code: eleven
// or more zeros and a one. False when the data ends first.
bool CTiffCcittDecoder::ScanToEol()
{
    uint32_t zeros = 0;
    for (;;) {
        Fill();
        if (m_count <= 0) return false;
        uint64_t counted = m_acc & (~0ull << (64 - m_count));
        if (counted == 0) {
            zeros = std::min<uint32_t>(zeros + static_cast<uint32_t>(m_count), 11);
            Consume(static_cast<unsigned>(m_count));
            continue;
        }
        unsigned leading = static_cast<unsigned>(__builtin_clzll(counted));
        Consume(leading + 1);
        if (zeros + leading >= 11) return true;
        zeros = 0;
    }
}

CTiffCcittDecoder::Status CTiffCcittDecoder::Decode1D()
{
    uint32_t a0 = 0;
    uint32_t colour = 0;
    while (a0 < m_width) {
        uint32_t run = 0;
        Status status = ReadRun(colour, run);
        if (status != kWhole) return EndRow(status, static_cast<int32_t>(a0));
        a0 = std::min(a0 + run, m_width);
        if (a0 < m_width) AddChange(a0);
        colour ^= 1;
    }
    return EndRow(kWhole, static_cast<int32_t>(a0));
}

// T.4 two-dimensional coding: a0 is the changing element last coded (-1,
// before the row, at the start), b1 the first changing element of the row
// above right of a0 and of the other colour, b2 the next one after b1.
// Changing elements of the row above alternate: those at even places turn
// to black, so b1 sits at a place whose parity is a0's colour.
CTiffCcittDecoder::Status CTiffCcittDecoder::Decode2D()
{
    const uint32_t* above = m_reference.data();
    uint32_t index = 0;
    int32_t a0 = -1;
    uint32_t colour = 0;
    const int32_t width = static_cast<int32_t>(m_width);
    while (a0 < width) {
        if (m_budget == 0) return EndRow(kInvalid, a0);
        --m_budget;
        while (static_cast<int32_t>(above[index]) <= a0 || (index & 1) != colour) ++index;
        int32_t b1 = static_cast<int32_t>(above[index]);
        Fill();
        const Code& mode = kModeTable.code[Peek(kModeBits)];
        Consume(mode.bits);
        if (m_count < 0) return EndRow(kEnded, a0);
        if (mode.kind == kVertical) {
            int32_t a1 = std::min(b1 + mode.value - 3, width);
            if (a1 < std::max(a0, 0)) return EndRow(kInvalid, a0);
            if (a1 < width) AddChange(static_cast<uint32_t>(a1));
            a0 = a1;
            colour ^= 1;
            if (index > 0) --index;
        } else if (mode.kind == kPass) {
            a0 = static_cast<int32_t>(above[index + 1]);
            index += 2;
        } else if (mode.kind == kHorizontal) {
            Status status = Horizontal(a0, colour);
            if (status != kWhole) return EndRow(status, a0);
        } else if (mode.kind == kNone && Peek(12) <= 1) {
            return EndRow(kEol, a0);  // an end-of-line code cuts the row short
        } else {
            return EndRow(kInvalid, a0);  // uncompressed mode, or no code
        }
    }
    return EndRow(kWhole, a0);
}

// Horizontal mode: a run of a0's colour, then one of the other colour.
CTiffCcittDecoder::Status CTiffCcittDecoder::Horizontal(int32_t& a0, uint32_t colour)
{
    uint32_t first = 0, second = 0;
    Status status = ReadRun(colour, first);
    if (status == kWhole) status = ReadRun(colour ^ 1, second);
    if (status != kWhole) return status;
    uint32_t a1 = std::min(static_cast<uint32_t>(std::max(a0, 0)) + first, m_width);
    uint32_t a2 = std::min(a1 + second, m_width);
    if (a1 < m_width) AddChange(a1);
    if (a2 < m_width) AddChange(a2);
    a0 = static_cast<int32_t>(a2);
    return kWhole;
}

// One run of a colour: make-up codes and a terminating code. Runs longer
// than the width are cut at it.
CTiffCcittDecoder::Status CTiffCcittDecoder::ReadRun(uint32_t colour, uint32_t& run)
{
    run = 0;
    for (;;) {
        if (m_budget == 0) return kInvalid;
        --m_budget;
        Fill();
        const Code& code = colour ? kBlackTable.code[Peek(kBlackBits)] : kWhiteTable.code[Peek(kWhiteBits)];
        if (code.kind == kEndOfLine) return kEol;
        if (code.kind == kNone) return kInvalid;
        Consume(code.bits);
        if (m_count < 0) return kEnded;
        run = std::min(run + code.value, m_width);
        if (code.kind == kTerminating) return kWhole;
    }
}

// A run of no pixels gives two changing elements at one column; both are
// kept, as writers that code the row below against them expect.
void CTiffCcittDecoder::AddChange(uint32_t at)
{
    if (m_changes + 4 > m_current.size()) Grow();
    m_current[m_changes++] = at;
}

// The lists grow with the codes read: at most two changing elements a code.
void CTiffCcittDecoder::Grow()
{
    m_current.resize(m_current.size() * 2, m_width);
}

// Closes the list: a row cut short is white from a0 on.
CTiffCcittDecoder::Status CTiffCcittDecoder::EndRow(Status status, int32_t a0)
{
    if (status != kWhole && (m_changes & 1) && a0 < static_cast<int32_t>(m_width))
        AddChange(static_cast<uint32_t>(std::max(a0, 0)));
    std::fill(m_current.begin() + m_changes, m_current.begin() + m_changes + 3, m_width);
    return status;
}

// Draws the row decoded last (the list is then the reference).
void CTiffCcittDecoder::Render(uint8_t* row) const
{
    memset(row, 0, RowBytes());
    const uint32_t* changes = m_reference.data();
    for (uint32_t i = 0; changes[i] < m_width; i += 2) FillBlack(row, changes[i], changes[i + 1]);
}

void CTiffCcittDecoder::Fill()
{
    if (m_count >= 32 || m_count < 0) return;
    if (m_end - m_at >= 8) {
        // Whole bytes up to 63 bits; the bits of the next byte below them
        // are the same as a later fill puts there.
        m_acc |= LoadBE64(m_at) >> m_count;
        unsigned bytes = static_cast<unsigned>(63 - m_count) >> 3;
        m_at += bytes;
        m_count += static_cast<int>(8 * bytes);
        return;
    }
    while (m_count < 56) {
        if (m_at == m_end && !MoreBytes()) return;
        m_acc |= static_cast<uint64_t>(*m_at++) << (56 - m_count);
        m_count += 8;
    }
}

bool CTiffCcittDecoder::MoreBytes()
{
    if (!m_strip || !m_strip->HasMore()) return false;
    const uint8_t* keep = m_end;
    if (!m_strip->Refill(keep)) return false;
    m_at = keep;
    m_end = m_strip->End();
    return m_at < m_end;
}
