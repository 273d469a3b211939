// halvex-crash-probe.exe: a test-only service with the service's crash path.
// At its start it reads the fault to make from crash-probe-fault.txt beside
// it and removes the file, so the start that the restart request makes runs
// on quietly until it is stopped. Faults (one word):
//   access-violation   a write through a null pointer, on a worker thread
//   divide-by-zero     an integer division by zero, on a worker thread
//   stack-overflow     endless recursion on a worker thread
//   abort              abort() on a worker thread
//   uncaught-exception a C++ exception that nobody catches, on a worker thread
//   two-threads        an access violation on two worker threads at once
// Each faulting thread appends its id to crash-probe-threads.txt first.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#include "host/crash_handler.h"
#include "logging/log_helper.h"
#include "portability/stack_guarantee.h"

namespace {

wchar_t g_serviceName[] = L"HalvexCrashProbe";
SERVICE_STATUS_HANDLE g_hStatus = nullptr;
HANDLE g_hStop = nullptr;

std::string BesideTheProbe(const char* name)
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.find_last_of('\\') + 1) + name;
}

void NoteFaultingThread()
{
    static std::atomic_flag busy = ATOMIC_FLAG_INIT;
    while (busy.test_and_set()) {
    }
    if (FILE* file = std::fopen(BesideTheProbe("crash-probe-threads.txt").c_str(), "a")) {
        std::fprintf(file, "%lu\n", GetCurrentThreadId());
        std::fclose(file);
    }
    busy.clear();
}

void WriteThroughNull()
{
    static volatile int* volatile nowhere = nullptr;
    *nowhere = 7;
}

void DivideByZero()
{
    static volatile int dividend = 7;
    static volatile int zero = 0;
    dividend = dividend / zero;
}

__attribute__((noinline)) int Recurse(int depth)
{
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    return depth < 0 ? 0 : Recurse(depth + 1) + frame[0];
}

// The fault's work, on a worker thread; false for an unknown name.
bool MakeFault(const std::string& fault)
{
    void (*work)() = nullptr;
    if (fault == "access-violation" || fault == "two-threads") {
        work = [] { WriteThroughNull(); };
    } else if (fault == "divide-by-zero") {
        work = [] { DivideByZero(); };
    } else if (fault == "stack-overflow") {
        work = [] { Recurse(0); };
    } else if (fault == "abort") {
        work = [] { std::abort(); };
    } else if (fault == "uncaught-exception") {
        work = [] { throw std::runtime_error("nobody catches this"); };
    } else {
        return false;
    }
    const int threads = fault == "two-threads" ? 2 : 1;
    static std::atomic<int> ready{0};
    for (int i = 0; i < threads; ++i) {
        std::thread([work, threads] {
            KeepStackForOverflow();
            NoteFaultingThread();
            ++ready;
            while (ready.load() < threads) {
            }
            work();
        }).detach();
    }
    return true;
}

std::string TakeFault()
{
    const std::string path = BesideTheProbe("crash-probe-fault.txt");
    char word[64] = {};
    if (FILE* file = std::fopen(path.c_str(), "r")) {
        if (std::fscanf(file, "%63s", word) != 1) {
            word[0] = '\0';
        }
        std::fclose(file);
        std::remove(path.c_str());
    }
    return word;
}

void Report(DWORD state)
{
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    SetServiceStatus(g_hStatus, &status);
}

DWORD WINAPI Handler(DWORD control, DWORD, LPVOID, LPVOID)
{
    if (control == SERVICE_CONTROL_STOP) {
        SetEvent(g_hStop);
    }
    return NO_ERROR;
}

VOID WINAPI ProbeMain(DWORD, LPWSTR*)
{
    LogHelper::Init();
    g_hStatus = RegisterServiceCtrlHandlerExW(g_serviceName, Handler, nullptr);
    if (g_hStatus == nullptr) {
        return;
    }
    Report(SERVICE_RUNNING);
    const std::string fault = TakeFault();
    LogHelper::Log(LOG_LEVEL_INFO, __FUNCTION__, "crash probe started, fault: %s",
                   fault.empty() ? "none" : fault.c_str());
    if (!fault.empty() && !MakeFault(fault)) {
        LogHelper::Log(LOG_LEVEL_ERROR, __FUNCTION__, "crash probe: unknown fault");
    }
    WaitForSingleObject(g_hStop, INFINITE);
    LogHelper::Shutdown();
    Report(SERVICE_STOPPED);
}

}  // namespace

int wmain()
{
    InstallCrashHandler();
    g_hStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const SERVICE_TABLE_ENTRYW table[] = {{g_serviceName, ProbeMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
