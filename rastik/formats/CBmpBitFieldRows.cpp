// Bit-field bitmap rows: each stored row is width pixels of 2 or 4 bytes,
// little-endian, padded to a whole 4-byte word; a channel is the pixel's
// bits under its mask.
#include "rastik/formats/CBmpBitFieldRows.h"

#include "rastik/support/ByteOrder.h"

CBmpBitFieldRows::CBmpBitFieldRows(CBmpIO& codec, const uint32_t masks[4], bool alphaPlane)
    : CRowSource(codec.Width, codec.Height, LayoutOf(codec, masks[3] != 0, alphaPlane)), m_codec(codec),
      m_channels{CBmpChannelMask(masks[0]), CBmpChannelMask(masks[1]), CBmpChannelMask(masks[2]),
                 CBmpChannelMask(masks[3])},
      m_samples(masks[3] != 0 ? 4 : 3), m_alphaPlane(alphaPlane)
{
}

CRowLayout CBmpBitFieldRows::LayoutOf(const CBmpIO& codec, bool alpha, bool alphaPlane)
{
    CRowLayout l;
    l.Order = codec.BmpInfoHeader.Height < 0 ? CPlaneRowStream::kTopDown : CPlaneRowStream::kBottomUp;
    l.Interleaved = alpha ? 4 : 3;
    l.Planes = alphaPlane ? 4 : 3;
    return l;
}

CStatus CBmpBitFieldRows::Start()
{
    m_stored.resize((static_cast<size_t>(m_codec.BmpInfoHeader.BitCount) * Width() + 31) / 32 * 4);
    m_codec.File.Seek(m_codec.BmpFileHeader.OffBits, CFile::begin);
    return CStatus::Ok();
}

template <uint32_t Bytes>
void CBmpBitFieldRows::Unpack(uint8_t* out)
{
    const uint8_t* in = m_stored.data();
    const uint32_t n = m_samples;
    uint32_t alpha = 0;
    for (uint32_t x = 0; x < Width(); ++x, in += Bytes, out += n) {
        uint32_t p = Bytes == 2 ? rastik::GetLE16(in) : rastik::GetLE32(in);
        out[0] = m_channels[0].Sample(p);
        out[1] = m_channels[1].Sample(p);
        out[2] = m_channels[2].Sample(p);
        if (n == 4) {
            out[3] = m_channels[3].Sample(p);
            alpha |= p;
        }
    }
    m_alphaBits |= alpha & m_channels[3].Mask();
}

CStatus CBmpBitFieldRows::Read(uint8_t* const* rows)
{
    uint32_t bytes = static_cast<uint32_t>(m_stored.size());
    if (m_codec.File.Read(m_stored.data(), bytes) != bytes) return CStatus::Failed();
    if (m_codec.BmpInfoHeader.BitCount == 16)
        Unpack<2>(rows[0]);
    else
        Unpack<4>(rows[0]);
    return CStatus::Ok();
}

CStatus CBmpBitFieldRows::Skip()
{
    m_codec.File.Seek(static_cast<int64_t>(m_stored.size()), CFile::current);
    return CStatus::Ok();
}

CStatus CBmpBitFieldRows::Finish()
{
    return m_alphaPlane && m_alphaBits == 0 ? m_codec.MakeExtraPlaneOpaque() : CStatus::Ok();
}
