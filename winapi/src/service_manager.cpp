#include <cstring>

#include <windows.h>

#include "sim/machine.h"

namespace {

sim::ServiceDatabase& Database()
{
    return sim::Machine::Get().serviceDatabase();
}

SC_HANDLE ToHandle(uintptr_t id)
{
    return reinterpret_cast<SC_HANDLE>(id);
}

uintptr_t ToId(SC_HANDLE handle)
{
    return reinterpret_cast<uintptr_t>(handle);
}

// The answer of a call that failed with `error`.
template <typename Result>
Result Failed(uint32_t error, Result result)
{
    SetLastError(error);
    return result;
}

// The rights a handle of the service control manager can carry: its own six
// (connect to modify-boot-config), the standard rights DELETE to WRITE_OWNER,
// ACCESS_SYSTEM_SECURITY, MAXIMUM_ALLOWED and the four generic rights. A mask
// with any other bit asks for a right that does not exist, and is denied.
constexpr DWORD kManagerRights = 0x0000003Fu | 0x000F0000u | 0x01000000u | 0x02000000u | 0xF0000000u;

}  // namespace

// The laptop's only caller is the service, which runs as LocalSystem. That
// account holds every right on the service control manager, including those of
// SC_MANAGER_ALL_ACCESS that only an administrator is granted, so every right
// that exists is granted here; only a mask with bits that name no right fails.
SC_HANDLE OpenSCManagerW(LPCWSTR machineName, LPCWSTR databaseName, DWORD desiredAccess)
{
    if ((desiredAccess & ~kManagerRights) != 0) {
        return Failed(ERROR_ACCESS_DENIED, SC_HANDLE{});
    }
    // The laptop has no network: only the local machine and its active database.
    if (machineName != nullptr && machineName[0] != L'\0') {
        return Failed(ERROR_INVALID_NAME, SC_HANDLE{});
    }
    if (databaseName != nullptr && sim::ToLowerAscii(sim::Narrow(databaseName)) != "servicesactive") {
        return Failed(ERROR_DATABASE_DOES_NOT_EXIST, SC_HANDLE{});
    }
    uint32_t error = 0;
    const uintptr_t id = Database().OpenManager(error);
    return id == 0 ? Failed(error, SC_HANDLE{}) : ToHandle(id);
}

SC_HANDLE OpenServiceW(SC_HANDLE manager, LPCWSTR serviceName, DWORD desiredAccess)
{
    if (serviceName == nullptr) {
        return Failed(ERROR_INVALID_NAME, SC_HANDLE{});
    }
    uint32_t error = 0;
    const uintptr_t id = Database().OpenService(ToId(manager), sim::Narrow(serviceName), desiredAccess, error);
    return id == 0 ? Failed(error, SC_HANDLE{}) : ToHandle(id);
}

BOOL QueryServiceStatusEx(SC_HANDLE service, SC_STATUS_TYPE infoLevel, LPBYTE buffer, DWORD bufferSize,
                          LPDWORD bytesNeeded)
{
    if (infoLevel != SC_STATUS_PROCESS_INFO) {
        return Failed(ERROR_INVALID_LEVEL, FALSE);
    }
    if (bytesNeeded == nullptr) {
        return Failed(ERROR_INVALID_PARAMETER, FALSE);
    }
    sim::ServiceDatabase::Status status;
    uint32_t error = 0;
    if (!Database().QueryStatus(ToId(service), status, error)) {
        return Failed(error, FALSE);
    }
    if (buffer == nullptr || bufferSize < sizeof(SERVICE_STATUS_PROCESS)) {
        *bytesNeeded = sizeof(SERVICE_STATUS_PROCESS);
        return Failed(ERROR_INSUFFICIENT_BUFFER, FALSE);
    }
    SERVICE_STATUS_PROCESS answer{};
    answer.dwServiceType = 0x10;  // SERVICE_WIN32_OWN_PROCESS
    answer.dwCurrentState = status.state;
    answer.dwControlsAccepted = status.processId == 0 ? 0 : 3;
    answer.dwProcessId = status.processId;
    std::memcpy(buffer, &answer, sizeof(answer));
    *bytesNeeded = sizeof(SERVICE_STATUS_PROCESS);
    return TRUE;
}

BOOL CloseServiceHandle(SC_HANDLE handle)
{
    return Database().Close(ToId(handle)) ? TRUE : Failed(ERROR_INVALID_HANDLE, FALSE);
}
