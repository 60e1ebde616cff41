// SGI LogLuv and LogL strips.
#include "rastik/tiff/CTiffSgiLogDecoder.h"

#include "rastik/support/Allocates.h"
#include "rastik/tiff/CTiffStripBytes.h"

CTiffSgiLogDecoder::CTiffSgiLogDecoder(const TiffRowShape& shape) : CTiffCoderDecoder(shape, shape.width, shape.photometric)
{
}

bool CTiffSgiLogDecoder::Start(CTiffStripBytes& bytes)
{
    if (!m_coder.Ok() || m_shape.bits != 8 || m_coder.OutputSamples() != m_shape.samples) return false;
    if (!rastik::Allocates([&] { bytes.Gather(m_whole); })) return false;
    m_coder.Start(m_whole.data(), m_whole.size());
    return true;
}
