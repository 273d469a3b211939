#include <windows.h>
#include <setupapi.h>
#include <devguid.h>

#include "sim/network.h"

// Only the network class key is held by the simulated laptop.
HKEY SetupDiOpenClassRegKeyExW(const GUID* classGuid, REGSAM samDesired, DWORD flags, PCWSTR machineName,
                               PVOID reserved)
{
    const auto failed = reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
    if (reserved != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return failed;
    }
    if (flags != DIOCR_INSTALLER && flags != DIOCR_INTERFACE) {
        SetLastError(ERROR_INVALID_FLAGS);
        return failed;
    }
    if (machineName != nullptr && machineName[0] != L'\0') {
        SetLastError(ERROR_INVALID_MACHINENAME);
        return failed;
    }
    if (classGuid == nullptr || flags != DIOCR_INSTALLER || *classGuid != GUID_DEVCLASS_NET) {
        SetLastError(ERROR_INVALID_CLASS);
        return failed;
    }
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, sim::Network::kClassKey, 0, samDesired, &key);
    if (status != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(status));
        return failed;
    }
    return key;
}
