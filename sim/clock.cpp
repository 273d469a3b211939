#include "sim/clock.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <thread>

#include "sim/threads.h"

namespace sim {

namespace {

using Steady = std::chrono::steady_clock;

// In Instant mode a waiter that cannot move time looks again after this much
// host time: a thread that left its wait may have blocked where the clock
// cannot see it (a mutex, a join) instead of waiting again.
constexpr std::chrono::milliseconds kSettle{10};
// While another thread of the process is ready to run, Instant time waits for
// it, looking again this often, but no longer than the grace (a thread that
// never blocks must not stop time for good).
constexpr std::chrono::microseconds kRunnableRecheck{200};
constexpr std::chrono::milliseconds kRunnableGrace{100};
// AwaitStill looks twice, this far apart, to see that nothing runs.
constexpr std::chrono::microseconds kStillRecheck{50};

#ifdef _WIN32
// The Windows build (the simulated modem inside a COM server) runs in real
// time and never waits for ready threads.
uint32_t CurrentThreadId()
{
    return GetCurrentThreadId();
}

bool OtherThreadRunnable(const std::vector<uint32_t>&)
{
    return false;
}
#else
uint32_t CurrentThreadId()
{
    return static_cast<uint32_t>(syscall(SYS_gettid));
}

// Whether a thread of this process other than `excluded` is running or ready
// to run (or in an uninterruptible wait), as the kernel sees it: work that
// real time would let happen before any wait ends.
bool OtherThreadRunnable(const std::vector<uint32_t>& excluded)
{
    const std::vector<ThreadState> threads = ThreadsOfThisProcess();
    return std::any_of(threads.begin(), threads.end(), [&excluded](const ThreadState& thread) {
        return (thread.state == 'R' || thread.state == 'D') &&
               std::find(excluded.begin(), excluded.end(), thread.id) == excluded.end();
    });
}
#endif

}  // namespace

// One thread inside a clock wait.
struct Clock::Waiter {
    std::optional<Duration> deadline;         // none: no time-out
    bool drivesTime = false;                  // may move Instant time up to its end
    bool boundsTime = false;                  // Instant time moves no further than its end
    Signal* signal = nullptr;                 // ends the wait when signalled
    bool released = false;                    // a SetEvent ended it, whatever the signal's state now
    std::function<bool()> done;               // another end, checked under the lock
    std::optional<Steady::time_point> realLimit;  // gives up after this much host time
    uint32_t threadId = CurrentThreadId();
};

Clock::Hold::Hold(Clock& clock) : m_clock(clock)
{
    std::lock_guard<std::mutex> lock(m_clock.m_mutex);
    ++m_clock.m_holds;
}

Clock::Hold::~Hold()
{
    std::lock_guard<std::mutex> lock(m_clock.m_mutex);
    --m_clock.m_holds;
    m_clock.AdvanceLocked();
}

Clock::Bound::Bound(Clock& clock) : m_clock(clock)
{
    std::lock_guard<std::mutex> lock(m_clock.m_mutex);
    m_limit = m_clock.NowLocked();
    m_clock.m_bounds.push_back(this);
}

Clock::Bound::~Bound()
{
    std::lock_guard<std::mutex> lock(m_clock.m_mutex);
    m_clock.m_bounds.erase(std::find(m_clock.m_bounds.begin(), m_clock.m_bounds.end(), this));
    m_clock.AdvanceLocked();
}

void Clock::Bound::MoveTo(Duration limit)
{
    std::lock_guard<std::mutex> lock(m_clock.m_mutex);
    m_limit = limit;
    m_clock.AdvanceLocked();
}

void Clock::Bound::HoldAtNow()
{
    std::lock_guard<std::mutex> lock(m_clock.m_mutex);
    m_limit = m_clock.NowLocked();
}

void Clock::SetMode(Mode mode, double realPerSimulated)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const Duration now = NowLocked();
    m_mode = mode;
    m_realPerSimulated = (mode == Mode::Scaled && realPerSimulated > 0) ? realPerSimulated : 1.0;
    m_realBase = Steady::now();
    m_base = now;
    m_virtual = now;
    m_wallBase = std::chrono::system_clock::now();
    m_wallSimulatedBase = now;
    WakeLocked(true);
}

void Clock::WaitForReadyThreads(bool on)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_waitForReadyThreads = on;
    m_runnableSince.reset();
}

void Clock::Sleep(uint32_t milliseconds)
{
    std::function<void(uint32_t)> hook;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        hook = m_sleepHook;
    }
    if (hook) {
        hook(milliseconds);
    }
    TimedWait(nullptr, milliseconds, WaitRecord::Kind::Sleep, true);
    if (milliseconds == 0) {
        std::this_thread::yield();
    }
}

