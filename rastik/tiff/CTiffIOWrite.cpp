// TIFF writing from the planes: the header with the colour map, and the
// strip writers (uncompressed and PackBits, LZW, Deflate and JPEG, bilevel). The pixel rows
// of all writers are 8-bit samples interleaved pixel by pixel, except the
// bilevel writer's rows of 1-bit samples packed most significant bit first.
// Inside a conversion with worker threads, compressed strips are coded a
// batch at a time on the pool and written in order.
#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "platform/LargeBlock.h"
#include "platform/Win32.h"
#include "rastik/CTiffIO.h"
#include "rastik/General.h"
#include "rastik/Messages.h"
#include "rastik/core/COperation.h"
#include "rastik/core/COutputRows.h"
#include "rastik/core/CPlaneRowStream.h"
#include "rastik/support/Allocates.h"
#include "rastik/support/ByteOrder.h"
#include "rastik/support/CFreeShelf.h"
#include "rastik/support/CScopedBuffer.h"
#include "rastik/support/PixelRows.h"
#include "rastik/support/CPoolScope.h"
#include "rastik/support/PackBits.h"
#include "rastik/tiff/CTiffDeflateEncoder.h"
#include "rastik/tiff/CTiffJpegEncoder.h"
#include "rastik/tiff/CTiffLzwEncoder.h"
#include "rastik/tiff/TiffEntry.h"
#include "rastik/tiff/TiffTags.h"

