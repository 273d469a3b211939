#include <chrono>
#include <mutex>
#include <set>

#include <windows.h>
#include <shellapi.h>

#include "handles.h"
#include "sim/machine.h"

namespace {

std::mutex g_processesMutex;

// Handles of launched processes not yet closed: held here too, so that a
// handle its caller never closes is still reachable, as it is on Windows
// until the process ends.
std::set<winapi_impl::KernelObject*>& OpenProcesses()
{
    static auto* processes = new std::set<winapi_impl::KernelObject*>();
    return *processes;
}

// The handle of a process the shell started. Nothing runs behind it.
struct LaunchedProcess : winapi_impl::KernelObject {
    LaunchedProcess()
    {
        std::lock_guard<std::mutex> lock(g_processesMutex);
        OpenProcesses().insert(this);
    }
    ~LaunchedProcess() override
    {
        std::lock_guard<std::mutex> lock(g_processesMutex);
        OpenProcesses().erase(this);
    }
};

std::string Text(LPCWSTR text)
{
    return text == nullptr ? std::string() : sim::Narrow(text);
}

}  // namespace

BOOL ShellExecuteExW(SHELLEXECUTEINFOW* info)
{
    if (info == nullptr || info->cbSize != sizeof(SHELLEXECUTEINFOW)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    info->hProcess = nullptr;
    if (info->lpFile == nullptr) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    sim::Machine& machine = sim::Machine::Get();
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(machine.clock().Elapsed());
    sim::Shell::Launch launch{Text(info->lpVerb),      Text(info->lpFile), Text(info->lpParameters),
                              Text(info->lpDirectory), info->nShow,        info->fMask,
                              static_cast<uint64_t>(now.count())};
    uint32_t error = 0;
    if (!machine.shell().Start(launch, error)) {
        SetLastError(error);
        return FALSE;
    }
    // Above 32 means success, as for ShellExecute.
    info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(42));
    if ((info->fMask & SEE_MASK_NOCLOSEPROCESS) != 0) {
        info->hProcess = new LaunchedProcess();
    }
    return TRUE;
}
