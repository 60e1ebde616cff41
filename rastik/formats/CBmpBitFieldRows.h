// The rows of a 16- or 32-bit bitmap whose pixels hold their channels in
// bit fields, as interleaved red, green, blue (and alpha) samples.
#pragma once

#include <cstdint>
#include <vector>

#include "rastik/CBmpIO.h"
#include "rastik/core/CRowSource.h"
#include "rastik/formats/CBmpChannelMask.h"

class CBmpBitFieldRows : public CRowSource {
public:
    // masks: red, green, blue, alpha (0: none). With alphaPlane the rows
    // fill a fourth plane from the alpha mask.
    CBmpBitFieldRows(CBmpIO& codec, const uint32_t masks[4], bool alphaPlane);

    CStatus Start() override;
    // An alpha plane of nothing but zeros becomes fully opaque, as the
    // fourth bytes of a 32-bit file do.
    CStatus Finish() override;

protected:
    CStatus Read(uint8_t* const* rows) override;
    // Seeks past the row.
    CStatus Skip() override;

private:
    static CRowLayout LayoutOf(const CBmpIO& codec, bool alpha, bool alphaPlane);
    template <uint32_t Bytes>
    void Unpack(uint8_t* out);

    CBmpIO& m_codec;
    CBmpChannelMask m_channels[4];
    uint32_t m_samples;  // 3, or 4 with an alpha mask
    bool m_alphaPlane;
    uint32_t m_alphaBits = 0;  // every pixel's alpha bits together
    std::vector<uint8_t> m_stored;
};
