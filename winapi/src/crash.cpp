// Crash support: fatal signals routed to the unhandled-exception filter as the
// exceptions Windows raises for the same faults, the dump writer, the GUIDs
// that name dumps, and the immediate end of the process.
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include <windows.h>
#include <dbghelp.h>

#include "handles.h"
#include "sim/machine.h"

namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
// The filter writes a dump and asks for a restart: more than a minimal stack.
constexpr size_t kAlternateStackSize = 256 * 1024;
// A write this close below the stack pointer, or just above it, is the stack
// running into its guard page.
constexpr uintptr_t kStackReach = 64 * 1024;
constexpr DWORD kDeviceDataError = 0xC000009Cu;  // the cause an in-page error carries
constexpr int kFatalAppExitStatus = 0x15;        // low byte of STATUS_FATAL_APP_EXIT

std::atomic<LPTOP_LEVEL_EXCEPTION_FILTER> g_filter{nullptr};
std::once_flag g_routed;
struct sigaction g_previousActions[NSIG];

DWORD FloatingPointCode(int siCode)
{
    switch (siCode) {
    case FPE_INTDIV: return EXCEPTION_INT_DIVIDE_BY_ZERO;
    case FPE_INTOVF: return EXCEPTION_INT_OVERFLOW;
    case FPE_FLTDIV: return EXCEPTION_FLT_DIVIDE_BY_ZERO;
    case FPE_FLTOVF: return EXCEPTION_FLT_OVERFLOW;
    case FPE_FLTUND: return EXCEPTION_FLT_UNDERFLOW;
    case FPE_FLTRES: return EXCEPTION_FLT_INEXACT_RESULT;
    default: return EXCEPTION_FLT_INVALID_OPERATION;
    }
}

// The exception record and registers Windows would hand the filter for the
// fault behind the signal.
void Describe(int signal, const siginfo_t* info, const ucontext_t* context, EXCEPTION_RECORD& record,
              CONTEXT& registers)
{
    const uintptr_t faultAddress = reinterpret_cast<uintptr_t>(info->si_addr);
    uint64_t pageFaultError = 0;
#if defined(__x86_64__)
    registers.Rip = static_cast<DWORD64>(context->uc_mcontext.gregs[REG_RIP]);
    registers.Rsp = static_cast<DWORD64>(context->uc_mcontext.gregs[REG_RSP]);
    registers.Rbp = static_cast<DWORD64>(context->uc_mcontext.gregs[REG_RBP]);
    pageFaultError = static_cast<uint64_t>(context->uc_mcontext.gregs[REG_ERR]);
#else
    (void)context;
    registers.Rip = faultAddress;
#endif
    record.ExceptionAddress = reinterpret_cast<PVOID>(registers.Rip);
    switch (signal) {
    case SIGSEGV:
    case SIGBUS: {
        const bool nearStack = faultAddress + kStackReach >= registers.Rsp && faultAddress <= registers.Rsp + 4096;
        record.ExceptionCode = signal == SIGBUS ? EXCEPTION_IN_PAGE_ERROR
                               : nearStack      ? EXCEPTION_STACK_OVERFLOW
                                                : EXCEPTION_ACCESS_VIOLATION;
        // Read (0), write (1) or execute (8), then the address accessed.
        record.ExceptionInformation[0] = (pageFaultError & 0x10) ? 8 : (pageFaultError & 0x2) ? 1 : 0;
        record.ExceptionInformation[1] = faultAddress;
        record.NumberParameters = 2;
        if (signal == SIGBUS) {
            record.ExceptionInformation[2] = kDeviceDataError;
            record.NumberParameters = 3;
        }
        break;
    }
    case SIGFPE:
        record.ExceptionCode = FloatingPointCode(info->si_code);
        break;
    case SIGILL:
        record.ExceptionCode = info->si_code == ILL_PRVOPC || info->si_code == ILL_PRVREG
                                   ? EXCEPTION_PRIV_INSTRUCTION
                                   : EXCEPTION_ILLEGAL_INSTRUCTION;
        break;
    default:  // SIGABRT: the runtime's abort, which Windows' runtime raises as a fatal application exit
        record.ExceptionCode = STATUS_FATAL_APP_EXIT;
        record.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
        break;
    }
}

