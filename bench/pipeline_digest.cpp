// Prints a digest line for every read and write the codecs do with each
// input image: the header, whole reads into heap and spilled planes (with the
// smallest staging grants), reduced reads, previews, whole and streamed
// writes in every format that writes, the embedded thumbnail and whole-file
// conversions (one of them quantizing into a GIF). Two builds that print the
// same lines read and write every byte the same; bench/pipeline_identical.sh
// compares them, also across thread counts (RASTIK_THREADS).
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "rastik/rastik.h"

namespace {

uint64_t Fnv(const uint8_t* data, size_t n, uint64_t h = 1469598103934665603ull)
{
    for (size_t i = 0; i < n; ++i) h = (h ^ data[i]) * 1099511628211ull;
    return h;
}

std::vector<uint8_t> FileBytes(const std::string& path)
{
    std::vector<uint8_t> bytes;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return bytes;
    uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    fclose(f);
    return bytes;
}

void Line(const std::string& name, const std::string& op, int result, uint64_t digest)
{
    printf("%s %s %d %016llx\n", name.c_str(), op.c_str(), result, static_cast<unsigned long long>(digest));
}

void FileLine(const std::string& name, const std::string& op, int result, const std::string& path)
{
    std::vector<uint8_t> bytes = FileBytes(path);
    Line(name, op, result, Fnv(bytes.data(), bytes.size(), bytes.size()));
    remove(path.c_str());
}

std::unique_ptr<CRastik> OpenCodec(const std::string& path)
{
    std::unique_ptr<CRastik> codec(NewRastikInstance(DetectFileType(path.c_str()), path.c_str()));
    if (!codec) return nullptr;
    if (!codec->File.Open(path.c_str(), CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary)) return nullptr;
    return codec;
}

uint64_t PlaneDigest(CRastik& image)
{
    uint64_t h = Fnv(nullptr, 0);
    std::vector<uint8_t> row(image.BytesPerLine);
    for (uint32_t c = 0; c < image.ChannelCount; ++c)
        for (uint32_t r = 0; r < image.Height; ++r) {
            if (!image.ReadPlaneRow(c, r, row.data())) return 0;
            h = Fnv(row.data(), image.Width, h);
        }
    return h;
}

uint64_t HeadDigest(const CRastik& c)
{
    char text[256];
    snprintf(text, sizeof text, "%u %u %.4f %.4f %u %u %u %u %u %u %u", c.Width, c.Height, c.XResolution,
             c.YResolution, c.ResolutionUnit, c.ColorMode, c.BitsPerChannel, c.ChannelCount, c.ColorChannels,
             c.PaletteSize, c.FileBitCount);
    uint64_t h = Fnv(reinterpret_cast<const uint8_t*>(text), strlen(text));
    if (c.Palette && c.PaletteSize) h = Fnv(c.Palette, c.PaletteSize * 4u, h);
    return h;
}

// Reads the whole image; spilled: every plane in the temporary file and
// staging grants of one unit.
std::unique_ptr<CRastik> ReadWhole(const std::string& path, bool spilled, int* result)
{
    *result = 0;
    std::unique_ptr<CRastik> codec = OpenCodec(path);
    if (!codec || !codec->ReadImageHead()) return nullptr;
    codec->BytesPerLine = BytesPerRow(codec->Width * 8);
    if (spilled) {
        SetPlaneHeapCap(1);
        SetLargeBufferCap(1);
    }
    if (codec->AllocChannelSpace()) *result = codec->ReadImageData();
    SetPlaneHeapCap(0);
    SetLargeBufferCap(0);
    codec->File.Close();
    return codec;
}

void Reduced(const std::string& name, const std::string& path, uint32_t w, uint32_t h)
{
    std::unique_ptr<CRastik> codec = OpenCodec(path);
    if (!codec || !codec->ReadImageHead()) return;
    uint32_t stride = BytesPerRow(w * 8);
    uint32_t planes = codec->ChannelCount > 4 ? 4 : codec->ChannelCount;
    std::vector<std::vector<uint8_t>> data(4, std::vector<uint8_t>(static_cast<size_t>(stride) * h));
    uint8_t* p[4] = {data[0].data(), data[1].data(), data[2].data(), data[3].data()};
    int ok = codec->ReadReducedData(w, h, p);
    uint64_t d = Fnv(nullptr, 0);
    for (uint32_t c = 0; c < planes; ++c) d = Fnv(data[c].data(), data[c].size(), d);
    Line(name, "reduced-" + std::to_string(w) + "x" + std::to_string(h), ok, d);
}

void Preview(const std::string& name, const std::string& path, uint16_t maxSize)
{
    std::unique_ptr<CRastik> codec = OpenCodec(path);
    if (!codec || !codec->ReadImageHead()) return;
    codec->SetMaxPrevSize(maxSize);
    uint32_t w = 0, h = 0;
    uint8_t* buffer = nullptr;
    int ok = codec->ReadPrevImageData(w, h, buffer);
    uint64_t d = Fnv(nullptr, 0, w * 65536ull + h);
    if (ok && buffer) d = Fnv(buffer, static_cast<size_t>((w * 24 + 31) / 32 * 4) * h, d);
    FreeBuffer(&buffer);
    Line(name, "preview-" + std::to_string(maxSize), ok, d);
}

// Writes the image's planes through a codec of the given type.
void WriteAs(const std::string& name, CRastik& image, unsigned type, const std::string& out, const char* op)
{
    std::unique_ptr<CRastik> writer(NewRastikInstance(type, out.c_str()));
    writer->SetSize(&image);
    writer->SetMode(&image);
    writer->BytesPerLine = image.BytesPerLine;
    int ok = 0;
    if (writer->AllocChannelSpace()) {
        std::vector<uint8_t> row(image.BytesPerLine);
        for (uint32_t c = 0; c < image.ChannelCount; ++c)
            for (uint32_t r = 0; r < image.Height; ++r)
                if (image.ReadPlaneRow(c, r, row.data())) writer->WritePlaneRow(c, r, row.data());
        if (writer->File.Open(out.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary)) {
            ok = writer->WriteFile();
            writer->File.Close();
        }
    }
    FileLine(name, op, ok, out);
}

// Streams the image's rows in blocks of 7 through the block writers.
void Stream(const std::string& name, CRastik& image, unsigned type, const std::string& out, const char* op)
{
    if (image.ChannelCount != 3 && image.ChannelCount != 4) return;
    std::unique_ptr<CRastik> writer(NewRastikInstance(type, out.c_str()));
    writer->SetSize(&image);
    writer->SetMode(&image);
    if (!writer->File.Open(out.c_str(), CFile::modeCreate | CFile::modeReadWrite | CFile::typeBinary)) return;
    int ok = writer->WriteHeader();
    const uint32_t block = 7;
    std::vector<uint8_t> rows(static_cast<size_t>(4) * block * image.Width);
    auto fill = [&](uint32_t c, uint32_t first, uint32_t n, uint8_t* dst) {
        std::vector<uint8_t> row(image.BytesPerLine);
        for (uint32_t i = 0; i < n; ++i) {
            image.ReadPlaneRow(c, first + i, row.data());
            memcpy(dst + static_cast<size_t>(i) * image.Width, row.data(), image.Width);
        }
    };
    uint8_t* r = rows.data();
    uint8_t* g = r + static_cast<size_t>(block) * image.Width;
    uint8_t* b = g + static_cast<size_t>(block) * image.Width;
    uint8_t* k = b + static_cast<size_t>(block) * image.Width;
    for (uint32_t first = 0; ok && first < image.Height; first += block) {
        uint32_t n = image.Height - first < block ? image.Height - first : block;
        fill(0, first, n, r);
        fill(1, first, n, g);
        fill(2, first, n, b);
        ok = writer->WriteRgbDataImage(r, g, b, n);
    }
    if (ok && image.ChannelCount == 4 && type == kTypeJpeg) {
        for (uint32_t first = 0; ok && first < image.Height; first += block) {
            uint32_t n = image.Height - first < block ? image.Height - first : block;
            fill(3, first, n, k);
            ok = writer->WriteKDataImage(k, n);
        }
    }
    if (ok) ok = writer->WriteTail();
    writer->File.Close();
    FileLine(name, op, ok, out);
}

void Thumbnail(const std::string& name, CRastik& image, const std::string& out)
{
    CFile file;
    image.File.Abort();
    if (!image.File.Open(out.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary)) return;
    int32_t written = image.WritePrevFile();
    image.File.Close();
    FileLine(name, "thumbnail", written, out);
}

void Convert(const std::string& name, const std::string& path, const std::string& out, int mode, int sizeMode,
             unsigned width, int height, const char* op)
{
    int w = 0, h = 0;
    int ok = ImgProc(path.c_str(), out.c_str(), mode, sizeMode, 72, width, height, &w, &h, 1);
    FileLine(name, op, ok, out);
}

void Digest(const std::string& path, const std::string& dir)
{
    std::string name = path.substr(path.find_last_of('/') + 1);
    std::unique_ptr<CRastik> head = OpenCodec(path);
    if (!head) {
        Line(name, "open", 0, 0);
        return;
    }
    int ok = head->ReadImageHead();
    Line(name, "head", ok, ok ? HeadDigest(*head) : 0);
    if (!ok) return;
    uint32_t width = head->Width, height = head->Height;
    int mode = static_cast<int>(head->ColorMode);
    head.reset();

    int result = 0;
    std::unique_ptr<CRastik> heap = ReadWhole(path, false, &result);
    Line(name, "read-heap", result, result ? PlaneDigest(*heap) : 0);
    std::unique_ptr<CRastik> spilled = ReadWhole(path, true, &result);
    Line(name, "read-spilled", result, result ? PlaneDigest(*spilled) : 0);

    Reduced(name, path, width / 3 ? width / 3 : 1, height / 3 ? height / 3 : 1);
    Reduced(name, path, width / 7 + 1, height / 5 + 1);
    Preview(name, path, 96);
    Preview(name, path, 17);

    if (heap && PlaneDigest(*heap)) {
        WriteAs(name, *heap, kTypeBmp, dir + "/w.bmp", "write-bmp");
        WriteAs(name, *heap, kTypeJpeg, dir + "/w.jpg", "write-jpeg");
        if (heap->ChannelCount == 1) WriteAs(name, *heap, kTypeBlackWhite, dir + "/w.raw", "write-bw");
        if (heap->ChannelCount == 1 && (heap->ColorMode == kModeIndexed || heap->ColorMode == kModeBitmap))
            WriteAs(name, *heap, kTypeGif, dir + "/w.gif", "write-gif");
        Stream(name, *heap, kTypeBmp, dir + "/s.bmp", "stream-bmp");
        Stream(name, *heap, kTypeJpeg, dir + "/s.jpg", "stream-jpeg");
        Thumbnail(name, *heap, dir + "/t.bin");
    }
    if (spilled && result) {
        SetLargeBufferCap(1);
        WriteAs(name, *spilled, kTypeBmp, dir + "/w.bmp", "write-bmp-spilled");
        WriteAs(name, *spilled, kTypeJpeg, dir + "/w.jpg", "write-jpeg-spilled");
        if (spilled->ChannelCount == 1) WriteAs(name, *spilled, kTypeBlackWhite, dir + "/w.raw", "write-bw-spilled");
        Thumbnail(name, *spilled, dir + "/t.bin");
        SetLargeBufferCap(0);
    }
    Convert(name, path, dir + "/c.bmp", 6, 1, width / 2 + 1, 0, "convert-indexed-half");
    Convert(name, path, dir + "/c.bmp", 3, 6, 33, 21, "convert-grey-33x21");
    Convert(name, path, dir + "/c.jpg", 4, 0, 0, 0, "convert-jpeg");
    Convert(name, path, dir + "/c.raw", 10, 0, 0, 0, "convert-bw");
    Convert(name, path, dir + "/c.gif", 6, 0, 0, 0, "convert-gif-indexed");
    // In its own mode, the rows resampled while the source is read.
    Convert(name, path, dir + "/h.tif", mode, 1, width / 2 + 1, 0, "convert-half");
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: pipeline_digest SCRATCH-DIR IMAGE...\n");
        return 2;
    }
    SetMessageSink([](int, const char*, void*) {}, nullptr);
    // RASTIK_THREADS: the threads of every conversion and write (default:
    // one per processor); the digests must not depend on it.
    if (const char* threads = getenv("RASTIK_THREADS")) SetRastikThreads(static_cast<uint32_t>(atoi(threads)));
    for (int i = 2; i < argc; ++i) Digest(argv[i], argv[1]);
    return 0;
}