namespace {

// Uncompressed and PackBits strips keep the interleaving memory near this.
constexpr uint64_t kPlainStripBytes = 6400000;
// Rows per LZW strip by the bytes of a plane row: up to 600, 999, 1399, more.
constexpr uint32_t kLzwStripLimits[] = {600, 999, 1399};
constexpr uint32_t kLzwMostRows = 4;
// Deflate and JPEG strips hold about this many bytes of rows.
constexpr uint64_t kCodedStripBytes = 512u << 10;
constexpr uint32_t kIndexedMapEntries = 256;

// Pooled strip writing: runs of strips coded at once for every thread, and
// the row bytes a batch of strips holds for every thread.
constexpr uint32_t kRunsPerThread = 2;
constexpr uint64_t kBatchBytesPerThread = 1u << 20;

// The coded strips of one run of a batch, in order: in the run's slice of
// the batch's room while they fit, the rest in bytes of their own. The
// slices lie in one large block, since the fresh small pages of growing
// vectors cost more than coding into them.
struct EncodedRun {
    uint8_t* slice = nullptr;
    size_t room = 0;       // bytes of the slice
    size_t used = 0;       // bytes of the strips in the slice
    uint32_t inSlice = 0;  // strips in the slice; those after it are in spill
    LargeVector<uint8_t> spill;
    std::vector<uint32_t> lengths;
    void Start(uint8_t* at, size_t bytes)
    {
        slice = at;
        room = bytes;
        used = 0;
        inSlice = 0;
        spill.clear();
        lengths.clear();
    }
    void Add(const uint8_t* code, uint32_t length)
    {
        if (inSlice == lengths.size() && length <= room - used) {
            if (length) memcpy(slice + used, code, length);
            used += length;
            ++inSlice;
        } else {
            spill.insert(spill.end(), code, code + length);
        }
        lengths.push_back(length);
    }
    // Strip k's bytes, with at bytes of the run's strips before it.
    const uint8_t* Strip(size_t k, size_t at) const { return k < inSlice ? slice + at : spill.data() + (at - used); }
};

uint32_t Brightness(const uint8_t* entry)
{
    return static_cast<uint32_t>(entry[0]) + entry[1] + entry[2];
}

// The strip encoders. kStripsOnPool: whether, inside a conversion with
// worker threads, strips are coded a batch at a time on the pool by twins.

// Strips as they are.
class PlainEncoder {
public:
    static constexpr bool kStripsOnPool = false;
    explicit PlainEncoder(uint64_t rowBytes) : m_rowBytes(rowBytes) {}
    bool Prepare(uint32_t) { return true; }
    const uint8_t* Encode(const uint8_t* rows, uint32_t count, uint32_t& bytes)
    {
        bytes = static_cast<uint32_t>(m_rowBytes * count);
        return rows;
    }

private:
    uint64_t m_rowBytes;
};

// Every row packed by itself. Strips hold megabytes of rows, so a batch of
// them for the pool would hold much of the image: instead the rows of each
// strip are packed in parts at once on the lent pool, each part into the
// room its rows may take, and the parts are closed up in order, which
// gives the bytes of packing the rows one after the other.
class PackBitsEncoder {
public:
    static constexpr bool kStripsOnPool = false;
    explicit PackBitsEncoder(uint64_t rowBytes) : m_rowBytes(static_cast<uint32_t>(rowBytes)) {}
    bool Prepare(uint32_t rows)
    {
        m_bound = rastik::PackBitsBound(m_rowBytes);
        uint64_t bytes = m_bound * rows;
        if (bytes > 0xFFFFFFFFull) return false;
        m_pool = CPoolScope::Lent();
        const uint64_t runBytes = uint64_t{m_rowBytes} + 1;
        const uint64_t threads = m_pool ? m_pool->Threads() : 1;
        m_parts = static_cast<uint32_t>(std::max<uint64_t>(std::min<uint64_t>(threads, 0xFFFFFFFFull / runBytes), 1));
        m_runs.Reset(AllocBuffer(static_cast<uint32_t>(runBytes * m_parts), 1, 0));
        m_out.Reset(AllocBuffer(static_cast<uint32_t>(bytes), 1, 0));
        m_lengths.assign(m_parts, 0);
        return m_runs.p && m_out.p;
    }
    const uint8_t* Encode(const uint8_t* rows, uint32_t count, uint32_t& bytes)
    {
        const uint64_t most = std::max(std::min(m_parts, count), 1u);
        const uint32_t parts =
            static_cast<uint32_t>(std::clamp<uint64_t>(uint64_t{count} * m_rowBytes / kLeastPartBytes, 1, most));
        const uint32_t partRows = (count + parts - 1) / parts;
        auto pack = [&](uint32_t k) {
            const uint32_t first = k * partRows, last = std::min(count, first + partRows);
            uint8_t* runs = m_runs.p + static_cast<size_t>(k) * (size_t{m_rowBytes} + 1);
            uint8_t* out = m_out.p + first * m_bound;
            uint32_t length = 0;
            for (uint32_t r = first; r < last; ++r) {
                const uint8_t* row = rows + static_cast<size_t>(r) * m_rowBytes;
                uint32_t runCount = rastik::wCompute8BitRun(row, runs, m_rowBytes);
                length += rastik::iEncodeLineTIF_PackBits(row, runs, runCount, out + length);
            }
            m_lengths[k] = length;
        };
        if (parts == 1) {
            pack(0);
        } else if (!m_pool->Run(parts, pack)) {
            return nullptr;
        }
        bytes = m_lengths[0];
        for (uint32_t k = 1; k < parts; ++k) {
            memmove(m_out.p + bytes, m_out.p + k * partRows * m_bound, m_lengths[k]);
            bytes += m_lengths[k];
        }
        return m_out.p;
    }

private:
    // Rows of fewer bytes than this are packed on this thread.
    static constexpr uint64_t kLeastPartBytes = 64u << 10;
    uint32_t m_rowBytes;
    uint64_t m_bound = 0;  // bytes a packed row may take
    CWorkerPool* m_pool = nullptr;
    uint32_t m_parts = 1;
    CScopedBuffer m_runs;  // a row's runs for each part
    CScopedBuffer m_out;
    std::vector<uint32_t> m_lengths;  // packed bytes of each part
};

// Each strip one LZW code stream of differenced rows.
class LzwEncoder {
public:
    static constexpr bool kStripsOnPool = true;
    LzwEncoder(uint64_t rowBytes, uint32_t samples)
        : m_rowBytes(rowBytes), m_samples(samples), m_coder(static_cast<uint32_t>(rowBytes), samples)
    {
    }
    std::unique_ptr<LzwEncoder> Twin() const { return std::make_unique<LzwEncoder>(m_rowBytes, m_samples); }
    bool Prepare(uint32_t rows) { return m_coder.Reserve(rows); }
    const uint8_t* Encode(const uint8_t* rows, uint32_t count, uint32_t& bytes)
    {
        if (!m_coder.iEncodeTIF_LZW(rows, count)) return nullptr;
        bytes = m_coder.Length();
        return m_coder.Data();
    }

private:
    uint64_t m_rowBytes;
    uint32_t m_samples;
    CTiffLzwEncoder m_coder;
};

// Strips of a coder chosen when the file is written (Deflate, JPEG).
class CodedEncoder {
public:
    static constexpr bool kStripsOnPool = true;
    explicit CodedEncoder(std::unique_ptr<CTiffStripEncoder> coder) : m_coder(std::move(coder)) {}
    std::unique_ptr<CodedEncoder> Twin() const { return std::make_unique<CodedEncoder>(m_coder->Twin()); }
    uint32_t RowUnit() const { return m_coder->RowUnit(); }
    bool Prepare(uint32_t rows) { return m_coder->Reserve(rows); }
    const uint8_t* Encode(const uint8_t* rows, uint32_t count, uint32_t& bytes)
    {
        if (!m_coder->Encode(rows, count)) return nullptr;
        bytes = m_coder->Length();
        return m_coder->Data();
    }

private:
    std::unique_ptr<CTiffStripEncoder> m_coder;
};

// Rows of one byte per sample packed into bits (every non-zero sample a 1).
class BilevelEncoder {
public:
    static constexpr bool kStripsOnPool = false;
    BilevelEncoder(CTiffIO& image, uint64_t rowBytes)
        : m_image(image), m_rowBytes(rowBytes), m_packedBytes((rowBytes + 7) / 8)
    {
    }
    bool Prepare(uint32_t rows)
    {
        m_out.Reset(AllocBuffer(static_cast<uint32_t>(m_packedBytes * rows), 1, 0));
        return m_out.p != nullptr;
    }
    const uint8_t* Encode(const uint8_t* rows, uint32_t count, uint32_t& bytes)
    {
        for (uint32_t i = 0; i < count; ++i)
            m_image.TurnTo1BitsLineData(rows + i * m_rowBytes, m_out.p + i * m_packedBytes);
        bytes = static_cast<uint32_t>(m_packedBytes * count);
        return m_out.p;
    }

private:
    CTiffIO& m_image;
    uint64_t m_rowBytes;
    uint64_t m_packedBytes;
    CScopedBuffer m_out;
};

}  // namespace

