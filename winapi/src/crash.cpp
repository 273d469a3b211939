// Crash support: fatal signals routed to the unhandled-exception filter as the
// exceptions Windows raises for the same faults, the dump writer, the GUIDs
// that name dumps, and the immediate end of the process. An abort reaches no
// filter, as on Windows, where the C runtime's abort ends the process itself.
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <alloca.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include <windows.h>
#include <dbghelp.h>

#include "handles.h"
#include "sim/crash.h"
#include "sim/machine.h"

namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
// What an overflowed thread has left to handle the overflow. Windows raises it
// when the stack reaches its guard region and runs the handlers on what is
// left of that region: a few KiB, unless the thread asked for more with
// SetThreadStackGuarantee (whose documentation describes this guarantee).
// Under Wine our check left 1.8 KiB of a one-page guard region: 2 KiB here.
// A handler that needs more faults again, and the process dies without a
// dump, as there.
constexpr size_t kOverflowStackLeft = 2 * 1024;
constexpr ULONG kMaxStackGuarantee = 32 * 1024;
// Stack MiniDumpWriteDump itself uses on Windows (it walks the process's
// threads and modules): touched here, so a dump written from an overflowed
// stack fails here as well.
constexpr size_t kDumpWriterStack = 32 * 1024;
// A write this close below the stack pointer, or just above it, is the stack
// running into its guard page.
constexpr uintptr_t kStackReach = 64 * 1024;
constexpr DWORD kDeviceDataError = 0xC000009Cu;  // the cause an in-page error carries
constexpr int kFatalAppExitStatus = 0x15;        // low byte of STATUS_FATAL_APP_EXIT

std::atomic<LPTOP_LEVEL_EXCEPTION_FILTER> g_filter{nullptr};
constexpr size_t kMaxVectoredHandlers = 4;
std::atomic<PVECTORED_EXCEPTION_HANDLER> g_vectoredHandlers[kMaxVectoredHandlers];
std::mutex g_vectoredHandlersMutex;
thread_local ULONG t_stackGuarantee = 0;
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
    }
}

// The vectored handlers, then the filter: what the first that does not go on
// searching answers, or EXCEPTION_CONTINUE_SEARCH.
LONG Dispatch(EXCEPTION_POINTERS* pointers)
{
    for (const auto& slot : g_vectoredHandlers) {
        const PVECTORED_EXCEPTION_HANDLER handler = slot.load();
        if (handler != nullptr && handler(pointers) == EXCEPTION_CONTINUE_EXECUTION) {
            return EXCEPTION_CONTINUE_EXECUTION;
        }
    }
    const LPTOP_LEVEL_EXCEPTION_FILTER filter = g_filter.load();
    return filter != nullptr ? filter(pointers) : EXCEPTION_CONTINUE_SEARCH;
}

// Dispatches with only what an overflowed thread has left of the signal
// stack, when that stack has a guard page below it (the sanitizers' stacks
// have none: there the handlers get all of it).
__attribute__((noinline)) LONG DispatchOnOverflowedStack(EXCEPTION_POINTERS* pointers)
{
    const size_t left = std::max<size_t>(kOverflowStackLeft, t_stackGuarantee);
    stack_t stack = {};
    char* here = static_cast<char*>(__builtin_frame_address(0));
    if (sigaltstack(nullptr, &stack) == 0 && sim::OnGuardedSignalStack(stack.ss_sp)) {
        char* const low = static_cast<char*>(stack.ss_sp);
        if (here > low + left && here <= low + stack.ss_size) {
            volatile char* used = static_cast<char*>(alloca(static_cast<size_t>(here - low) - left));
            used[0] = 0;
        }
    }
    return Dispatch(pointers);
}

