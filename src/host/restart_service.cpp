#include "host/restart_service.h"

#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <cstring>
#include <cwchar>

#include "logging/log_helper.h"

namespace {

// The name under which the installer registers the service.
constexpr const wchar_t* kInstalledServiceName = L"Varnick Halvex Service";

// The restart is attempted at most once per process. Decided without a lock:
// the crash path must not wait for a thread that faulted during a restart.
std::atomic<bool> g_bRestartRequested{false};

// The process id of the installed service, read as a signed number; false
// (with its log line) when the service control manager cannot tell.
bool QueryServiceProcessId(int& processId)
{
    SC_HANDLE hSCManager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (hSCManager == nullptr) {
        LogHelper::Log(LOG_LEVEL_INFO, "RestartService", "OpenSCManager fail(%ld)",
                       static_cast<long>(GetLastError()));
        return false;
    }
    SC_HANDLE hService =
        OpenServiceW(hSCManager, kInstalledServiceName, SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP);
    if (hService == nullptr) {
        LogHelper::Log(LOG_LEVEL_INFO, "RestartService", "OpenService hsc error");
        CloseServiceHandle(hSCManager);
        return false;
    }
    BYTE buffer[1024] = {};
    DWORD bytesNeeded = 0;
    const BOOL queried = QueryServiceStatusEx(hService, SC_STATUS_PROCESS_INFO, buffer, sizeof(buffer), &bytesNeeded);
    CloseServiceHandle(hService);
    CloseServiceHandle(hSCManager);
    if (!queried) {
        LogHelper::Log(LOG_LEVEL_INFO, "RestartService", " QueryServiceStatusEx failed.");
        return false;
    }
    SERVICE_STATUS_PROCESS status;
    std::memcpy(&status, buffer, sizeof(status));
    processId = static_cast<int>(status.dwProcessId);
    return true;
}

}  // namespace

void RestartService()
{
    if (g_bRestartRequested.exchange(true)) {
        return;
    }
    LogHelper::Log(LOG_LEVEL_INFO, __FUNCTION__, "RestartService Processing");

    int processId = 0;
    if (!QueryServiceProcessId(processId)) {
        return;
    }
    // A running service is ended first; one local ping is a short pause before
    // it is started again. Any process id fits the buffer.
    wchar_t parameters[256] = {};
    if (processId > 0) {
        std::swprintf(parameters, 256,
                      L"/C taskkill /pid %d /f & ping -n 1 127.0.0.1>nul & net start \"Varnick Halvex Service\"",
                      processId);
    } else {
        std::wcscpy(parameters, L"/c net start \"Varnick Halvex Service\"");
    }

    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.hwnd = nullptr;
    info.lpVerb = L"runas";
    info.lpFile = L"cmd.exe";
    info.lpParameters = parameters;
    info.lpDirectory = nullptr;
    info.nShow = SW_HIDE;
    if (ShellExecuteExW(&info)) {
        LogHelper::Log(LOG_LEVEL_INFO, __FUNCTION__, " RestartService success.");
    } else {
        LogHelper::Log(LOG_LEVEL_INFO, __FUNCTION__, " RestartService failed.Error = 0x%x",
                       static_cast<unsigned>(GetLastError()));
    }
}
