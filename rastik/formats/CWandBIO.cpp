// Black-and-white writer: whole-image writing through a chunked staging
// buffer, packing of 8-bit rows into 1-bit rows by error diffusion, the
// histogram threshold and the share setting.
#include "rastik/CWandBIO.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/CFileException.h"
#include "rastik/Exports.h"
#include "rastik/General.h"
#include "rastik/Messages.h"
#include "rastik/core/COperation.h"
#include "rastik/core/COutputRows.h"
#include "rastik/core/CPlaneRowStream.h"

namespace {
// A pixel's 8-bit value (plus carried error) below this becomes black.
constexpr int kBlackBelow = 128;
constexpr int kThresholdLow = 55;
constexpr int kThresholdHigh = 235;

inline uint32_t PackedRowBytes(uint32_t width)
{
    return (width + 7) / 8;
}
}  // namespace

CWandBIO::CWandBIO(const char* path)
{
    Path = path;
}

CWandBIO::~CWandBIO() = default;

int CWandBIO::WriteQorHeader()
{
    return 1;
}

void CWandBIO::SetBlackPer(float share)
{
    // Comparisons with a value that is not a number are false: 0.5 as well.
    BlackPer = (share >= 0.0f && share <= 1.0f) ? share : 0.5f;
}

uint8_t CWandBIO::GetThresholdValue(uint8_t* rows, uint32_t rowCount, uint32_t width)
{
    uint64_t histogram[256] = {};
    uint64_t total = rows ? static_cast<uint64_t>(rowCount) * width : 0;
    for (uint64_t i = 0; i < total; ++i) ++histogram[rows[i]];
    float target = std::isnan(BlackPer) ? 0.5f : BlackPer;
    // Shares of an empty image are all 0, so the last level wins as for one value.
    float all = total ? static_cast<float>(total) : 1.0f;
    uint64_t cumulative = 0;
    float best = INFINITY;
    int threshold = 0;
    for (int v = 0; v < 256; ++v) {
        cumulative += histogram[v];
        float share = static_cast<float>(cumulative) / all;
        float distance = std::fabs(target - share);
        if (distance <= best) {  // the later level wins a tie
            best = distance;
            threshold = v;
        }
    }
    if (threshold < kThresholdLow) threshold = kThresholdLow;
    if (threshold > kThresholdHigh) threshold = kThresholdHigh;
    return static_cast<uint8_t>(threshold);
}

// Error diffusion: 7/16 to the right, 3/16, 5/16 and 1/16 to the row below,
// integer division truncating toward zero, two 16-bit error rows.
int CWandBIO::Diffuse(const uint8_t* rows, size_t stride, int width, int rowCount, uint8_t* out,
                      int16_t* carried, bool moreRowsFollow)
{
    if (!rows || !out) return 0;
    if (width <= 0 || rowCount <= 0) return 1;
    size_t w = static_cast<size_t>(width);
    size_t packed = PackedRowBytes(static_cast<uint32_t>(width));
    auto* errors = static_cast<int16_t*>(calloc(2 * w, sizeof(int16_t)));
    if (!errors) return 0;
    int16_t* cur = errors;
    int16_t* next = errors + w;
    if (carried) memcpy(cur, carried, w * sizeof(int16_t));
    for (int y = 0; y < rowCount; ++y) {
        const uint8_t* row = rows + static_cast<size_t>(y) * stride;
        uint8_t* o = out + static_cast<size_t>(y) * packed;
        bool hasNext = y + 1 < rowCount || moreRowsFollow;
        for (size_t x = 0; x < w; ++x) {
            int g = row[x] + cur[x];
            int e;
            if (g < kBlackBelow) {
                o[x / 8] = static_cast<uint8_t>(o[x / 8] & ~(0x80u >> (x % 8)));
                e = g;
            } else {
                e = g - 255;
            }
            if (x + 1 < w) cur[x + 1] = static_cast<int16_t>(cur[x + 1] + 7 * e / 16);
            if (!hasNext) continue;
            if (x >= 1) next[x - 1] = static_cast<int16_t>(next[x - 1] + 3 * e / 16);
            next[x] = static_cast<int16_t>(next[x] + 5 * e / 16);
            if (x + 1 < w) next[x + 1] = static_cast<int16_t>(next[x + 1] + e / 16);
        }
        memset(cur, 0, w * sizeof(int16_t));
        int16_t* t = cur;
        cur = next;
        next = t;
    }
    if (carried) memcpy(carried, cur, w * sizeof(int16_t));
    free(errors);
    return 1;
}

int CWandBIO::ModeConvert2Bmp(uint8_t* rows, int width, int rowCount, uint8_t* out, int method)
{
    if (!rows || !out || method != 2 || width <= 0 || width > 0x1FFFFFFF) return 0;
    return Diffuse(rows, BytesPerRow(static_cast<uint32_t>(width) * 8), width, rowCount, out, nullptr,
                   false);
}

