// Inner loops of the DCT encoder, kept inline so that the MCU routines
// compile into tight loops: the bit packer with its byte stuffing, the
// coding of one quantised block, the forward DCT and the sample loaders that
// fill the work area.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "rastik/CDCTFilter.h"
#include "rastik/jpeg/DctTransform.h"

// For byte b of a mask in natural order and its value v: the same bits in
// zig-zag order.
using DctZigZagBits = std::array<std::array<uint64_t, 256>, 8>;

constexpr DctZigZagBits MakeDctZigZagBits()
{
    constexpr uint8_t order[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                   12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                   35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                   58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
    uint8_t position[64] = {};
    for (uint8_t i = 0; i < 64; ++i) position[order[i]] = i;
    DctZigZagBits bits{};
    for (int b = 0; b < 8; ++b)
        for (int v = 0; v < 256; ++v)
            for (int j = 0; j < 8; ++j)
                if (v & (1 << j)) bits[b][v] |= uint64_t(1) << position[8 * b + j];
    return bits;
}

inline constexpr DctZigZagBits kDctZigZagBits = MakeDctZigZagBits();

struct DctCoder {
    using HuffCode = CDCTFilter::HuffCode;

    // Multiplier m and shift s with (n * m) >> s == n / d for every
    // 0 <= n < 2^31 and 1 <= d <= 2^21: s = 31 + ceil(log2 d) and
    // m = floor(2^s / d) + 1, so that 2^s < m * d <= 2^s + 2^ceil(log2 d).
    static void Reciprocal(uint32_t d, uint32_t* multiplier, uint8_t* shift)
    {
        uint32_t log = d <= 1 ? 0 : 32 - static_cast<uint32_t>(__builtin_clz(d - 1));
        *shift = static_cast<uint8_t>(31 + log);
        *multiplier = static_cast<uint32_t>((uint64_t(1) << *shift) / d + 1);
    }

    // x / d truncated toward zero, through the multiplier and shift of d.
    static int32_t Divide(int32_t x, uint32_t multiplier, uint8_t shift)
    {
        uint32_t sign = static_cast<uint32_t>(x >> 31);
        uint32_t magnitude = (static_cast<uint32_t>(x) ^ sign) - sign;
        uint32_t q = static_cast<uint32_t>((uint64_t(magnitude) * multiplier) >> shift);
        return static_cast<int32_t>((q ^ sign) - sign);
    }

    // Bit k set when |block[k]| reaches divisor[k] (natural order), that is
    // when the value quantises to non-zero.
    static uint64_t NonZeroNatural(const int32_t* block, const int32_t* divisor)
    {
        uint64_t mask = 0;
#ifdef __SSE2__
        // All ones where the value of the four at p quantises to zero.
        auto zero4 = [&](int p) {
            __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + p));
            __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(divisor + p));
            __m128i sign = _mm_srai_epi32(x, 31);
            __m128i magnitude = _mm_sub_epi32(_mm_xor_si128(x, sign), sign);
            return _mm_cmpgt_epi32(d, magnitude);
        };
        auto zero16 = [&](int p) {
            return _mm_packs_epi16(_mm_packs_epi32(zero4(p), zero4(p + 4)), _mm_packs_epi32(zero4(p + 8), zero4(p + 12)));
        };
        uint32_t low = static_cast<uint32_t>(_mm_movemask_epi8(zero16(0))) |
                       static_cast<uint32_t>(_mm_movemask_epi8(zero16(16))) << 16;
        uint32_t high = static_cast<uint32_t>(_mm_movemask_epi8(zero16(32))) |
                        static_cast<uint32_t>(_mm_movemask_epi8(zero16(48))) << 16;
        mask = ~(uint64_t(high) << 32 | low);
