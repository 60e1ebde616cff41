// Old-style JPEG streams put together from their TIFF pieces. JPEG segments:
// a marker 0xFF xx, then (but for SOI, EOI, RSTn and TEM) a 16-bit
// big-endian length that counts itself and the segment's bytes.
#include "rastik/tiff/CTiffOldJpegStream.h"

#include <algorithm>

#include "rastik/jpeg/JpegMarkers.h"

namespace {

using namespace jpegmarker;

constexpr uint32_t kMaxComponents = 3;
constexpr uint32_t kMaxSide = 65500;  // the largest frame libjpeg takes
constexpr size_t kQuantValues = 64;
constexpr size_t kCodeCounts = 16;

void Put16(std::vector<uint8_t>& out, size_t v)
{
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

void PutMarker(std::vector<uint8_t>& out, uint16_t marker, size_t length)
{
    Put16(out, marker);
    Put16(out, length);
}

// SOF0..SOF15 but for DHT, JPG, DAC and the lossless frames.
bool IsFrame(uint8_t m)
{
    return m >= Code(kSof0) && m < Code(kSof15) && m != Code(kDht) && m != 0xC8 && m != Code(kDac) && m != 0xC3 &&
           m != 0xC7 && m != 0xCB;
}

bool Standalone(uint8_t m)
{
    return m == Code(kTem) || (m >= Code(kRst0) && m <= Code(kRst7));
}

// What the head of a stream held, the frame's component ids and its
// largest sampling factors.
struct Head {
    bool quant = false, huffman = false, frame = false, restart = false;
    uint8_t ids[kMaxComponents] = {1, 2, 3};
    uint32_t maxH = 1, maxV = 1;
};

// Sampling of component k: the luma of YCbCr takes the subsampling.
uint8_t Sampling(const TiffOldJpegFields& f, uint32_t k)
{
    bool luma = f.ycbcr && f.samplesPerPixel == 3 && k == 0;
    return static_cast<uint8_t>(luma ? (f.subH << 4) | f.subV : 0x11);
}

// A DHT segment of class (0 DC, 1 AC) and id from a table as stored: its
// 16 counts and the values they count.
bool PutHuffman(std::vector<uint8_t>& out, std::span<const uint8_t> table, uint32_t tableClass, uint32_t id)
{
    if (table.size() < kCodeCounts) return false;
    size_t values = 0;
    for (size_t i = 0; i < kCodeCounts; ++i) values += table[i];
    if (values == 0 || values > 256 || table.size() < kCodeCounts + values) return false;
    PutMarker(out, kDht, 3 + kCodeCounts + values);
    out.push_back(static_cast<uint8_t>((tableClass << 4) | id));
    out.insert(out.end(), table.begin(), table.begin() + static_cast<ptrdiff_t>(kCodeCounts + values));
    return true;
}

// Quantisation and Huffman tables of each component from the tags.
bool AppendTables(const TiffOldJpegFields& f, std::vector<uint8_t>& out, bool quant, bool huffman)
{
    uint32_t n = f.samplesPerPixel;
    if (quant && f.qTables.size() < n) return false;
    if (huffman && (f.dcTables.size() < n || f.acTables.size() < n)) return false;
    for (uint32_t k = 0; k < n; ++k) {
        if (quant) {
            if (f.qTables[k].size() < kQuantValues) return false;
            PutMarker(out, kDqt, 3 + kQuantValues);
            out.push_back(static_cast<uint8_t>(k));
            out.insert(out.end(), f.qTables[k].begin(), f.qTables[k].begin() + kQuantValues);
        }
        if (huffman && (!PutHuffman(out, f.dcTables[k], 0, k) || !PutHuffman(out, f.acTables[k], 1, k))) return false;
    }
    return true;
}

// A baseline frame of the fields' size, component k on table k.
void AppendFrame(const TiffOldJpegFields& f, std::vector<uint8_t>& out)
{
    uint32_t n = f.samplesPerPixel;
    PutMarker(out, kSof0, 8 + 3 * n);
    out.push_back(8);
    Put16(out, f.height);
    Put16(out, f.width);
    out.push_back(static_cast<uint8_t>(n));
    for (uint32_t k = 0; k < n; ++k) out.insert(out.end(), {static_cast<uint8_t>(k + 1), Sampling(f, k), static_cast<uint8_t>(k)});
}

void AppendScanHeader(const TiffOldJpegFields& f, const Head& head, std::vector<uint8_t>& out)
{
    uint32_t n = f.samplesPerPixel;
    PutMarker(out, kSos, 6 + 2 * n);
    out.push_back(static_cast<uint8_t>(n));
    for (uint32_t k = 0; k < n; ++k) out.insert(out.end(), {head.ids[k], static_cast<uint8_t>((k << 4) | k)});
    out.insert(out.end(), {0, 63, 0});
}

// The segments of JPEGInterchangeFormat before its scan go into out. True
// with whole set when the bytes hold a scan: out is then those bytes.
bool CopyInterchange(const TiffOldJpegFields& f, std::vector<uint8_t>& out, Head& head, bool& whole)
{
    std::span<const uint8_t> in = f.interchange;
    if (in.size() < 2 || in[0] != 0xFF || in[1] != Code(kSoi)) return true;
    size_t at = 2;
    while (at + 1 < in.size() && in[at] == 0xFF) {
        uint8_t m = in[at + 1];
        if (m == 0xFF || Standalone(m)) {  // a fill byte, or a marker without length
            at += m == 0xFF ? 1 : 2;
            continue;
        }
        if (m == Code(kEoi) || at + 4 > in.size()) break;
        size_t length = (static_cast<size_t>(in[at + 2]) << 8) | in[at + 3];
        if (length < 2 || at + 2 + length > in.size()) break;
        if (m == Code(kSos)) {
            out.assign(in.begin(), in.end());
            if (out[out.size() - 2] != 0xFF || out.back() != Code(kEoi)) out.insert(out.end(), {0xFF, Code(kEoi)});
            whole = true;
            return true;
        }
        head.quant |= m == Code(kDqt);
        head.huffman |= m == Code(kDht);
        head.restart |= m == Code(kDri);
        if (IsFrame(m)) {
            size_t count = length >= 8 ? in[at + 9] : 0;
            if (count != f.samplesPerPixel || length < 8 + 3 * count) return false;
            for (size_t k = 0; k < count; ++k) {
                head.ids[k] = in[at + 10 + 3 * k];
                head.maxH = std::max<uint32_t>(head.maxH, in[at + 11 + 3 * k] >> 4);
                head.maxV = std::max<uint32_t>(head.maxV, in[at + 11 + 3 * k] & 15);
            }
            head.frame = true;
        }
        out.insert(out.end(), in.begin() + static_cast<ptrdiff_t>(at), in.begin() + static_cast<ptrdiff_t>(at + 2 + length));
        at += 2 + length;
    }
    return true;
}

}  // namespace

bool CTiffOldJpegStream::Build(const TiffOldJpegFields& f, const std::vector<std::span<const uint8_t>>& pieces,
                               std::vector<uint8_t>* out)
{
    out->clear();
    auto sampling = [](uint32_t s) { return s == 1 || s == 2 || s == 4; };
    if (f.process != 1 || (f.samplesPerPixel != 1 && f.samplesPerPixel != kMaxComponents)) return false;
    if (f.width == 0 || f.height == 0 || f.width > kMaxSide || f.height > kMaxSide) return false;
    if (f.ycbcr && f.samplesPerPixel == 3 && (!sampling(f.subH) || !sampling(f.subV))) return false;
    out->insert(out->end(), {0xFF, Code(kSoi)});
    Head head;
    bool whole = false;
    bool ok = CopyInterchange(f, *out, head, whole);
    if (ok && whole) return true;
    if (ok && (!head.quant || !head.huffman)) ok = AppendTables(f, *out, !head.quant, !head.huffman);
    if (!ok) {
        out->clear();
        return false;
    }
    if (!head.frame) {
        AppendFrame(f, *out);
        if (f.ycbcr && f.samplesPerPixel == 3) head.maxH = f.subH, head.maxV = f.subV;
    }
    uint32_t interval = head.restart ? 0 : f.restartInterval;
    // Strips of whole MCU rows, each coded afresh: a restart between them.
    uint32_t mcuRows = f.rowsPerStrip % (8 * head.maxV) == 0 ? f.rowsPerStrip / (8 * head.maxV) : 0;
    bool joined = !head.restart && interval == 0 && pieces.size() > 1 && mcuRows > 0;
    if (joined) interval = mcuRows * ((f.width + 8 * head.maxH - 1) / (8 * head.maxH));
    if (interval > 0xFFFF) joined = false, interval = 0;
    if (interval) {
        PutMarker(*out, kDri, 4);
        Put16(*out, interval);
    }
    bool scanFirst = !pieces.empty() && pieces[0].size() >= 2 && pieces[0][0] == 0xFF && pieces[0][1] == Code(kSos);
    if (!scanFirst) AppendScanHeader(f, head, *out);
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (joined && i > 0) out->insert(out->end(), {0xFF, static_cast<uint8_t>(Code(kRst0) + (i - 1) % 8)});
        out->insert(out->end(), pieces[i].begin(), pieces[i].end());
    }
    out->insert(out->end(), {0xFF, Code(kEoi)});
    return true;
}
