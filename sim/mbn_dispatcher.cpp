#include "sim/mbn_dispatcher.h"

#ifdef _WIN32
#include <objbase.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <set>

namespace sim {

namespace {

// Dispatchers whose workers must be joined when the process exits, before the
// service's process-wide objects that the deliveries call into are destroyed.
std::mutex& RegistryMutex()
{
    static std::mutex* mutex = new std::mutex;
    return *mutex;
}

std::set<MbnDispatcher*>& Registry()
{
    static auto* registry = new std::set<MbnDispatcher*>;
    return *registry;
}

#ifndef _WIN32
void StopAllAtExit()
{
    std::set<MbnDispatcher*> dispatchers;
    {
        std::lock_guard<std::mutex> lock(RegistryMutex());
        dispatchers = Registry();
    }
    for (MbnDispatcher* dispatcher : dispatchers) {
        dispatcher->Stop();
    }
}
#endif

// Registered when the first worker starts: later than the objects created
// before it, so it runs before their destructors. Not in the Windows build:
// there the dispatcher lives in a COM server DLL, whose exit handlers run
// under the loader lock after the process's other threads were ended, and a
// join there could wait for a lock that an ended thread held.
void RegisterExitHandler()
{
#ifndef _WIN32
    static const bool registered = [] {
        std::atexit(StopAllAtExit);
        return true;
    }();
    (void)registered;
#endif
}

// The worker threads are the platform's COM threads: on Windows they live in
// the multithreaded apartment, as the threads that deliver events there do.
class ApartmentOfWorker {
public:
#ifdef _WIN32
    ApartmentOfWorker() : m_entered(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}
    ~ApartmentOfWorker()
    {
        if (m_entered) {
            CoUninitialize();
        }
    }

private:
    const bool m_entered;
#else
    ApartmentOfWorker() {}
#endif
};

}  // namespace

MbnDispatcher::MbnDispatcher(Clock& clock, size_t threads)
    : m_clock(clock), m_threadCount(threads == 0 ? 1 : threads), m_mutex(clock.Mutex())
{
    m_clock.Attach(this);
    std::lock_guard<std::mutex> lock(RegistryMutex());
    Registry().insert(this);
}

MbnDispatcher::~MbnDispatcher()
{
    {
        std::lock_guard<std::mutex> lock(RegistryMutex());
        Registry().erase(this);
    }
    Stop();
    m_clock.Detach(this);
}

void MbnDispatcher::Post(std::function<void()> work, uint32_t delayMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_stopping) {
        lock.unlock();
        work = nullptr;  // released outside the lock: it may hold COM references
        return;
    }
    if (m_threads.empty()) {
        RegisterExitHandler();
        for (size_t i = 0; i < m_threadCount; ++i) {
            m_threads.emplace_back([this, generation = m_generation] { Run(generation); });
        }
    }
    const Key key{m_clock.NowLocked() + std::chrono::milliseconds(delayMs), m_sequence++};
    m_queue.emplace(key, std::move(work));
    m_workCv.notify_one();
}

bool MbnDispatcher::WaitIdle(std::chrono::milliseconds timeout)
{
    return m_clock.RunUntil([this] { return IdleLocked(); }, timeout);
}

void MbnDispatcher::Stop()
{
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        ++m_generation;
        threads.swap(m_threads);
    }
    m_workCv.notify_all();
    const std::thread::id self = std::this_thread::get_id();
    for (std::thread& thread : threads) {
        if (thread.get_id() == self) {
            thread.detach();  // stopped from one of our own deliveries: it ends after returning
        } else {
            thread.join();
        }
    }
    std::map<Key, std::function<void()>> dropped;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        dropped.swap(m_queue);
        m_stopping = false;
        m_clock.TimelineChangedLocked();
    }
    dropped.clear();
}

bool MbnDispatcher::OnWorkerThread() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::thread::id self = std::this_thread::get_id();
    return std::any_of(m_threads.begin(), m_threads.end(),
                       [self](const std::thread& thread) { return thread.get_id() == self; });
}

void MbnDispatcher::Run(uint64_t generation)
{
    const ApartmentOfWorker apartment;
    std::unique_lock<std::mutex> lock(m_mutex);
    // A thread of an earlier generation (one detached by a Stop from its own
    // delivery) ends as soon as it gets here.
    while (!m_stopping && m_generation == generation) {
        if (m_queue.empty()) {
            m_workCv.wait(lock);
            continue;
        }
        auto first = m_queue.begin();
        const Clock::Duration due = first->first.first;  // the item may go while we wait
        if (due > m_clock.NowLocked()) {
            m_clock.WaitForDueLocked(lock, m_workCv, due);
            continue;
        }
        std::function<void()> work = std::move(first->second);
        m_queue.erase(first);
        ++m_running;
        // Another worker may take the next item while this one runs.
        if (!m_queue.empty()) {
            m_workCv.notify_one();
        }
        lock.unlock();
        work();
        work = nullptr;
        lock.lock();
        --m_running;
        m_clock.TimelineChangedLocked();
    }
}

bool MbnDispatcher::BusyLocked(Clock::Duration now) const
{
    return m_running > 0 || (!m_queue.empty() && m_queue.begin()->first.first <= now);
}

bool MbnDispatcher::IdleLocked() const
{
    return m_queue.empty() && m_running == 0;
}

std::optional<Clock::Duration> MbnDispatcher::NextDueLocked() const
{
    if (m_queue.empty()) {
        return std::nullopt;
    }
    return m_queue.begin()->first.first;
}

void MbnDispatcher::TimeChangedLocked()
{
    m_workCv.notify_all();
}

}  // namespace sim
