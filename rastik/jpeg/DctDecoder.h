// Inner loops of the DCT decoder, kept inline so that the MCU routines
// compile into tight loops: the bit reader with its byte stuffing and its
// end at markers, Huffman decoding through lookahead tables, the decoding
// of one block, the placing of blocks in the work area and the conversion
// of an MCU's samples into output bytes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "rastik/CDCTFilter.h"
#include "rastik/jpeg/DctOutput.h"
#include "rastik/jpeg/DctTransform.h"

struct DctDecoder {
    using HuffDecode = CDCTFilter::HuffDecode;
    static constexpr uint32_t kBadSymbol = 0xFFFFFFFFu;
    static constexpr uint32_t kLookahead = CDCTFilter::kLookaheadBits;

    // Fills the canonical code ranges of a table from its 16 counts; false when
    // the counts hold more codes than their lengths allow (the all-ones code
    // of a length stays unused).
    static bool AssignCodes(HuffDecode& t, const uint8_t* counts)
    {
        int32_t code = 0, symbols = 0;
        for (uint32_t length = 1; length <= 16; ++length) {
            code <<= 1;
            uint32_t n = counts[length - 1];
            t.FirstCode[length] = code;
            t.FirstSymbol[length] = symbols;
            code += static_cast<int32_t>(n);
            symbols += static_cast<int32_t>(n);
            t.End[length] = n ? code : 0;
            if (n && code >= (1 << length)) return false;
        }
        t.End[16] = 0x10000;
        return true;
    }

    // Every code of up to kLookaheadBits bits claims the lookahead entries that
    // begin with it.
    static void BuildLookahead(HuffDecode& t)
    {
        constexpr uint32_t bits = kLookahead;
        std::memset(t.Lookahead, 0, sizeof t.Lookahead);
        for (uint32_t length = 1; length <= bits; ++length) {
            if (t.End[length] == 0) continue;
            for (int32_t code = t.FirstCode[length]; code < t.End[length]; ++code) {
                uint32_t symbol = t.Symbols[t.FirstSymbol[length] + code - t.FirstCode[length]];
                uint32_t first = static_cast<uint32_t>(code) << (bits - length);
                uint32_t last = first + (1u << (bits - length));
                for (uint32_t i = first; i < last; ++i) t.Lookahead[i] = static_cast<uint16_t>(length << 8 | symbol);
            }
        }
    }

    // Bit reader state held in registers while an MCU is decoded.
    struct Bits {
        uint64_t acc;    // unread bits at the top, zero below them
        uint32_t count;  // bits in acc, 0..64
    };

    static Bits Load(const CDCTFilter& f) { return {f.m_qwReadBits, f.m_dwReadCount}; }

    static void Save(CDCTFilter& f, const Bits& b)
    {
        f.m_qwReadBits = b.acc;
        f.m_dwReadCount = b.count;
    }

    // True when some byte of w is 0xFF.
    static bool HasFF(uint64_t w) { return (((~w) - 0x0101010101010101ull) & w & 0x8080808080808080ull) != 0; }

    static void Put(Bits& b, uint32_t byte)
    {
        b.acc |= uint64_t(byte) << (56 - b.count);
        b.count += 8;
    }

    // One byte of scan data into the bits (count at most 56). A 0xFF byte
    // is followed by a stuffed 0x00, which is dropped; 0xFF followed by
    // anything else begins a marker, which ends the scan data and stays
    // unread. After the end, zero bits stand in for data.
    static void FillByte(CDCTFilter& f, Bits& b)
    {
        if (!f.m_bSegmentEnd) {
            f.FillInput(2);
            const uint8_t* p = f.m_pReadPos;
            if (p < f.m_pReadEnd) {
                uint32_t byte = *p;
                if (byte != 0xFF) {
                    f.m_pReadPos = p + 1;
                    Put(b, byte);
                    return;
                }
                if (p + 1 < f.m_pReadEnd && p[1] == 0x00) {
                    f.m_pReadPos = p + 2;
                    Put(b, 0xFF);
                    return;
                }
            }
            f.m_bSegmentEnd = true;
        }
        b.count += 8;
        f.m_dwPadBits += 8;
    }

