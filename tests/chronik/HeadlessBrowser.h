// Headless Chromium for the page tests, driven over its DevTools pipe (the
// browser reads commands from descriptor 3 and answers on 4, each message
// JSON ended by a NUL): one page to load, expressions to evaluate in it,
// screenshots.
#pragma once

#include <sys/types.h>

#include <string>

class HeadlessBrowser {
public:
    static constexpr const char* kPath = "/usr/bin/chromium";
    static bool Installed();

    // The browser's profile, home, temporary files and log go under workDir
    // (made by the caller, removed by the caller).
    explicit HeadlessBrowser(const std::string& workDir) : m_workDir(workDir) {}
    ~HeadlessBrowser();
    HeadlessBrowser(const HeadlessBrowser&) = delete;
    HeadlessBrowser& operator=(const HeadlessBrowser&) = delete;

    // Starts the browser with one blank page of width x height; false with
    // the reason in problem.
    bool Start(int width, int height, std::string& problem);
    bool Navigate(const std::string& url);
    // The string an expression yields; "" when it throws or yields none.
    std::string Evaluate(const std::string& expression);
    // Evaluates the expression every 100 ms until it yields "yes", for at
    // most timeoutMs.
    bool WaitFor(const std::string& expression, int timeoutMs);
    bool Screenshot(const std::string& pngPath);
    // The end of what the browser wrote on its standard error.
    std::string Log() const;

private:
    // Sends a command (to the page's session unless inBrowser) and returns
    // its answer, "" when none came.
    std::string Call(const std::string& method, const std::string& params, bool inBrowser = false);
    std::string Receive(int id);
    bool StartPage(int width, int height, std::string& problem);
    void Close();

    std::string m_workDir;
    pid_t m_pid = -1;
    int m_commands = -1;  // our end of the browser's descriptor 3
    int m_answers = -1;   // our end of its descriptor 4
    int m_nextId = 1;
    std::string m_session;
    std::string m_pending;  // bytes read beyond the last message
};
