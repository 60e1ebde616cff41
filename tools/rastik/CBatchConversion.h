// A batch of `rastik convert`: every source converted with the same options
// into one directory, a given number at a time, each conversion in a child
// process of its own. One progress line on a terminal, each failure reported
// as it happens without stopping the others, a summary at the end. Ctrl-C
// stops every running conversion, and their partial outputs are removed.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "rastik/ConvertOptions.h"

class CBatchConversion {
public:
    explicit CBatchConversion(const ConvertOptions& options);

    // kExitOk when every file converted, else kExitFailed.
    int Run();

private:
    struct Job {
        pid_t Pid = -1;
        int Fd = -1;  // the child's standard error
        size_t Index = 0;
        bool OutputExisted = false;
        std::string Errors;
    };

    bool MakeOutDir();
    // Output paths of every source; a second source with the same output
    // fails at once.
    void PlanOutputs();
    void Start(size_t index);
    [[noreturn]] void RunChild(size_t index, int errorFd);
    // Waits up to timeoutMs for output or the end of a child; takes in what
    // came and finishes the children that ended.
    void Pump(int timeoutMs);
    void Finish(Job& job, int status);
    void StopAll();
    void Report(const std::string& text);
    void DrawProgress();
    void ClearProgress();
    int Summary();

    const ConvertOptions& m_options;
    std::vector<std::string> m_outputs;
    std::vector<std::string> m_duplicateOf;
    std::vector<Job> m_running;
    unsigned long m_jobs = 1;
    unsigned long m_threads = 1;  // of each conversion
    size_t m_done = 0;
    size_t m_failed = 0;
    size_t m_stopped = 0;
    bool m_tty = false;
    bool m_progressShown = false;
    bool m_stopping = false;
    std::chrono::steady_clock::time_point m_start;
};