bool Clock::Wait(Signal& signal, uint32_t milliseconds)
{
    if (milliseconds != kForever) {
        return TimedWait(&signal, milliseconds, WaitRecord::Kind::Wait, true);
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    Waiter waiter;
    waiter.signal = &signal;
    return WaitLocked(lock, waiter);
}

void Clock::Change(Signal& signal, bool signalled)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!signalled) {
        signal.signalled = false;
        return;
    }
    // As on Windows, SetEvent releases the waiters at once: every waiter of a
    // manual-reset event, the longest waiting one of an auto-reset event,
    // which then stays unsignalled. A later ResetEvent or wait cannot take
    // the release back.
    bool releasedOne = false;
    for (Waiter* waiter : m_waiters) {
        if (waiter->signal == &signal && !waiter->released && !OverLocked(*waiter)) {
            waiter->released = true;
            releasedOne = true;
            if (!signal.manualReset) {
                break;
            }
        }
    }
    signal.signalled = signal.manualReset || !releasedOne;
    WakeLocked(false);
}

void Clock::SetSleepHook(std::function<void(uint32_t milliseconds)> hook)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sleepHook = std::move(hook);
}

void Clock::Advance(uint32_t milliseconds)
{
    TimedWait(nullptr, milliseconds, WaitRecord::Kind::Sleep, false);
}

void Clock::AdvanceTo(Duration until)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    Waiter waiter;
    waiter.deadline = until;
    waiter.drivesTime = true;
    WaitLocked(lock, waiter);
}

std::optional<Clock::Duration> Clock::NextEvent() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const Duration now = NowLocked();
    std::optional<Duration> next;
    const auto consider = [&next, now](std::optional<Duration> time) {
        if (time && *time > now && (!next || *time < *next)) {
            next = time;
        }
    };
    for (const Waiter* waiter : m_waiters) {
        consider(waiter->deadline);
    }
    for (const Timeline* timeline : m_timelines) {
        consider(timeline->NextDueLocked());
    }
    return next;
}

bool Clock::RunUntil(const std::function<bool()>& doneLocked, std::chrono::milliseconds realTimeout)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    Waiter waiter;
    waiter.drivesTime = true;
    waiter.done = doneLocked;
    waiter.realLimit = Steady::now() + realTimeout;
    WaitLocked(lock, waiter);
    return doneLocked();
}

bool Clock::AwaitWaiters(size_t count, std::chrono::milliseconds realTimeout)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, realTimeout, [this, count] { return m_waiters.size() >= count; });
}

Clock::Duration Clock::Elapsed() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return NowLocked();
}

bool Clock::Follow(Duration until, std::chrono::milliseconds realTimeout)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    Waiter waiter;
    waiter.deadline = until;
    waiter.boundsTime = true;
    waiter.realLimit = Steady::now() + realTimeout;
    WaitLocked(lock, waiter);
    return NowLocked() >= until;
}

bool Clock::IsWaiting(uint32_t threadId) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::any_of(m_waiters.begin(), m_waiters.end(),
                       [threadId](const Waiter* waiter) { return waiter->threadId == threadId; });
}

bool Clock::AwaitStill(std::chrono::milliseconds realTimeout)
{
    const Steady::time_point giveUp = Steady::now() + realTimeout;
    for (int stillLooks = 0;;) {
        stillLooks = AnythingRunnable() ? 0 : stillLooks + 1;
        if (stillLooks == 2) {
            return true;
        }
        if (Steady::now() > giveUp) {
            return false;
        }
        std::this_thread::sleep_for(kStillRecheck);
    }
}

bool Clock::AnythingRunnable() const
{
    bool lookAtThreads = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const Duration now = NowLocked();
        if (m_holds > 0 ||
            std::any_of(m_waiters.begin(), m_waiters.end(), [this](const Waiter* w) { return OverLocked(*w); }) ||
            std::any_of(m_timelines.begin(), m_timelines.end(),
                        [now](const Timeline* t) { return t->BusyLocked(now); })) {
            return true;
        }
        lookAtThreads = m_waitForReadyThreads;
    }
    // Read without the clock's lock, and with the threads inside a clock wait:
    // a thread waiting for the lock would look blocked although it runs on as
    // soon as the lock is free, and a waiter that runs (looking again, with the
    // lock) may hold up what it is waited for.
    return lookAtThreads && OtherThreadRunnable({CurrentThreadId()});
}

std::optional<Clock::Duration> Clock::NextDue() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::optional<Duration> next;
    for (const Timeline* timeline : m_timelines) {
        const std::optional<Duration> due = timeline->NextDueLocked();
        if (due && (!next || *due < *next)) {
            next = due;
        }
    }
    return next;
}

