// Shared helpers of the codec tests (see TestUtil.h).
#include "TestUtil.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include <gtest/gtest.h>

#include "platform/MessageSink.h"
#include "rastik/CRastik.h"
#include "rastik/Exports.h"
#include "rastik/General.h"

namespace testutil {

TempDir::TempDir()
{
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/rastiktestXXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data())) m_path = buf.data();
}

TempDir::~TempDir()
{
    std::error_code ec;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
}

std::vector<uint8_t> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::string CorpusDir(const std::string& sub)
{
    const char* root = getenv("RASTIK_SOURCE_DIR");
    std::string base = root && *root ? std::string(root) : std::string(".");
    std::string dir = base + "/../shared/corpus/" + sub;
    struct stat st;
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? dir : std::string();
}

std::vector<std::string> ListFiles(const std::string& dir, const std::string& prefix, const std::string& suffix)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
        std::string n = e.path().filename().string();
        if (n.size() >= prefix.size() + suffix.size() && n.compare(0, prefix.size(), prefix) == 0 &&
            n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0)
            names.push_back(dir + "/" + n);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool HasConvert()
{
    return access(kConvert, X_OK) == 0;
}

bool HasPil()
{
    static int known = -1;
    if (known < 0) {
        known = access(kSystemPython, X_OK) == 0 &&
                RunCommand(std::string(kSystemPython) + " -c 'import PIL.Image' 2>/dev/null", nullptr) == 0;
    }
    return known == 1;
}

std::string Quote(const std::string& text)
{
    std::string q = "'";
    for (char c : text) {
        if (c == '\'') q += "'\\''";
        else q += c;
    }
    return q + "'";
}

