// Load on the event server (chronik serve) over loopback, while a writer
// keeps appending to the store it serves: --clients clients, each on its own
// kept connection, make --requests requests each, of every ten four times
// the page's two polls (the last 15 minutes' events, the active faults),
// once the events of one station and once the page itself. The writer stores --batches batches a second
// (5 codes each, 20 nodes) for the whole run, after --history minutes of
// earlier batches, each fault cleared at once.
//
// Prints the requests per second, the latency percentiles, the writer's
// batches and Write times, and whether every acknowledged event is listed
// by the server at the end. Exit status 1 when a request or a Write failed
// or an acknowledged event is missing.
//
// usage: chronik_serve_load --port P --dir DIR [--clients N] [--requests N]
//                           [--batches N] [--history MINUTES] [--distinct 1]
// --distinct 1 gives every events request a range of its own (an end just
// short of the open end), so that none shares another's Read: the worst
// case for a writer waiting for the store.
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "chronik/chronik.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kNodes = 20;
constexpr uint32_t kCodesPerBatch = 5;
constexpr uint32_t kClearedBit = 0x80000000u;

struct Options {
    int port = 0;
    std::string dir;
    int clients = 50;
    int requests = 200;
    int batches = 20;
    int history = 30;
    bool distinct = false;  // every events request a range of its own: no two share a Read
};

// An I/O-module fault of the node's station, cage and slot, flag byte f.
uint32_t ModuleCode(uint32_t node, uint32_t cage, uint32_t slot, uint32_t f)
{
    return (node << 21) | (cage << 17) | (slot << 9) | (f << 1);
}

double Milliseconds(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

double Percentile(std::vector<double> v, double p)
{
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * double(v.size())))];
}

// Batches of every node every 30 s for the minutes before now, each fault
// cleared in its own batch (transmitter faults, apart from the writer's).
void WriteHistory(const Options& o, uint32_t now)
{
    for (uint32_t t = now - uint32_t(o.history) * 60, step = 0; t < now; t += 30, ++step) {
        for (uint32_t n = 0; n < kNodes; ++n) {
            uint32_t code = ModuleCode(2 + n, step % 16, (step / 16) % 256, 16);
            uint32_t codes[2] = {code, code | kClearedBit};
            Write(2 + n, t, 2, codes, o.dir.c_str());
        }
    }
}

class Writer {
public:
    explicit Writer(const Options& o) : m_options(o) {}

    // Stores batches at the rate asked until told to stop.
    void Run(const std::atomic<bool>& stop)
    {
        auto next = Clock::now();
        for (uint32_t i = 0; !stop; ++i) {
            std::this_thread::sleep_until(next);
            next += std::chrono::microseconds(1000000 / m_options.batches);
            uint32_t node = 2 + i % kNodes, now = static_cast<uint32_t>(time(nullptr));
            uint32_t codes[kCodesPerBatch];
            for (uint32_t k = 0; k < kCodesPerBatch; ++k) {  // the node's m-th code: a slot of its own
                uint32_t m = i / kNodes * kCodesPerBatch + k;
                codes[k] = ModuleCode(node, m % 16, (m / 16) % 256, 32);
            }
            auto start = Clock::now();
            int32_t stored = Write(node, now, kCodesPerBatch, codes, m_options.dir.c_str());
            m_writeMs.push_back(Milliseconds(Clock::now() - start));
            if (!stored) {
                fprintf(stderr, "Write failed: %s\n", strerror(errno));
                ++m_failed;
                continue;
            }
            for (uint32_t c : codes) m_acknowledged.insert({c, now});
        }
    }

    const Options& m_options;
    std::set<std::pair<uint32_t, uint32_t>> m_acknowledged;  // code, time
    std::vector<double> m_writeMs;
    int m_failed = 0;
};

struct ClientResult {
    std::vector<double> ms;
    int failed = 0;
};

void RunClient(const Options& o, int id, uint32_t since, ClientResult& out)
{
    httplib::Client http("127.0.0.1", o.port);
    http.set_keep_alive(true);
    http.set_tcp_nodelay(true);
    http.set_read_timeout(30, 0);
    std::string events = "/api/events?from=" + std::to_string(since);
    std::string station = events + "&station=" + std::to_string(2 + 2 * (id % 10));
    const std::string targets[] = {events, "/api/active", events, "/api/active", events, "/api/active",
                                   events, "/api/active", station, "/"};
    for (int i = 0; i < o.requests; ++i) {
        std::string target = targets[(i + id) % 10];
        if (o.distinct && target.compare(0, 12, "/api/events?") == 0)
            target += "&to=" + std::to_string(4294967295u - uint32_t(id * o.requests + i));
        auto start = Clock::now();
        httplib::Result r = http.Get(target.c_str());
        out.ms.push_back(Milliseconds(Clock::now() - start));
        if (!r || r->status != 200) {
            if (out.failed++ < 3)
                fprintf(stderr, "client %d: %s: %s\n", id, target.c_str(),
                        r ? std::to_string(r->status).c_str() : httplib::to_string(r.error()).c_str());
        }
    }
}