#else
        for (int k = 0; k < 64; ++k) {
            int32_t x = block[k];
            uint32_t magnitude = x < 0 ? 0u - static_cast<uint32_t>(x) : static_cast<uint32_t>(x);
            mask |= uint64_t(magnitude >= static_cast<uint32_t>(divisor[k])) << k;
        }
#endif
        return mask;
    }

    static uint64_t ToZigZag(uint64_t natural)
    {
        uint64_t zigzag = 0;
        for (int b = 0; b < 8; ++b) zigzag |= kDctZigZagBits[b][(natural >> (8 * b)) & 0xFF];
        return zigzag;
    }

    // Bit accumulator held in registers while a block is coded.
    struct Bits {
        uint32_t acc;   // filled from its top
        uint32_t free;  // bits still free, 1..32 between calls
    };

    // Where the next MCU lies in the band and how much of it is inside.
    struct McuSpan {
        size_t offset;     // of its top-left sample in each plane
        uint32_t columns;  // columns inside the image, 1..MCU size
        uint32_t rows;     // rows inside the band, 1..MCU size
    };

    // Stores the four accumulator bytes, most significant first; a 0xFF byte
    // is followed by 0x00 so that it cannot be taken for a marker.
    static void StoreWord(CDCTFilter& f, uint32_t word)
    {
        uint8_t* p = f.m_pWritePos;
        if ((((~word) - 0x01010101u) & word & 0x80808080u) == 0) {  // no 0xFF byte
            uint32_t bigEndian = __builtin_bswap32(word);
            std::memcpy(p, &bigEndian, 4);
            f.m_pWritePos = p + 4;
            return;
        }
        for (int shift = 24; shift >= 0; shift -= 8) {
            uint8_t byte = static_cast<uint8_t>(word >> shift);
            *p++ = byte;
            if (byte == 0xFF) *p++ = 0;
        }
        f.m_pWritePos = p;
    }

    // Appends the low n bits of bits (n 1..31, bits above n clear). The
    // buffer is written out first when 8 bytes of room or fewer remain.
    static void PutBits(CDCTFilter& f, Bits& b, uint32_t bits, uint32_t n)
    {
        if (n <= b.free) {
            b.free -= n;
            b.acc |= bits << b.free;
            return;
        }
        uint32_t over = n - b.free;
        uint32_t word = b.acc | (bits >> over);
        if (f.BufferRoom() <= 8) f.FlushForRoom();
        StoreWord(f, word);
        b.free = 32 - over;
        b.acc = bits << b.free;
    }

    static void PutCode(CDCTFilter& f, Bits& b, const HuffCode& entry)
    {
        if (entry.length == 0) {
            f.m_bMissingCode = true;
            return;
        }
        PutBits(f, b, static_cast<uint32_t>(entry.code), static_cast<uint32_t>(entry.length));
    }

    // Code of symbolBase + size followed by the size extra bits of x: x
    // itself when x >= 0, else the low bits of x - 1. |x| stays below 2048:
    // DC differences lie within +-2040 and AC values within +-1024 for 8-bit
    // samples and quantisers of at least 1.
    static void PutValue(CDCTFilter& f, Bits& b, const HuffCode* table, uint32_t symbolBase, int32_t x)
    {
        uint32_t sign = static_cast<uint32_t>(x >> 31);
        uint32_t magnitude = (static_cast<uint32_t>(x) ^ sign) - sign;
        uint32_t size = CDCTFilter::CSizeZZ[magnitude];
        uint32_t extra = (static_cast<uint32_t>(x) + sign) & ((1u << size) - 1);
        const HuffCode& entry = table[symbolBase + size];
        if (entry.length == 0) {
            f.m_bMissingCode = true;
            return;
        }
        PutBits(f, b, static_cast<uint32_t>(entry.code) | extra, static_cast<uint32_t>(entry.length));
    }

    // Wide accumulator used while one block is coded: the 32 pending bits
    // of the filter in its top half, so that a word is stored at most once
    // for every 32 bits instead of on every overflow of 32.
    struct WideBits {
        uint64_t acc;   // filled from its top
        uint32_t free;  // bits still free, 0..64
    };

    static WideBits Widen(const CDCTFilter& f) { return {uint64_t(f.m_dwBitBuffer) << 32, f.m_dwFreeBits + 32}; }

    // Where whole 32-bit words of the scan go: the filter's buffer, with
    // byte stuffing and flushing to the stream when it is nearly full.
    struct FilterSink {
        CDCTFilter& f;
        void Store(uint32_t word)
        {
            if (f.BufferRoom() <= 8) f.FlushForRoom();
            StoreWord(f, word);
        }
    };

    template <class Sink>
    static void StoreTopWord(Sink& sink, WideBits& b)
    {
        sink.Store(static_cast<uint32_t>(b.acc >> 32));
        b.acc <<= 32;
        b.free += 32;
    }

    // Appends the low n bits of bits (n 1..31, bits above n clear); the top
    // word is stored first when they do not fit, so it is always whole.
    template <class Sink>
    static void PutWide(Sink& sink, WideBits& b, uint32_t bits, uint32_t n)
    {
        if (n > b.free) StoreTopWord(sink, b);
        b.free -= n;
        b.acc |= uint64_t(bits) << b.free;
    }

    // Back to the filter's 32-bit accumulator: more than 32 pending bits
    // store one word, leaving the same pending bits the 32-bit packer would.
    static void Narrow(CDCTFilter& f, WideBits& b)
    {
        FilterSink sink{f};
        if (b.free < 32) StoreTopWord(sink, b);
        f.m_dwBitBuffer = static_cast<uint32_t>(b.acc >> 32);
        f.m_dwFreeBits = b.free - 32;
    }

    // The code of a Huffman entry; false (nothing written) when the table
    // has no code for the symbol.
    template <class Sink>
    static bool PutWideCode(Sink& sink, WideBits& b, const HuffCode& entry)
    {
        if (entry.length == 0) return false;
        PutWide(sink, b, static_cast<uint32_t>(entry.code), static_cast<uint32_t>(entry.length));
        return true;
    }

    // Quantises the block at m_pBlock (natural order) with component c's
    // divisors and codes it: the DC difference, then the AC values in
    // zig-zag order as run/size symbols, 0xF0 for every sixteen zeros before
    // a value and 0x00 after the last value unless that is position 63.
    static void EncodeBlock(CDCTFilter& f, uint32_t c)
    {
        f.m_pCurQuant = f.m_QuantTable[f.m_dwQuantSelector[c]];
        f.m_pCurDC = f.m_pDCCode[f.m_dwDCSelector[c]];
        f.m_pCurAC = f.m_pACCode[f.m_dwACSelector[c]];
        WideBits b = Widen(f);
        FilterSink sink{f};
        if (!CodeBlock(f, c, f.m_pBlock, f.m_DCPredictor[c], b, sink)) f.m_bMissingCode = true;
        Narrow(f, b);
    }

    // The coding of EncodeBlock for a transformed block of component c, with
    // the DC predictor of c, into bits b that full words leave for sink;
    // reads the filter's tables only. False when a symbol had no code (the
    // others are written). Without WithDc the DC difference is left out (a
    // caller that does not know the predictor yet writes it later) and
    // predictor still becomes the block's DC value.
    template <class Sink, bool WithDc = true>
    static bool CodeBlock(const CDCTFilter& f, uint32_t c, const int32_t* block, int32_t& predictor, WideBits& b,
                          Sink& sink)
    {
        const uint32_t quant = f.m_dwQuantSelector[c];
        const HuffCode* dc = f.m_pDCCode[f.m_dwDCSelector[c]];
        const HuffCode* ac = f.m_pACCode[f.m_dwACSelector[c]];
        const uint32_t* zigzag = CDCTFilter::ZigZagToNormal;
        const uint32_t* multiplier = f.m_QuantMultiplier[quant];
        const uint8_t* shift = f.m_QuantShift[quant];
        bool coded = true;
        int32_t dcValue = Divide(block[0], multiplier[0], shift[0]);
        int32_t difference = dcValue - predictor;
        predictor = dcValue;
        if (WithDc) {
            uint32_t sign = static_cast<uint32_t>(difference >> 31);
            uint32_t magnitude = (static_cast<uint32_t>(difference) ^ sign) - sign;
            uint32_t size = magnitude ? 32 - static_cast<uint32_t>(__builtin_clz(magnitude)) : 0;
            uint32_t extra = (static_cast<uint32_t>(difference) + sign) & ((1u << size) - 1);
            const HuffCode& entry = dc[size];
            if (entry.length == 0) coded = false;
            else PutWide(sink, b, static_cast<uint32_t>(entry.code) | extra, static_cast<uint32_t>(entry.length));
        }

        // A value quantises to non-zero exactly when its magnitude reaches
        // the divisor; collect those positions first, divide only there.
        uint64_t nonZero = ToZigZag(NonZeroNatural(block, f.m_QuantNatural[quant])) & ~uint64_t(1);
        uint32_t last = 0;
        while (nonZero) {
            uint32_t i = static_cast<uint32_t>(__builtin_ctzll(nonZero));
            nonZero &= nonZero - 1;
            uint32_t run = i - last - 1;
            last = i;
            while (run > 15) {
                coded = PutWideCode(sink, b, ac[0xF0]) && coded;
                run -= 16;
            }
            // Quantised magnitude q >= 1; the extra bits of a negative value
            // -q are the low bits of -q - 1, that is of ~q.
            int32_t x = block[zigzag[i]];
            uint32_t sign = static_cast<uint32_t>(x >> 31);
            uint32_t magnitude = (static_cast<uint32_t>(x) ^ sign) - sign;
            uint32_t q = static_cast<uint32_t>((uint64_t(magnitude) * multiplier[i]) >> shift[i]);
            uint32_t size = 32 - static_cast<uint32_t>(__builtin_clz(q));  // bits of q, q >= 1
            const HuffCode& entry = ac[(run << 4) + size];
            if (entry.length == 0) {
                coded = false;
                continue;
            }
            uint32_t extra = (q ^ sign) & ((1u << size) - 1);
            PutWide(sink, b, static_cast<uint32_t>(entry.code) | extra, static_cast<uint32_t>(entry.length));
        }
        if (last != 63) coded = PutWideCode(sink, b, ac[0x00]) && coded;
        return coded;
    }

    // Rows first, then columns; the outputs are unnormalised (the divisors
    // carry the scale). The products (x * C) >> 9 stay below 2^31 because
    // samples lie within +-2^16 and each pass widens their range at most 8-fold.
    static void Fdct(int32_t* block) { DctForwardTransform(block, block); }

    static void TransformAndCode(CDCTFilter& f, uint32_t c)
    {
        Fdct(f.m_pBlock);
        EncodeBlock(f, c);
    }

    // The same for the block held by an 8 x 8 area, transformed straight
    // into m_pBlock; the area keeps its samples.
    static void TransformAndCodeArea(CDCTFilter& f, const int32_t* area, uint32_t c)
    {
        DctForwardTransform(area, f.m_pBlock);
        EncodeBlock(f, c);
    }

    // Takes the MCU at the current position and advances to the next one,
    // moving to the next MCU row at the right edge.
    static McuSpan NextMcu(CDCTFilter& f, uint32_t size)
    {
        McuSpan span;
        span.offset = static_cast<size_t>(f.m_dwMcuRow) * f.m_dwWidth + f.m_dwMcuColumn;
        span.columns = std::min(size, f.m_dwWidth - f.m_dwMcuColumn);
        span.rows = std::min(size, f.m_dwBandRows - f.m_dwMcuRow);
        f.m_dwMcuColumn += size;
        if (f.m_dwMcuColumn >= f.m_dwWidth) {
            f.m_dwMcuColumn = 0;
            f.m_dwMcuRow += size;
        }
        return span;
    }

    // One row of samples converted by convert(v).
    template <typename Convert>
    static void ConvertRow(const uint8_t* __restrict source, int32_t* __restrict out, uint32_t n, Convert convert)
    {
        for (uint32_t x = 0; x < n; ++x) out[x] = convert(source[x]);
    }

    // Fills a Size x Size area (stride Size) from one plane with convert(v);
    // positions outside the image or the band get 0.
    template <uint32_t Size, typename Convert>
    static void FillArea(int32_t* area, const uint8_t* source, uint32_t width, const McuSpan& span,
                         Convert convert)
    {
        if (span.columns == Size && span.rows == Size) {
            for (uint32_t y = 0; y < Size; ++y, source += width, area += Size)
                ConvertRow(source, area, Size, convert);
            return;
        }
        for (uint32_t y = 0; y < Size; ++y, source += width, area += Size) {
            uint32_t inside = y < span.rows ? span.columns : 0;
            ConvertRow(source, area, inside, convert);
            for (uint32_t x = inside; x < Size; ++x) area[x] = 0;
        }
    }

    // Y, Cb, Cr in units of 1/512 from one row of R, G, B samples; Y is
    // level-shifted, Cb and Cr are centred on 0 already.
    static void ToYCbCr(const uint8_t* __restrict r, const uint8_t* __restrict g, const uint8_t* __restrict b,
                        int32_t* __restrict y, int32_t* __restrict cb, int32_t* __restrict cr, uint32_t n)
    {
        for (uint32_t x = 0; x < n; ++x) {
            int32_t red = r[x], green = g[x], blue = b[x];
            y[x] = 153 * red + 301 * green + 58 * blue - 65536;
            cb[x] = 256 * blue - 170 * green - 86 * red;
            cr[x] = 256 * red - 214 * green - 42 * blue;
        }
    }

    // The same for eight samples: pairs (R, G) and (B, 256) are multiplied
    // with pairs of coefficients and summed in 32 bits, exactly as above.
    static void ToYCbCr8(const uint8_t* r, const uint8_t* g, const uint8_t* b, int32_t* y, int32_t* cb, int32_t* cr)
    {
#ifdef __SSE2__
        const __m128i zero = _mm_setzero_si128();
        auto load = [&](const uint8_t* p) {
            return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), zero);
        };
        __m128i red = load(r), green = load(g), blue = load(b);
        __m128i k256 = _mm_set1_epi16(256);
        __m128i rg[2] = {_mm_unpacklo_epi16(red, green), _mm_unpackhi_epi16(red, green)};
        __m128i bk[2] = {_mm_unpacklo_epi16(blue, k256), _mm_unpackhi_epi16(blue, k256)};
        const __m128i yRG = _mm_set1_epi32((301 << 16) | 153), yBK = _mm_set1_epi32((-256 * 65536) | 58);
        const __m128i cbRG = _mm_set1_epi32(static_cast<int32_t>((uint32_t(-170) << 16) | uint16_t(-86)));
        const __m128i cbBK = _mm_set1_epi32(256);
        const __m128i crRG = _mm_set1_epi32(static_cast<int32_t>((uint32_t(-214) << 16) | 256));
        const __m128i crBK = _mm_set1_epi32(uint16_t(-42));
        for (int h = 0; h < 2; ++h) {
            __m128i vy = _mm_add_epi32(_mm_madd_epi16(rg[h], yRG), _mm_madd_epi16(bk[h], yBK));
            __m128i vcb = _mm_add_epi32(_mm_madd_epi16(rg[h], cbRG), _mm_madd_epi16(bk[h], cbBK));
            __m128i vcr = _mm_add_epi32(_mm_madd_epi16(rg[h], crRG), _mm_madd_epi16(bk[h], crBK));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(y + 4 * h), vy);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(cb + 4 * h), vcb);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(cr + 4 * h), vcr);
        }
