// The process-wide filter for exceptions that nothing else handles.
#pragma once

#include <windows.h>

// Writes a minidump beside the executable, asks for a restart of the service
// and ends the process with "Fatal Error". Runs on the thread that faulted;
// never returns.
LONG WINAPI UnhandledExceptionHandler(PEXCEPTION_POINTERS exceptionInfo);