int RunCommand(const std::string& command, std::vector<uint8_t>* out)
{
    FILE* p = popen(command.c_str(), "r");
    if (!p) return -1;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        if (out) out->insert(out->end(), buf, buf + n);
    int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

namespace {

// Parses a binary PPM (P6) or PGM (P5) of 8-bit samples at pos and moves pos
// past it.
bool ParsePnmAt(const std::vector<uint8_t>& data, size_t& pos, RgbImage* image)
{
    auto token = [&]() {
        std::string t;
        while (pos < data.size()) {
            char c = static_cast<char>(data[pos]);
            if (c == '#') {
                while (pos < data.size() && data[pos] != '\n') ++pos;
            } else if (isspace(static_cast<unsigned char>(c))) {
                if (!t.empty()) break;
                ++pos;
            } else {
                t += c;
                ++pos;
            }
        }
        return t;
    };
    std::string magic = token();
    if (magic != "P6" && magic != "P5") return false;
    unsigned long w = strtoul(token().c_str(), nullptr, 10);
    unsigned long h = strtoul(token().c_str(), nullptr, 10);
    unsigned long max = strtoul(token().c_str(), nullptr, 10);
    ++pos;  // the one whitespace byte before the samples
    size_t channels = magic == "P6" ? 3 : 1;
    if (max != 255 || w == 0 || h == 0 || data.size() < pos + w * h * channels) return false;
    image->width = static_cast<uint32_t>(w);
    image->height = static_cast<uint32_t>(h);
    image->rgb.resize(w * h * 3);
    for (size_t i = 0; i < w * h; ++i)
        for (size_t c = 0; c < 3; ++c) image->rgb[i * 3 + c] = data[pos + i * channels + (channels == 3 ? c : 0)];
    pos += w * h * channels;
    return true;
}

bool ParsePnm(const std::vector<uint8_t>& data, RgbImage* image)
{
    size_t pos = 0;
    return ParsePnmAt(data, pos, image);
}

}  // namespace

bool DecodeWithConvert(const std::string& path, RgbImage* image, const char* format)
{
    std::string input = format ? std::string(format) + ":" + path : path;
    std::vector<uint8_t> out;
    if (RunCommand(std::string(kConvert) + " " + Quote(input) + " -depth 8 ppm:- 2>/dev/null", &out) != 0)
        return false;
    return ParsePnm(out, image);
}

bool DecodeWithPil(const std::string& path, RgbImage* image, const char* format)
{
    static const char* kScript =
        "import sys\n"
        "from PIL import Image\n"
        "im = Image.open(sys.argv[1], formats=sys.argv[2:] or None).convert('RGB')\n"
        "sys.stdout.buffer.write(b'P6 %d %d 255\\n' % im.size + im.tobytes())\n";
    std::string command = std::string(kSystemPython) + " -c " + Quote(kScript) + " " + Quote(path);
    if (format) (command += ' ') += Quote(format);
    std::vector<uint8_t> out;
    if (RunCommand(command + " 2>/dev/null", &out) != 0) return false;
    return ParsePnm(out, image);
}

std::vector<RgbImage> DecodeAllWithPil(const std::vector<std::string>& paths)
{
    // One record per file: its image as a PPM, or "X" where PIL refuses it.
    // An error while reading the chunks after the image data leaves the
    // decoded rows standing.
    static const char* kScript =
        "import sys\n"
        "from PIL import Image\n"
        "out = sys.stdout.buffer\n"
        "for path in sys.argv[1:]:\n"
        "    try:\n"
        "        im = Image.open(path)\n"
        "        try:\n"
        "            im.load()\n"
        "        except OSError as e:\n"
        "            if 'Truncated File Read' not in str(e): raise\n"
        "            im = im._new(im.im)\n"
        "        if im.mode in ('I', 'I;16', 'I;16B'):\n"
        "            im = Image.frombytes('L', im.size, bytes(v >> 8 for v in im.getdata()))\n"
        "        im = im.convert('RGB')\n"
        "        out.write(b'P6 %d %d 255\\n' % im.size + im.tobytes())\n"
        "    except Exception:\n"
        "        out.write(b'X\\n')\n";
    std::vector<RgbImage> images(paths.size());
    std::string command = std::string(kSystemPython) + " -c " + Quote(kScript);
    for (const std::string& p : paths) {
        command += ' ';  // appended apart: g++ 12 -O3 warns falsely (-Wrestrict) on " " + Quote(p)
        command += Quote(p);
    }
    std::vector<uint8_t> out;
    if (RunCommand(command + " 2>/dev/null", &out) != 0) return images;
    size_t pos = 0;
    for (RgbImage& image : images) {
        if (pos + 2 <= out.size() && out[pos] == 'X') {
            pos += 2;
        } else if (!ParsePnmAt(out, pos, &image)) {
            image = RgbImage();
            break;
        }
    }
    return images;
}

ToolRun RunTool(const std::string& args, const std::string& dir)
{
    std::string out = dir + "/tool-stdout.txt", err = dir + "/tool-stderr.txt";
    std::string command =
        std::string(RASTIK_TOOL_PATH) + " " + args + " >" + Quote(out) + " 2>" + Quote(err) + " </dev/null";
    int raw = std::system(command.c_str());
    ToolRun r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::vector<uint8_t> o = ReadBytes(out), e = ReadBytes(err);
    r.out.assign(o.begin(), o.end());
    r.err.assign(e.begin(), e.end());
    unlink(out.c_str());
    unlink(err.c_str());
    return r;
}

namespace {

void Put16(std::vector<uint8_t>& b, uint16_t v)
{
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& b, uint32_t v)
{
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

std::vector<uint8_t> MakeBmp(const BmpFixture& f)
{
    uint32_t w = static_cast<uint32_t>(f.width > 0 ? f.width : 0);
    uint32_t h = static_cast<uint32_t>(f.height > 0 ? f.height : 0);
    uint32_t rowBytes = (f.bitCount * w + 31) / 32 * 4;
    uint32_t offset = 14 + f.headerSize + static_cast<uint32_t>(f.palette.size());
    std::vector<uint8_t> b;
    b.push_back('B');
    b.push_back('M');
    Put32(b, offset + rowBytes * h);
    Put16(b, 0);
    Put16(b, 0);
    Put32(b, offset);
    Put32(b, f.headerSize);
    Put32(b, static_cast<uint32_t>(f.width));
    Put32(b, static_cast<uint32_t>(f.topDown ? -f.height : f.height));
    Put16(b, 1);
    Put16(b, f.bitCount);
    Put32(b, f.compression);
    Put32(b, rowBytes * h);
    Put32(b, static_cast<uint32_t>(f.pelsPerMeter));
    Put32(b, static_cast<uint32_t>(f.pelsPerMeter));
    Put32(b, f.colorsUsed);
    Put32(b, 0);
    b.resize(14 + f.headerSize, 0);
    b.insert(b.end(), f.palette.begin(), f.palette.end());
    uint32_t perPixel = f.bitCount >= 24 ? 3 : 1;
    for (uint32_t n = 0; n < h; ++n) {
        uint32_t y = f.topDown ? n : h - 1 - n;
        std::vector<uint8_t> row(rowBytes, 0);
        for (uint32_t x = 0; x < w; ++x) {
            size_t at = (static_cast<size_t>(y) * w + x) * perPixel;
            if (at + perPixel > f.pixels.size()) continue;
            const uint8_t* p = &f.pixels[at];
            switch (f.bitCount) {
            case 1: row[x / 8] |= static_cast<uint8_t>((p[0] & 1) << (7 - x % 8)); break;
            case 4: row[x / 2] |= static_cast<uint8_t>((p[0] & 15) << (x % 2 ? 0 : 4)); break;
            case 8: row[x] = p[0]; break;
            case 24:
            case 32: {
                size_t s = static_cast<size_t>(x) * (f.bitCount / 8);
                row[s] = p[2];
                row[s + 1] = p[1];
                row[s + 2] = p[0];
                break;
            }
            default: break;  // other depths: rows of zeros
            }
        }
        b.insert(b.end(), row.begin(), row.end());
    }
    return b;
}

MessageCapture::MessageCapture()
{
    SetMessageSink(&MessageCapture::Sink, this);
}

MessageCapture::~MessageCapture()
{
    SetMessageSink(nullptr, nullptr);
}

void MessageCapture::Sink(int id, const char*, void* user)
{
    static_cast<MessageCapture*>(user)->m_ids.push_back(id);
}

bool MessageCapture::Saw(int id) const
{
    return std::find(m_ids.begin(), m_ids.end(), id) != m_ids.end();
}

MemorySettings::MemorySettings(bool spill, uint32_t largeBufferCap)
{
    if (!spill) return;
    SetPlaneHeapCap(1);
    SetLargeBufferCap(largeBufferCap);
}

MemorySettings::~MemorySettings()
{
    SetPlaneHeapCap(0);
    SetLargeBufferCap(0);
}

int OpenAndReadHead(CRastik& codec, const char* path)
{
    if (!codec.File.Open(path, CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary)) return 0;
    return codec.ReadImageHead();
}

bool WriteSampleImage(unsigned type, uint32_t mode, uint32_t width, uint32_t height, const std::string& path)
{
    std::unique_ptr<CRastik> w(NewRastikInstance(type, path.c_str()));
    if (!w) return false;
    w->Width = width;
    w->Height = height;
    w->SetMode(mode);
    w->BytesPerLine = BytesPerRow(width * 8);
    if (!w->AllocChannelSpace()) return false;
    std::vector<uint8_t> row(w->BytesPerLine);
    for (uint32_t c = 0; c < w->ChannelCount; ++c)
        for (uint32_t r = 0; r < height; ++r) {
            for (uint32_t x = 0; x < width; ++x) row[x] = static_cast<uint8_t>(x * 7 + r * 3 + c * 50);
            w->WritePlaneRow(c, r, row.data());
        }
    if (!w->File.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary)) return false;
    int ok = w->WriteFile();
    w->File.Close();
    return ok != 0;
}

int ReadWholeImage(CRastik& codec)
{
    codec.BytesPerLine = BytesPerRow(codec.Width * 8);
    if (!codec.AllocChannelSpace()) return 0;
    return codec.ReadImageData();
}

void ReadDamagedFile(CRastik& codec, const char* path)
{
    if (!OpenAndReadHead(codec, path)) return;
    EXPECT_GT(codec.Width, 0u);
    if (static_cast<uint64_t>(codec.Width) * codec.Height > 4000000) return;
    ReadWholeImage(codec);
    uint32_t w = 0, h = 0;
    uint8_t* buffer = nullptr;
    if (codec.ReadPrevImageData(w, h, buffer)) {
        EXPECT_LE(w, 96u);
        EXPECT_LE(h, 96u);
    }
    FreeBuffer(&buffer);
}

std::string PreviewMismatch(const RgbImage& image, const uint8_t* preview, uint32_t w, uint32_t h, bool fromBottom)
{
    float ry = static_cast<float>(h) / static_cast<float>(image.height);
    float rx = static_cast<float>(w) / static_cast<float>(image.width);
    uint32_t rowBytes = (w * 24 + 31) / 32 * 4;
    uint32_t s = 0;
    for (uint32_t i = 0; i < image.height && s < h; ++i) {
        if (static_cast<uint32_t>(static_cast<double>(ry) * i) != s) continue;
        uint32_t imageRow = fromBottom ? image.height - 1 - i : i;
        const uint8_t* line = preview + static_cast<size_t>(fromBottom ? s : h - 1 - s) * rowBytes;
        uint32_t c = 0;
        for (uint32_t j = 0; j < image.width && c < w; ++j) {
            if (static_cast<uint32_t>(static_cast<double>(rx) * j) != c) continue;
            const uint8_t* px = &image.rgb[(static_cast<size_t>(imageRow) * image.width + j) * 3];
            if (line[c * 3] != px[2] || line[c * 3 + 1] != px[1] || line[c * 3 + 2] != px[0])
                return "source row " + std::to_string(i) + " column " + std::to_string(j);
            ++c;
        }
        ++s;
    }
    return s == h ? "" : "only " + std::to_string(s) + " rows taken";
}

std::vector<uint8_t> PlaneBytes(CRastik& image, uint32_t channel)
{
    std::vector<uint8_t> out(static_cast<size_t>(image.Width) * image.Height);
    std::vector<uint8_t> row(image.BytesPerLine);
    for (uint32_t y = 0; y < image.Height; ++y) {
        if (!image.ReadPlaneRow(channel, y, row.data())) return {};
        memcpy(&out[static_cast<size_t>(y) * image.Width], row.data(), image.Width);
    }
    return out;
}

RgbImage PlanesToRgb(CRastik& image)
{
    RgbImage out;
    out.width = image.Width;
    out.height = image.Height;
    size_t n = static_cast<size_t>(image.Width) * image.Height;
    out.rgb.resize(n * 3);
    if (image.ColorMode == kModeRgb) {
        for (uint32_t c = 0; c < 3; ++c) {
            std::vector<uint8_t> p = PlaneBytes(image, c);
            for (size_t i = 0; i < n && i < p.size(); ++i) out.rgb[i * 3 + c] = p[i];
        }
        return out;
    }
    std::vector<uint8_t> p = PlaneBytes(image, 0);
    for (size_t i = 0; i < n && i < p.size(); ++i) {
        uint8_t* d = &out.rgb[i * 3];
        uint32_t v = p[i];
        bool indexed = image.ColorMode == kModeIndexed || image.ColorMode == kModeBitmap;
        if (indexed && image.Palette && v < image.PaletteSize) {
            d[0] = image.Palette[v * 4 + 2];
            d[1] = image.Palette[v * 4 + 1];
            d[2] = image.Palette[v * 4];
        } else if (!indexed) {
            d[0] = d[1] = d[2] = static_cast<uint8_t>(v);
        }
    }
    return out;
}

}  // namespace testutil
