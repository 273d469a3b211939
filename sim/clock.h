// The simulated laptop's clock: one time line for every Sleep, every timed
// wait and every delayed delivery of the simulated platform, and the wall time
// that the time calls report.
//
// Modes:
//  - Real: simulated time is the host's steady time.
//  - Scaled: simulated time runs against host time by a factor: a simulated
//    millisecond lasts `realPerSimulated` real milliseconds (0.01: a hundred
//    times faster, 2: twice as slow).
//  - Instant: virtual time. It stands still while anything simulated can run
//    (work of a timeline that is due or running, a waiter whose wait is over
//    but that has not returned yet, a Hold, and with WaitForReadyThreads
//    another thread of the process that is ready to run, for up to 100 ms of
//    host time) and moves only when a thread waits
//    on the clock: to the earliest of the waiters' deadlines and the timelines'
//    next due work. Deliveries due before a waiter's deadline so run first, in
//    due order, and a wait nobody ends is over at once in wall time. A Bound
//    keeps it from moving past a limit.
//
// Every Sleep and every timed wait is recorded: the last kRecordLimit of them
// and a total count, so memory stays flat in a long run.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace sim {

class Clock {
public:
    enum class Mode { Real, Scaled, Instant };
    // Simulated time since the last Reset.
    using Duration = std::chrono::nanoseconds;

    static constexpr uint32_t kForever = 0xFFFFFFFFu;  // INFINITE
    static constexpr size_t kRecordLimit = 4096;

    struct WaitRecord {
        enum class Kind { Sleep, Wait };
        uint32_t threadId = 0;
        uint32_t milliseconds = 0;  // as requested
        Kind kind = Kind::Sleep;
        bool signalled = false;     // a wait that its event ended (not its time-out)
        uint32_t elapsedMs = 0;     // simulated time the call took
    };
    using SleepRecord = WaitRecord;

    // The state of an event. It is guarded by the clock's lock, so that a
    // signal and the passage of time are seen in one order by every waiter.
    struct Signal {
        bool manualReset = false;
        bool signalled = false;
    };

    // Work the clock drives: a queue of items that run at simulated due times
    // (the simulated COM worker threads). Called under Mutex().
    class Timeline {
    public:
        // An item is due at `now` or one is running.
        virtual bool BusyLocked(Duration now) const = 0;
        // Nothing queued, nothing running.
        virtual bool IdleLocked() const = 0;
        virtual std::optional<Duration> NextDueLocked() const = 0;
        // Time moved or the mode changed: whoever waits for a due item looks again.
        virtual void TimeChangedLocked() = 0;

    protected:
        ~Timeline() = default;
    };

    // While one exists, Instant time stands still: the holder counts as a
    // simulated party that is running. Lets a test line up several threads.
    class Hold {
    public:
        explicit Hold(Clock& clock);
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        Clock& m_clock;
    };

    // While one exists, Instant time moves no further than its limit, whoever
    // waits: a driver of outside events keeps time from running past the next
    // event it plays while it is not waiting itself. Real time is not bound.
    class Bound {
    public:
        explicit Bound(Clock& clock);  // limited to the current time
        ~Bound();
        Bound(const Bound&) = delete;
        Bound& operator=(const Bound&) = delete;
        void MoveTo(Duration limit);
        void HoldAtNow();

    private:
        friend class Clock;
        Clock& m_clock;
        Duration m_limit;
    };

    void SetMode(Mode mode, double realPerSimulated = 1.0);
    // Instant time also waits for any other thread of the process that the
    // kernel sees ready to run (not only the parties the clock knows): a whole
    // service process then plays out as in real time however it is scheduled,
    // at the cost of a look at the process's threads whenever time would move.
    // Linux only: the Windows build has no such view and ignores it.
    void WaitForReadyThreads(bool on);

    // ---- the Win32 side ----
    void Sleep(uint32_t milliseconds);
    // WaitForSingleObject on an event: true when signalled (an auto-reset event
    // is consumed), false when `milliseconds` passed first. A wait of kForever
    // has no time-out and is not recorded.
    bool Wait(Signal& signal, uint32_t milliseconds);
    // SetEvent (true) and ResetEvent (false).
    void Change(Signal& signal, bool signalled);
    // Called on the sleeping thread, outside the clock's lock, at the start of
    // every Sleep with the requested milliseconds. An empty function clears it.
    void SetSleepHook(std::function<void(uint32_t milliseconds)> hook);

