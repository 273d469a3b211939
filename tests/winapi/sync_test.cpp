#include <gtest/gtest.h>

#include <windows.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <optional>
#include <thread>
#include <vector>

#include "machine_fixture.h"
#include "sim/mbn_dispatcher.h"

using Sync = MachineTest;
using Record = sim::Clock::WaitRecord;

namespace {

uint32_t ElapsedMs(sim::Clock& clock)
{
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(clock.Elapsed()).count());
}

}  // namespace

// A wait without time-out wakes when signalled in every mode and is not
// recorded; an auto-reset event releases one wait, a manual-reset one stays set.
TEST_F(Sync, EventsReleaseTheirWaitersInEveryMode)
{
    HANDLE automatic = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE manual = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    ASSERT_NE(automatic, nullptr);
    for (auto mode : {sim::Clock::Mode::Instant, sim::Clock::Mode::Scaled, sim::Clock::Mode::Real}) {
        machine().clock().SetMode(mode, 0.5);
        auto waiter = std::async(std::launch::async, [automatic] { return WaitForSingleObject(automatic, INFINITE); });
        ASSERT_TRUE(machine().clock().AwaitWaiters(1));
        EXPECT_TRUE(SetEvent(automatic));
        EXPECT_EQ(waiter.get(), WAIT_OBJECT_0);
    }
    EXPECT_EQ(machine().clock().RecordCount(), 0u);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);  // consumed by the waiter

    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ResetEvent(manual));
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);

    EXPECT_TRUE(CloseHandle(automatic));
    EXPECT_TRUE(CloseHandle(manual));
    EXPECT_FALSE(CloseHandle(nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(WaitForSingleObject(INVALID_HANDLE_VALUE, 0), WAIT_FAILED);
}

// A closed handle, or a value that was never a handle, names no object.
TEST_F(Sync, ClosedAndUnknownHandlesFailWithInvalidHandle)
{
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(CloseHandle(event));
    int notAnObject = 0;
    for (HANDLE handle : {event, static_cast<HANDLE>(&notAnObject)}) {
        SetLastError(0);
        EXPECT_FALSE(SetEvent(handle));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_FALSE(ResetEvent(handle));
        EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_FAILED);
        SetLastError(0);
        EXPECT_FALSE(CloseHandle(handle));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
}

// SetEvent releases the waiter there and then: a ResetEvent right after it, or
// another thread's wait, cannot take the release back.
TEST_F(Sync, SetEventOnAnAutoResetEventReleasesItsWaiterForGood)
{
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::optional<sim::Clock::Hold> hold(machine().clock());  // the waiter stays asleep until the hold ends
    auto waiter = std::async(std::launch::async, [event] { return WaitForSingleObject(event, 1000); });
    ASSERT_TRUE(machine().clock().AwaitWaiters(1));
    EXPECT_TRUE(SetEvent(event));
    EXPECT_TRUE(ResetEvent(event));
    EXPECT_TRUE(SetEvent(event));  // no waiter left to release: the event stays set
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    hold.reset();
    EXPECT_EQ(waiter.get(), WAIT_OBJECT_0);
    CloseHandle(event);
}

TEST_F(Sync, CriticalSectionIsRecursiveAndExcludesOtherThreads)
{
    CRITICAL_SECTION section;
    ASSERT_TRUE(InitializeCriticalSectionAndSpinCount(&section, 4000));
    EXPECT_EQ(section.spinCount, 4000u);
    int counter = 0;
    EnterCriticalSection(&section);
    EnterCriticalSection(&section);
    auto other = std::async(std::launch::async, [&] {
        EnterCriticalSection(&section);
        int seen = counter;
        LeaveCriticalSection(&section);
        return seen;
    });
    counter = 1;
    LeaveCriticalSection(&section);
    counter = 2;
    LeaveCriticalSection(&section);
    EXPECT_EQ(other.get(), 2);
    DeleteCriticalSection(&section);
}

// Thread ids are kept per thread; a forked child's only thread has an id of
// its own (the process id), not the one its parent thread had.
TEST_F(Sync, ThreadIdsDifferPerThreadAndAfterFork)
{
    const DWORD me = GetCurrentThreadId();
    EXPECT_EQ(me, GetCurrentThreadId());
    EXPECT_NE(std::async(std::launch::async, [] { return GetCurrentThreadId(); }).get(), me);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        _exit(GetCurrentThreadId() == static_cast<DWORD>(getpid()) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(Sync, SleepsAndTimedWaitsAreRecordedWithTheirThreadAndOutcome)
{
    std::vector<uint32_t> hooked;
    machine().clock().SetSleepHook([&](uint32_t ms) { hooked.push_back(ms * 1000 + ElapsedMs(machine().clock())); });
    Sleep(1000);
    DWORD me = GetCurrentThreadId();
    DWORD worker = 0;
    std::thread([&] {
        worker = GetCurrentThreadId();
        Sleep(200);
        SetLastError(5);
    }).join();
    SetLastError(87);
    EXPECT_EQ(GetLastError(), 87u);  // per thread
    HANDLE event = CreateEventW(nullptr, FALSE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 700), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 300), WAIT_TIMEOUT);
    CloseHandle(event);

    auto records = machine().clock().Records();
    ASSERT_EQ(records.size(), 4u);
    const std::vector<std::tuple<DWORD, uint32_t, Record::Kind, bool, uint32_t>> expected = {
        {me, 1000, Record::Kind::Sleep, false, 1000},
        {worker, 200, Record::Kind::Sleep, false, 200},
        {me, 700, Record::Kind::Wait, true, 0},
        {me, 300, Record::Kind::Wait, false, 300},
    };
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(records[i].threadId, std::get<0>(expected[i]));
        EXPECT_EQ(records[i].milliseconds, std::get<1>(expected[i]));
        EXPECT_EQ(records[i].kind, std::get<2>(expected[i]));
        EXPECT_EQ(records[i].signalled, std::get<3>(expected[i]));
        EXPECT_EQ(records[i].elapsedMs, std::get<4>(expected[i]));
    }
    EXPECT_EQ(machine().clock().Sleeps().size(), 2u);
    // The hook runs at the start of each sleep, with the requested time.
    EXPECT_EQ(hooked, (std::vector<uint32_t>{1000 * 1000 + 0, 200 * 1000 + 1000}));
    EXPECT_NE(me, worker);
    EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(getpid()));

    machine().Reset();
    Sleep(0);
    EXPECT_EQ(hooked.size(), 2u);  // a reset clears the hook
}

