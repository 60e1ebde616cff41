// Benchmark of the diagnostic event store against SQLite on the same events:
// one writer storing a day of batches (10 codes a batch, 20 nodes) and a read
// of the whole day over 30 data files. SQLite runs in WAL mode with one
// transaction per batch and an index on the time column.
//
// usage: chronik_bench [--interval S] [--dir DIR] [--sync full|normal]
//   --interval  seconds between two batches of one node (default 30)
//   --dir       where the two stores are made (default: a new directory in /tmp)
//   --sync      SQLite's synchronous setting (default normal; full syncs every commit)
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "chronik/chronik.h"

namespace {

constexpr uint32_t kNodes = 20;
constexpr uint32_t kCodesPerBatch = 10;
constexpr uint32_t kDay = 86400;
constexpr uint32_t kFiles = 30;
constexpr uint32_t kStart = 1700000000;

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// The codes of one batch: I/O-module faults of the node's station, mixed
// with clears, so a read pairs and formats real messages.
void MakeBatch(uint32_t node, uint32_t step, uint32_t* codes)
{
    for (uint32_t i = 0; i < kCodesPerBatch; ++i) {
        uint32_t slot = (step + i) % 16;
        uint32_t code = (node << 21) | ((i % 8) << 17) | (slot << 9) | (32u << 1);
        if ((step + i) % 3 == 0) code |= 0x80000000u;
        codes[i] = code;
    }
}

bool Check(int rc, sqlite3* db, const char* what)
{
    if (rc == SQLITE_OK || rc == SQLITE_DONE || rc == SQLITE_ROW) return true;
    fprintf(stderr, "chronik_bench: sqlite %s: %s\n", what, sqlite3_errmsg(db));
    return false;
}

struct Result {
    double writeSeconds = 0;
    double readSeconds = 0;
    size_t rows = 0;
};

bool RunChronik(const std::string& dir, uint32_t interval, Result& r)
{
    SetConfigData(kFiles, kDay / kFiles);
    SetReadPacing(0);
    uint32_t codes[kCodesPerBatch];
    auto t0 = std::chrono::steady_clock::now();
    for (uint32_t t = 0, step = 0; t < kDay; t += interval, ++step) {
        for (uint32_t n = 0; n < kNodes; ++n) {
            MakeBatch(2 + n, step, codes);
            Write(2 + n, kStart + t, kCodesPerBatch, codes, dir.c_str());
        }
    }
    r.writeSeconds = Seconds(t0);
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
        auto t1 = std::chrono::steady_clock::now();
        const DiagRecordList* list = Read(kStart, kStart + kDay, dir.c_str(), 0, 0);
        best = std::min(best, Seconds(t1));
        if (!list) return false;
        r.rows = list->size() - 1;
    }
    r.readSeconds = best;
    return true;
}

bool RunSqlite(const std::string& path, uint32_t interval, const std::string& sync, Result& r)
{
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return false;
    std::string setup = "PRAGMA journal_mode=WAL; PRAGMA synchronous=" + sync +
                        ";"
                        "CREATE TABLE events(time INTEGER, node INTEGER, code INTEGER);"
                        "CREATE INDEX events_time ON events(time);";
    bool ok = Check(sqlite3_exec(db, setup.c_str(), nullptr, nullptr, nullptr), db, "setup");
    sqlite3_stmt* insert = nullptr;
    ok = ok && Check(sqlite3_prepare_v2(db, "INSERT INTO events VALUES(?,?,?)", -1, &insert, nullptr), db,
                     "prepare");
    uint32_t codes[kCodesPerBatch];
    auto t0 = std::chrono::steady_clock::now();
    for (uint32_t t = 0, step = 0; ok && t < kDay; t += interval, ++step) {
        for (uint32_t n = 0; ok && n < kNodes; ++n) {
            MakeBatch(2 + n, step, codes);
            ok = Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db, "begin");
            for (uint32_t i = 0; ok && i < kCodesPerBatch; ++i) {
                sqlite3_bind_int64(insert, 1, kStart + t);
                sqlite3_bind_int64(insert, 2, 2 + n);
                sqlite3_bind_int64(insert, 3, codes[i]);
                ok = Check(sqlite3_step(insert), db, "insert");
                sqlite3_reset(insert);
            }
            ok = ok && Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
        }
    }
    r.writeSeconds = Seconds(t0);
    sqlite3_finalize(insert);

    sqlite3_stmt* select = nullptr;
    ok = ok && Check(sqlite3_prepare_v2(db, "SELECT time, node, code FROM events WHERE time BETWEEN ? AND ?", -1,
                                        &select, nullptr),
                     db, "prepare");
    double best = 1e9;
    for (int i = 0; ok && i < 3; ++i) {
        struct Row {
            int64_t time, node, code;
        };
        std::vector<Row> rows;
        auto t1 = std::chrono::steady_clock::now();
        sqlite3_bind_int64(select, 1, kStart);
        sqlite3_bind_int64(select, 2, kStart + kDay);
        while (sqlite3_step(select) == SQLITE_ROW)
            rows.push_back({sqlite3_column_int64(select, 0), sqlite3_column_int64(select, 1),
                            sqlite3_column_int64(select, 2)});
        sqlite3_reset(select);
        best = std::min(best, Seconds(t1));
        r.rows = rows.size();
    }
    r.readSeconds = best;
    sqlite3_finalize(select);
    sqlite3_close(db);
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    uint32_t interval = 30;
    std::string base;
    std::string sync = "normal";
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--interval" && i + 1 < argc) interval = static_cast<uint32_t>(atoi(argv[++i]));
        else if (a == "--dir" && i + 1 < argc) base = argv[++i];
        else if (a == "--sync" && i + 1 < argc) sync = argv[++i];
        else {
            fprintf(stderr, "usage: chronik_bench [--interval S] [--dir DIR] [--sync full|normal]\n");
            return 2;
        }
    }
    if (interval == 0 || (sync != "full" && sync != "normal")) return 2;
    bool madeBase = base.empty();
    if (madeBase) {
        char pattern[] = "/tmp/chronik-bench-XXXXXX";
        if (!mkdtemp(pattern)) return 1;
        base = pattern;
    }
    std::string store = base + "/store";
    std::string db = base + "/events.sqlite";
    mkdir(store.c_str(), 0755);

    Result c, s;
    if (!RunChronik(store, interval, c) || !RunSqlite(db, interval, sync, s)) {
        fprintf(stderr, "chronik_bench: a run failed\n");
        return 1;
    }
    uint32_t batches = (kDay + interval - 1) / interval * kNodes;
    printf("events: %u batches of %u codes (%u nodes, one batch per node every %u s), %u data files\n", batches,
           kCodesPerBatch, kNodes, interval, kFiles);
    printf("write   chronik %9.0f batches/s   sqlite (WAL, synchronous=%s) %9.0f batches/s   ratio %.2f\n",
           batches / c.writeSeconds, sync.c_str(), batches / s.writeSeconds,
           (batches / c.writeSeconds) / (batches / s.writeSeconds));
    printf("read    chronik %9.1f ms (%zu records)   sqlite %9.1f ms (%zu rows)   time ratio %.2f\n",
           c.readSeconds * 1000, c.rows, s.readSeconds * 1000, s.rows, c.readSeconds / s.readSeconds);

    if (madeBase) {
        std::string cmd = "rm -rf '" + base + "'";
        if (system(cmd.c_str()) != 0) fprintf(stderr, "chronik_bench: could not remove %s\n", base.c_str());
    }
    return 0;
}
