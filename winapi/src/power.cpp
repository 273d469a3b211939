#include <windows.h>

#include "sim/machine.h"

HPOWERNOTIFY RegisterSuspendResumeNotification(HANDLE recipient, DWORD flags)
{
    // Only the callback form exists here: there are no windows to notify.
    if (recipient == nullptr || flags != DEVICE_NOTIFY_CALLBACK) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const auto* params = static_cast<const DEVICE_NOTIFY_SUBSCRIBE_PARAMETERS*>(recipient);
    if (params->Callback == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    uint32_t error = 0;
    const uintptr_t id = sim::Machine::Get().power().Register(params->Callback, params->Context, error);
    if (id == 0) {
        SetLastError(error);
        return nullptr;
    }
    return reinterpret_cast<HPOWERNOTIFY>(id);
}

BOOL UnregisterSuspendResumeNotification(HPOWERNOTIFY handle)
{
    if (!sim::Machine::Get().power().Unregister(reinterpret_cast<uintptr_t>(handle))) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