CStatus CTiffIO::WriteRefusal() const
{
    if (Width == 0 || Height == 0 || BytesPerLine < Width) return CStatus::Failed();
    uint32_t colour = 0;
    switch (ColorMode) {
    case kModeBitmap:
    case kModeGrey:
    case kModeIndexed: colour = 1; break;
    case kModeRgb: colour = 3; break;
    case kModeCmyk: colour = 4; break;
    default: return CStatus::Failed(kMsgImageType);
    }
    if (ColorChannels != colour || ChannelCount < colour || ChannelCount > static_cast<uint32_t>(kMaxChannels))
        return CStatus::Failed(kMsgImageType);
    if (ColorMode == kModeIndexed && (!Palette || PaletteSize == 0 || PaletteSize > kIndexedMapEntries))
        return CStatus::Failed(kMsgImageType);
    // Rows of interleaved samples and the strips of them stay within 32 bits.
    if (static_cast<uint64_t>(Width) * ChannelCount > 0x7FFFFFFFull) return CStatus::Failed(kMsgImageType);
    return CStatus::Ok();
}

uint32_t CTiffIO::ColorMapEntries() const
{
    if (ColorMode == kModeBitmap) return 2;
    return ColorMode == kModeIndexed ? kIndexedMapEntries : 0;
}

