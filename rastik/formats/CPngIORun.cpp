// libpng runs of the PNG codec: reading the header and rows of a file, with
// error and warning handlers that report libpng's text to the message sink
// and jump back to the run's recovery point.
#include "rastik/formats/CPngIORun.h"

#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include <png.h>

#include "platform/MessageSink.h"
#include "rastik/CRastik.h"
#include "rastik/formats/CPngFileIo.h"

namespace {

constexpr PngColorType kColorTypes[] = {
    {PNG_COLOR_TYPE_GRAY, kModeGrey, 1, 1},      {PNG_COLOR_TYPE_RGB, kModeRgb, 3, 3},
    {PNG_COLOR_TYPE_PALETTE, kModeIndexed, 1, 1}, {PNG_COLOR_TYPE_GRAY_ALPHA, kModeGrey, 2, 1},
    {PNG_COLOR_TYPE_RGB_ALPHA, kModeRgb, 4, 3},
};

// Ancillary chunks the codec reads; libpng passes over all others unread
// (text, colour profiles), so compressed ones cannot cost time or memory.
const png_byte kChunksRead[] = {'p', 'H', 'Y', 's', '\0'};

// What the handlers find through libpng's error pointer.
struct Messages {
    bool show;
};

void Warning(png_structp png, png_const_charp text)
{
    auto* m = static_cast<Messages*>(png_get_error_ptr(png));
    if (m && m->show) ShowMessage(0, text);
}

[[noreturn]] void Error(png_structp png, png_const_charp text)
{
    Warning(png, text);
    png_longjmp(png, 1);
}

// Everything a read run needs lives here, so the frame that sets the
// recovery point holds only plain values.
struct ReadRun {
    Messages messages;
    png_structp png;
    png_infop info;
    CPngFileIo* input;
    png_bytep row;
    bool rowsDone;
};

void ReportHead(png_structp png, png_infop info, PngHead* head)
{
    png_uint_32 width = 0, height = 0;
    int depth = 0, colorType = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colorType, &interlace, nullptr, nullptr);
    head->Width = width;
    head->Height = height;
    head->BitDepth = static_cast<uint32_t>(depth);
    head->ColorType = static_cast<uint32_t>(colorType);
    head->Channels = png_get_channels(png, info);
    head->Interlace = interlace == PNG_INTERLACE_ADAM7 ? 1 : 0;
    png_colorp palette = nullptr;
    int entries = 0;
    head->PaletteEntries = 0;
    if (png_get_PLTE(png, info, &palette, &entries) && palette && entries > 0) {
        head->PaletteEntries = entries > 256 ? 256 : static_cast<uint32_t>(entries);
        for (uint32_t i = 0; i < head->PaletteEntries; ++i) {
            head->Palette[3 * i] = palette[i].red;
            head->Palette[3 * i + 1] = palette[i].green;
            head->Palette[3 * i + 2] = palette[i].blue;
        }
    }
    png_uint_32 x = 0, y = 0;
    int unit = 0;
    head->HasPixelSize = png_get_pHYs(png, info, &x, &y, &unit) != 0;
    head->PixelSizeInMetres = head->HasPixelSize && unit == PNG_RESOLUTION_METER;
    head->XPixelsPerUnit = x;
    head->YPixelsPerUnit = y;
}

// Samples of one byte each: 16 bits to their high byte, low-depth grey
// scaled to 8 bits, low-depth palette indexes unpacked; libpng combines the
// passes of an interlaced image.
void SetByteSamples(png_structp png, const PngHead& head)
{
    if (head.BitDepth == 16) png_set_strip_16(png);
    if (head.BitDepth < 8) {
        if (head.ColorType == PNG_COLOR_TYPE_GRAY)
            png_set_expand_gray_1_2_4_to_8(png);
        else
            png_set_packing(png);
    }
}

int FinishRead(ReadRun* run, int result)
{
    png_destroy_read_struct(&run->png, &run->info, nullptr);
    return result;
}

