// libjpeg runs of the JPEG codec: decompression of a file range into
// scanlines and compression of RGB scanlines into memory, with an error exit
// that reports libjpeg's message and jumps back to the run's recovery point.
#include "rastik/jpeg/CJpgIORun.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

#include "platform/MessageSink.h"
#include "rastik/jpeg/CJpegFileSource.h"
#include "rastik/jpeg/CJpegMemoryDestination.h"
#include "rastik/jpeg/JpegMarkers.h"

namespace {

// Memory libjpeg may take for whole-image buffers (progressive and
// multi-scan files); a file that needs more fails instead of exhausting
// memory.
constexpr long kMaxDecoderMemory = 512L * 1024L * 1024L;
// Output pixels a single-scan file may still decode once its data has run
// out, before the rows left are taken as repeats of the last one even though
// they have not settled. An arithmetic-coded scan's last bytes can stand for
// many more blocks (its decoder reads zeros past the end), so the tail is not
// cut at once; but zeros can also decode into rows that never settle, and a
// few hundred bytes declaring 65500 x 65500 pixels would then take as long as
// a real image of that size.
constexpr uint64_t kMaxPixelsAfterDataEnd = 64ull << 20;
// Scans a progressive file may have; hostile files with thousands of tiny
// scans would otherwise take very long to decode.
constexpr int kMaxScans = 1000;

// Messages of this codec in libjpeg's message table.
constexpr int kMsgTooManyScans = 1000;
const char* const kAddonMessages[] = {"JPEG file has more than %d scans", nullptr};

// The recovery point lies directly behind the error manager, so the error
// exit finds it from the manager's address.
struct ErrorManager {
    jpeg_error_mgr pub;
    jmp_buf recovery;
    bool show;
};

// libjpeg's messages go to the message sink, without an id of the table.
void OutputMessage(j_common_ptr cinfo)
{
    ErrorManager* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (!err->show) return;
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    ShowMessage(0, text);
}

[[noreturn]] void ErrorExit(j_common_ptr cinfo)
{
    (*cinfo->err->output_message)(cinfo);
    ErrorManager* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    longjmp(err->recovery, 1);
}

void LimitScans(j_common_ptr cinfo)
{
    if (!cinfo->is_decompressor) return;
    auto* dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (dinfo->input_scan_number > kMaxScans) {
        cinfo->err->msg_code = kMsgTooManyScans;
        cinfo->err->msg_parm.i[0] = kMaxScans;
        (*cinfo->err->error_exit)(cinfo);
    }
}

// Sets up err as jpeg_std_error does, with this run's exits and messages,
// and returns what the run's cinfo.err is to point to.
jpeg_error_mgr* InstallErrorManager(ErrorManager* err, bool show)
{
    jpeg_std_error(&err->pub);
    err->show = show;
    err->pub.error_exit = ErrorExit;
    err->pub.output_message = OutputMessage;
    err->pub.addon_message_table = kAddonMessages;
    err->pub.first_addon_message = kMsgTooManyScans;
    err->pub.last_addon_message = kMsgTooManyScans;
    return &err->pub;
}

struct DecompressRun {
    ErrorManager err;
    jpeg_decompress_struct cinfo;
    jpeg_progress_mgr progress;
    CJpegFileSource* source;
};

void ReportHead(const jpeg_decompress_struct& cinfo, JpegHead* head)
{
    head->Width = cinfo.image_width;
    head->Height = cinfo.image_height;
    head->Components = static_cast<uint32_t>(cinfo.num_components);
    head->DensityUnit = cinfo.density_unit;
    head->XDensity = cinfo.X_density;
    head->YDensity = cinfo.Y_density;
    uint64_t blocks = 0;
    if (!cinfo.arith_code && !cinfo.progressive_mode && cinfo.comp_info) {
        for (int c = 0; c < cinfo.num_components; ++c)
            blocks += static_cast<uint64_t>(cinfo.comp_info[c].width_in_blocks) * cinfo.comp_info[c].height_in_blocks;
    }
    head->LeastDataBytes = (blocks + 7) / 8;
}

// True once libjpeg's entropy decoder met a marker after which the scan
// gives only blocks without coefficients to its end. Without restart
// intervals every marker ends it. With them, libjpeg resynchronises at a
// restart marker, and skips a marker below SOF0 to search for one; any
// other marker stays unread and every segment after it decodes empty.
bool ScanDataEnded(const jpeg_decompress_struct& cinfo)
{
    const int marker = cinfo.unread_marker;
    if (marker == 0) return false;
    if (cinfo.restart_interval == 0) return true;
    using namespace jpegmarker;
    return marker >= Code(kSof0) && !(marker >= Code(kRst0) && marker <= Code(kRst7));
}

// Everything between the recovery point and the end of the run lives in run;
// the frame holds only plain values.
int Decompress(DecompressRun* run, JpegHead* head, JpegRowSink* sink, bool show)
{
    run->cinfo.err = InstallErrorManager(&run->err, show);
    if (setjmp(run->err.recovery)) {
        jpeg_destroy_decompress(&run->cinfo);
        return kJpegRunFailed;
    }
    jpeg_create_decompress(&run->cinfo);
    run->cinfo.mem->max_memory_to_use = kMaxDecoderMemory;
    run->progress.progress_monitor = LimitScans;
    run->cinfo.progress = &run->progress;
    run->source->Attach(&run->cinfo);
    jpeg_read_header(&run->cinfo, TRUE);
    ReportHead(run->cinfo, head);
    if (!sink) {
        jpeg_destroy_decompress(&run->cinfo);
        return kJpegRunDone;
    }

    jpeg_start_decompress(&run->cinfo);
    JpegHead output;
    output.Width = run->cinfo.output_width;
    output.Height = run->cinfo.output_height;
    output.Components = static_cast<uint32_t>(run->cinfo.output_components);
    if (!sink->Start(output)) {
        jpeg_destroy_decompress(&run->cinfo);
        return kJpegRunFailed;
    }
    const size_t rowBytes = static_cast<size_t>(output.Width) * output.Components;
    JSAMPARRAY line = (*run->cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&run->cinfo), JPOOL_IMAGE,
                                                       static_cast<JDIMENSION>(rowBytes), 2);
    // When the data of a single-scan file runs out (the file ends, or the
    // entropy decoder met a marker that ends the scan), libjpeg goes on with
    // blocks without coefficients: a flat grey. Once two whole MCU rows came
    // out unchanged, every row left is that row; rows that do not settle
    // (arithmetic coding) are decoded up to kMaxPixelsAfterDataEnd.
    const bool oneScan = !jpeg_has_multiple_scans(&run->cinfo);
    const uint32_t settle = 2u * static_cast<uint32_t>(run->cinfo.max_v_samp_factor * run->cinfo.min_DCT_scaled_size);
    uint32_t unchanged = 0;
    uint64_t pixelsAfterEnd = 0;
    while (run->cinfo.output_scanline < run->cinfo.output_height) {
        uint32_t row = run->cinfo.output_scanline;
        if (jpeg_read_scanlines(&run->cinfo, &line[row & 1], 1) != 1) break;
        bool go = sink->Row(line[row & 1], row);
        if (go && oneScan && (run->source->Exhausted() || ScanDataEnded(run->cinfo))) {
            unchanged = row > 0 && memcmp(line[0], line[1], rowBytes) == 0 ? unchanged + 1 : 0;
            pixelsAfterEnd += output.Width;
            if (unchanged >= settle || pixelsAfterEnd > kMaxPixelsAfterDataEnd) {
                go = sink->Repeat(line[row & 1], row + 1, output.Height - row - 1);
                if (go) break;
            }
        }
        if (!go) {
            jpeg_destroy_decompress(&run->cinfo);
            return kJpegRunStopped;
        }
    }
    // The image is not finished formally: trailing data is of no interest.
    jpeg_destroy_decompress(&run->cinfo);
    return kJpegRunDone;
}

