// Worker pool of one conversion and the library's thread-count setting.
#include "rastik/support/CWorkerPool.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include "rastik/Exports.h"

namespace {

std::atomic<uint32_t> g_threadSetting{0};
thread_local bool t_onWorker = false;

// Most threads a conversion takes, whatever it is asked for.
constexpr uint32_t kMostThreads = 256;

}  // namespace

extern "C" void SetRastikThreads(uint32_t threads)
{
    g_threadSetting = threads > kMostThreads ? kMostThreads : threads;
}

extern "C" uint32_t GetRastikThreads()
{
    return g_threadSetting.load();
}

uint32_t RastikThreads()
{
    uint32_t threads = g_threadSetting.load();
    if (threads == 0) {
        long online = sysconf(_SC_NPROCESSORS_ONLN);
        threads = online > 0 ? static_cast<uint32_t>(online) : 1;
    }
    return threads > kMostThreads ? kMostThreads : threads;
}

CWorkerPool::CJob::CJob(uint32_t count, Task task)
    : m_count(count), m_task(std::move(task)), m_done(new std::atomic<uint8_t>[count ? count : 1])
{
    for (uint32_t i = 0; i < count; ++i) m_done[i].store(0, std::memory_order_relaxed);
}

bool CWorkerPool::CJob::Take(uint32_t& item)
{
    if (m_next.load(std::memory_order_relaxed) >= m_count) return false;
    item = m_next.fetch_add(1);
    return item < m_count;
}

void CWorkerPool::CJob::RunItem(uint32_t item)
{
    try {
        m_task(item);
    } catch (...) {
        m_failed = true;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_done[item].store(1, std::memory_order_release);
    m_itemDone.notify_all();
}

CWorkerPool::CWorkerPool(uint32_t threads)
{
    // Workers take no signals: a host's handlers (Ctrl-C) run on its own threads.
    sigset_t all, previous;
    sigfillset(&all);
    m_creator = sched_getcpu();
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    for (uint32_t i = 1; i < threads && i < kMostThreads; ++i) {
        try {
            m_workers.emplace_back([this] { WorkerLoop(); });
        } catch (const std::system_error&) {
            break;  // fewer workers; the caller's share grows
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

CWorkerPool::~CWorkerPool()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    for (std::thread& t : m_workers) t.join();
}

bool CWorkerPool::OnWorker()
{
    return t_onWorker;
}

std::shared_ptr<CWorkerPool::CJob> CWorkerPool::NextJob()
{
    while (!m_jobs.empty() && m_jobs.front()->m_next.load() >= m_jobs.front()->m_count) m_jobs.pop_front();
    return m_jobs.empty() ? nullptr : m_jobs.front();
}

namespace {

// A worker that starts on the processor of the thread that made it moves to
// another one it may run on, once. A scheduler that packs threads onto few
// processors (some virtual machines' do, to spare the host) otherwise lets
// a new worker take turns with the thread that made it on one processor
// while another stays idle, for tens of milliseconds.
void LeaveProcessor(int creator)
{
    cpu_set_t allowed;
    if (creator < 0 || sched_getcpu() != creator || sched_getaffinity(0, sizeof allowed, &allowed) != 0) return;
    cpu_set_t others = allowed;
    CPU_CLR(creator, &others);
    if (CPU_COUNT(&others) == 0 || sched_setaffinity(0, sizeof others, &others) != 0) return;
    sched_setaffinity(0, sizeof allowed, &allowed);
}

}  // namespace

void CWorkerPool::WorkerLoop()
{
    t_onWorker = true;
    LeaveProcessor(m_creator);
    for (;;) {
        std::shared_ptr<CJob> job;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [&] { return m_stopping || (job = NextJob()) != nullptr; });
            if (!job) return;
        }
        uint32_t item = 0;
        while (job->Take(item)) job->RunItem(item);
    }
}

std::shared_ptr<CWorkerPool::CJob> CWorkerPool::Start(uint32_t count, Task task)
{
    auto job = std::make_shared<CJob>(count, std::move(task));
    if (m_workers.empty() || count == 0) return job;  // the caller runs it while it waits
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_jobs.push_back(job);
    }
    // As many workers as there are items (the caller takes items only while it waits).
    if (count < m_workers.size()) {
        for (uint32_t i = 0; i < count; ++i) m_wake.notify_one();
    } else {
        m_wake.notify_all();
    }
    return job;
}

void CWorkerPool::WaitFor(CJob& job, uint32_t item)
{
    if (item >= job.m_count) return;
    uint32_t mine = 0;
    while (!job.Done(item) && job.Take(mine)) job.RunItem(mine);
    if (job.Done(item)) return;
    std::unique_lock<std::mutex> lock(job.m_mutex);
    job.m_itemDone.wait(lock, [&] { return job.Done(item); });
}

bool CWorkerPool::TryRun(CJob& job)
{
    uint32_t item = 0;
    if (!job.Take(item)) return false;
    job.RunItem(item);
    return true;
}

void CWorkerPool::Wait(CJob& job)
{
    for (uint32_t i = 0; i < job.m_count; ++i) WaitFor(job, i);
}

bool CWorkerPool::Run(uint32_t count, const Task& task)
{
    std::shared_ptr<CJob> job = Start(count, task);
    Wait(*job);
    return !job->Failed();
}