    // Tops the bits up to more than 56: eight bytes at a time when none of
    // them is 0xFF, else byte by byte.
    static void Fill(CDCTFilter& f, Bits& b)
    {
        while (b.count <= 56) {
            if (!f.m_bSegmentEnd) {
                f.FillInput(8);
                const uint8_t* p = f.m_pReadPos;
                if (f.m_pReadEnd - p >= 8) {
                    uint64_t w;
                    std::memcpy(&w, p, 8);
                    if (!HasFF(w)) {
                        uint32_t n = (64 - b.count) >> 3;  // whole bytes that fit, 1..8
                        uint64_t bigEndian = __builtin_bswap64(w);
                        b.acc |= (bigEndian & (~uint64_t(0) << (64 - 8 * n))) >> b.count;
                        b.count += 8 * n;
                        f.m_pReadPos = p + n;
                        return;
                    }
                }
            }
            FillByte(f, b);
        }
    }

    // The next n bits (1..16); the caller has made sure they are in hand.
    static uint32_t Take(Bits& b, uint32_t n)
    {
        uint32_t v = static_cast<uint32_t>(b.acc >> (64 - n));
        b.acc <<= n;
        b.count -= n;
        return v;
    }

    // The value of a coefficient from its size s (1..16) and s bits v.
    static int32_t Extend(uint32_t v, uint32_t s)
    {
        return v & (1u << (s - 1)) ? static_cast<int32_t>(v) : static_cast<int32_t>(v) - static_cast<int32_t>((1u << s) - 1);
    }

    // Codes longer than the lookahead, one length at a time.
    static uint32_t SlowSymbol(const HuffDecode& t, Bits& b)
    {
        for (uint32_t length = kLookahead + 1; length <= 16; ++length) {
            int32_t code = static_cast<int32_t>(b.acc >> (64 - length));
            if (code < t.End[length]) {
                int32_t index = code - t.FirstCode[length] + t.FirstSymbol[length];
                if (index < 0 || static_cast<uint32_t>(index) >= t.SymbolCount) return kBadSymbol;
                b.acc <<= length;
                b.count -= length;
                return t.Symbols[index];
            }
        }
        return kBadSymbol;
    }

    // The next symbol of table t (16 bits in hand), or kBadSymbol.
    static uint32_t Symbol(const HuffDecode& t, Bits& b)
    {
        uint32_t entry = t.Lookahead[b.acc >> (64 - kLookahead)];
        if (entry == 0) return SlowSymbol(t, b);
        uint32_t length = entry >> 8;
        b.acc <<= length;
        b.count -= length;
        return entry & 0xFF;
    }

    // Decodes the next block of component c into block (cleared here),
    // dequantised into natural order. hasAc tells whether any coefficient
    // besides the DC one was stored. False for a bad code or run.
    static bool DecodeBlock(CDCTFilter& f, Bits& b, uint32_t c, int32_t* block, bool& hasAc)
    {
        const HuffDecode& dc = f.m_DCDecode[f.m_dwDCSelector[c]];
        const HuffDecode& ac = f.m_ACDecode[f.m_dwACSelector[c]];
        const int32_t* quant = f.m_QuantTable[f.m_dwQuantSelector[c]];
        const uint32_t* zigzag = CDCTFilter::ZigZagToNormal;
        std::memset(block, 0, 64 * sizeof(int32_t));
        hasAc = false;

        if (b.count < 32) Fill(f, b);
        uint32_t s = Symbol(dc, b);
        if (s > 11) return false;
        // Sums and products modulo 2^32: corrupt data may not overflow.
        if (s) f.m_DCPredictor[c] = static_cast<int32_t>(static_cast<uint32_t>(f.m_DCPredictor[c]) + static_cast<uint32_t>(Extend(Take(b, s), s)));
        block[0] = static_cast<int32_t>(static_cast<uint32_t>(f.m_DCPredictor[c]) * static_cast<uint32_t>(quant[0]));

        for (uint32_t k = 1; k < 64;) {
            if (b.count < 32) Fill(f, b);
            uint32_t rs = Symbol(ac, b);
            uint32_t size = rs & 15, run = (rs >> 4) & 15;
            if (size) {
                if (size > 10) return false;  // also a bad symbol
                k += run;
                int32_t v = Extend(Take(b, size), size);
                block[zigzag[k]] = static_cast<int32_t>(static_cast<uint32_t>(v) * static_cast<uint32_t>(quant[k < 64 ? k : 63]));
                hasAc = true;
                ++k;
            } else if (run == 15) {
                k += 16;
            } else if (run == 0) {
                break;  // end of block
            } else {
                return false;
            }
        }
        return true;
    }

