// Options of `rastik convert`, parsed from its arguments: one conversion
// (SRC DST) or a batch (SRC... --out-dir DIR [--format EXT] [--jobs N]).
#pragma once

#include <string>
#include <vector>

struct ConvertOptions {
    std::vector<std::string> Sources;
    std::string Target;      // one conversion
    std::string OutDir;      // a batch
    std::string Format;      // extension of a batch's outputs, without the dot
    unsigned long Jobs = 0;     // conversions at a time; 0: one per processor
    unsigned long Threads = 0;  // threads of one conversion; 0: the processors left to it
    int Mode = -1;
    long SizeMode = -1;
    unsigned long Width = 0;
    unsigned long Height = 0;
    long Dpi = -1;
    long Quality = -1;
    unsigned long long PlaneCap = 0;
    unsigned long MaxPixels = 0;  // 0: no limit
    unsigned long Page = 0;       // the image of a SRC of several (a TIFF page)
    // Writer options of a TIFF DST (kImgProc... flags of ImgProcEx).
    unsigned WriterOptions = 0;
    bool HasWidth = false;
    bool HasHeight = false;
    bool Help = false;

    bool IsBatch() const { return !OutDir.empty(); }
};

extern const char kConvertUsage[];
extern const char kConvertHelp[];

// Parses the arguments into o; kExitOk, or kExitUsage after the usage
// message on standard error. Also fills the default size mode and checks
// that the size mode has the sizes it needs.
int ParseConvertOptions(const std::vector<std::string>& args, ConvertOptions& o);