TEST_F(Sync, TheRecordKeepsTheLastWaitsOfALongRun)
{
    const uint32_t total = sim::Clock::kRecordLimit + 10;
    for (uint32_t ms = 0; ms < total; ++ms) {
        Sleep(ms);
    }
    auto records = machine().clock().Records();
    ASSERT_EQ(records.size(), sim::Clock::kRecordLimit);
    EXPECT_EQ(machine().clock().RecordCount(), total);
    EXPECT_EQ(records.front().milliseconds, 10u);
    EXPECT_EQ(records.back().milliseconds, total - 1);
    machine().clock().ClearSleeps();
    EXPECT_TRUE(machine().clock().Records().empty());
    EXPECT_EQ(machine().clock().RecordCount(), 0u);
}

// Instant time moves to the next due delivery before the sleeper's deadline;
// deliveries run in due order, each at its own time.
TEST_F(Sync, DeliveriesDueBeforeASleepersDeadlineRunFirstInDueOrder)
{
    sim::Clock& clock = machine().clock();
    sim::MbnDispatcher dispatcher(clock);
    std::mutex mutex;
    std::vector<std::pair<int, uint32_t>> ran;  // (item, simulated ms when it ran)
    auto item = [&](int id) {
        return [&, id] {
            std::lock_guard<std::mutex> lock(mutex);
            ran.emplace_back(id, ElapsedMs(clock));
        };
    };
    dispatcher.Post(item(3), 300);
    dispatcher.Post(item(1), 100);
    dispatcher.Post(item(4), 1500);
    dispatcher.Post(item(2), 200);
    Sleep(1000);
    EXPECT_EQ(ElapsedMs(clock), 1000u);
    {
        std::lock_guard<std::mutex> lock(mutex);
        EXPECT_EQ(ran, (std::vector<std::pair<int, uint32_t>>{{1, 100}, {2, 200}, {3, 300}}));
    }
    // A delivery due later runs only when someone waits past its due time.
    EXPECT_TRUE(dispatcher.WaitIdle(std::chrono::seconds(30)));
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(ran.back(), std::make_pair(4, 1500u));
    EXPECT_EQ(ElapsedMs(clock), 1500u);
}

// Time stands still while a delivery runs, however long it takes in host time.
TEST_F(Sync, ARunningDeliveryHoldsInstantTimeStill)
{
    sim::Clock& clock = machine().clock();
    sim::MbnDispatcher dispatcher(clock);
    std::promise<void> started;
    std::promise<void> release;
    dispatcher.Post([&] {
        started.set_value();
        release.get_future().wait();
    });
    started.get_future().wait();
    std::thread sleeper([] { Sleep(1000); });
    EXPECT_TRUE(clock.AwaitWaiters(1, std::chrono::seconds(5)));  // not over before the delivery ends
    EXPECT_EQ(ElapsedMs(clock), 0u);
    release.set_value();
    sleeper.join();
    EXPECT_EQ(ElapsedMs(clock), 1000u);
}

