// Threads and synchronisation.
#pragma once

#include "win32/base.h"

#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu

// A critical section is recursive for its owning thread, as on Windows.
typedef struct _CRITICAL_SECTION {
    void* impl;
    DWORD spinCount;
} CRITICAL_SECTION, *LPCRITICAL_SECTION;

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCWSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION section, DWORD spinCount);
void EnterCriticalSection(LPCRITICAL_SECTION section);
void LeaveCriticalSection(LPCRITICAL_SECTION section);
void DeleteCriticalSection(LPCRITICAL_SECTION section);

void Sleep(DWORD milliseconds);
BOOL SwitchToThread();
DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();
