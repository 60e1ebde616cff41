// The chronik command-line tool: writes batches of event codes into a store
// directory, reads a time range or one data file back as a table or JSON, and
// rebuilds a directory's index; serves a live event page where built with
// cpp-httplib.
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "CRecordPrinter.h"
#include "CToolArgs.h"
#include "chronik/chronik.h"
#ifdef CHRONIK_SERVE
#include "serve/CEventServer.h"
#endif

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

const char kUsageText[] =
    "usage: chronik [--max-files N] [--span S] [--pacing] [--durable] COMMAND ...\n"
    "\n"
    "  chronik write [--time T] DIR NODE CODE...\n"
    "      store the codes (decimal or 0x hex) as one batch of node NODE (2 to 129)\n"
    "      at time T (seconds since 1970; default now)\n"
    "  chronik read [--station N] [--from-first-file] [--json] DIR FROM TO\n"
    "      the events from FROM to TO (seconds since 1970 or \"YYYY-MM-DD HH:MM:SS\"\n"
    "      local time), each occurrence with the time it was cleared\n"
    "  chronik file [--station N] [--json] PATH\n"
    "      every event of one data file, notices included\n"
    "  chronik rebuild DIR\n"
    "      recreate DIR/Index.API from the data files in DIR\n"
    "  chronik serve [--listen ADDR:PORT] DIR\n"
    "      serve the live event page and its JSON interface over HTTP at ADDR:PORT\n"
    "      (default 127.0.0.1:8080; port 0: any free port) until Ctrl-C\n"
    "\n"
    "  --max-files N   most data files kept in a directory (default 30)\n"
    "  --span S        seconds of event time per data file (default 86400)\n"
    "  --pacing        pause 10 ms every 50 records while pairing, as display\n"
    "                  programs do (off in this tool unless given)\n"
    "  --durable       a batch is on the disk when write ends (two disk syncs)\n"
    "  --station N     only the nodes N and N + 1 (one redundant station)\n"
    "  --json          an array of objects with the record fields\n"
    "\n"
    "chronik --version prints the version.\n"
    "Exit status: 0 success, 1 failed operation, 2 usage error.\n";

struct Options {
    std::string command;
    std::vector<std::string> args;
    bool json = false;
    bool fromFirstFile = false;
    bool pacing = false;
    bool durable = false;
    bool haveTime = false;
    uint32_t time = 0;
    uint32_t station = 0;
    uint32_t maxFiles = 30;
    uint32_t span = 86400;
    std::string listen = "127.0.0.1:8080";
};

int Usage(const char* problem)
{
    if (problem) fprintf(stderr, "chronik: %s\n", problem);
    fputs(kUsageText, stderr);
    return kUsage;
}

