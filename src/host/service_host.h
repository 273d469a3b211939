// The service's process entry, its service main and its control handler.
#pragma once

#include <windows.h>

// The process entry: hands the main thread to the service control dispatcher.
// 0 once the service has stopped, -1 when the dispatcher could not start (a
// program not started by the service control manager).
extern "C" int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand);

// Runs the service from start to stop on the thread the dispatcher creates.
VOID WINAPI HalvexServiceMain(DWORD argc, LPWSTR* argv);

// Called by the dispatcher on the process's main thread; always NO_ERROR.
DWORD WINAPI HalvexServiceHandlerEx(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context);
