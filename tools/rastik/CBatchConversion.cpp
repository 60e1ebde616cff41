// Batch conversion in child processes: the parent starts up to N children,
// relays the error lines of each as it ends, keeps one progress line and
// passes Ctrl-C on to every running child.
#include "rastik/CBatchConversion.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>

#include "rastik/CFileConversion.h"
#include "rastik/Command.h"
#include "rastik/rastik.h"

namespace {

// Exit status of a child whose conversion Ctrl-C stopped.
constexpr int kChildInterrupted = 3;

volatile sig_atomic_t g_batchInterrupted = 0;

void OnBatchSigint(int)
{
    g_batchInterrupted = 1;
}

std::string BaseName(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The source's name with the extension given, or its own.
std::string OutputName(const std::string& source, const std::string& format)
{
    std::string name = BaseName(source);
    if (format.empty()) return name;
    size_t dot = name.rfind('.');
    return (dot == std::string::npos || dot == 0 ? name : name.substr(0, dot)) + "." + format;
}

}  // namespace

CBatchConversion::CBatchConversion(const ConvertOptions& options) : m_options(options)
{
    long online = sysconf(_SC_NPROCESSORS_ONLN);
    const unsigned long cores = online > 0 ? static_cast<unsigned long>(online) : 1;
    // Jobs times threads stays within the processors unless both are given:
    // the one not given takes what the other leaves (at least 1), and a
    // batch of fewer files than jobs gives its files the threads of the rest.
    m_jobs = options.Jobs ? options.Jobs : std::max(1ul, cores / std::max(1ul, options.Threads));
    unsigned long running = std::max(1ul, std::min<unsigned long>(m_jobs, options.Sources.size()));
    m_threads = options.Threads ? options.Threads : std::max(1ul, cores / running);
    m_tty = isatty(STDERR_FILENO) != 0;
}

bool CBatchConversion::MakeOutDir()
{
    const std::string& dir = m_options.OutDir;
    struct stat st;
    if (stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
    if (mkdir(dir.c_str(), 0777) == 0) return true;
    fprintf(stderr, "rastik convert: cannot create %s: %s\n", dir.c_str(), strerror(errno));
    return false;
}

void CBatchConversion::PlanOutputs()
{
    std::map<std::string, size_t> taken;
    m_outputs.clear();
    m_duplicateOf.assign(m_options.Sources.size(), std::string());
    for (size_t i = 0; i < m_options.Sources.size(); ++i) {
        std::string out = m_options.OutDir + "/" + OutputName(m_options.Sources[i], m_options.Format);
        auto [at, fresh] = taken.emplace(out, i);
        if (!fresh) m_duplicateOf[i] = m_options.Sources[at->second];
        m_outputs.push_back(out);
    }
}

void CBatchConversion::RunChild(size_t index, int errorFd)
{
    signal(SIGINT, SIG_DFL);
    dup2(errorFd, STDERR_FILENO);
    close(errorFd);
    int devnull = open("/dev/null", O_WRONLY);
    if (devnull >= 0) {
        dup2(devnull, STDOUT_FILENO);
        close(devnull);
    }
    // The plane heap is shared out among the conversions running together.
    if (!m_options.PlaneCap && m_jobs > 1) SetPlaneHeapCap(GetPlaneHeapCap() / m_jobs);
    int status;
    {
        ConvertOptions options = m_options;
        options.Threads = m_threads;
        CFileConversion conversion(options, options.Sources[index], m_outputs[index]);
        status = conversion.Run();
        if (conversion.Interrupted()) status = kChildInterrupted;
    }
    fflush(nullptr);
    _exit(status);
}

void CBatchConversion::Start(size_t index)
{
    if (!m_duplicateOf[index].empty()) {
        ++m_done;
        ++m_failed;
        Report("rastik convert: " + m_options.Sources[index] + ": " + m_outputs[index] + " is also the output of " +
               m_duplicateOf[index]);
        return;
    }
    int fds[2];
    Job job;
    job.Index = index;
    job.OutputExisted = access(m_outputs[index].c_str(), F_OK) == 0;
    fflush(nullptr);
    pid_t pid = pipe(fds) == 0 ? fork() : -1;
    if (pid == 0) {
        close(fds[0]);
        RunChild(index, fds[1]);
    }
    if (pid < 0) {
        ++m_done;
        ++m_failed;
        Report("rastik convert: " + m_options.Sources[index] + ": cannot start a conversion: " + strerror(errno));
        return;
    }
    close(fds[1]);
    job.Pid = pid;
    job.Fd = fds[0];
    m_running.push_back(job);
}

void CBatchConversion::Pump(int timeoutMs)
{
    std::vector<pollfd> fds;
    for (const Job& j : m_running) fds.push_back({j.Fd, POLLIN, 0});
    if (poll(fds.data(), fds.size(), timeoutMs) <= 0) return;  // time out, or Ctrl-C
    std::vector<Job> still;
    for (size_t i = 0; i < m_running.size(); ++i) {
        Job& job = m_running[i];
        bool ended = false;
        if (fds[i].revents) {
            char buf[4096];
            ssize_t n = read(job.Fd, buf, sizeof buf);
            if (n > 0) job.Errors.append(buf, static_cast<size_t>(n));
            else ended = n == 0 || errno != EINTR;
        }
        if (!ended) {
            still.push_back(job);
            continue;
        }
        close(job.Fd);
        int status = 0;
        while (waitpid(job.Pid, &status, 0) < 0 && errno == EINTR) {
        }
        Finish(job, status);
    }
    m_running.swap(still);
}

void CBatchConversion::Finish(Job& job, int status)
{
    ++m_done;
    bool ok = WIFEXITED(status) && WEXITSTATUS(status) == kExitOk;
    bool stopped = (WIFEXITED(status) && WEXITSTATUS(status) == kChildInterrupted) || WIFSIGNALED(status);
    if (ok) return;
    // A child that died before it could tidy up leaves no output it made.
    if (WIFSIGNALED(status) && !job.OutputExisted) unlink(m_outputs[job.Index].c_str());
    if (stopped && m_stopping) {
        ++m_stopped;
        return;
    }
    ++m_failed;
    while (!job.Errors.empty() && job.Errors.back() == '\n') job.Errors.pop_back();
    if (job.Errors.empty()) job.Errors = "rastik convert: " + m_options.Sources[job.Index] + ": conversion failed";
    Report(job.Errors);
}

void CBatchConversion::StopAll()
{
    m_stopping = true;
    for (const Job& j : m_running) kill(j.Pid, SIGINT);
}

void CBatchConversion::Report(const std::string& text)
{
    ClearProgress();
    fprintf(stderr, "%s\n", text.c_str());
}

void CBatchConversion::ClearProgress()
{
    if (m_progressShown) fprintf(stderr, "\r\033[K");
    m_progressShown = false;
}

void CBatchConversion::DrawProgress()
{
    if (!m_tty) return;
    size_t total = m_options.Sources.size();
    constexpr size_t kWidth = 30;
    size_t filled = total ? m_done * kWidth / total : kWidth;
    std::string bar(filled, '#');
    bar.resize(kWidth, ' ');
    fprintf(stderr, "\r\033[Kconverting [%s] %zu/%zu", bar.c_str(), m_done, total);
    if (m_failed) fprintf(stderr, ", %zu failed", m_failed);
    fflush(stderr);
    m_progressShown = true;
}

int CBatchConversion::Summary()
{
    ClearProgress();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    size_t total = m_options.Sources.size();
    size_t converted = m_done - m_failed - m_stopped;
    if (m_stopping) {
        fprintf(stderr, "rastik convert: interrupted: converted %zu of %zu files, %zu stopped\n", converted, total,
                m_stopped);
        return kExitFailed;
    }
    printf("converted %zu of %zu files into %s in %.1f s", converted, total, m_options.OutDir.c_str(), seconds);
    if (m_failed) printf("; %zu failed", m_failed);
    printf("\n");
    return m_failed ? kExitFailed : kExitOk;
}

int CBatchConversion::Run()
{
    if (!MakeOutDir()) return kExitFailed;
    PlanOutputs();
    m_start = std::chrono::steady_clock::now();
    g_batchInterrupted = 0;
    struct sigaction sa = {};
    sa.sa_handler = OnBatchSigint;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);  // no restart: a waiting poll returns at once
    size_t next = 0;
    const size_t total = m_options.Sources.size();
    while (next < total || !m_running.empty()) {
        if (g_batchInterrupted && !m_stopping) StopAll();
        while (!m_stopping && next < total && m_running.size() < m_jobs) Start(next++);
        DrawProgress();
        if (!m_running.empty()) Pump(200);
        else if (m_stopping) break;
    }
    signal(SIGINT, SIG_DFL);
    return Summary();
}