uint8_t* CWandBIO::AllocPacked(uint32_t rowCount, uint32_t width, uint32_t* size)
{
    if (rowCount == 0 || width == 0 || rowCount > static_cast<uint32_t>(INT32_MAX)) return nullptr;
    uint64_t bytes = static_cast<uint64_t>(rowCount) * PackedRowBytes(width);
    if (bytes > 0xFFFFFFFFull) return nullptr;
    auto* out = static_cast<uint8_t*>(malloc(static_cast<size_t>(bytes)));
    if (!out) return nullptr;
    memset(out, 255, static_cast<size_t>(bytes));
    if (size) *size = static_cast<uint32_t>(bytes);
    return out;
}

uint8_t* CWandBIO::ChtoW_and_B(uint8_t* rows, uint32_t rowCount, uint32_t width, uint32_t* size)
{
    if (!rows || width > 0x1FFFFFFFu) return nullptr;
    uint32_t bytes = 0;
    uint8_t* out = AllocPacked(rowCount, width, &bytes);
    if (!out) return nullptr;
    if (!ModeConvert2Bmp(rows, static_cast<int>(width), static_cast<int>(rowCount), out, 2)) {
        free(out);
        return nullptr;
    }
    if (size) *size = bytes;
    return out;
}

// First palette entry that is pure white; 1 when there is none.
uint8_t CWandBIO::WhiteIndex() const
{
    if (Palette) {
        for (uint32_t i = 0; i < PaletteSize && i < 256; ++i) {
            const uint8_t* p = Palette + 4 * i;
            if (p[0] == 255 && p[1] == 255 && p[2] == 255) return static_cast<uint8_t>(i);
        }
    }
    return 1;
}

void CWandBIO::AppendPacked(const uint8_t* packed, uint32_t size)
{
    File.SeekToEnd();
    File.Write(packed, size);
    File.Flush();
}

// Fills n output rows (stride apart) from the stream, the lowest plane row
// first; stops on Esc or a failed read.
CStatus CWandBIO::StageChunk(CPlaneRowStream& rows, uint8_t* outRows, uint32_t stride, uint32_t n)
{
    const bool bitmap = ColorMode == kModeBitmap;
    const uint8_t white = bitmap ? WhiteIndex() : 0;
    for (uint32_t r = 0; r < n; ++r) {
        const uint8_t* src = rows.Row(0);
        if (!src) return rows.Status() ? CStatus::Failed() : rows.Status();
        uint8_t* dst = outRows + static_cast<size_t>(r) * stride;
        if (bitmap) {
            for (uint32_t x = 0; x < Width; ++x) dst[x] = src[x] == white ? 255 : 0;
        } else {
            memcpy(dst, src, Width);
        }
        if (!rows.Advance()) return rows.Status();
    }
    return CStatus::Ok();
}

int CWandBIO::WriteFile()
{
    COperation op(*this, COperation::kWrite);
    return op.Run([&] { return WriteRows(); });
}

CStatus CWandBIO::WriteRows()
{
    // One colour channel of 8-bit samples: grey values or bitmap indexes (a
    // host that set only ChannelCount for a bitmap has that one channel too).
    uint32_t channels = ColorChannels ? ColorChannels : ChannelCount;
    if (Width == 0 || Height == 0 || channels != 1 || BytesPerLine < Width) return CStatus::Failed();
    if (Width > 0x1FFFFFFFu) return CStatus::Failed();
    uint32_t stride = BytesPerRow(Width * 8);
    if (BytesPerLine > stride) stride = BytesPerLine;
    CPlaneRowStream rows(*this, CPlaneRowStream::kDrain, CPlaneRowStream::kBottomUp, 1);
    rows.LeaveMessagesToStatus();
    if (!rows.Open()) return rows.Status() ? CStatus::Failed() : rows.Status();
    // The 8-bit rows of one chunk, diffused and appended together.
    COutputRows outRows;
    if (CStatus s = outRows.Take(stride, Height); !s) return s;
    uint32_t perChunk = outRows.Rows();
    // The error handed from the top row of a chunk to the next chunk.
    std::vector<int16_t> carried(Width);
    for (uint32_t done = 0; done < Height;) {
        uint32_t n = std::min(perChunk, Height - done);
        if (CStatus s = StageChunk(rows, outRows.Data(), stride, n); !s) return s;
        done += n;
        if (CStatus s = WriteChunk(outRows.Data(), stride, n, carried.data(), done < Height); !s) return s;
    }
    rows.Finish();
    return rows.Status();
}

// Packs the chunk's rows and appends them at the end of the file.
CStatus CWandBIO::WriteChunk(const uint8_t* outRows, uint32_t stride, uint32_t rows, int16_t* carried,
                             bool moreRowsFollow)
{
    uint32_t size = 0;
    std::unique_ptr<uint8_t, decltype(&free)> packed(AllocPacked(rows, Width, &size), &free);
    if (!packed) return CStatus::Failed();
    if (!Diffuse(outRows, stride, static_cast<int>(Width), static_cast<int>(rows), packed.get(), carried,
                 moreRowsFollow))
        return CStatus::Failed();
    if (WithQorHeader && !WriteQorHeader()) return CStatus::Failed();
    AppendPacked(packed.get(), size);
    return CStatus::Ok();
}
