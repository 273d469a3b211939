#include "host/crash_handler.h"

#include <signal.h>
#include <stdlib.h>

#include <atomic>
#include <exception>
#include <system_error>
#include <thread>

#include "host/crash_report.h"
#include "portability/stack_guarantee.h"

namespace {

// How long the faulting thread waits for the crash thread to end the process.
// The report's own waits are bounded well below it (the log's lock, its write
// out); past it the crash thread is taken to hang on something the faulting
// thread holds, and the faulting thread ends the process itself.
constexpr DWORD kCrashThreadBoundMs = 10000;

// The codes the dump records for the C runtime's fatal errors, which raise no
// exception of their own: STATUS_FATAL_APP_EXIT for abort, std::terminate and
// a pure call (which the runtime ends in abort), and
// STATUS_INVALID_CRUNTIME_PARAMETER for an invalid parameter.
constexpr DWORD kFatalAppExitCode = 0x40000015u;
constexpr DWORD kInvalidRuntimeParameterCode = 0xC0000417u;

// The first fault wins; the fault it hands over, and the event that wakes the
// crash thread (null when there is no crash thread).
std::atomic<bool> g_faulted{false};
PEXCEPTION_POINTERS g_faultPointers = nullptr;
DWORD g_faultThreadId = 0;
HANDLE g_hFaultHandedOver = nullptr;

// Never returns: the process ends while it waits.
[[noreturn]] void WaitForTheEnd()
{
    for (;;) {
        Sleep(INFINITE);
    }
}

[[noreturn]] void HandleFault(PEXCEPTION_POINTERS exceptionInfo)
{
    if (g_faulted.exchange(true)) {
        WaitForTheEnd();
    }
    if (g_hFaultHandedOver == nullptr) {
        ReportCrash(exceptionInfo, GetCurrentThreadId());
    }
    g_faultPointers = exceptionInfo;
    g_faultThreadId = GetCurrentThreadId();
    SetEvent(g_hFaultHandedOver);
    Sleep(kCrashThreadBoundMs);
    FatalAppExitW(0, L"Fatal Error");
    WaitForTheEnd();
}

// A fatal error of the C runtime, reported as an exception with `code` raised
// where it was detected.
[[noreturn]] void HandleRuntimeFailure(DWORD code)
{
    alignas(16) CONTEXT context = {};
    RtlCaptureContext(&context);
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = code;
    record.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
    record.ExceptionAddress = reinterpret_cast<PVOID>(context.Rip);
    EXCEPTION_POINTERS pointers = {&record, &context};
    HandleFault(&pointers);
}

void OnAbortSignal(int)
{
    HandleRuntimeFailure(kFatalAppExitCode);
}

void OnTerminate()
{
    HandleRuntimeFailure(kFatalAppExitCode);
}

void OnPureCall()
{
    HandleRuntimeFailure(kFatalAppExitCode);
}

void OnInvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int, uintptr_t)
{
    HandleRuntimeFailure(kInvalidRuntimeParameterCode);
}

// A stack overflow is taken before the system looks for a handler frame by
// frame: that search needs more stack than the overflowed thread has left.
LONG CALLBACK OnStackOverflow(PEXCEPTION_POINTERS exceptionInfo)
{
    if (exceptionInfo->ExceptionRecord->ExceptionCode == EXCEPTION_STACK_OVERFLOW) {
        HandleFault(exceptionInfo);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

void CrashThread()
{
    WaitForSingleObject(g_hFaultHandedOver, INFINITE);
    ReportCrash(g_faultPointers, g_faultThreadId);
}

// The crash thread, waiting for a fault; false when it cannot be made.
bool StartCrashThread()
{
    HANDLE handedOver = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (handedOver == nullptr) {
        return false;
    }
    try {
        g_hFaultHandedOver = handedOver;
        std::thread(CrashThread).detach();
        return true;
    } catch (const std::system_error&) {
        g_hFaultHandedOver = nullptr;
        CloseHandle(handedOver);
        return false;
    }
}

}  // namespace

void InstallCrashHandler()
{
    KeepStackForOverflow();
    SetUnhandledExceptionFilter(UnhandledExceptionHandler);
    AddVectoredExceptionHandler(1, OnStackOverflow);
    // The runtime's abort raises SIGABRT first; the handler does not return,
    // so neither the runtime's message nor its exit code 3 follow. (MinGW's
    // runtime has no _set_abort_behavior to turn them off.)
    signal(SIGABRT, OnAbortSignal);
    std::set_terminate(OnTerminate);
    _set_purecall_handler(OnPureCall);
    _set_invalid_parameter_handler(OnInvalidParameter);
    StartCrashThread();
}

LONG WINAPI UnhandledExceptionHandler(PEXCEPTION_POINTERS exceptionInfo)
{
    HandleFault(exceptionInfo);
}
