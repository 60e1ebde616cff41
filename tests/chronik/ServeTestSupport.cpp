// A chronik serve process, raw HTTP over loopback and the demo's events.
#include "chronik/ServeTestSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <strings.h>
#include <thread>

#include "chronik/ChronikTestDir.h"

namespace {

struct DemoBatch {
    std::string time;  // HH:MM:SS of the demo's day
    uint32_t node;
    std::vector<uint32_t> codes;
};

// In the order of their times, as the demo writes them.
std::vector<DemoBatch> DemoBatches()
{
    std::vector<DemoBatch> b = {
        {"00:00:01", 2, {0}},                                      // diagnostic server started
        {"00:00:02", 2, {StationCode(2, 0, 15)}},                  // controller 02 working (a notice)
        {"08:15:00", 4, {ModuleCode(4, 1, 3, 32), ModuleCode(4, 1, 4, 16)}},
        {"09:05:00", 4, {ModuleCode(4, 1, 3, 32, true)}},
        {"11:00:00", 6, {StationCode(6, 35, 16)}},                 // data-forwarding card 03 of station 06
        {"12:30:00", 3, {StationCode(3, 15, 4)}},                  // 24 V supply 1
        {"12:31:10", 3, {StationCode(3, 15, 4, true)}},
        {"16:45:00", 5, {StationCode(5, 7, 5)}},                   // configuration mismatch, station 04
        {"17:02:00", 5, {StationCode(5, 7, 2, true)}},             // cleared with other low flag bits
        {"20:00:00", 8, {StationCode(8, 127, 0)}},                 // controller 08 not answering
        {"23:59:59", 2, {0xFFFFFFFFu}},                            // diagnostic server stopped
    };
    for (std::string h : {"02", "06", "10", "14", "18", "22"}) {  // bus 0 of controller 02 fails and recovers
        b.push_back({h + ":10:00", 2, {StationCode(2, 9, 1)}});
        b.push_back({h + ":25:30", 2, {StationCode(2, 9, 1, true)}});
    }
    std::stable_sort(b.begin(), b.end(), [](const DemoBatch& x, const DemoBatch& y) { return x.time < y.time; });
    return b;
}

uint32_t DemoTime(const std::string& hms)
{
    int h = 0, m = 0, s = 0;
    sscanf(hms.c_str(), "%d:%d:%d", &h, &m, &s);
    return kDemoDay + uint32_t(h * 3600 + m * 60 + s);
}

}  // namespace

void WriteDemoEvents(const std::string& dir)
{
    for (const DemoBatch& b : DemoBatches())
        ASSERT_EQ(Write(b.node, DemoTime(b.time), uint32_t(b.codes.size()), b.codes.data(), dir.c_str()), 1) << b.time;
}

ServeProcess::ServeProcess(const std::string& dir, const std::string& listen)
{
    std::vector<std::string> env = {"TZ=UTC"};
    for (char** e = environ; *e; ++e)
        if (strncmp(*e, "TZ=", 3) != 0) env.push_back(*e);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    m_pid = fork();
    if (m_pid == 0) {
        dup2(out[1], 1);
        dup2(out[1], 2);
        execle(CHRONIK_TOOL_PATH, CHRONIK_TOOL_PATH, "serve", "--listen", listen.c_str(), dir.c_str(), nullptr,
               envp.data());
        _exit(127);
    }
    close(out[1]);
    // Up to the line that names the address, or the end of the output.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (m_output.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd p = {out[0], POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buf[512];
        ssize_t n = read(out[0], buf, sizeof buf);
        if (n <= 0) break;
        m_output.append(buf, size_t(n));
    }
    close(out[0]);
    size_t at = m_output.find(" at http://");
    size_t slash = at == std::string::npos ? at : m_output.find('/', at + 11);
    size_t colon = slash == std::string::npos ? slash : m_output.rfind(':', slash);
    if (colon != std::string::npos && colon > at) m_port = atoi(m_output.c_str() + colon + 1);
}

ServeProcess::~ServeProcess()
{
    if (m_pid <= 0) return;
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
}

bool ServeProcess::Unavailable() const
{
    return m_output.find("no serve command") != std::string::npos;
}

int ServeProcess::Wait()
{
    for (int i = 0; i < 500 && m_pid > 0; ++i) {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

int ServeProcess::Stop()
{
    if (m_pid <= 0) return -1;
    kill(m_pid, SIGTERM);
    return Wait();
}

std::string HttpReply::Header(const std::string& name) const
{
    for (size_t at = head.find("\r\n"); at != std::string::npos; at = head.find("\r\n", at + 2)) {
        size_t start = at + 2;
        if (head.size() > start + name.size() && head[start + name.size()] == ':' &&
            strncasecmp(head.c_str() + start, name.c_str(), name.size()) == 0) {
            size_t end = head.find("\r\n", start);
            return head.substr(start + name.size() + 2, end == std::string::npos ? end : end - start - name.size() - 2);
        }
    }
    return "";
}

namespace {

// Splits what came so far into status, head and body; true once the whole
// answer is there (a kept connection stays open after it).
bool Complete(const std::string& all, bool head, HttpReply& reply)
{
    size_t end = all.find("\r\n\r\n");
    if (end == std::string::npos) return false;
    reply.status = all.compare(0, 7, "HTTP/1.") == 0 && all.size() > 12 ? atoi(all.c_str() + 9) : 0;
    reply.head = all.substr(0, end);
    reply.body = all.substr(end + 4);
    std::string length = reply.Header("Content-Length");
    if (head || reply.status == 304) return true;
    return !length.empty() && reply.body.size() >= size_t(atoll(length.c_str()));
}

}  // namespace

HttpReply HttpExchange(int port, const std::string& request, int timeoutMs, const char* host)
{
    HttpReply reply;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    inet_pton(AF_INET, host, &a.sin_addr);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        if (fd >= 0) close(fd);
        return reply;
    }
    reply.connected = true;
    for (size_t sent = 0; sent < request.size();) {
        ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += size_t(n);
    }
    std::string all;
    while (!Complete(all, request.compare(0, 5, "HEAD ") == 0, reply)) {
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) break;
        char buf[16384];
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            reply.closed = true;
            break;
        }
        all.append(buf, size_t(n));
    }
    close(fd);
    return reply;
}

HttpReply HttpGet(int port, const std::string& target, const std::string& headers)
{
    return HttpExchange(port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + headers +
                                  "\r\n");
}

std::vector<std::string> JsonValues(const std::string& body, const std::string& key)
{
    std::vector<std::string> values;
    const std::string marker = "\"" + key + "\": ";
    for (size_t at = body.find(marker); at != std::string::npos; at = body.find(marker, at + 1)) {
        size_t v = at + marker.size();
        std::string value;
        if (v < body.size() && body[v] == '"') {
            for (size_t i = v + 1; i < body.size() && body[i] != '"'; ++i) {
                if (body[i] == '\\' && i + 1 < body.size()) ++i;
                value += body[i];
            }
        } else {
            value = body.substr(v, body.find_first_of(",}", v) - v);
        }
        values.push_back(value);
    }
    return values;
}