struct CompressRun {
    ErrorManager err;
    jpeg_compress_struct cinfo;
    CJpegMemoryDestination* out;
    uint8_t* line;
};

int Compress(CompressRun* run, uint32_t width, uint32_t height, int quality, JpegRowSource* source, bool show)
{
    run->cinfo.err = InstallErrorManager(&run->err, show);
    if (setjmp(run->err.recovery)) {
        jpeg_destroy_compress(&run->cinfo);
        return kJpegRunFailed;
    }
    jpeg_create_compress(&run->cinfo);
    run->out->Attach(&run->cinfo);
    run->cinfo.image_width = width;
    run->cinfo.image_height = height;
    run->cinfo.input_components = 3;
    run->cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&run->cinfo);
    jpeg_set_quality(&run->cinfo, quality, TRUE);
    jpeg_start_compress(&run->cinfo, TRUE);
    JSAMPROW rows[1] = {run->line};
    while (run->cinfo.next_scanline < run->cinfo.image_height) {
        if (!source->Row(run->line, run->cinfo.next_scanline)) {
            jpeg_destroy_compress(&run->cinfo);
            return kJpegRunStopped;
        }
        jpeg_write_scanlines(&run->cinfo, rows, 1);
    }
    jpeg_finish_compress(&run->cinfo);
    jpeg_destroy_compress(&run->cinfo);
    return kJpegRunDone;
}

}  // namespace

int RunJpegDecompress(CFile& file, uint64_t start, uint64_t length, JpegHead* head, JpegRowSink* sink,
                      bool showMessages)
{
    if (!head || !file.IsOpen()) return kJpegRunFailed;
    DecompressRun* run = static_cast<DecompressRun*>(calloc(1, sizeof(DecompressRun)));
    if (!run) return kJpegRunFailed;
    CJpegFileSource source(file, start, length);
    run->source = &source;
    int result = Decompress(run, head, sink, showMessages);
    free(run);
    return result;
}

int RunJpegCompress(CJpegMemoryDestination& out, uint32_t width, uint32_t height, int quality,
                    JpegRowSource* source, bool showMessages)
{
    if (!source || width == 0 || height == 0 || width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION)
        return kJpegRunFailed;
    CompressRun* run = static_cast<CompressRun*>(calloc(1, sizeof(CompressRun)));
    if (!run) return kJpegRunFailed;
    run->line = static_cast<uint8_t*>(calloc(static_cast<size_t>(width) * 3, 1));
    run->out = &out;
    int result = run->line ? Compress(run, width, height, quality, source, showMessages) : kJpegRunFailed;
    free(run->line);
    free(run);
    return result;
}
