// Compile-time checks, built in both builds: the records of the restart path
// have the same layout over the simulated laptop as on 64-bit Windows.
#include <windows.h>
#include <shellapi.h>

#include <cstddef>

static_assert(sizeof(SHELLEXECUTEINFOW) == 112, "64-bit SHELLEXECUTEINFOW");
static_assert(offsetof(SHELLEXECUTEINFOW, nShow) == 48, "show command");
static_assert(offsetof(SHELLEXECUTEINFOW, hProcess) == 104, "process handle");
static_assert(sizeof(SERVICE_STATUS_PROCESS) == 36, "service status with process id");
static_assert(offsetof(SERVICE_STATUS_PROCESS, dwProcessId) == 28, "process id");