    // ---- tests and the simulator ----
    // A wait of that long on the calling thread (not recorded).
    void Advance(uint32_t milliseconds);
    // The same until simulated time `until`.
    void AdvanceTo(Duration until);
    // The next time Instant time would stop at: the earliest deadline of the
    // waiters and due time of the timelines' work after now; none when no
    // wait has a deadline and nothing is queued.
    std::optional<Duration> NextEvent() const;
    // Until `doneLocked` (checked under Mutex()) holds; in Instant mode time
    // moves to each due timeline item in turn meanwhile (so a timeline's wait
    // for idle runs what it has queued). False when `realTimeout` of host time
    // passed first.
    bool RunUntil(const std::function<bool()>& doneLocked, std::chrono::milliseconds realTimeout);
    // Until at least `count` threads are inside a clock wait (use with a Hold
    // in Instant mode). False when `realTimeout` of host time passed first.
    bool AwaitWaiters(size_t count, std::chrono::milliseconds realTimeout = std::chrono::seconds(30));
    Duration Elapsed() const;
    // Until simulated time reaches `until` without moving Instant time itself:
    // the waits of others move it, never past `until`. False when `realTimeout`
    // of host time passed first (not recorded).
    bool Follow(Duration until, std::chrono::milliseconds realTimeout);
    // The timelines' work: the earliest due item, whether an item is due or
    // running now, whether nothing is queued or running.
    std::optional<Duration> NextDue() const;
    // The thread (GetCurrentThreadId) is inside a clock wait.
    bool IsWaiting(uint32_t threadId) const;
    // Until nothing can run at the current instant: no wait is over without
    // having returned, no timeline has due or running work and (with
    // WaitForReadyThreads) no thread of the process but the caller is ready
    // to run, seen twice in a row. What happens at one instant so happens
    // before whatever the caller does next, however the threads are
    // scheduled. False when `realTimeout` of host time passed first.
    bool AwaitStill(std::chrono::milliseconds realTimeout);
    bool TimelinesBusy() const;
    bool TimelinesIdle() const;

    // The recorded sleeps and timed waits, oldest first, and how many there
    // were since the last clear (the record keeps the last kRecordLimit).
    std::vector<WaitRecord> Records() const;
    uint64_t RecordCount() const;
    // The sleeps among the records.
    std::vector<SleepRecord> Sleeps() const;
    void ClearSleeps();  // clears every record

    // Wall-clock time seen by GetLocalTime and GetSystemTimeAsFileTime: a pinned
    // time that tests move on explicitly; otherwise the host's in Real mode and,
    // in the other modes, the host's at the mode switch plus simulated time.
    void PinWallTime(std::time_t seconds, uint16_t milliseconds = 0);
    void AdvanceWallTime(std::time_t seconds);
    void UnpinWallTime();
    // Seconds and milliseconds since 1970 (UTC).
    void Now(std::time_t& seconds, uint16_t& milliseconds) const;

    // The given mode (Real by default), time 0, no records, no pinned time, no
    // sleep hook. Unlike SetMode, time starts from 0 in the new mode.
    void Reset(Mode mode = Mode::Real, double realPerSimulated = 1.0);

    // Time goes on from `from` (a new process continuing a run): wall time is
    // `wallAtZero` plus simulated time outside Real mode. Call after Reset.
    void ContinueFrom(Duration from, std::chrono::system_clock::time_point wallAtZero);

    // ---- timelines ----
    std::mutex& Mutex() { return m_mutex; }
    void Attach(Timeline* timeline);
    void Detach(Timeline* timeline);
    Duration NowLocked() const;
    // Blocks on `cv` (whose waits use `lock` on Mutex()) until simulated `due`
    // may have come, a notification, or a change of time.
    void WaitForDueLocked(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, Duration due);
    // A timeline ran an item, emptied or stopped: waiters look again and
    // Instant time may move on.
    void TimelineChangedLocked();

private:
    struct Waiter;

    std::chrono::steady_clock::time_point RealTimeLocked(Duration simulated) const;
    // Waits until `waiter` is over; true when its signal ended it.
    bool WaitLocked(std::unique_lock<std::mutex>& lock, Waiter& waiter);
    bool OverLocked(const Waiter& waiter) const;
    void AdvanceLocked();
    // Another thread of the process, not waiting on the clock, is ready to run
    // (and has not been for longer than a grace): Instant time waits for it.
    bool OthersRunnableLocked();
    // Something can run now (see AwaitStill). Takes the lock.
    bool AnythingRunnable() const;
    // Wakes the waiters and, when time moved or changed its pace, the timelines.
    void WakeLocked(bool timeMoved);
    void RecordLocked(const WaitRecord& record);
    // A timed wait on the calling thread: recorded as `kind` unless `record` is false.
    bool TimedWait(Signal* signal, uint32_t milliseconds, WaitRecord::Kind kind, bool record);

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    Mode m_mode = Mode::Real;
    double m_realPerSimulated = 1.0;
    // Real and Scaled: simulated time is m_base + (host steady time - m_realBase) / factor.
    std::chrono::steady_clock::time_point m_realBase = std::chrono::steady_clock::now();
    Duration m_base{0};
    Duration m_virtual{0};  // Instant
    std::vector<Waiter*> m_waiters;
    std::vector<Timeline*> m_timelines;
    int m_holds = 0;
    bool m_waitForReadyThreads = false;
    std::optional<std::chrono::steady_clock::time_point> m_runnableSince;  // Instant time waits for a thread
    std::vector<const Bound*> m_bounds;

    std::vector<WaitRecord> m_records;  // a ring of kRecordLimit
    uint64_t m_recordCount = 0;
    std::function<void(uint32_t)> m_sleepHook;

    bool m_pinned = false;
    std::time_t m_pinnedSeconds = 0;
    uint16_t m_pinnedMilliseconds = 0;
    // Scaled and Instant: the host's wall time at the mode switch, and the simulated time then.
    std::chrono::system_clock::time_point m_wallBase = std::chrono::system_clock::now();
    Duration m_wallSimulatedBase{0};
};

}  // namespace sim
