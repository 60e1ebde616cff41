// Headless Chromium over the DevTools pipe.
#include "chronik/HeadlessBrowser.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

namespace {

constexpr int kAnswerTimeoutMs = 20000;

std::string Quote(const std::string& text)
{
    std::string s = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') s += '\\';
        if (c < 0x20) {
            char esc[8];
            snprintf(esc, sizeof esc, "\\u%04x", c);
            s += esc;
        } else {
            s += char(c);
        }
    }
    return s + "\"";
}

void AppendUtf8(std::string& out, uint32_t c)
{
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

// The first string value of "key" in a message, unescaped.
std::string StringField(const std::string& message, const std::string& key)
{
    size_t at = message.find("\"" + key + "\":\"");
    if (at == std::string::npos) return "";
    std::string out;
    for (size_t i = at + key.size() + 4; i < message.size() && message[i] != '"'; ++i) {
        if (message[i] != '\\' || i + 1 >= message.size()) {
            out += message[i];
            continue;
        }
        char e = message[++i];
        if (e == 'n') out += '\n';
        else if (e == 't') out += '\t';
        else if (e == 'r') out += '\r';
        else if (e == 'b' || e == 'f') continue;
        else if (e != 'u') out += e;
        else if (i + 4 < message.size()) {
            uint32_t c = uint32_t(strtoul(message.substr(i + 1, 4).c_str(), nullptr, 16));
            i += 4;
            if (c >= 0xD800 && c < 0xDC00 && message.compare(i + 1, 2, "\\u") == 0) {
                uint32_t low = uint32_t(strtoul(message.substr(i + 3, 4).c_str(), nullptr, 16));
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                i += 6;
            }
            AppendUtf8(out, c);
        }
    }
    return out;
}

std::vector<uint8_t> Base64Decode(const std::string& text)
{
    std::vector<uint8_t> out;
    uint32_t bits = 0;
    int count = 0;
    for (char ch : text) {
        const char* p = strchr("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/", ch);
        if (!p || !ch) continue;
        bits = (bits << 6) | uint32_t(p - "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
        if ((count += 6) >= 8) out.push_back(uint8_t(bits >> (count -= 8)));
    }
    return out;
}

}  // namespace

bool HeadlessBrowser::Installed()
{
    return access(kPath, X_OK) == 0;
}

HeadlessBrowser::~HeadlessBrowser()
{
    Close();
}

bool HeadlessBrowser::Start(int width, int height, std::string& problem)
{
    for (const char* d : {"/profile", "/home", "/tmp"}) mkdir((m_workDir + d).c_str(), 0700);
    std::vector<std::string> args = {kPath, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                                     "--no-first-run", "--disable-background-networking",
                                     "--disable-component-update", "--disable-sync", "--hide-scrollbars",
                                     "--remote-debugging-pipe", "--user-data-dir=" + m_workDir + "/profile",
                                     "about:blank"};
    std::vector<std::string> env = {"HOME=" + m_workDir + "/home", "TMPDIR=" + m_workDir + "/tmp",
                                    "XDG_CONFIG_HOME=" + m_workDir + "/home", "XDG_CACHE_HOME=" + m_workDir + "/home",
                                    "TZ=UTC", "PATH=/usr/bin:/bin"};
    std::vector<char*> argv, envp;
    for (std::string& a : args) argv.push_back(a.data());
    for (std::string& e : env) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    int commands[2], answers[2];
    if (pipe2(commands, O_CLOEXEC) != 0 || pipe2(answers, O_CLOEXEC) != 0) {
        problem = strerror(errno);
        return false;
    }
    int log = open((m_workDir + "/chromium.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    m_pid = fork();
    if (m_pid == 0) {
        setpgid(0, 0);  // the browser and its helpers, to be ended together
        int in = fcntl(commands[0], F_DUPFD, 10), out = fcntl(answers[1], F_DUPFD, 10);
        dup2(in, 3);
        dup2(out, 4);
        dup2(log, 1);
        dup2(log, 2);
        execve(kPath, argv.data(), envp.data());
        _exit(127);
    }
    close(commands[0]);
    close(answers[1]);
    close(log);
    m_commands = commands[1];
    m_answers = answers[0];
    return StartPage(width, height, problem);
}

bool HeadlessBrowser::StartPage(int width, int height, std::string& problem)
{
    std::string target = StringField(Call("Target.createTarget", "{\"url\":\"about:blank\"}", true), "targetId");
    if (target.empty()) {
        problem = "the browser made no page; its log:\n" + Log();
        return false;
    }
    m_session = StringField(Call("Target.attachToTarget", "{\"targetId\":" + Quote(target) + ",\"flatten\":true}", true),
                            "sessionId");
    if (m_session.empty()) {
        problem = "no session with the page; the browser's log:\n" + Log();
        return false;
    }
    Call("Emulation.setDeviceMetricsOverride", "{\"width\":" + std::to_string(width) + ",\"height\":" +
                                                   std::to_string(height) + ",\"deviceScaleFactor\":1,\"mobile\":false}");
    return true;
}

std::string HeadlessBrowser::Call(const std::string& method, const std::string& params, bool inBrowser)
{
    if (m_commands < 0) return "";
    int id = m_nextId++;
    std::string message = "{\"id\":" + std::to_string(id) + ",\"method\":" + Quote(method) + ",\"params\":" + params +
                          (inBrowser ? "" : ",\"sessionId\":" + Quote(m_session)) + "}";
    message += '\0';
    for (size_t sent = 0; sent < message.size();) {
        ssize_t n = write(m_commands, message.data() + sent, message.size() - sent);
        if (n <= 0) return "";
        sent += size_t(n);
    }
    return Receive(id);
}

// Answers come in order among events; everything before the one asked for
// is dropped.
std::string HeadlessBrowser::Receive(int id)
{
    const std::string prefix = "{\"id\":" + std::to_string(id) + ",";
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kAnswerTimeoutMs);
    for (;;) {
        for (size_t end; (end = m_pending.find('\0')) != std::string::npos;) {
            std::string message = m_pending.substr(0, end);
            m_pending.erase(0, end + 1);
            if (message.compare(0, prefix.size(), prefix) == 0) return message;
        }
        int left = int((deadline - std::chrono::steady_clock::now()) / std::chrono::milliseconds(1));
        pollfd p = {m_answers, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, left) <= 0) return "";
        char buf[65536];
        ssize_t n = read(m_answers, buf, sizeof buf);
        if (n <= 0) return "";
        m_pending.append(buf, size_t(n));
    }
}

bool HeadlessBrowser::Navigate(const std::string& url)
{
    std::string answer = Call("Page.navigate", "{\"url\":" + Quote(url) + "}");
    return !answer.empty() && answer.find("\"errorText\"") == std::string::npos;
}

std::string HeadlessBrowser::Evaluate(const std::string& expression)
{
    std::string answer = Call("Runtime.evaluate", "{\"expression\":" + Quote(expression) + ",\"returnByValue\":true}");
    if (answer.find("\"exceptionDetails\"") != std::string::npos) return "";
    return StringField(answer, "value");
}

bool HeadlessBrowser::WaitFor(const std::string& expression, int timeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Evaluate(expression) != "yes") {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

bool HeadlessBrowser::Screenshot(const std::string& pngPath)
{
    std::vector<uint8_t> png = Base64Decode(
        StringField(Call("Page.captureScreenshot", "{\"format\":\"png\",\"captureBeyondViewport\":true}"), "data"));
    std::ofstream out(pngPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
    return !png.empty() && out.good();
}

std::string HeadlessBrowser::Log() const
{
    std::ifstream in(m_workDir + "/chromium.log", std::ios::binary);
    std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return log.size() > 4000 ? log.substr(log.size() - 4000) : log;
}

// Browser.close, then five seconds for the browser to end before its whole
// process group is killed; helpers left behind by it go with the group.
void HeadlessBrowser::Close()
{
    if (m_pid <= 0) return;
    if (m_commands >= 0) {
        std::string message = "{\"id\":" + std::to_string(m_nextId++) + ",\"method\":\"Browser.close\",\"params\":{}}";
        message += '\0';
        if (write(m_commands, message.data(), message.size()) < 0) { /* already gone */ }
        close(m_commands);
        m_commands = -1;
    }
    bool ended = false;
    for (int i = 0; i < 500 && !ended; ++i) {
        ended = waitpid(m_pid, nullptr, WNOHANG) == m_pid;
        if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(-m_pid, SIGKILL);
    if (!ended) waitpid(m_pid, nullptr, 0);
    if (m_answers >= 0) close(m_answers);
    m_answers = -1;
    m_pid = -1;
}