bool CTiffIO::WritesYCbCr() const
{
    return m_writtenCompression == tiff::kJpeg && ColorMode == kModeRgb && m_writtenSamples == 3;
}

uint32_t CTiffIO::WrittenPhotometric() const
{
    if (WritesYCbCr()) return tiff::kYCbCr;
    switch (ColorMode) {
    case kModeBitmap:
        // A two-colour palette whose first entry is the lighter one stores
        // white as zero, so that readers going by the photometric alone
        // show the image the right way round.
        if (Palette && PaletteSize >= 2 && Brightness(Palette) > Brightness(Palette + 4)) return tiff::kWhiteIsZero;
        return tiff::kBlackIsZero;
    case kModeGrey: return tiff::kBlackIsZero;
    case kModeRgb: return tiff::kRgb;
    case kModeIndexed: return tiff::kPalette;
    case kModeCmyk: return tiff::kSeparated;
    default: return tiff::kWhiteIsZero;
    }
}

int CTiffIO::WriteHeader()
{
    COperation op(*this, COperation::kWrite);
    if (CStatus refusal = WriteRefusal(); !refusal) return op.Conclude(refusal);
    int ok = op.Run([&] { return WriteHeaderBytes(); });
    if (!ok) DeleteOutput();
    return ok;
}

CStatus CTiffIO::WriteHeaderBytes()
{
    m_headerWritten = false;
    m_tailWritten = false;
    m_cmykPass = 0;
    RowsReceived = 0;
    StripTotal = 0;
    StripOffsets.clear();
    StripByteCounts.clear();
    bool little = IntelByteOrder != 0;
    m_writeBig = BigTiff != 0 || OutputBound() > 0xFFFFFFFFull;
    tiff::TiffWidths widths{m_writeBig};
    uint32_t mapAt = widths.HeaderBytes();
    // Colour map after the header: all reds, all greens, all blues, each component c as the
    // 16-bit value c x 257 (0xAB becomes 0xABAB: its high byte for readers
    // that take it, exactly c / 255 for readers that scale); a map of 256
    // entries for 8-bit indexes (entries past the palette black), black and
    // white for a bilevel image without a palette.
    uint32_t entries = ColorMapEntries();
    std::vector<uint8_t> out(mapAt + static_cast<size_t>(entries) * 6);
    out[0] = out[1] = little ? 'I' : 'M';
    // The directory's offset stays 0 until the tail is written.
    if (m_writeBig) {
        rastik::Put16(&out[2], tiff::kBigVersion, little);
        rastik::Put16(&out[4], tiff::kBigOffsetBytes, little);
    } else {
        rastik::Put16(&out[2], tiff::kVersion, little);
    }
    static const uint8_t kBlackWhite[8] = {0, 0, 0, 0, 255, 255, 255, 0};
    const uint8_t* map = Palette;
    uint32_t known = Palette ? std::min(PaletteSize, entries) : 0;
    if (ColorMode == kModeBitmap && known < 2) map = kBlackWhite, known = 2;
    for (uint32_t i = 0; i < known; ++i) {
        for (uint32_t c = 0; c < 3; ++c) {
            uint16_t value = static_cast<uint16_t>(map[i * 4 + 2 - c] * 257);
            rastik::Put16(&out[mapAt + (c * entries + i) * 2], value, little);
        }
    }
    File.Seek(0, CFile::begin);
    File.Write(out.data(), static_cast<uint32_t>(out.size()));
    m_headerWritten = true;
    return CStatus::Ok();
}

