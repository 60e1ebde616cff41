// Benchmark of the diagnostic event store against SQLite on the same events:
// one writer storing a day of batches (10 codes a batch, 20 nodes, 30 data
// files), and one range read on both sides that gives the same result.
//
// Writes: one SQLite transaction per batch, WAL mode, an index on time;
// chronik without durability against synchronous=NORMAL, chronik with
// durability against synchronous=FULL (the first --durable-batches batches
// of the day, into fresh stores on both sides).
// Read: the last --minutes minutes of the day, newest first, occurrences
// paired with their clears. chronik reads from the last data file that ended
// before the range; SQLite is asked for the events from that file's start
// and pairs them in C++ with the same rules, so both sides list the same
// records. The range is kept short enough that chronik's limit of 10000
// records is reached on neither side (the program checks it).
//
// usage: chronik_bench [--interval S] [--dir DIR] [--durable-batches N] [--minutes M]
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "chronik/chronik.h"

namespace {

constexpr uint32_t kNodes = 20;
constexpr uint32_t kCodesPerBatch = 10;
constexpr uint32_t kDay = 86400;
constexpr uint32_t kFiles = 30;
constexpr uint32_t kStart = 1700000000;
constexpr uint32_t kClearedBit = 0x80000000u;

struct Batch {
    uint32_t node;
    uint32_t time;
    uint32_t codes[kCodesPerBatch];
};

// I/O-module faults of each node's station (all listed, paired by the code
// without its cleared bit), every third one a clear.
std::vector<Batch> MakeDay(uint32_t interval)
{
    std::vector<Batch> day;
    for (uint32_t t = 0, step = 0; t < kDay; t += interval, ++step) {
        for (uint32_t n = 0; n < kNodes; ++n) {
            Batch b{2 + n, kStart + t, {}};
            for (uint32_t i = 0; i < kCodesPerBatch; ++i) {
                uint32_t slot = (step + i) % 16;
                b.codes[i] = (b.node << 21) | ((i % 8) << 17) | (slot << 9) | (32u << 1);
                if ((step + i) % 3 == 0) b.codes[i] |= kClearedBit;
            }
            day.push_back(b);
        }
    }
    return day;
}

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// (time, code without the cleared bit, clear time or 0) of a listed record.
typedef std::multiset<std::tuple<uint32_t, uint32_t, bool>> Result;

double WriteChronik(const std::string& dir, const std::vector<Batch>& batches, bool durable)
{
    mkdir(dir.c_str(), 0755);
    SetDurability(durable ? 1 : 0);
    auto t0 = std::chrono::steady_clock::now();
    for (const Batch& b : batches)
        if (!Write(b.node, b.time, kCodesPerBatch, b.codes, dir.c_str())) {
            perror("chronik_bench: Write");
            exit(1);
        }
    return Seconds(t0);
}

sqlite3* OpenSqlite(const std::string& path, const char* sync)
{
    sqlite3* db = nullptr;
    std::string setup = std::string("PRAGMA journal_mode=WAL; PRAGMA synchronous=") + sync +
                        "; CREATE TABLE events(time INTEGER, node INTEGER, code INTEGER);"
                        "CREATE INDEX events_time ON events(time);";
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK ||
        sqlite3_exec(db, setup.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
        fprintf(stderr, "chronik_bench: sqlite: %s\n", sqlite3_errmsg(db));
        exit(1);
    }
    return db;
}

void Check(int rc, sqlite3* db)
{
    if (rc == SQLITE_OK || rc == SQLITE_DONE || rc == SQLITE_ROW) return;
    fprintf(stderr, "chronik_bench: sqlite: %s\n", sqlite3_errmsg(db));
    exit(1);
}

double WriteSqlite(sqlite3* db, const std::vector<Batch>& batches)
{
    sqlite3_stmt* insert = nullptr;
    Check(sqlite3_prepare_v2(db, "INSERT INTO events VALUES(?,?,?)", -1, &insert, nullptr), db);
    auto t0 = std::chrono::steady_clock::now();
    for (const Batch& b : batches) {
        Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db);
        for (uint32_t c : b.codes) {
            sqlite3_bind_int64(insert, 1, b.time);
            sqlite3_bind_int64(insert, 2, b.node);
            sqlite3_bind_int64(insert, 3, c);
            Check(sqlite3_step(insert), db);
            sqlite3_reset(insert);
        }
        Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
    }
    double s = Seconds(t0);
    sqlite3_finalize(insert);
    return s;
}

