// The simulated COM worker threads: a small pool that runs queued work (event
// and completion deliveries), each item no earlier than its due time on the
// simulated clock, which drives it as one of its timelines (its state is kept
// under the clock's lock). Threads start on first use; Stop() joins them and
// drops what is still queued.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "sim/clock.h"

namespace sim {

class MbnDispatcher : private Clock::Timeline {
public:
    explicit MbnDispatcher(Clock& clock, size_t threads = 2);
    ~MbnDispatcher();
    MbnDispatcher(const MbnDispatcher&) = delete;
    MbnDispatcher& operator=(const MbnDispatcher&) = delete;

    // Runs `work` on a worker thread `delayMs` of simulated time from now.
    // Work posted while stopping is dropped.
    void Post(std::function<void()> work, uint32_t delayMs = 0);

    // Waits until nothing is queued or running (in Instant mode simulated time
    // moves to each queued item in turn); false when `timeout` of host time
    // passed first. Must not be called from a worker thread.
    bool WaitIdle(std::chrono::milliseconds timeout);

    // Joins the workers (after the work they are running), drops queued work;
    // the dispatcher can be used again afterwards.
    void Stop();

    bool OnWorkerThread() const;

private:
    using Key = std::pair<Clock::Duration, uint64_t>;  // due time, then posting order

    void Run(uint64_t generation);

    bool BusyLocked(Clock::Duration now) const override;
    bool IdleLocked() const override;
    std::optional<Clock::Duration> NextDueLocked() const override;
    void TimeChangedLocked() override;

    Clock& m_clock;
    const size_t m_threadCount;
    std::mutex& m_mutex;  // the clock's
    std::condition_variable m_workCv;
    std::map<Key, std::function<void()>> m_queue;
    std::vector<std::thread> m_threads;
    size_t m_running = 0;
    uint64_t m_sequence = 0;
    uint64_t m_generation = 0;
    bool m_stopping = false;
};

}  // namespace sim