int CTiffIO::WriteFile()
{
    COperation op(*this, COperation::kWrite);
    if (CStatus refusal = WriteRefusal(); !refusal) return op.Conclude(refusal);
    bool bilevel = ColorMode == kModeBitmap;
    bool coded = Compression == tiff::kDeflate || Compression == tiff::kJpeg;
    if (!bilevel && !coded && Compression != tiff::kNone && Compression != tiff::kLzw &&
        Compression != tiff::kPackBits)
        return op.Conclude(CStatus::Failed(kMsgUnsupported));
    CPoolScope pool;
    int ok = op.Run([&] {
        if (bilevel) return WriteBmpFile();
        if (coded) return WriteCodedTifFile();
        return Compression == tiff::kLzw ? WriteLzwTifFile() : WritePlainFile();
    });
    if (!ok) DeleteOutput();
    EndProgress();
    return ok;
}

CStatus CTiffIO::Nested(int result) const
{
    return result ? CStatus::Ok() : CStatus::Failed(GetLastMessage());
}

CStatus CTiffIO::WritePlainFile()
{
    if (!WriteHeader()) return Nested(0);
    uint32_t samples = ChannelCount;
    // Spilled planes are staged apart from the strip, so where the planes
    // are kept does not change the file's strips.
    uint64_t stripRows = kPlainStripBytes / BytesPerLine / samples;
    stripRows = std::clamp<uint64_t>(stripRows, 1, Height);
    uint64_t rowBytes = static_cast<uint64_t>(Width) * samples;
    m_writtenBits = 8;
    if (Compression == tiff::kPackBits) {
        m_writtenCompression = tiff::kPackBits;
        PackBitsEncoder encoder(rowBytes);
        if (CStatus s = WriteStrips(static_cast<uint32_t>(stripRows), encoder); !s) return s;
    } else {
        m_writtenCompression = tiff::kNone;
        PlainEncoder encoder(rowBytes);
        if (CStatus s = WriteStrips(static_cast<uint32_t>(stripRows), encoder); !s) return s;
    }
    return Nested(WriteTail());
}

CStatus CTiffIO::WriteLzwTifFile()
{
    if (!WriteHeader()) return Nested(0);
    // Short strips: each starts a new string table.
    uint32_t stripRows = kLzwMostRows;
    for (uint32_t limit : kLzwStripLimits)
        if (BytesPerLine > limit) --stripRows;
    stripRows = std::min(stripRows, Height);
    m_writtenBits = 8;
    m_writtenCompression = tiff::kLzw;
    LzwEncoder encoder(static_cast<uint64_t>(Width) * ChannelCount, ChannelCount);
    if (CStatus s = WriteStrips(stripRows, encoder); !s) return s;
    return Nested(WriteTail());
}

bool CTiffIO::JpegWritable(uint32_t samples) const
{
    // JPEG holds grey, RGB and CMYK samples; the indexes of a palette and
    // extra samples such as alpha are no lossy data.
    bool colour = ColorMode == kModeGrey || ColorMode == kModeRgb || ColorMode == kModeCmyk;
    return colour && samples == ColorChannels && CTiffJpegEncoder::Takes(Width, samples);
}

std::unique_ptr<CTiffStripEncoder> CTiffIO::MakeStripEncoder(uint32_t samples)
{
    JpegTables.clear();
    if (Compression != tiff::kJpeg || !JpegWritable(samples)) {
        m_writtenCompression = tiff::kDeflate;
        return std::make_unique<CTiffDeflateEncoder>(Width * samples, samples);
    }
    m_writtenCompression = tiff::kJpeg;
    bool ycc = ColorMode == kModeRgb && samples == 3;
    auto coder = std::make_unique<CTiffJpegEncoder>(Width, samples, ycc, JpegQuality);
    if (!coder->MakeTables(JpegTables)) return nullptr;
    return coder;
}

uint32_t CTiffIO::CodedStripRows(const CTiffStripEncoder& coder, uint64_t rowBytes) const
{
    const uint32_t unit = coder.RowUnit();
    uint64_t rows = std::max<uint64_t>(kCodedStripBytes / rowBytes / unit, 1) * unit;
    return static_cast<uint32_t>(std::min<uint64_t>(rows, Height));
}

