#include <gtest/gtest.h>

#include <windows.h>

#include <unistd.h>

#include <future>
#include <thread>

#include "machine_fixture.h"

using Sync = MachineTest;

TEST_F(Sync, AutoResetEventReleasesOneWaitAndManualResetStaysSignalled)
{
    HANDLE automatic = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE manual = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    ASSERT_NE(automatic, nullptr);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);
    auto waiter = std::async(std::launch::async, [automatic] { return WaitForSingleObject(automatic, INFINITE); });
    EXPECT_TRUE(SetEvent(automatic));
    EXPECT_EQ(waiter.get(), WAIT_OBJECT_0);
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

TEST_F(Sync, SleepsAreRecordedWithTheirThreadAndLastErrorIsPerThread)
{
    Sleep(1000);
    DWORD me = GetCurrentThreadId();
    DWORD worker = 0;
    std::thread([&] {
        worker = GetCurrentThreadId();
        Sleep(200);
        SetLastError(5);
    }).join();
    SetLastError(87);
    auto sleeps = machine().clock().Sleeps();
    ASSERT_EQ(sleeps.size(), 2u);
    EXPECT_EQ(sleeps[0].threadId, me);
    EXPECT_EQ(sleeps[0].milliseconds, 1000u);
    EXPECT_EQ(sleeps[1].threadId, worker);
    EXPECT_EQ(sleeps[1].milliseconds, 200u);
    EXPECT_NE(me, worker);
    EXPECT_EQ(GetLastError(), 87u);
    EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(getpid()));
}

TEST_F(Sync, PinnedWallTimeIsWhatTheTimeCallsReport)
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
}
