#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <mutex>
#include <thread>

#include <windows.h>

#include "handles.h"
#include "sim/machine.h"

namespace {

// Its state lives with the simulated clock, which runs every wait on it.
struct Event : winapi_impl::KernelObject {
    sim::Clock::Signal signal;
};

Event* AsEvent(HANDLE handle)
{
    return dynamic_cast<Event*>(winapi_impl::FromHandle(handle));
}

sim::Clock& SimClock()
{
    return sim::Machine::Get().clock();
}

// Sets or clears the event's state; FALSE with ERROR_INVALID_HANDLE for anything but an event.
BOOL ChangeEvent(HANDLE handle, bool signal)
{
    Event* event = AsEvent(handle);
    if (event == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    SimClock().Change(event->signal, signal);
    return TRUE;
}

}  // namespace

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR)
{
    auto* event = new Event();
    event->signal.manualReset = manualReset != FALSE;
    event->signal.signalled = initialState != FALSE;
    SetLastError(ERROR_SUCCESS);
    return event;
}

BOOL SetEvent(HANDLE handle)
{
    return ChangeEvent(handle, true);
}

BOOL ResetEvent(HANDLE handle)
{
    return ChangeEvent(handle, false);
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds)
{
    Event* event = AsEvent(handle);
    if (event == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    static_assert(INFINITE == sim::Clock::kForever, "INFINITE is the clock's wait without time-out");
    return SimClock().Wait(event->signal, milliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
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
    SimClock().Sleep(milliseconds);
}

BOOL SwitchToThread()
{
    std::this_thread::yield();
    return TRUE;
}

namespace {

// The calling thread's id, asked of the kernel once per thread: on Windows the
// call only reads the thread's own block, and the log stamps every line with
// it. A forked child's only thread is new and asks again.
thread_local DWORD t_threadId = 0;

void ForgetThreadIdInChild()
{
    t_threadId = 0;
}

}  // namespace

DWORD GetCurrentThreadId()
{
    static const int registered = pthread_atfork(nullptr, nullptr, ForgetThreadIdInChild);
    (void)registered;
    if (t_threadId == 0) {
        t_threadId = static_cast<DWORD>(syscall(SYS_gettid));
    }
    return t_threadId;
}

DWORD GetCurrentProcessId()
{
    return static_cast<DWORD>(getpid());
}
