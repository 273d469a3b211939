#include <windows.h>

#include "sim/machine.h"

namespace {

sim::ServiceControl& Services()
{
    return sim::Machine::Get().services();
}

}  // namespace

BOOL StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* table)
{
    // The table ends with an entry without a name.
    std::vector<sim::ServiceControl::TableEntry> entries;
    for (const SERVICE_TABLE_ENTRYW* entry = table; entry != nullptr && entry->lpServiceName != nullptr; ++entry) {
        entries.push_back({entry->lpServiceName, entry->lpServiceProc});
    }
    uint32_t error = 0;
    if (!Services().StartDispatcher(entries, error)) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerExW(LPCWSTR name, LPHANDLER_FUNCTION_EX handler, LPVOID context)
{
    uint32_t error = 0;
    const uintptr_t handle = Services().RegisterHandler(name != nullptr ? name : L"", handler, context, error);
    if (handle == 0) {
        SetLastError(error);
        return nullptr;
    }
    return reinterpret_cast<SERVICE_STATUS_HANDLE>(handle);
}

BOOL SetServiceStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status)
{
    if (status == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const sim::ServiceControl::Status reported{status->dwServiceType,   status->dwCurrentState,
                                               status->dwControlsAccepted, status->dwWin32ExitCode,
                                               status->dwServiceSpecificExitCode, status->dwCheckPoint,
                                               status->dwWaitHint};
    uint32_t error = 0;
    if (!Services().SetStatus(reinterpret_cast<uintptr_t>(handle), reported, error)) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}