bool Clock::TimelinesBusy() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const Duration now = NowLocked();
    return std::any_of(m_timelines.begin(), m_timelines.end(),
                       [now](const Timeline* timeline) { return timeline->BusyLocked(now); });
}

bool Clock::TimelinesIdle() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::all_of(m_timelines.begin(), m_timelines.end(),
                       [](const Timeline* timeline) { return timeline->IdleLocked(); });
}

std::vector<Clock::WaitRecord> Clock::Records() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<WaitRecord> records = m_records;
    if (m_recordCount > kRecordLimit) {
        std::rotate(records.begin(), records.begin() + static_cast<long>(m_recordCount % kRecordLimit),
                    records.end());
    }
    return records;
}

uint64_t Clock::RecordCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_recordCount;
}

std::vector<Clock::SleepRecord> Clock::Sleeps() const
{
    std::vector<WaitRecord> sleeps = Records();
    sleeps.erase(std::remove_if(sleeps.begin(), sleeps.end(),
                                [](const WaitRecord& record) { return record.kind != WaitRecord::Kind::Sleep; }),
                 sleeps.end());
    return sleeps;
}

void Clock::ClearSleeps()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_records.clear();
    m_recordCount = 0;
}

void Clock::PinWallTime(std::time_t seconds, uint16_t milliseconds)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pinned = true;
    m_pinnedSeconds = seconds;
    m_pinnedMilliseconds = milliseconds;
}

void Clock::AdvanceWallTime(std::time_t seconds)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pinnedSeconds += seconds;
}

void Clock::UnpinWallTime()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pinned = false;
}

void Clock::Now(std::time_t& seconds, uint16_t& milliseconds) const
{
    std::chrono::system_clock::time_point wall;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_pinned) {
            seconds = m_pinnedSeconds;
            milliseconds = m_pinnedMilliseconds;
            return;
        }
        wall = m_mode == Mode::Real
                   ? std::chrono::system_clock::now()
                   : m_wallBase + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                      NowLocked() - m_wallSimulatedBase);
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(wall.time_since_epoch()).count();
    seconds = static_cast<std::time_t>(ms / 1000);
    milliseconds = static_cast<uint16_t>(ms % 1000);
}

void Clock::Reset(Mode mode, double realPerSimulated)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_mode = mode;
    m_realPerSimulated = (mode == Mode::Scaled && realPerSimulated > 0) ? realPerSimulated : 1.0;
    m_realBase = Steady::now();
    m_base = Duration{0};
    m_virtual = Duration{0};
    m_records.clear();
    m_recordCount = 0;
    m_sleepHook = nullptr;
    m_waitForReadyThreads = false;
    m_runnableSince.reset();
    m_pinned = false;
    m_wallBase = std::chrono::system_clock::now();
    m_wallSimulatedBase = Duration{0};
    WakeLocked(true);
}

void Clock::ContinueFrom(Duration from, std::chrono::system_clock::time_point wallAtZero)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_realBase = Steady::now();
    m_base = from;
    m_virtual = from;
    m_wallBase = wallAtZero;
    m_wallSimulatedBase = Duration{0};
    WakeLocked(true);
}

void Clock::Attach(Timeline* timeline)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_timelines.push_back(timeline);
}

void Clock::Detach(Timeline* timeline)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_timelines.erase(std::remove(m_timelines.begin(), m_timelines.end(), timeline), m_timelines.end());
    m_changed.notify_all();
}

Clock::Duration Clock::NowLocked() const
{
    if (m_mode == Mode::Instant) {
        return m_virtual;
    }
    return m_base + std::chrono::duration_cast<Duration>((Steady::now() - m_realBase) / m_realPerSimulated);
}

Steady::time_point Clock::RealTimeLocked(Duration simulated) const
{
    return m_realBase + std::chrono::duration_cast<Steady::duration>((simulated - m_base) * m_realPerSimulated);
}

void Clock::WaitForDueLocked(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, Duration due)
{
    if (m_mode == Mode::Instant) {
        cv.wait(lock);  // AdvanceLocked wakes it when time moves
    } else {
        cv.wait_until(lock, RealTimeLocked(due));
    }
}

void Clock::TimelineChangedLocked()
{
    m_changed.notify_all();
    AdvanceLocked();
}

bool Clock::OverLocked(const Waiter& waiter) const
{
    return waiter.released || (waiter.signal != nullptr && waiter.signal->signalled) ||
           (waiter.deadline && NowLocked() >= *waiter.deadline) || (waiter.done && waiter.done());
}

