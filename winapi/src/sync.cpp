#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <windows.h>

#include "handles.h"
#include "sim/machine.h"

namespace {

struct Event : winapi_impl::KernelObject {
    std::mutex mutex;
    std::condition_variable cond;
    bool manualReset = false;
    bool signalled = false;
};

Event* AsEvent(HANDLE handle)
{
    return dynamic_cast<Event*>(winapi_impl::FromHandle(handle));
}

}  // namespace

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR)
{
    auto* event = new Event();
    event->manualReset = manualReset != FALSE;
    event->signalled = initialState != FALSE;
    SetLastError(ERROR_SUCCESS);
    return event;
}

namespace {

// Sets or clears the event's state; FALSE with ERROR_INVALID_HANDLE for anything but an event.
BOOL ChangeEvent(HANDLE handle, bool signal)
{
    Event* event = AsEvent(handle);
    if (event == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(event->mutex);
    event->signalled = signal;
    if (signal && event->manualReset) {
        event->cond.notify_all();
    } else if (signal) {
        event->cond.notify_one();
    }
    return TRUE;
}

}  // namespace

BOOL SetEvent(HANDLE handle)
{
    return ChangeEvent(handle, true);
}

BOOL ResetEvent(HANDLE handle)
{
    return ChangeEvent(handle, false);
}

// Waits in real time: only Sleep goes through the simulated clock.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds)
{
    Event* event = AsEvent(handle);
    if (event == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    std::unique_lock<std::mutex> lock(event->mutex);
    auto isSignalled = [event] { return event->signalled; };
    if (milliseconds == INFINITE) {
        event->cond.wait(lock, isSignalled);
    } else if (!event->cond.wait_for(lock, std::chrono::milliseconds(milliseconds), isSignalled)) {
        return WAIT_TIMEOUT;
    }
    if (!event->manualReset) {
        event->signalled = false;
    }
    return WAIT_OBJECT_0;
}

BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION section, DWORD spinCount)
{
    section->impl = new std::recursive_mutex();
    section->spinCount = spinCount;
    return TRUE;
}

void EnterCriticalSection(LPCRITICAL_SECTION section)
{
    static_cast<std::recursive_mutex*>(section->impl)->lock();
}

void LeaveCriticalSection(LPCRITICAL_SECTION section)
{
    static_cast<std::recursive_mutex*>(section->impl)->unlock();
}

void DeleteCriticalSection(LPCRITICAL_SECTION section)
{
    delete static_cast<std::recursive_mutex*>(section->impl);
    section->impl = nullptr;
}

void Sleep(DWORD milliseconds)
{
    sim::Machine::Get().clock().Sleep(milliseconds);
}

BOOL SwitchToThread()
{
    std::this_thread::yield();
    return TRUE;
}

DWORD GetCurrentThreadId()
{
    return static_cast<DWORD>(syscall(SYS_gettid));
}

DWORD GetCurrentProcessId()
{
    return static_cast<DWORD>(getpid());
}
