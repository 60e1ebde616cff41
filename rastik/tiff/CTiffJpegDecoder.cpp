// libjpeg runs over TIFF strips in memory. Every entry point that calls
// libjpeg sets the recovery point its error exit jumps back to; the frames
// it jumps over are libjpeg's and hold nothing of ours. The decompression
// object lives as long as the decoder, so the tables read once serve every
// strip.
#include "rastik/tiff/CTiffJpegDecoder.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>

namespace {

// Memory libjpeg may take (progressive streams buffer the whole frame), and
// the scans a stream may have.
constexpr long kMaxMemory = 512L * 1024L * 1024L;
constexpr int kMaxScans = 1000;
const JOCTET kEndOfImage[2] = {0xFF, 0xD9};

}  // namespace

struct TiffJpegState {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    jmp_buf recovery;
    jpeg_source_mgr source;
    jpeg_progress_mgr progress;
    bool created = false;
    std::vector<uint8_t> scratch;

    static TiffJpegState* Of(j_common_ptr cinfo) { return static_cast<TiffJpegState*>(cinfo->client_data); }

    [[noreturn]] static void ErrorExit(j_common_ptr cinfo) { longjmp(Of(cinfo)->recovery, 1); }
    static void Silent(j_common_ptr) {}
    static void LimitScans(j_common_ptr cinfo)
    {
        auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
        if (d->input_scan_number > kMaxScans) longjmp(Of(cinfo)->recovery, 1);
    }

    static void InitSource(j_decompress_ptr) {}
    // Data that ends early reads as an end of image.
    static boolean Fill(j_decompress_ptr cinfo)
    {
        cinfo->src->next_input_byte = kEndOfImage;
        cinfo->src->bytes_in_buffer = sizeof kEndOfImage;
        return TRUE;
    }
    static void Skip(j_decompress_ptr cinfo, long count)
    {
        if (count <= 0) return;
        if (static_cast<size_t>(count) > cinfo->src->bytes_in_buffer) {
            Fill(cinfo);
            return;
        }
        cinfo->src->next_input_byte += count;
        cinfo->src->bytes_in_buffer -= static_cast<size_t>(count);
    }
    static void TermSource(j_decompress_ptr) {}

    void Point(const uint8_t* data, size_t size)
    {
        source.next_input_byte = data;
        source.bytes_in_buffer = data ? size : 0;
    }
};

CTiffJpegDecoder::CTiffJpegDecoder(uint32_t photometric, uint32_t samplesPerPixel, const uint8_t* tables,
                                   size_t tablesSize, bool keepYCbCr)
    : m_state(std::make_unique<TiffJpegState>()), m_photometric(photometric), m_keepYCbCr(keepYCbCr && photometric == 6)
{
    bool grey = (photometric == 0 || photometric == 1) && (samplesPerPixel == 1 || samplesPerPixel == 2);
    bool colour = (photometric == 2 && (samplesPerPixel == 3 || samplesPerPixel == 4)) ||
                  (photometric == 6 && samplesPerPixel == 3);
    bool cmyk = photometric == 5 && samplesPerPixel == 4;
    if (!grey && !colour && !cmyk) return;
    m_samples = samplesPerPixel;
    TiffJpegState* s = m_state.get();
    s->cinfo.err = jpeg_std_error(&s->err);
    s->err.error_exit = TiffJpegState::ErrorExit;
    s->err.output_message = TiffJpegState::Silent;
    s->cinfo.client_data = s;
    if (setjmp(s->recovery)) return;
    jpeg_create_decompress(&s->cinfo);
    s->created = true;
    s->cinfo.mem->max_memory_to_use = kMaxMemory;
    s->progress.progress_monitor = TiffJpegState::LimitScans;
    s->cinfo.progress = &s->progress;
    s->source.init_source = TiffJpegState::InitSource;
    s->source.fill_input_buffer = TiffJpegState::Fill;
    s->source.skip_input_data = TiffJpegState::Skip;
    s->source.resync_to_restart = jpeg_resync_to_restart;
    s->source.term_source = TiffJpegState::TermSource;
    s->cinfo.src = &s->source;
    m_ok = !tables || tablesSize == 0 || ReadTables(tables, tablesSize);
}