int Read(ReadRun* run, PngHead* head, PngRowSink* sink)
{
    run->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &run->messages, Error, Warning);
    if (!run->png) return kPngRunFailed;
    run->info = png_create_info_struct(run->png);
    if (!run->info) return FinishRead(run, kPngRunFailed);
    if (setjmp(png_jmpbuf(run->png))) {
        // An error after the last row (in the chunks that follow) leaves the
        // image complete.
        return FinishRead(run, run->rowsDone ? kPngRunDone : kPngRunFailed);
    }
    png_set_keep_unknown_chunks(run->png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_set_keep_unknown_chunks(run->png, PNG_HANDLE_CHUNK_AS_DEFAULT, kChunksRead, 1);
    run->input->AttachRead(run->png);
    png_read_info(run->png, run->info);
    ReportHead(run->png, run->info, head);
    if (!sink) return FinishRead(run, kPngRunDone);

    SetByteSamples(run->png, *head);
    int passes = png_set_interlace_handling(run->png);
    png_read_update_info(run->png, run->info);
    size_t rowBytes = png_get_rowbytes(run->png, run->info);
    if (rowBytes != static_cast<size_t>(head->Width) * head->Channels || !sink->Start(*head))
        return FinishRead(run, kPngRunFailed);
    run->row = static_cast<png_bytep>(calloc(rowBytes, 1));
    if (!run->row) return FinishRead(run, kPngRunFailed);
    for (int pass = 0; pass < passes; ++pass) {
        for (uint32_t y = 0; y < head->Height; ++y) {
            png_read_row(run->png, run->row, nullptr);
            if (head->Interlace && !PngPasses::RowHasPixels(y, static_cast<uint32_t>(pass), head->Width)) continue;
            if (!sink->Row(run->row, y, static_cast<uint32_t>(pass))) return FinishRead(run, kPngRunStopped);
            if (sink->Done()) return FinishRead(run, kPngRunDone);
        }
    }
    run->rowsDone = true;
    png_read_end(run->png, nullptr);
    return FinishRead(run, kPngRunDone);
}

}  // namespace

const PngColorType* PngColorType::Of(uint32_t colorType)
{
    for (const PngColorType& t : kColorTypes)
        if (t.ColorType == colorType) return &t;
    return nullptr;
}

const PngColorType* PngColorType::For(uint32_t mode, uint32_t channels)
{
    for (const PngColorType& t : kColorTypes)
        if (t.Mode == mode && t.Channels == channels) return &t;
    return nullptr;
}

uint32_t PngPasses::RowStart(uint32_t pass)
{
    return PNG_PASS_START_ROW(pass);
}

uint32_t PngPasses::RowStep(uint32_t pass)
{
    return 1u << PNG_PASS_ROW_SHIFT(pass);
}

uint32_t PngPasses::ColumnStart(uint32_t pass)
{
    return PNG_PASS_START_COL(pass);
}

uint32_t PngPasses::ColumnStep(uint32_t pass)
{
    return 1u << PNG_PASS_COL_SHIFT(pass);
}

bool PngPasses::RowHasPixels(uint32_t row, uint32_t pass, uint32_t width)
{
    return PNG_ROW_IN_INTERLACE_PASS(row, pass) && PNG_PASS_COLS(width, pass) > 0;
}

uint64_t PngPasses::RowVisits(uint32_t width, uint32_t height, bool interlaced)
{
    if (!interlaced) return height;
    uint64_t visits = 0;
    for (uint32_t pass = 0; pass < 7; ++pass)
        if (PNG_PASS_COLS(width, pass) > 0) visits += PNG_PASS_ROWS(static_cast<uint64_t>(height), pass);
    return visits;
}

int RunPngRead(CPngFileIo& input, PngHead* head, PngRowSink* sink, bool showMessages)
{
    if (!head) return kPngRunFailed;
    auto* run = static_cast<ReadRun*>(calloc(1, sizeof(ReadRun)));
    if (!run) return kPngRunFailed;
    run->messages.show = showMessages;
    run->input = &input;
    int result = Read(run, head, sink);
    free(run->row);
    free(run);
    return result;
}
