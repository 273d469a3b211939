#include <mutex>
#include <set>

#include <windows.h>

#include "handles.h"

namespace {

thread_local DWORD g_lastError = 0;

// The handle table; never destroyed, as handles may be closed while the process exits.
std::mutex g_handlesMutex;
std::set<const void*>& OpenHandles()
{
    static auto* handles = new std::set<const void*>();
    return *handles;
}

}  // namespace

namespace winapi_impl {

KernelObject::KernelObject()
{
    std::lock_guard<std::mutex> lock(g_handlesMutex);
    OpenHandles().insert(this);
}

KernelObject::~KernelObject()
{
    std::lock_guard<std::mutex> lock(g_handlesMutex);
    OpenHandles().erase(this);
}

KernelObject* FromHandle(HANDLE handle)
{
    std::lock_guard<std::mutex> lock(g_handlesMutex);
    return OpenHandles().count(handle) != 0 ? static_cast<KernelObject*>(handle) : nullptr;
}

}  // namespace winapi_impl

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