#else
        ToYCbCr(r, g, b, y, cb, cr, 8);
#endif
    }

    // Y, Cb and Cr areas (stride Size) of the MCU whose top-left R, G, B
    // samples are at r, g, b; positions outside the image or the band get 0.
    template <uint32_t Size>
    static void FillYCbCrAreas(const uint8_t* r, const uint8_t* g, const uint8_t* b, uint32_t width,
                               const McuSpan& span, int32_t* y, int32_t* cb, int32_t* cr)
    {
        bool whole = span.columns == Size && span.rows == Size;
        for (uint32_t row = 0; row < Size; ++row) {
            if (whole) {
                for (uint32_t x = 0; x < Size; x += 8) ToYCbCr8(r + x, g + x, b + x, y + x, cb + x, cr + x);
            } else {
                uint32_t inside = row < span.rows ? span.columns : 0;
                ToYCbCr(r, g, b, y, cb, cr, inside);
                for (uint32_t x = inside; x < Size; ++x) y[x] = cb[x] = cr[x] = 0;
            }
            r += width, g += width, b += width, y += Size, cb += Size, cr += Size;
        }
    }

    // The areas of one MCU of a transformed image: Y, Cb and Cr from planes
    // 0..2 (R, G, B), and a fourth plane (K) through the ink's conversion.
    template <uint32_t Size, typename Convert>
    static void FillYCbCr(CDCTFilter& f, const McuSpan& span, Convert ink)
    {
        FillYCbCrAreas<Size>(f.m_pPlane[0] + span.offset, f.m_pPlane[1] + span.offset, f.m_pPlane[2] + span.offset,
                             f.m_dwWidth, span, f.ComponentArea(0), f.ComponentArea(1), f.ComponentArea(2));
        if (f.m_dwComponents == 4)
            FillArea<Size>(f.ComponentArea(3), f.m_pPlane[3] + span.offset, f.m_dwWidth, span, ink);
    }

    // Block of the quadrant (qx, qy) of a 16 x 16 area.
    static void LoadQuadrant(int32_t* block, const int32_t* area, uint32_t qx, uint32_t qy)
    {
        const int32_t* source = area + qy * 8 * 16 + qx * 8;
        for (uint32_t y = 0; y < 8; ++y) std::memcpy(block + 8 * y, source + 16 * y, 8 * sizeof(int32_t));
    }
    static void LoadQuadrant(CDCTFilter& f, const int32_t* area, uint32_t qx, uint32_t qy)
    {
        LoadQuadrant(f.m_pBlock, area, qx, qy);
    }

    // Block of the 2 x 2 sums of a 16 x 16 area, plus rounding, shifted right by 2.
    static void LoadReduced(int32_t* block, const int32_t* area, int32_t rounding)
    {
        for (uint32_t y = 0; y < 8; ++y) {
            const int32_t* top = area + 32 * y;
            const int32_t* bottom = top + 16;
            for (uint32_t x = 0; x < 8; ++x)
                block[8 * y + x] = (top[2 * x] + top[2 * x + 1] + bottom[2 * x] + bottom[2 * x + 1] + rounding) >> 2;
        }
    }
    static void LoadReduced(CDCTFilter& f, const int32_t* area, int32_t rounding)
    {
        LoadReduced(f.m_pBlock, area, rounding);
    }

    // The four blocks of a 16 x 16 area: top-left, top-right, bottom-left, bottom-right.
    static void CodeQuadrants(CDCTFilter& f, uint32_t c)
    {
        const int32_t* area = f.ComponentArea(c);
        for (uint32_t q = 0; q < 4; ++q) {
            LoadQuadrant(f, area, q & 1, q >> 1);
            TransformAndCode(f, c);
        }
    }
};
