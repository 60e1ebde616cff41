// Shared pieces of the rastik tool's commands: opening a codec on a file, the
// progress bar with Ctrl-C as Esc, and small output helpers.
#pragma once

#include <cstdint>

#include <memory>
#include <string>
#include <vector>

#include "rastik/rastik.h"

// Progress on standard error while alive: a bar when stderr is a terminal,
// nothing otherwise. Ctrl-C posts Esc to the key queue at the next progress
// step, so the running read or write stops cleanly.
class ToolProgress {
public:
    explicit ToolProgress(const char* label);
    ~ToolProgress();
    ToolProgress(const ToolProgress&) = delete;
    ToolProgress& operator=(const ToolProgress&) = delete;

    // True once Ctrl-C was pressed.
    static bool Interrupted();

private:
    static void OnProgress(int32_t position, int32_t start, int32_t end, void* user);
    void Draw(int percent);

    std::string m_label;
    bool m_tty;
    int m_lastPercent = -1;
};

// A codec for an existing file, opened for reading with its header read
// (the codec's own messages on). Null when that fails, with the reason in
// *why, or on standard error when why is null. page: the image of a file of
// several (a TIFF page, 0 the first).
std::unique_ptr<CRastik> OpenImageForRead(const std::string& path, std::string* why = nullptr, uint32_t page = 0);

// Dots per inch of a resolution in a resolution unit (0/1 inch, 2 mm, 3 cm,
// 4 m, 5 point, 6 pica, 7 twip), rounded; one that rounds to 0 counts as 72.
long RoundedDotsPerInch(float resolution, uint32_t unit);

// Name of a file-type code and of a colour mode, for people.
const char* FileTypeName(unsigned type);
const char* ColorModeName(unsigned mode);
// Whether the library writes files of a file-type code (some codecs only read).
bool FileTypeIsWritten(unsigned type);

// Arguments of a command that takes [--json] FILE. True when the command
// goes on with json and path set; false when it ends with *status (0 after
// --help printed help, 2 after a usage error on stderr).
bool ParseJsonFileArgs(const std::vector<std::string>& args, const char* command, const char* help, bool& json,
                       std::string& path, int* status);

// Parses a whole decimal number; false when the text is not one.
bool ParseUnsigned(const std::string& text, unsigned long& value);
// Takes "--max-pixels N" out of args and sets the library's pixel limit;
// false after a bad value was reported on stderr (a usage error).
bool TakeMaxPixels(std::vector<std::string>& args, const char* command);
// The help line of --max-pixels.
extern const char kMaxPixelsHelp[];
