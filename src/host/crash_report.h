// The report of a crash, made once per process: the dump, the restart
// request, the log written out, the end of the process.
#pragma once

#include <windows.h>

// Writes a minidump of the fault on thread `threadId` beside the executable,
// asks for a restart of the service, writes out what the log still holds
// (bounded) and ends the process with "Fatal Error".
[[noreturn]] void ReportCrash(PEXCEPTION_POINTERS exceptionInfo, DWORD threadId);
