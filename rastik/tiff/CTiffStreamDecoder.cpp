// Rows of a TIFF strip that is one compressed stream.
#include "rastik/tiff/CTiffStreamDecoder.h"

#include <cstring>

#include "rastik/tiff/CTiffStripBytes.h"

bool CTiffStreamDecoder::Start(CTiffStripBytes& bytes)
{
    KeepWindow(bytes);
    m_inLeft = static_cast<size_t>(bytes.End() - bytes.Begin());
    m_ended = !Restart();
    return !m_ended;
}

uint8_t* CTiffStreamDecoder::DecodeRow(uint8_t* row)
{
    uint8_t* out = row;
    size_t outLeft = m_rowBytes;
    while (!m_ended && outLeft > 0) {
        if (m_inLeft == 0 && m_bytes->HasMore()) {
            const uint8_t* keep = m_bytes->End();
            if (m_bytes->Refill(keep)) {
                m_at = keep;
                m_inLeft = static_cast<size_t>(m_bytes->End() - keep);
            }
        }
        size_t outBefore = outLeft, inBefore = m_inLeft;
        if (Decode(m_at, m_inLeft, out, outLeft) == kEnded) m_ended = true;
        // Neither input taken nor output given: the data ended early.
        if (outLeft == outBefore && m_inLeft == inBefore) m_ended = true;
    }
    if (outLeft) memset(out, 0, outLeft);
    return row;
}