// Deflate or JPEG strips of about kCodedStripBytes, coded on the worker
// threads when there are some.
CStatus CTiffIO::WriteCodedTifFile()
{
    if (!WriteHeader()) return Nested(0);
    std::unique_ptr<CTiffStripEncoder> coder = MakeStripEncoder(ChannelCount);
    if (!coder) return CStatus::Failed(kMsgNoBuffer);
    const uint32_t stripRows = CodedStripRows(*coder, static_cast<uint64_t>(Width) * ChannelCount);
    m_writtenBits = 8;
    CodedEncoder encoder(std::move(coder));
    if (CStatus s = WriteStrips(stripRows, encoder); !s) return s;
    return Nested(WriteTail());
}

CStatus CTiffIO::WriteBmpFile()
{
    // Bilevel files are big-endian, 1-bit and uncompressed whatever was asked.
    BitsPerChannel = 1;
    IntelByteOrder = 0;
    if (!WriteHeader()) return Nested(0);
    m_writtenBits = 1;
    m_writtenCompression = tiff::kNone;
    BilevelEncoder encoder(*this, static_cast<uint64_t>(Width) * ChannelCount);
    if (CStatus s = WriteStrips(Height, encoder); !s) return s;
    return Nested(WriteTail());
}

CStatus CTiffIO::RecordStrip(uint32_t s, uint32_t bytes)
{
    uint64_t at = File.GetPosition();
    if (!m_writeBig && at + bytes > 0xFFFFFFFFull) return CStatus::Failed(kMsgUnsupported);
    StripOffsets[s] = at;
    StripByteCounts[s] = bytes;
    return CStatus::Ok();
}

// The failure of a plane-row stream that stopped or failed.
CStatus CTiffIO::StreamFailure(const CPlaneRowStream& rows)
{
    CStatus s = rows.Status();
    return s ? CStatus::Failed() : s;
}

template <class Encoder>
CStatus CTiffIO::WriteStrips(uint32_t stripRows, Encoder& encoder)
{
    uint32_t samples = ChannelCount;
    uint64_t rowBytes = static_cast<uint64_t>(Width) * samples;
    COutputRows strip;
    if (CStatus s = strip.Take(rowBytes, stripRows); !s) return s;
    stripRows = std::min(stripRows, strip.Rows());
    if constexpr (requires { encoder.RowUnit(); }) {
        // Strips but the last hold whole units of rows.
        if (stripRows < Height) stripRows -= stripRows % encoder.RowUnit();
        if (stripRows == 0) return CStatus::Failed(kMsgNoBuffer);
    }
    if (!encoder.Prepare(stripRows)) return CStatus::Failed(kMsgNoBuffer);
    m_writtenSamples = samples;
    RowsPerStrip = stripRows;
    StripTotal = (Height - 1) / stripRows + 1;
    StripOffsets.assign(StripTotal, 0);
    StripByteCounts.assign(StripTotal, 0);
    CPlaneRowStream rows(*this, CPlaneRowStream::kDrain, CPlaneRowStream::kTopDown, samples);
    rows.LeaveMessagesToStatus();
    if (!rows.Open()) return StreamFailure(rows);
    if constexpr (Encoder::kStripsOnPool) {
        if (CWorkerPool* pool = CPoolScope::Lent(); pool && StripTotal > 1)
            return WriteStripsOnPool(*pool, stripRows, encoder, rows);
    }
    const uint8_t* planes[kMaxChannels] = {};
    for (uint32_t s = 0, done = 0; s < StripTotal; ++s) {
        uint32_t count = std::min(stripRows, Height - done);
        for (uint32_t i = 0; i < count; ++i) {
            for (uint32_t c = 0; c < samples; ++c)
                if (!(planes[c] = rows.Row(c))) return StreamFailure(rows);
            rastik::JoinSamples(planes, Width, samples, strip.Row(i));
            if (!rows.Advance()) return StreamFailure(rows);
        }
        uint32_t bytes = 0;
        const uint8_t* out = encoder.Encode(strip.Data(), count, bytes);
        if (!out) return CStatus::Failed();
        if (CStatus recorded = RecordStrip(s, bytes); !recorded) return recorded;
        File.Write(out, bytes);
        done += count;
    }
    return rows.Finish() == CPlaneRowStream::kDone ? CStatus::Ok() : StreamFailure(rows);
}

