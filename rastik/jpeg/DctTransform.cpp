// The forward DCT of the encoder and the inverse DCT of the decoder: the
// block is held as eight vectors of eight values; each pass is a fast DCT
// flow graph applied to whole vectors, with a transposition between the
// passes. Processors with 256-bit integer vectors get their own build of
// both, chosen when the library is loaded.
#include "rastik/jpeg/DctTransform.h"

#include "rastik/jpeg/DctVector.h"

namespace {

#define DCT_MUL(x, c) (((x) * (c)) >> 9)

// The 8-point flow graph on p0..p7, lane by lane.
DCT_INLINE void FlowGraph(Row& p0, Row& p1, Row& p2, Row& p3, Row& p4, Row& p5, Row& p6, Row& p7)
{
    Row t0 = p0 + p7, t7 = p0 - p7;
    Row t1 = p1 + p6, t6 = p1 - p6;
    Row t2 = p2 + p5, t5 = p2 - p5;
    Row t3 = p3 + p4, t4 = p3 - p4;

    Row t10 = t0 + t3, t13 = t0 - t3;
    Row t11 = t1 + t2, t12 = t1 - t2;
    p0 = t10 + t11;
    p4 = t10 - t11;
    Row z1 = DCT_MUL(t12 + t13, 362);
    p2 = t13 + z1;
    p6 = t13 - z1;

    Row z10 = t4 + t5, z12 = t6 + t7;
    Row z5 = DCT_MUL(z10 - z12, 196);
    Row z2 = z5 + DCT_MUL(z10, 277);
    Row z4 = z5 + DCT_MUL(z12, 669);
    Row z3 = DCT_MUL(t5 + t6, 362);
    Row z11 = t7 + z3, z13 = t7 - z3;
    p5 = z13 + z2;
    p3 = z13 - z2;
    p1 = z11 + z4;
    p7 = z11 - z4;
}

#define DCT_LO32(a, b) __builtin_shufflevector(a, b, 0, 8, 1, 9, 4, 12, 5, 13)
#define DCT_HI32(a, b) __builtin_shufflevector(a, b, 2, 10, 3, 11, 6, 14, 7, 15)
#define DCT_LO64(a, b) __builtin_shufflevector(a, b, 0, 1, 8, 9, 4, 5, 12, 13)
#define DCT_HI64(a, b) __builtin_shufflevector(a, b, 2, 3, 10, 11, 6, 7, 14, 15)
#define DCT_LO128(a, b) __builtin_shufflevector(a, b, 0, 1, 2, 3, 8, 9, 10, 11)
#define DCT_HI128(a, b) __builtin_shufflevector(a, b, 4, 5, 6, 7, 12, 13, 14, 15)

// 8 x 8 transposition: pairs, then quads inside each half, then halves.
template <typename Row>
DCT_INLINE void Transpose(Row& r0, Row& r1, Row& r2, Row& r3, Row& r4, Row& r5, Row& r6, Row& r7)
{
    Row t0 = DCT_LO32(r0, r1), t1 = DCT_HI32(r0, r1);
    Row t2 = DCT_LO32(r2, r3), t3 = DCT_HI32(r2, r3);
    Row t4 = DCT_LO32(r4, r5), t5 = DCT_HI32(r4, r5);
    Row t6 = DCT_LO32(r6, r7), t7 = DCT_HI32(r6, r7);
    Row u0 = DCT_LO64(t0, t2), u1 = DCT_HI64(t0, t2);
    Row u2 = DCT_LO64(t1, t3), u3 = DCT_HI64(t1, t3);
    Row u4 = DCT_LO64(t4, t6), u5 = DCT_HI64(t4, t6);
    Row u6 = DCT_LO64(t5, t7), u7 = DCT_HI64(t5, t7);
    r0 = DCT_LO128(u0, u4), r4 = DCT_HI128(u0, u4);
    r1 = DCT_LO128(u1, u5), r5 = DCT_HI128(u1, u5);
    r2 = DCT_LO128(u2, u6), r6 = DCT_HI128(u2, u6);
    r3 = DCT_LO128(u3, u7), r7 = DCT_HI128(u3, u7);
}

// x * c >> 14 for constants scaled by 2^14, as two products that each stay
// within 32 bits: the part of x above its low 14 bits, shifted first, and
// the low 14 bits.
#define DCT_SCALED(x, c) (URow(Row(x) >> 14) * (c) + (((x) & 16383u) * (c) >> 14))

// The 8-point inverse flow graph on p0..p7 (inputs dequantised with the
// scale factors), lane by lane; outputs in place, unnormalised.
DCT_INLINE void InverseFlowGraph(URow& p0, URow& p1, URow& p2, URow& p3, URow& p4, URow& p5, URow& p6, URow& p7)
{
    URow t10 = p0 + p4, t11 = p0 - p4;
    URow t13 = p2 + p6;
    URow t12 = DCT_SCALED(p2 - p6, 23170u) - t13;  // sqrt(2)
    URow t0 = t10 + t13, t3 = t10 - t13;
    URow t1 = t11 + t12, t2 = t11 - t12;

    URow z13 = p5 + p3, z10 = p5 - p3;
    URow z11 = p1 + p7, z12 = p1 - p7;
    URow t7 = z11 + z13;
    URow z5 = DCT_SCALED(z10 + z12, 30274u);            // 1.847759
    URow t6 = z5 - DCT_SCALED(z10, 42813u) - t7;        // 2.613126
    URow t5 = DCT_SCALED(z11 - z13, 23170u) - t6;       // sqrt(2)
    URow t4 = DCT_SCALED(z12, 17734u) + t5 - z5;        // 1.082392

    p0 = t0 + t7, p7 = t0 - t7;
    p1 = t1 + t6, p6 = t1 - t6;
    p2 = t2 + t5, p5 = t2 - t5;
    p3 = t3 - t4, p4 = t3 + t4;
}

DCT_INLINE void DctForwardTransformBody(const int32_t* source, int32_t* block)
{
    Row r0, r1, r2, r3, r4, r5, r6, r7;
    Load(r0, source), Load(r1, source + 8), Load(r2, source + 16), Load(r3, source + 24);
    Load(r4, source + 32), Load(r5, source + 40), Load(r6, source + 48), Load(r7, source + 56);
    Transpose(r0, r1, r2, r3, r4, r5, r6, r7);  // r<x>: column x
    FlowGraph(r0, r1, r2, r3, r4, r5, r6, r7);  // along each row: r<u> is frequency u of every row
    Transpose(r0, r1, r2, r3, r4, r5, r6, r7);  // r<y>: row y
    FlowGraph(r0, r1, r2, r3, r4, r5, r6, r7);  // along each column
    Store(block, r0), Store(block + 8, r1), Store(block + 16, r2), Store(block + 24, r3);
    Store(block + 32, r4), Store(block + 40, r5), Store(block + 48, r6), Store(block + 56, r7);
}

DCT_INLINE void DctInverseTransformBody(const int32_t* block, int32_t* out, size_t stride)
{
    URow r0, r1, r2, r3, r4, r5, r6, r7;
    Load(r0, block), Load(r1, block + 8), Load(r2, block + 16), Load(r3, block + 24);
    Load(r4, block + 32), Load(r5, block + 40), Load(r6, block + 48), Load(r7, block + 56);
    InverseFlowGraph(r0, r1, r2, r3, r4, r5, r6, r7);  // down each column: r<y> is row y
    Transpose(r0, r1, r2, r3, r4, r5, r6, r7);         // r<x>: column x
    InverseFlowGraph(r0, r1, r2, r3, r4, r5, r6, r7);  // along each row
    Transpose(r0, r1, r2, r3, r4, r5, r6, r7);         // r<y>: row y
    Store(out, r0), Store(out + stride, r1), Store(out + 2 * stride, r2), Store(out + 3 * stride, r3);
    Store(out + 4 * stride, r4), Store(out + 5 * stride, r5), Store(out + 6 * stride, r6);
    Store(out + 7 * stride, r7);
}

}  // namespace

DCT_TWO_BUILDS(DctForwardTransform, (const int32_t* source, int32_t* block), (source, block))
DCT_TWO_BUILDS(DctInverseTransform, (const int32_t* block, int32_t* out, size_t stride), (block, out, stride))