bool Clock::WaitLocked(std::unique_lock<std::mutex>& lock, Waiter& waiter)
{
    m_waiters.push_back(&waiter);
    m_changed.notify_all();  // for AwaitWaiters
    AdvanceLocked();
    // When a waiter that drives Instant time looks again; kept over wake-ups,
    // so that others' frequent notifications cannot put the look off for good.
    std::optional<Steady::time_point> lookAgainAt;
    while (!OverLocked(waiter)) {
        std::optional<Steady::time_point> until = waiter.realLimit;
        if (m_mode == Mode::Instant && waiter.drivesTime) {
            if (!lookAgainAt) {
                lookAgainAt = Steady::now() + (m_runnableSince ? Steady::duration(kRunnableRecheck) : kSettle);
            }
            until = until ? std::min(*until, *lookAgainAt) : *lookAgainAt;
        } else if (m_mode != Mode::Instant && waiter.deadline) {
            const auto deadline = RealTimeLocked(*waiter.deadline);
            until = until ? std::min(*until, deadline) : deadline;
        }
        if (!until) {
            m_changed.wait(lock);
        } else if (m_changed.wait_until(lock, *until) == std::cv_status::timeout) {
            if (waiter.realLimit && Steady::now() >= *waiter.realLimit) {
                break;
            }
            AdvanceLocked();
            lookAgainAt.reset();
        }
    }
    m_waiters.erase(std::find(m_waiters.begin(), m_waiters.end(), &waiter));
    if (waiter.released) {
        return true;
    }
    const bool signalled = waiter.signal != nullptr && waiter.signal->signalled;
    if (signalled && !waiter.signal->manualReset) {
        waiter.signal->signalled = false;
    }
    return signalled;
}

bool Clock::TimedWait(Signal* signal, uint32_t milliseconds, WaitRecord::Kind kind, bool record)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const Duration start = NowLocked();
    Waiter waiter;
    waiter.signal = signal;
    waiter.deadline = start + std::chrono::milliseconds(milliseconds);
    waiter.drivesTime = true;
    const bool signalled = WaitLocked(lock, waiter);
    if (record) {
        WaitRecord entry;
        entry.threadId = CurrentThreadId();
        entry.milliseconds = milliseconds;
        entry.kind = kind;
        entry.signalled = signalled;
        entry.elapsedMs =
            static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(NowLocked() - start).count());
        RecordLocked(entry);
    }
    return signalled;
}

// Instant time moves only when every known party is blocked: no Hold, no
// waiter whose wait is over, no timeline with due or running work. It moves
// to the earliest deadline of the waiters that drive it, or to a timeline's
// next due item when that comes first, and never past a Bound's limit.
void Clock::AdvanceLocked()
{
    if (m_mode != Mode::Instant || m_holds > 0) {
        return;
    }
    std::optional<Duration> target;
    bool driven = false;
    for (const Waiter* waiter : m_waiters) {
        if (OverLocked(*waiter)) {
            return;
        }
        if (waiter->drivesTime || waiter->boundsTime) {
            driven = driven || waiter->drivesTime;
            if (waiter->deadline && (!target || *waiter->deadline < *target)) {
                target = waiter->deadline;
            }
        }
    }
    if (!driven) {
        return;
    }
    for (const Timeline* timeline : m_timelines) {
        if (timeline->BusyLocked(m_virtual)) {
            return;
        }
        const std::optional<Duration> due = timeline->NextDueLocked();
        if (due && (!target || *due < *target)) {
            target = due;
        }
    }
    for (const Bound* bound : m_bounds) {
        if (target && bound->m_limit < *target) {
            target = bound->m_limit;
        }
    }
    if (!target || *target <= m_virtual) {
        return;
    }
    if (m_waitForReadyThreads && OthersRunnableLocked()) {
        return;
    }
    m_virtual = *target;
    WakeLocked(true);
}

bool Clock::OthersRunnableLocked()
{
    std::vector<uint32_t> excluded = {CurrentThreadId()};
    for (const Waiter* waiter : m_waiters) {
        excluded.push_back(waiter->threadId);
    }
    if (!OtherThreadRunnable(excluded)) {
        m_runnableSince.reset();
        return false;
    }
    const Steady::time_point now = Steady::now();
    if (!m_runnableSince) {
        m_runnableSince = now;
    }
    if (now - *m_runnableSince < kRunnableGrace) {
        return true;
    }
    m_runnableSince.reset();
    return false;
}

void Clock::WakeLocked(bool timeMoved)
{
    m_changed.notify_all();
    if (timeMoved) {
        for (Timeline* timeline : m_timelines) {
            timeline->TimeChangedLocked();
        }
    }
}

void Clock::RecordLocked(const WaitRecord& record)
{
    if (m_records.size() < kRecordLimit) {
        m_records.push_back(record);
    } else {
        m_records[m_recordCount % kRecordLimit] = record;
    }
    ++m_recordCount;
}

}  // namespace sim
