#include <windows.h>

#include "handles.h"

namespace {
thread_local DWORD g_lastError = 0;
}

DWORD GetLastError()
{
    return g_lastError;
}

void SetLastError(DWORD error)
{
    g_lastError = error;
}

BOOL CloseHandle(HANDLE handle)
{
    winapi_impl::KernelObject* object = winapi_impl::FromHandle(handle);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete object;
    return TRUE;
}