namespace {

// The coders of the pool's runs: a run takes a free one and puts it back
// when its strips are coded. No more runs go at once than the pool has
// threads, so that many twins of the model are made before the coding; one
// more is made (here, one at a time) only should a run find none free.
template <class Encoder>
class CoderShelf {
public:
    CoderShelf(const Encoder& model, uint32_t stripRows) : m_model(model), m_stripRows(stripRows) {}
    // count coders; false when memory is short.
    bool Fill(uint32_t count)
    {
        for (uint32_t i = 0; i < count; ++i) {
            std::unique_ptr<Encoder> coder = Made();
            if (!coder) return false;
            m_free.Give(std::move(coder));
        }
        return true;
    }
    // A free coder; null when memory is short.
    std::unique_ptr<Encoder> Take()
    {
        std::unique_ptr<Encoder> coder;
        if (m_free.Take(coder)) return coder;
        std::lock_guard<std::mutex> hold(m_making);
        return Made();
    }
    void Give(std::unique_ptr<Encoder> coder) { m_free.Give(std::move(coder)); }

private:
    std::unique_ptr<Encoder> Made() const
    {
        std::unique_ptr<Encoder> coder;
        if (!rastik::Allocates([&] { coder = m_model.Twin(); }) || !coder->Prepare(m_stripRows)) return nullptr;
        return coder;
    }

    const Encoder& m_model;
    const uint32_t m_stripRows;
    std::mutex m_making;  // twins are made one at a time
    CFreeShelf<std::unique_ptr<Encoder>> m_free;
};

// One batch of strips written on the pool: its rows and the coded strips of
// its runs. Two batches take turns, so that this thread gathers the rows of
// one while the other is coded.
template <class Encoder>
struct StripBatch {
    LargeVector<uint8_t> rows;
    CScopedBuffer codes;  // the runs' slices, as many bytes as rows
    std::vector<EncodedRun> encoded;
    std::shared_ptr<CWorkerPool::CJob> job;
    uint32_t strips = 0;
    uint32_t rowCount = 0;

    // Rows of strips strips of stripRows rows of rowBytes, coded in runs;
    // false when memory is short.
    bool Take(uint32_t runs, uint32_t strips, uint32_t stripRows, uint64_t rowBytes)
    {
        return rastik::Allocates([&] {
            rows.resize(static_cast<size_t>(strips) * stripRows * rowBytes);
            codes.Reset(AllocLargeBlock(rows.size(), false));
            if (!codes.p) throw std::bad_alloc();
            encoded.resize(runs);
        });
    }
    // Codes the strips on the pool, the runs at once, by coders of shelf.
    void Start(CWorkerPool& pool, CoderShelf<Encoder>& shelf, uint32_t stripRows, uint64_t rowBytes)
    {
        const uint32_t runs = static_cast<uint32_t>(encoded.size());
        const uint32_t perRun = (strips + runs - 1) / runs;
        job = pool.Start(runs, [this, &shelf, perRun, stripRows, rowBytes](uint32_t run) {
            std::unique_ptr<Encoder> coder = shelf.Take();
            if (!coder) throw std::bad_alloc();
            EncodedRun& out = encoded[run];
            const size_t sliceBytes = static_cast<size_t>(perRun) * stripRows * rowBytes;
            const size_t from = std::min(rows.size(), run * sliceBytes);
            out.Start(codes.p + from, std::min(sliceBytes, rows.size() - from));
            for (uint32_t k = run * perRun; k < std::min(strips, (run + 1) * perRun); ++k) {
                const uint32_t first = k * stripRows;
                uint32_t bytes = 0;
                const uint8_t* code =
                    coder->Encode(rows.data() + first * rowBytes, std::min(stripRows, rowCount - first), bytes);
                if (!code) throw std::bad_alloc();
                out.Add(code, bytes);
            }
            shelf.Give(std::move(coder));
        });
    }
    // Waits for the coding; false when a run failed.
    bool Wait(CWorkerPool& pool)
    {
        if (!job) return true;
        pool.Wait(*job);
        const bool coded = !job->Failed();
        job.reset();
        return coded;
    }
};

}  // namespace

