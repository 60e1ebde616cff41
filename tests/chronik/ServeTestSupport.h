// Test support for the event server: a `chronik serve` process on a free
// loopback port, raw HTTP exchanges with it, and the demo's day of events.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

// The demo's day (scripts/chronik-demo.sh), 2024-03-01 in UTC.
constexpr uint32_t kDemoDay = 1709251200;
constexpr const char* kDemoRange = "from=2024-03-01%2000:00:00&to=2024-03-01%2023:59:59";

// Writes the demo's batches into dir.
void WriteDemoEvents(const std::string& dir);

class ServeProcess {
public:
    // Starts `chronik serve --listen ADDR DIR` (TZ=UTC) and waits for the
    // line naming its address. Started() is false when it did not start;
    // Output() then holds what it said.
    explicit ServeProcess(const std::string& dir, const std::string& listen = "127.0.0.1:0");
    ~ServeProcess();
    ServeProcess(const ServeProcess&) = delete;
    ServeProcess& operator=(const ServeProcess&) = delete;

    bool Started() const { return m_port > 0; }
    // This build of the tool has no serve command.
    bool Unavailable() const;
    int Port() const { return m_port; }
    const std::string& Output() const { return m_output; }
    // SIGTERM, then its exit status (128 + signal when killed; -1 when it
    // had to be killed after five seconds).
    int Stop();
    // Waits up to five seconds for it to end by itself: its exit status, or
    // -1 when it is still running.
    int Wait();

private:
    pid_t m_pid = -1;
    int m_port = 0;
    std::string m_output;
};

struct HttpReply {
    bool connected = false;
    int status = 0;        // 0: no status line came
    bool closed = false;   // the server closed the connection (else: timed out)
    std::string head;      // status line and headers
    std::string body;
    std::string Header(const std::string& name) const;
};

// Sends the bytes as they are over a new connection to host:port and reads
// until the server closes it or timeoutMs pass without a byte.
HttpReply HttpExchange(int port, const std::string& request, int timeoutMs = 5000, const char* host = "127.0.0.1");
// GET target with Connection: close, plus extra header lines.
HttpReply HttpGet(int port, const std::string& target, const std::string& headers = "");

// The values of a key ("timeText", ...) of the JSON objects of a body, in order.
std::vector<std::string> JsonValues(const std::string& body, const std::string& key);