CTiffJpegDecoder::~CTiffJpegDecoder()
{
    if (m_state->created) jpeg_destroy_decompress(&m_state->cinfo);
}

// The tables stream: SOI, table segments, EOI.
bool CTiffJpegDecoder::ReadTables(const uint8_t* tables, size_t size)
{
    TiffJpegState* s = m_state.get();
    if (setjmp(s->recovery)) {
        jpeg_abort_decompress(&s->cinfo);
        return false;
    }
    s->Point(tables, size);
    int kind = jpeg_read_header(&s->cinfo, FALSE);
    return kind == JPEG_HEADER_TABLES_ONLY || kind == JPEG_HEADER_OK;
}

void CTiffJpegDecoder::Abort()
{
    if (m_state->created) jpeg_abort_decompress(&m_state->cinfo);
    m_started = false;
}

bool CTiffJpegDecoder::Start(const uint8_t* data, size_t size, uint32_t width, uint32_t height)
{
    if (!m_ok) return false;
    Abort();
    m_rows = m_next = 0;
    m_width = width;
    TiffJpegState* s = m_state.get();
    jpeg_decompress_struct& c = s->cinfo;
    if (setjmp(s->recovery)) {
        Abort();
        return false;
    }
    s->Point(data, size);
    if (jpeg_read_header(&c, TRUE) != JPEG_HEADER_OK) return false;
    if (c.image_width != width || c.image_height == 0 || c.image_height > height ||
        static_cast<uint32_t>(c.num_components) != m_samples || c.data_precision != 8)
        return false;
    // Colour as the directory says, not as markers would have it.
    if (m_samples == 1) {
        c.jpeg_color_space = c.out_color_space = JCS_GRAYSCALE;
    } else if (m_photometric == 6 || (m_photometric == 2 && m_samples == 3)) {
        c.jpeg_color_space = m_photometric == 6 ? JCS_YCbCr : JCS_RGB;
        c.out_color_space = m_keepYCbCr ? JCS_YCbCr : JCS_RGB;
        // Chroma repeated over its unit, not interpolated.
        if (m_keepYCbCr) c.do_fancy_upsampling = FALSE;
    } else if (m_photometric == 5) {
        c.out_color_space = JCS_CMYK;
    } else {
        // Colour or grey with extra samples (alpha): every component as stored.
        c.jpeg_color_space = c.out_color_space = JCS_UNKNOWN;
    }
    m_invert = m_photometric == 5 && c.saw_Adobe_marker;
    jpeg_start_decompress(&c);
    if (static_cast<uint32_t>(c.output_components) != m_samples) {
        Abort();
        return false;
    }
    s->scratch.resize(static_cast<size_t>(width) * m_samples);
    m_rows = c.output_height;
    m_started = true;
    return true;
}

bool CTiffJpegDecoder::Decode(uint8_t* row)
{
    TiffJpegState* s = m_state.get();
    if (setjmp(s->recovery)) {
        Abort();
        return false;
    }
    JSAMPROW line = row;
    if (jpeg_read_scanlines(&s->cinfo, &line, 1) != 1) return false;
    if (m_invert)
        for (size_t i = 0; i < static_cast<size_t>(m_width) * m_samples; ++i) row[i] = static_cast<uint8_t>(255 - row[i]);
    return true;
}

bool CTiffJpegDecoder::DecodeRow(uint8_t* row)
{
    bool ok = m_started && m_next < m_rows && Decode(row);
    if (!ok && m_width) memset(row, 0, static_cast<size_t>(m_width) * m_samples);
    ++m_next;
    return ok;
}

bool CTiffJpegDecoder::SkipRow()
{
    if (!m_started || m_next >= m_rows) {
        ++m_next;
        return false;
    }
    ++m_next;
    return Decode(m_state->scratch.data());
}