void OnFatalSignal(int signal, siginfo_t* info, void* context)
{
    const LPTOP_LEVEL_EXCEPTION_FILTER filter = g_filter.load();
    if (filter != nullptr) {
        EXCEPTION_RECORD record = {};
        CONTEXT registers = {};
        Describe(signal, info, static_cast<const ucontext_t*>(context), record, registers);
        EXCEPTION_POINTERS pointers = {&record, &registers};
        if (filter(&pointers) == EXCEPTION_CONTINUE_EXECUTION && signal != SIGABRT) {
            return;  // the faulting instruction runs again
        }
    }
    // Without a filter, or when the filter let the exception go on, the
    // signal does what it did before: the faulting instruction runs again
    // under the earlier action, and a sent signal is sent again.
    sigaction(signal, &g_previousActions[signal], nullptr);
    if (info->si_code <= 0 || signal == SIGABRT) {
        raise(signal);
    }
}

void RouteFatalSignals()
{
    struct sigaction action = {};
    action.sa_sigaction = OnFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signal : kFatalSignals) {
        sigaction(signal, &action, &g_previousActions[signal]);
    }
}

// A stack of its own for the filter on the calling thread, so that a stack
// overflow on this thread still reaches it. Kept until the process ends.
void UseAlternateStack()
{
    static thread_local bool installed = false;
    if (installed) {
        return;
    }
    static std::mutex stacksMutex;
    static auto* stacks = new std::vector<std::vector<char>>();
    stack_t stack = {};
    {
        std::lock_guard<std::mutex> lock(stacksMutex);
        stacks->emplace_back(kAlternateStackSize);
        stack.ss_sp = stacks->back().data();
    }
    stack.ss_size = kAlternateStackSize;
    installed = sigaltstack(&stack, nullptr) == 0;
}

}  // namespace

LPTOP_LEVEL_EXCEPTION_FILTER SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter)
{
    if (filter != nullptr) {
        std::call_once(g_routed, RouteFatalSignals);
        UseAlternateStack();
    }
    return g_filter.exchange(filter);
}

void FatalAppExitW(UINT, LPCWSTR messageText)
{
    const std::string line = (messageText ? sim::Narrow(messageText) : std::string()) + "\n";
    ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
    (void)written;
    _exit(kFatalAppExitStatus);
}

HANDLE GetCurrentProcess()
{
    return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));
}

BOOL MiniDumpWriteDump(HANDLE process, DWORD processId, HANDLE file, MINIDUMP_TYPE,
                       PMINIDUMP_EXCEPTION_INFORMATION exceptionParam, PMINIDUMP_USER_STREAM_INFORMATION,
                       PMINIDUMP_CALLBACK_INFORMATION)
{
    // Failures are reported as HRESULTs in the last error.
    if (process != GetCurrentProcess() || processId != GetCurrentProcessId()) {
        SetLastError(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER)));
        return FALSE;
    }
    const auto* target = dynamic_cast<winapi_impl::FileHandle*>(winapi_impl::FromHandle(file));
    if (target == nullptr) {
        SetLastError(static_cast<DWORD>(E_HANDLE));
        return FALSE;
    }
    if ((target->access & GENERIC_WRITE) == 0) {
        SetLastError(static_cast<DWORD>(E_ACCESSDENIED));
        return FALSE;
    }
    sim::DumpedException dumped;
    if (exceptionParam != nullptr && exceptionParam->ExceptionPointers != nullptr &&
        exceptionParam->ExceptionPointers->ExceptionRecord != nullptr) {
        const EXCEPTION_RECORD& record = *exceptionParam->ExceptionPointers->ExceptionRecord;
        dumped.threadId = exceptionParam->ThreadId;
        dumped.code = record.ExceptionCode;
        dumped.flags = record.ExceptionFlags;
        dumped.address = reinterpret_cast<uintptr_t>(record.ExceptionAddress);
        for (DWORD i = 0; i < record.NumberParameters && i < EXCEPTION_MAXIMUM_PARAMETERS; ++i) {
            dumped.parameters.push_back(record.ExceptionInformation[i]);
        }
    }
    if (!sim::Crash::WriteMiniDump(target->fd, dumped)) {
        SetLastError(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)));
        return FALSE;
    }
    return TRUE;
}

HRESULT CoCreateGuid(GUID* guid)
{
    if (guid == nullptr) {
        return E_INVALIDARG;
    }
    uint8_t bytes[16];
    int32_t hr = S_OK;
    if (!sim::Machine::Get().crash().NewGuid(bytes, hr)) {
        return hr;
    }
    static_assert(sizeof(GUID) == sizeof(bytes), "a GUID is 16 bytes");
    std::memcpy(guid, bytes, sizeof(bytes));
    return S_OK;
}
