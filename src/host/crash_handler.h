// The crash path: every way the process can die unexpectedly (an exception
// nothing handled, on any thread; abort; std::terminate; the C runtime's
// invalid-parameter and pure-call errors) ends in one report: a minidump
// beside the executable, a restart request, the log written out, and the end
// of the process with "Fatal Error".
#pragma once

#include <windows.h>

// Installs the crash path; the first thing the process does. Makes the crash
// thread, which does the work of the report on a stack of its own.
void InstallCrashHandler();

// The process-wide filter for exceptions that nothing else handles. Hands the
// fault to the crash thread and waits for it to end the process (the first
// fault only: later faults wait for that end and report nothing); without a
// crash thread it reports on the faulting thread. Never returns.
LONG WINAPI UnhandledExceptionHandler(PEXCEPTION_POINTERS exceptionInfo);