// A bound stops Instant time at its limit, whoever waits, until it moves on or goes.
TEST_F(Sync, ABoundKeepsInstantTimeFromRunningPastItsLimit)
{
    sim::Clock& clock = machine().clock();
    // Time moves once the sleeper waits; where it stops is what counts.
    const auto timeReached = [&clock](uint32_t ms) {
        for (int i = 0; i < 5000 && ElapsedMs(clock) < ms; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return ElapsedMs(clock);
    };
    std::optional<sim::Clock::Bound> bound(std::in_place, clock);
    bound->MoveTo(std::chrono::milliseconds(300));
    std::thread sleeper([] { Sleep(1000); });
    EXPECT_EQ(timeReached(300), 300u);
    bound->MoveTo(std::chrono::milliseconds(600));
    EXPECT_EQ(timeReached(600), 600u);
    bound->HoldAtNow();
    bound->MoveTo(std::chrono::milliseconds(100));  // time never goes back
    EXPECT_EQ(ElapsedMs(clock), 600u);
    bound.reset();
    sleeper.join();
    EXPECT_EQ(ElapsedMs(clock), 1000u);
}

// Asked to, Instant time waits for a thread that is ready to run, though the
// clock does not know it: here one that computes for 5 ms of host time.
TEST_F(Sync, InstantTimeCanWaitForThreadsReadyToRun)
{
    machine().clock().WaitForReadyThreads(true);
    std::atomic<bool> started{false};
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        started = true;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(5);
        while (std::chrono::steady_clock::now() < end) {
        }
        finished = true;
    });
    while (!started) {
        std::this_thread::yield();
    }
    Sleep(1000);
    EXPECT_TRUE(finished);
    worker.join();
}

// A wait that a delivery ends is over at the delivery's time; one that nobody
// ends lasts its whole time-out, at once in host time.
TEST_F(Sync, ADeliveryThatSignalsAnEventEndsTheTimedWait)
{
    sim::Clock& clock = machine().clock();
    sim::MbnDispatcher dispatcher(clock);
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    dispatcher.Post([event] { SetEvent(event); }, 200);
    EXPECT_EQ(WaitForSingleObject(event, 3000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 3000), WAIT_TIMEOUT);
    auto records = clock.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_TRUE(records[0].signalled);
    EXPECT_EQ(records[0].elapsedMs, 200u);
    EXPECT_FALSE(records[1].signalled);
    EXPECT_EQ(records[1].elapsedMs, 3000u);
    EXPECT_EQ(ElapsedMs(clock), 3200u);
    CloseHandle(event);
}

TEST_F(Sync, PinnedWallTimeIsWhatTheTimeCallsReportAndOtherwiseItFollowsSimulatedTime)
{
    machine().clock().PinWallTime(86400 * 365, 250);  // 1 January 1971 00:00:00.250 UTC
    SYSTEMTIME utc;
    GetSystemTime(&utc);
    EXPECT_EQ(utc.wYear, 1971);
    EXPECT_EQ(utc.wMonth, 1);
    EXPECT_EQ(utc.wDay, 1);
    EXPECT_EQ(utc.wMilliseconds, 250);
    FILETIME file;
    GetSystemTimeAsFileTime(&file);
    uint64_t ticks = (static_cast<uint64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
    EXPECT_EQ(ticks, (86400ULL * 365 + 11644473600ULL) * 10000000ULL + 2500000ULL);
    machine().clock().AdvanceWallTime(60);
    GetSystemTime(&utc);
    EXPECT_EQ(utc.wMinute, 1);
    Sleep(5000);
    GetSystemTime(&utc);
    EXPECT_EQ(utc.wSecond, 0);  // pinned time moves only when told

    machine().clock().UnpinWallTime();
    GetSystemTimeAsFileTime(&file);
    const uint64_t before = (static_cast<uint64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
    machine().clock().Advance(90 * 60 * 1000);
    GetSystemTimeAsFileTime(&file);
    const uint64_t after = (static_cast<uint64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
    EXPECT_EQ(after - before, 90ULL * 60 * 10000000ULL);
    EXPECT_EQ(machine().clock().RecordCount(), 1u);  // Advance is not one of the service's waits

    // A process continuing a run goes on from the run's time and wall time.
    machine().clock().ContinueFrom(std::chrono::seconds(7), std::chrono::system_clock::from_time_t(86400 * 365));
    Sleep(500);
    EXPECT_EQ(ElapsedMs(machine().clock()), 7500u);
    GetSystemTime(&utc);
    EXPECT_EQ(utc.wYear, 1971);
    EXPECT_EQ(utc.wSecond, 7);
    EXPECT_EQ(utc.wMilliseconds, 500);
}