void OnFatalSignal(int signal, siginfo_t* info, void* context)
{
    EXCEPTION_RECORD record = {};
    CONTEXT registers = {};
    Describe(signal, info, static_cast<const ucontext_t*>(context), record, registers);
    EXCEPTION_POINTERS pointers = {&record, &registers};
    const LONG verdict = record.ExceptionCode == EXCEPTION_STACK_OVERFLOW ? DispatchOnOverflowedStack(&pointers)
                                                                           : Dispatch(&pointers);
    if (verdict == EXCEPTION_CONTINUE_EXECUTION) {
        return;  // the faulting instruction runs again
    }
    // Without a handler, or when the handlers let the exception go on, the
    // signal does what it did before: the faulting instruction runs again
    // under the earlier action, and a sent signal is sent again.
    sigaction(signal, &g_previousActions[signal], nullptr);
    if (info->si_code <= 0) {
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

}  // namespace

LPTOP_LEVEL_EXCEPTION_FILTER SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter)
{
    if (filter != nullptr) {
        std::call_once(g_routed, RouteFatalSignals);
        sim::UseSignalStack();  // other threads get theirs when they are created
    }
    return g_filter.exchange(filter);
}

PVOID AddVectoredExceptionHandler(ULONG first, PVECTORED_EXCEPTION_HANDLER handler)
{
    if (handler == nullptr) {
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(g_vectoredHandlersMutex);
    std::call_once(g_routed, RouteFatalSignals);
    size_t used = 0;
    while (used < kMaxVectoredHandlers && g_vectoredHandlers[used].load() != nullptr) {
        ++used;
    }
    if (used == kMaxVectoredHandlers) {
        return nullptr;
    }
    // A dispatch meanwhile may see a handler twice or miss the new one, not worse.
    size_t slot = used;
    if (first != 0) {
        for (; slot > 0; --slot) {
            g_vectoredHandlers[slot].store(g_vectoredHandlers[slot - 1].load());
        }
    }
    g_vectoredHandlers[slot].store(handler);
    return reinterpret_cast<PVOID>(handler);
}

BOOL SetThreadStackGuarantee(PULONG stackSizeInBytes)
{
    if (stackSizeInBytes == nullptr || *stackSizeInBytes > kMaxStackGuarantee) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const ULONG earlier = t_stackGuarantee;
    t_stackGuarantee = std::max(earlier, *stackSizeInBytes);
    *stackSizeInBytes = earlier;
    return TRUE;
}

void FatalAppExitW(UINT, LPCWSTR messageText)
{
    const std::string line = (messageText ? sim::Narrow(messageText) : std::string()) + "\n";
    ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
    (void)written;
    sim::EndProcessAtOnce(kFatalAppExitStatus);
}

__attribute__((noinline)) void RtlCaptureContext(PCONTEXT context)
{
    context->Rip = reinterpret_cast<DWORD64>(__builtin_return_address(0));
    context->Rsp = reinterpret_cast<DWORD64>(__builtin_frame_address(0));
    context->Rbp = context->Rsp;
}

namespace {
std::atomic<_purecall_handler> g_purecallHandler{nullptr};
std::atomic<_invalid_parameter_handler> g_invalidParameterHandler{nullptr};
}  // namespace

_purecall_handler _set_purecall_handler(_purecall_handler handler)
{
    return g_purecallHandler.exchange(handler);
}

_purecall_handler _get_purecall_handler(void)
{
    return g_purecallHandler.load();
}

_invalid_parameter_handler _set_invalid_parameter_handler(_invalid_parameter_handler handler)
{
    return g_invalidParameterHandler.exchange(handler);
}

_invalid_parameter_handler _get_invalid_parameter_handler(void)
{
    return g_invalidParameterHandler.load();
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
    // Page by page from the top, as a stack probe does, so the guard page is met.
    volatile char* const writerStack = static_cast<char*>(alloca(kDumpWriterStack));
    for (size_t offset = kDumpWriterStack; offset > 0;) {
        offset = offset > 4096 ? offset - 4096 : 0;
        writerStack[offset] = 0;
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
