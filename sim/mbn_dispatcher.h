// The simulated COM worker threads: a small pool that runs queued work (event
// and completion deliveries), each item no earlier than its due time. Threads
// start on first use; Stop() joins them and drops what is still queued.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace sim {

class MbnDispatcher {
public:
    explicit MbnDispatcher(size_t threads = 2);
    ~MbnDispatcher();
    MbnDispatcher(const MbnDispatcher&) = delete;
    MbnDispatcher& operator=(const MbnDispatcher&) = delete;

    // Runs `work` on a worker thread `delayMs` (real time) from now. Work
    // posted while stopping is dropped.
    void Post(std::function<void()> work, uint32_t delayMs = 0);

    // Waits until nothing is queued or running; false when `timeout` passed
    // first. Must not be called from a worker thread.
    bool WaitIdle(std::chrono::milliseconds timeout);

    // Joins the workers (after the work they are running), drops queued work;
    // the dispatcher can be used again afterwards.
    void Stop();

    bool OnWorkerThread() const;

private:
    using Clock = std::chrono::steady_clock;
    using Key = std::pair<Clock::time_point, uint64_t>;

    void Run(uint64_t generation);

    const size_t m_threadCount;
    mutable std::mutex m_mutex;
    std::condition_variable m_workCv;
    std::condition_variable m_idleCv;
    std::map<Key, std::function<void()>> m_queue;
    std::vector<std::thread> m_threads;
    size_t m_running = 0;
    uint64_t m_sequence = 0;
    uint64_t m_generation = 0;
    bool m_stopping = false;
};

}  // namespace sim
