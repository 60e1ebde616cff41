// A small pool of worker threads for the work of one conversion. Work is
// handed out as jobs of numbered items; the thread that hands out a job runs
// items of it too while it waits, so a job always completes, even when every
// worker is busy elsewhere. Items are taken in increasing order. Workers run
// computation and reads by position of files opened for reading only:
// progress, the Esc poll, messages and every other file call stay with the
// thread that runs the conversion.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>
#include "rastik/support/NonCopyable.h"

class CWorkerPool : private NonCopyable {
public:
    using Task = std::function<void(uint32_t item)>;

    // One job: count items, each run once by task(item).
    class CJob {
    public:
        CJob(uint32_t count, Task task);
        uint32_t Count() const { return m_count; }
        bool Done(uint32_t item) const { return m_done[item].load(std::memory_order_acquire) != 0; }
        // True when an item ended by an exception (its work is then missing).
        bool Failed() const { return m_failed.load(); }

    private:
        friend class CWorkerPool;
        // Takes the next item not yet started; false when none is left.
        bool Take(uint32_t& item);
        void RunItem(uint32_t item);

        const uint32_t m_count;
        const Task m_task;
        std::atomic<uint32_t> m_next{0};
        std::unique_ptr<std::atomic<uint8_t>[]> m_done;
        std::atomic<bool> m_failed{false};
        std::mutex m_mutex;
        std::condition_variable m_itemDone;
    };

    // threads: threads that work on a job, the calling thread included; 1
    // makes no worker.
    explicit CWorkerPool(uint32_t threads);
    // Stops and joins every worker; jobs still running are completed first.
    ~CWorkerPool();

    uint32_t Threads() const { return static_cast<uint32_t>(m_workers.size()) + 1; }

    // Hands a job to the workers and returns at once.
    std::shared_ptr<CJob> Start(uint32_t count, Task task);
    // Returns when item of job is done, running items of it meanwhile.
    void WaitFor(CJob& job, uint32_t item);
    // Returns when every item of job is done.
    void Wait(CJob& job);
    // Runs one item of job that no thread has started, on this thread;
    // false when none is left.
    bool TryRun(CJob& job);
    // Start and Wait: task(item) for every item < count. False when an item
    // failed.
    bool Run(uint32_t count, const Task& task);

    // True on the pool's own worker threads (work they run stays on them).
    static bool OnWorker();

private:
    void WorkerLoop();
    // The oldest job with items left, or null (called with m_mutex held).
    std::shared_ptr<CJob> NextJob();

    std::vector<std::thread> m_workers;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::shared_ptr<CJob>> m_jobs;
    bool m_stopping = false;
    int m_creator = -1;  // the processor of the thread that made the pool
};

// The thread count a conversion uses now: SetRastikThreads' setting, or the
// online processors for 0; at least 1.
uint32_t RastikThreads();
