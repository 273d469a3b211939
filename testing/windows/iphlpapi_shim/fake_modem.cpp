// Test-only stand-in for the simulated modem's server module: answers
// HalvexSimModemAdapter from a state the shim's test sets through
// HalvexFakeModemSet. The test loads this module by the registered path, the
// same module the shim loads, so both share the state.
#include <windows.h>

#include <cstring>

#include "sim_modem_adapter.h"

namespace {

CRITICAL_SECTION g_lock;
bool g_present = false;
char g_name[256] = {};
DWORD g_operStatus = 0;
LONG g_queries = 0;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        InitializeCriticalSection(&g_lock);
    }
    return TRUE;
}

// present FALSE: the modem is gone. name may be longer than the shim's buffer
// (the answer is then FALSE, as the real export does for too small a buffer).
extern "C" __declspec(dllexport) void WINAPI HalvexFakeModemSet(BOOL present, const char* name, DWORD operStatus)
{
    EnterCriticalSection(&g_lock);
    g_present = present != FALSE;
    std::strncpy(g_name, name != nullptr ? name : "", sizeof(g_name) - 1);
    g_operStatus = operStatus;
    LeaveCriticalSection(&g_lock);
}

// How many times the shim asked.
extern "C" __declspec(dllexport) LONG WINAPI HalvexFakeModemQueries()
{
    return InterlockedCompareExchange(&g_queries, 0, 0);
}

extern "C" __declspec(dllexport) BOOL WINAPI HalvexSimModemAdapter(char* adapterName, DWORD adapterNameSize,
                                                                   DWORD* operStatus)
{
    InterlockedIncrement(&g_queries);
    EnterCriticalSection(&g_lock);
    const std::size_t length = std::strlen(g_name);
    const BOOL answer = g_present && adapterName != nullptr && operStatus != nullptr && length < adapterNameSize;
    if (answer) {
        std::memcpy(adapterName, g_name, length + 1);
        *operStatus = g_operStatus;
    }
    LeaveCriticalSection(&g_lock);
    return answer;
}