    // Eight rows of eight copies of value, stride apart.
    static void FillDc(int32_t* out, size_t stride, int32_t value)
    {
        for (int y = 0; y < 8; ++y, out += stride)
            for (int x = 0; x < 8; ++x) out[x] = value;
    }

    // Decodes and transforms the blocks of component c into its work area:
    // H x V blocks in row order, each at its place in an area of stride 8 H.
    static bool DecodeComponent(CDCTFilter& f, Bits& b, uint32_t c)
    {
        uint32_t h = f.m_dwHSampling[c], v = f.m_dwVSampling[c];
        size_t stride = 8 * h;
        int32_t* area = f.ComponentArea(c);
        int32_t* block = f.m_pBlock;
        for (uint32_t j = 0; j < v; ++j) {
            for (uint32_t k = 0; k < h; ++k) {
                bool hasAc;
                if (!DecodeBlock(f, b, c, block, hasAc)) return false;
                int32_t* at = area + 8 * j * stride + 8 * k;
                if (hasAc)
                    DctInverseTransform(block, at, stride);
                else
                    FillDc(at, stride, block[0]);
            }
        }
        return true;
    }

    // All blocks of one MCU; false for a bad code or run, or when the MCU
    // took bits from past the end of the scan data.
    static bool DecodeBlocks(CDCTFilter& f)
    {
        Bits b = Load(f);
        bool ok = true;
        for (uint32_t c = 0; ok && c < f.m_dwComponents; ++c) ok = DecodeComponent(f, b, c);
        Save(f, b);
        return ok && f.m_dwPadBits <= b.count;
    }

    // --- output ---

    // v >> 17 clamped to 0..255.
    static uint8_t Clamp(int32_t v)
    {
        int32_t x = v >> 17;
        return static_cast<uint8_t>(x < 0 ? 0 : x > 255 ? 255 : x);
    }

    static DctOutputKind KindOf(const CDCTFilter& f)
    {
        if (f.m_dwComponents == 3 && !f.m_nTransform) return DctOutputKind::Shifted;
        if (f.m_dwComponents == 1 && f.m_bUprightGrey) return DctOutputKind::Upright;
        return DctOutputKind::Inverted;
    }

    // Row y of component c across the MCU width: its own samples when the
    // component fills the MCU, else each sample repeated across into tmp.
    static const int32_t* SampleRow(CDCTFilter& f, uint32_t c, uint32_t y, int32_t* tmp)
    {
        uint32_t h = f.m_dwHSampling[c];
        uint32_t repeatX = f.m_dwMcuWidth / (8 * h), repeatY = f.m_dwMcuHeight / (8 * f.m_dwVSampling[c]);
        const int32_t* row = f.ComponentArea(c) + (y / repeatY) * 8 * h;
        if (repeatX == 1) return row;
        if (repeatX == 2) {
            for (uint32_t x = 0; x < 8 * h; ++x) tmp[2 * x] = tmp[2 * x + 1] = row[x];
        } else {
            for (uint32_t x = 0; x < f.m_dwMcuWidth; ++x) tmp[x] = row[x / repeatX];
        }
        return tmp;
    }