uint32_t Word(const std::vector<uint8_t>& b, size_t at)
{
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

// The start time of the data file chronik's Read begins with: the last one
// (in the index, whose layout is little-endian words: count at 35, 32-byte
// entries of start and end time from 43) that ended before the range.
uint32_t FirstFileStart(const std::string& dir, uint32_t from)
{
    std::ifstream in(dir + "/Index.API", std::ios::binary);
    std::vector<uint8_t> index((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    uint32_t first = Word(index, 43);
    for (uint32_t i = 0, n = Word(index, 35); i < n && 43 + 32 * i + 8 <= index.size(); ++i)
        if (Word(index, 43 + 32 * i + 4) < from) first = Word(index, 43 + 32 * i);
    return first;
}

double ReadChronik(const std::string& dir, uint32_t from, uint32_t to, Result& result)
{
    double best = 1e9;
    for (int i = 0; i < 5; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        const DiagRecordList* list = Read(from, to, dir.c_str(), 0, 0);
        best = std::min(best, Seconds(t0));
        if (!list) {
            fprintf(stderr, "chronik_bench: Read found nothing\n");
            exit(1);
        }
        result.clear();
        for (auto it = std::next(list->begin()); it != list->end(); ++it)
            result.insert({it->time, it->code, !it->clearTimeText.empty()});
    }
    return best;
}

// The same pairing as chronik's: newest first, the latest clear met so far
// per key annotates an occurrence, or hides it when it came before the range.
double ReadSqlite(sqlite3* db, uint32_t lowest, uint32_t from, uint32_t to, Result& result)
{
    sqlite3_stmt* select = nullptr;
    Check(sqlite3_prepare_v2(db,
                             "SELECT time, code FROM events WHERE time BETWEEN ? AND ? ORDER BY time DESC, rowid DESC",
                             -1, &select, nullptr),
          db);
    double best = 1e9;
    for (int i = 0; i < 5; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        std::map<uint32_t, uint32_t> clearedAt;  // key -> time of the clear
        result.clear();
        sqlite3_bind_int64(select, 1, lowest);
        sqlite3_bind_int64(select, 2, to);
        while (sqlite3_step(select) == SQLITE_ROW) {
            uint32_t time = static_cast<uint32_t>(sqlite3_column_int64(select, 0));
            uint32_t code = static_cast<uint32_t>(sqlite3_column_int64(select, 1));
            uint32_t key = code & ~kClearedBit;
            if (code & kClearedBit) {
                clearedAt[key] = time;
                continue;
            }
            auto found = clearedAt.find(key);
            if (found != clearedAt.end() && found->second < from) continue;
            result.insert({time, key, found != clearedAt.end()});
        }
        sqlite3_reset(select);
        best = std::min(best, Seconds(t0));
    }
    sqlite3_finalize(select);
    return best;
}

void PrintWrite(const char* chronikMode, const char* sync, size_t batches, double c, double s)
{
    printf("write   chronik (%s) %8.0f batches/s   sqlite (WAL, synchronous=%s) %8.0f batches/s   ratio %.2f\n",
           chronikMode, batches / c, sync, batches / s, s / c);
}

}  // namespace

int main(int argc, char** argv)
{
    uint32_t interval = 30, minutes = 15;
    size_t durableBatches = 2400;
    std::string base;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--interval" && i + 1 < argc) interval = static_cast<uint32_t>(atoi(argv[++i]));
        else if (a == "--dir" && i + 1 < argc) base = argv[++i];
        else if (a == "--durable-batches" && i + 1 < argc) durableBatches = static_cast<size_t>(atol(argv[++i]));
        else if (a == "--minutes" && i + 1 < argc) minutes = static_cast<uint32_t>(atoi(argv[++i]));
        else {
            fprintf(stderr, "usage: chronik_bench [--interval S] [--dir DIR] [--durable-batches N] [--minutes M]\n");
            return 2;
        }
    }
    if (interval == 0 || minutes == 0) return 2;
    bool madeBase = base.empty();
    if (madeBase) {
        char pattern[] = "/tmp/chronik-bench-XXXXXX";
        if (!mkdtemp(pattern)) return 1;
        base = pattern;
    }
    SetConfigData(kFiles, kDay / kFiles);
    SetReadPacing(0);
    std::vector<Batch> day = MakeDay(interval);
    std::vector<Batch> part(day.begin(), day.begin() + static_cast<std::ptrdiff_t>(std::min(durableBatches, day.size())));
    printf("events: %zu batches of %u codes (%u nodes, one batch per node every %u s), %u data files\n", day.size(),
           kCodesPerBatch, kNodes, interval, kFiles);

    double c = WriteChronik(base + "/store", day, false);
    sqlite3* db = OpenSqlite(base + "/events.sqlite", "NORMAL");
    double s = WriteSqlite(db, day);
    PrintWrite("not durable", "NORMAL", day.size(), c, s);

    double cd = WriteChronik(base + "/durable", part, true);
    sqlite3* full = OpenSqlite(base + "/full.sqlite", "FULL");
    double sd = WriteSqlite(full, part);
    sqlite3_close(full);
    PrintWrite("durable", "FULL", part.size(), cd, sd);
    SetDurability(0);

    // The store was written in seconds; a rebuild gives its index the end
    // times a store written in real time has (each file's last event).
    RebuildIndex((base + "/store").c_str());
    uint32_t to = kStart + kDay - 1, from = to - 60 * minutes + 1;
    Result cr, sr;
    double rc = ReadChronik(base + "/store", from, to, cr);
    double rs = ReadSqlite(db, FirstFileStart(base + "/store", from), from, to, sr);
    sqlite3_close(db);
    printf("read    the last %u minutes: chronik %7.2f ms   sqlite %7.2f ms   time ratio %.2f   (%zu records%s)\n",
           minutes, rc * 1000, rs * 1000, rc / rs, cr.size(),
           cr == sr ? ", the same on both sides" : ", RESULTS DIFFER");
    if (cr.size() >= 10000) printf("        (chronik's limit of 10000 records was reached: use fewer --minutes)\n");

    if (madeBase) {
        std::string cmd = "rm -rf '" + base + "'";
        if (system(cmd.c_str()) != 0) fprintf(stderr, "chronik_bench: could not remove %s\n", base.c_str());
    }
    return cr == sr ? 0 : 1;
}