bool IsDirectory(const std::string& path)
{
    struct stat st;
    return stat(path.empty() ? "." : path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Options may stand anywhere; "--" ends them.
int ParseArguments(int argc, char** argv, Options& o)
{
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (optionsDone || a.size() < 2 || a.compare(0, 2, "--") != 0) {
            if (o.command.empty()) o.command = a;
            else o.args.push_back(a);
            continue;
        }
        auto value = [&](uint32_t& v, bool asTime) {
            if (i + 1 >= argc) return false;
            std::string text = argv[++i];
            return asTime ? CToolArgs::ParseTime(text, v) : CToolArgs::ParseNumber(text, v);
        };
        if (a == "--") optionsDone = true;
        else if (a == "--help") return -1;
        else if (a == "--json") o.json = true;
        else if (a == "--from-first-file") o.fromFirstFile = true;
        else if (a == "--pacing") o.pacing = true;
        else if (a == "--durable") o.durable = true;
        else if (a == "--time") {
            if (!value(o.time, true)) return Usage("--time needs seconds or \"YYYY-MM-DD HH:MM:SS\"");
            o.haveTime = true;
        } else if (a == "--station") {
            if (!value(o.station, false)) return Usage("--station needs a node address");
        } else if (a == "--listen") {
            if (i + 1 >= argc) return Usage("--listen needs ADDR:PORT");
            o.listen = argv[++i];
        } else if (a == "--max-files") {
            if (!value(o.maxFiles, false)) return Usage("--max-files needs a number");
        } else if (a == "--span") {
            if (!value(o.span, false)) return Usage("--span needs a number of seconds");
        } else {
            return Usage(("unknown option " + a).c_str());
        }
    }
    return kOk;
}

int PrintResult(const DiagRecordList* records, const Options& o, const std::string& source)
{
    if (!records) {
        fprintf(stderr, "chronik: no records read from %s\n", source.c_str());
        return kFailed;
    }
    size_t n = o.json ? CRecordPrinter::PrintJson(*records, stdout) : CRecordPrinter::PrintTable(*records, stdout);
    if (n == 0) fprintf(stderr, "chronik: no records found in %s\n", source.c_str());
    return kOk;
}

int CommandWrite(const Options& o)
{
    if (o.args.size() < 3) return Usage("write needs DIR NODE CODE...");
    const std::string& dir = o.args[0];
    uint32_t node = 0;
    if (!CToolArgs::ParseNumber(o.args[1], node) || node < 2 || node > 129) return Usage("NODE must be 2 to 129");
    std::vector<uint32_t> codes;
    for (size_t i = 2; i < o.args.size(); ++i) {
        uint32_t c = 0;
        if (!CToolArgs::ParseNumber(o.args[i], c)) return Usage(("bad event code " + o.args[i]).c_str());
        codes.push_back(c);
    }
    if (!IsDirectory(dir)) {
        fprintf(stderr, "chronik: %s is not a directory\n", dir.c_str());
        return kFailed;
    }
    uint32_t t = o.haveTime ? o.time : static_cast<uint32_t>(std::time(nullptr));
    if (!Write(node, t, static_cast<uint32_t>(codes.size()), codes.data(), dir.c_str())) {
        fprintf(stderr, "chronik: batch not stored in %s: %s\n", dir.c_str(), strerror(errno));
        return kFailed;
    }
    return kOk;
}

int CommandRead(const Options& o)
{
    if (o.args.size() != 3) return Usage("read needs DIR FROM TO");
    uint32_t from = 0, to = 0;
    if (!CToolArgs::ParseTime(o.args[1], from) || !CToolArgs::ParseTime(o.args[2], to))
        return Usage("FROM and TO are seconds or \"YYYY-MM-DD HH:MM:SS\"");
    if (!IsDirectory(o.args[0])) {
        fprintf(stderr, "chronik: %s is not a directory\n", o.args[0].c_str());
        return kFailed;
    }
    return PrintResult(Read(from, to, o.args[0].c_str(), o.station, o.fromFirstFile ? 1 : 0), o, o.args[0]);
}

int CommandFile(const Options& o)
{
    if (o.args.size() != 1) return Usage("file needs PATH");
    return PrintResult(ReadSingleFile(o.args[0].c_str(), o.station), o, o.args[0]);
}

int CommandRebuild(const Options& o)
{
    if (o.args.size() != 1) return Usage("rebuild needs DIR");
    if (!IsDirectory(o.args[0])) {
        fprintf(stderr, "chronik: %s is not a directory\n", o.args[0].c_str());
        return kFailed;
    }
    if (!RebuildIndex(o.args[0].c_str())) {
        fprintf(stderr, "chronik: index of %s not rebuilt: %s\n", o.args[0].c_str(), strerror(errno));
        return kFailed;
    }
    return kOk;
}

int CommandServe(const Options& o)
{
    if (o.args.size() != 1) return Usage("serve needs DIR");
#ifdef CHRONIK_SERVE
    return CEventServer::Main(o.listen, o.args[0]);
#else
    fputs("chronik: this build has no serve command (cpp-httplib was not found)\n", stderr);
    return kFailed;
#endif
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && strcmp(argv[1], "--version") == 0) {
        printf("chronik %s\n", CHRONIK_VERSION);
        return kOk;
    }
    Options o;
    int rc = ParseArguments(argc, argv, o);
    if (rc == -1) {
        fputs(kUsageText, stdout);
        return kOk;
    }
    if (rc != kOk) return rc;
    if (o.command.empty()) return Usage(nullptr);

    // A file-size limit then fails the write with EFBIG instead of ending the tool.
    signal(SIGXFSZ, SIG_IGN);
    SetConfigData(o.maxFiles, o.span);
    SetReadPacing(o.pacing ? 1 : 0);
    SetDurability(o.durable ? 1 : 0);
    if (o.command == "write") return CommandWrite(o);
    if (o.command == "read") return CommandRead(o);
    if (o.command == "file") return CommandFile(o);
    if (o.command == "rebuild") return CommandRebuild(o);
    if (o.command == "serve") return CommandServe(o);
    if (o.command == "help") {
        fputs(kUsageText, stdout);
        return kOk;
    }
    return Usage(("unknown command " + o.command).c_str());
}
