// The process's unhandled-exception filter: writes a dump beside the
// executable, asks for a restart and ends the process.
#pragma once

#include <windows.h>

LONG WINAPI UnhandledExceptionHandler(PEXCEPTION_POINTERS exceptionInfo);
