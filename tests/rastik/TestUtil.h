// Shared helpers of the codec tests: a temporary directory per test, the
// corpus folder, runners for the outside decoders (ImageMagick, PIL), a
// bitmap builder for fixtures, message capture, memory settings that force
// planes into the temporary file, and whole-image reading into RGB.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CRastik;

namespace testutil {

// A fresh directory under TMPDIR (or /tmp), removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

std::vector<uint8_t> ReadBytes(const std::string& path);
bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// The corpus subfolder (e.g. "bmp") at $RASTIK_SOURCE_DIR/../shared/corpus,
// or "" when it is absent. Files of a folder whose names start with prefix
// and end with suffix, sorted.
std::string CorpusDir(const std::string& sub);
std::vector<std::string> ListFiles(const std::string& dir, const std::string& prefix, const std::string& suffix);

// Outside tools; the Has* checks tell a test when to skip.
constexpr const char* kConvert = "/usr/bin/convert";
constexpr const char* kSystemPython = "/usr/bin/python3";
bool HasConvert();
bool HasPil();
std::string Quote(const std::string& text);
// Runs a shell command; its standard output in *out; returns the exit status.
int RunCommand(const std::string& command, std::vector<uint8_t>* out);

// An image as 8-bit RGB, top row first.
struct RgbImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgb;
};
// Decodes a file with ImageMagick / PIL; false when the tool refuses it, or
// when format (the tools' name, "BMP", "JPEG") is given and the file is not
// of that format.
bool DecodeWithConvert(const std::string& path, RgbImage* image, const char* format = nullptr);
bool DecodeWithPil(const std::string& path, RgbImage* image, const char* format = nullptr);

// Runs the rastik tool with the arguments (shell words), standard input
// from /dev/null; its output is kept in files of dir.
struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};
ToolRun RunTool(const std::string& args, const std::string& dir);
// Decodes many files with one PIL process: the first image of each as 8-bit
// RGB, 16-bit grey as its high byte. An entry stays empty (width 0) where PIL
// refuses the file.
std::vector<RgbImage> DecodeAllWithPil(const std::vector<std::string>& paths);

// Bitmap fixtures. Pixels are given top row first: one palette index per
// pixel for 1, 4 and 8 bits, R, G, B per pixel for 24 and 32 bits.
struct BmpFixture {
    int32_t width = 0;
    int32_t height = 0;  // rows; stored bottom-up unless topDown
    bool topDown = false;
    uint16_t bitCount = 24;
    uint32_t compression = 0;
    uint32_t headerSize = 40;        // larger sizes are padded with zeros
    std::vector<uint8_t> palette;    // entries of blue, green, red, 0
    uint32_t colorsUsed = 0;
    int32_t pelsPerMeter = 2835;
    std::vector<uint8_t> pixels;
};
std::vector<uint8_t> MakeBmp(const BmpFixture& fixture);

// Records the ids of messages shown while alive.
class MessageCapture {
public:
    MessageCapture();
    ~MessageCapture();
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;
    bool Saw(int id) const;
    const std::vector<int>& Ids() const { return m_ids; }
    void Clear() { m_ids.clear(); }

private:
    static void Sink(int id, const char* text, void* user);
    std::vector<int> m_ids;
};

// While alive with spill set: every plane goes to the temporary file and
// large buffers are granted at most largeBufferCap bytes (so chunks are a
// few rows). Restores the defaults afterwards.
class MemorySettings {
public:
    MemorySettings(bool spill, uint32_t largeBufferCap);
    ~MemorySettings();
    MemorySettings(const MemorySettings&) = delete;
    MemorySettings& operator=(const MemorySettings&) = delete;
};

// Opens codec->File on path and reads the header (result of ReadImageHead).
int OpenAndReadHead(CRastik& codec, const char* path);
// The whole image of a codec whose header was read: BytesPerLine, planes,
// ReadImageData. Returns the result of ReadImageData (0 when planes fail).
int ReadWholeImage(CRastik& codec);
// The planes of an image as RGB through its mode: palette entries for
// indexed and bitmap images, grey tripled, R, G, B planes as they are.
RgbImage PlanesToRgb(CRastik& image);
// The reads of a damaged file that must each end cleanly: the header, and
// when it is read, the whole image (unless its size claims more than a few
// megapixels, which only takes time) and the preview.
void ReadDamagedFile(CRastik& codec, const char* path);
// Compares a preview (bottom-up 24-bit rows, w x h) with the image it was
// made of: the reduced sampler's rows and columns, counted from the top or,
// for files stored bottom-up, from the bottom. "" when every pixel agrees,
// else where the first one differs.
std::string PreviewMismatch(const RgbImage& image, const uint8_t* preview, uint32_t w, uint32_t h, bool fromBottom);
// Writes a width x height image of a colour mode with the library's writer
// for the file type; sample c of pixel x in row r is x * 7 + r * 3 + c * 50.
bool WriteSampleImage(unsigned type, uint32_t mode, uint32_t width, uint32_t height, const std::string& path);
// Plane c of an image, Width bytes per row, top row first.
std::vector<uint8_t> PlaneBytes(CRastik& image, uint32_t channel);

}  // namespace testutil