    // Bytes of one output row of an MCU (n samples, a multiple of 8) for
    // every component.
    static void ConvertRow(CDCTFilter& f, uint32_t y, uint32_t n, bool transform, uint8_t (*out)[32])
    {
        int32_t tmp[4][32];
        const int32_t* rows[4];
        for (uint32_t c = 0; c < f.m_dwComponents; ++c) rows[c] = SampleRow(f, c, y, tmp[c]);
        uint32_t first = 0;
        if (transform) {
            DctOutputRgb(rows[0], rows[1], rows[2], out[0], out[1], out[2], n);
            first = 3;
        }
        for (uint32_t c = first; c < f.m_dwComponents; ++c) DctOutputBytes(KindOf(f), rows[c], out[c], n);
    }

    // Stores the first columns bytes of each component's row at dst.
    static void StoreRow(CDCTFilter& f, uint8_t (*bytes)[32], size_t offset, uint32_t columns)
    {
        uint32_t step = f.m_dwOutStep;
        uint32_t n = f.m_dwComponents;
        if (step == 1) {
            for (uint32_t c = 0; c < n; ++c) std::memcpy(f.m_pOutput[c] + offset, bytes[c], columns);
            return;
        }
        uint8_t* dst = f.m_pOutput[0] + offset;
        if (n == 3) {
            for (uint32_t x = 0; x < columns; ++x, dst += 3) {
                dst[0] = bytes[0][x];
                dst[1] = bytes[1][x];
                dst[2] = bytes[2][x];
            }
            return;
        }
        for (uint32_t x = 0; x < columns; ++x, dst += step)
            for (uint32_t c = 0; c < n; ++c) dst[c] = bytes[c][x];
    }

    // Three components, Y of up to 2 x 2 blocks, Cb and Cr of one block.
    static bool IsYcc(const CDCTFilter& f)
    {
        return f.m_dwComponents == 3 && f.m_dwHSampling[0] <= 2 && f.m_dwVSampling[0] <= 2 &&
               f.m_dwHSampling[1] == 1 && f.m_dwVSampling[1] == 1 && f.m_dwHSampling[2] == 1 &&
               f.m_dwVSampling[2] == 1;
    }

    // Writes the MCU just decoded at the current position of the band and
    // moves to the next one: every row of the MCU height, the columns that
    // lie inside the image.
    static void WriteMcu(CDCTFilter& f, bool transform)
    {
        uint32_t columns = std::min(f.m_dwMcuWidth, f.m_dwWidth - f.m_dwMcuColumn);
        size_t offset = size_t(f.m_dwMcuRow) * f.m_dwOutRowStride + size_t(f.m_dwMcuColumn) * f.m_dwOutStep;
        if (transform && columns == f.m_dwMcuWidth && IsYcc(f)) {
            uint8_t* out[3] = {f.m_pOutput[0] + offset, f.m_pOutput[1] + offset, f.m_pOutput[2] + offset};
            DctOutputYcc(f.ComponentArea(0), f.ComponentArea(1), f.ComponentArea(2), f.m_dwHSampling[0],
                         f.m_dwVSampling[0], out, f.m_dwOutRowStride, f.m_dwOutStep);
        } else {
            uint8_t bytes[4][32];
            for (uint32_t y = 0; y < f.m_dwMcuHeight; ++y, offset += f.m_dwOutRowStride) {
                ConvertRow(f, y, f.m_dwMcuWidth, transform, bytes);
                StoreRow(f, bytes, offset, columns);
            }
        }
        f.m_dwMcuColumn += f.m_dwMcuWidth;
        if (f.m_dwMcuColumn >= f.m_dwWidth) {
            f.m_dwMcuColumn = 0;
            f.m_dwMcuRow += f.m_dwMcuHeight;
        }
    }

    static uint32_t Mcu(CDCTFilter& f, bool transform)
    {
        if (!DecodeBlocks(f)) return 0x80000002u;
        WriteMcu(f, transform);
        return 0;
    }
};