template <class Encoder>
CStatus CTiffIO::WriteStripsOnPool(CWorkerPool& pool, uint32_t stripRows, const Encoder& model, CPlaneRowStream& rows)
{
    const uint32_t samples = ChannelCount;
    const uint64_t rowBytes = static_cast<uint64_t>(Width) * samples;
    const uint32_t runs = kRunsPerThread * pool.Threads();
    const uint64_t wanted = kBatchBytesPerThread * pool.Threads() / (rowBytes * stripRows);
    const uint32_t batchStrips =
        static_cast<uint32_t>(std::min<uint64_t>(std::max<uint64_t>(wanted, runs), StripTotal));
    CoderShelf<Encoder> shelf(model, stripRows);
    if (!shelf.Fill(pool.Threads())) return CStatus::Failed(kMsgNoBuffer);
    StripBatch<Encoder> batches[2];
    // The batches' jobs use them: every way out waits for both.
    struct Settle {
        CWorkerPool& pool;
        StripBatch<Encoder>* batches;
        ~Settle()
        {
            for (int b = 0; b < 2; ++b) batches[b].Wait(pool);
        }
    } settle{pool, batches};
    for (StripBatch<Encoder>& b : batches)
        if (!b.Take(runs, batchStrips, stripRows, rowBytes)) return CStatus::Failed(kMsgNoBuffer);
    const uint8_t* planes[kMaxChannels] = {};
    uint32_t written = 0;  // strips written
    // Writes the coded strips of batch b in order.
    auto write = [&](StripBatch<Encoder>& b) -> CStatus {
        if (!b.Wait(pool)) return CStatus::Failed(kMsgNoBuffer);
        for (const EncodedRun& run : b.encoded) {
            for (size_t k = 0, at = 0; k < run.lengths.size(); at += run.lengths[k++], ++written) {
                if (CStatus recorded = RecordStrip(written, run.lengths[k]); !recorded) return recorded;
                File.Write(run.Strip(k, at), run.lengths[k]);
            }
        }
        b.strips = 0;
        return CStatus::Ok();
    };
    uint32_t turn = 0;
    for (uint32_t s = 0, done = 0; s < StripTotal; turn ^= 1) {
        StripBatch<Encoder>& b = batches[turn];
        b.strips = std::min(batchStrips, StripTotal - s);
        b.rowCount = std::min(b.strips * stripRows, Height - done);
        for (uint32_t i = 0; i < b.rowCount; ++i) {
            for (uint32_t c = 0; c < samples; ++c)
                if (!(planes[c] = rows.Row(c))) return StreamFailure(rows);
            rastik::JoinSamples(planes, Width, samples, b.rows.data() + i * rowBytes);
            if (!rows.Advance()) return StreamFailure(rows);
        }
        b.Start(pool, shelf, stripRows, rowBytes);
        s += b.strips;
        done += b.rowCount;
        if (StripBatch<Encoder>& before = batches[turn ^ 1]; before.strips > 0)
            if (CStatus w = write(before); !w) return w;
    }
    if (StripBatch<Encoder>& last = batches[turn ^ 1]; last.strips > 0)
        if (CStatus w = write(last); !w) return w;
    return rows.Finish() == CPlaneRowStream::kDone ? CStatus::Ok() : StreamFailure(rows);
}

void CTiffIO::DeleteOutput()
{
    if (!File.IsOpen()) return;
    std::string path = File.GetFilePath();
    File.Abort();
    if (!path.empty()) DeleteFile(path.c_str());
}