// (code, time) of every event the server lists from the given time on.
std::set<std::pair<uint32_t, uint32_t>> ListedEvents(const Options& o, uint32_t from)
{
    std::set<std::pair<uint32_t, uint32_t>> listed;
    httplib::Client http("127.0.0.1", o.port);
    auto r = http.Get(("/api/events?limit=10000&from=" + std::to_string(from)).c_str());
    if (!r || r->status != 200) return listed;
    if (r->body.find("\"truncated\": true") != std::string::npos) fprintf(stderr, "the final list was cut short\n");
    const char marker[] = "\"code\": ";
    for (size_t at = r->body.find(marker); at != std::string::npos; at = r->body.find(marker, at + 1)) {
        unsigned long code = 0, time = 0;
        if (sscanf(r->body.c_str() + at, "\"code\": %lu, \"time\": %lu", &code, &time) == 2)
            listed.insert({uint32_t(code), uint32_t(time)});
    }
    return listed;
}

bool ParseOptions(int argc, char** argv, Options& o)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        const char* v = argv[i + 1];
        if (a == "--port") o.port = atoi(v);
        else if (a == "--dir") o.dir = v;
        else if (a == "--clients") o.clients = atoi(v);
        else if (a == "--requests") o.requests = atoi(v);
        else if (a == "--batches") o.batches = atoi(v);
        else if (a == "--history") o.history = atoi(v);
        else if (a == "--distinct") o.distinct = atoi(v) != 0;
        else return false;
    }
    return argc % 2 == 1 && o.port > 0 && !o.dir.empty() && o.clients > 0 && o.requests > 0 && o.batches > 0 &&
           o.history >= 0;
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!ParseOptions(argc, argv, o)) {
        fprintf(stderr, "usage: chronik_serve_load --port P --dir DIR [--clients N] [--requests N] [--batches N] "
                        "[--history MINUTES] [--distinct 1]\n");
        return 2;
    }
    SetReadPacing(0);
    uint32_t start = static_cast<uint32_t>(time(nullptr));
    WriteHistory(o, start);

    std::atomic<bool> stop{false};
    Writer writer(o);
    std::thread writing([&] { writer.Run(stop); });
    std::vector<ClientResult> results(size_t(o.clients));
    std::vector<std::thread> clients;
    auto began = Clock::now();
    for (int c = 0; c < o.clients; ++c)
        clients.emplace_back(RunClient, std::cref(o), c, start - 900, std::ref(results[size_t(c)]));
    for (std::thread& t : clients) t.join();
    double seconds = Milliseconds(Clock::now() - began) / 1000;
    stop = true;
    writing.join();

    std::vector<double> all;
    int failed = 0;
    for (const ClientResult& r : results) {
        all.insert(all.end(), r.ms.begin(), r.ms.end());
        failed += r.failed;
    }
    // Past the server's snapshot age, everything acknowledged must be listed.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    auto listed = ListedEvents(o, start);
    size_t visible = 0;
    for (const auto& e : writer.m_acknowledged) visible += listed.count(e);

    printf("%d clients x %d requests: %zu requests in %.1f s, %d failed\n", o.clients, o.requests, all.size(), seconds,
           failed);
    printf("requests/s: %.0f\n", double(all.size()) / seconds);
    printf("latency ms: p50 %.1f  p90 %.1f  p99 %.1f  max %.1f\n", Percentile(all, 0.5), Percentile(all, 0.9),
           Percentile(all, 0.99), Percentile(all, 1.0));
    printf("writer: %zu batches at %d/s, %d failed; Write ms p50 %.2f  p99 %.2f  max %.2f\n", writer.m_writeMs.size(),
           o.batches, writer.m_failed, Percentile(writer.m_writeMs, 0.5), Percentile(writer.m_writeMs, 0.99),
           Percentile(writer.m_writeMs, 1.0));
    printf("listed at the end: %zu of %zu acknowledged events\n", visible, writer.m_acknowledged.size());
    return failed == 0 && writer.m_failed == 0 && visible == writer.m_acknowledged.size() ? 0 : 1;
}
