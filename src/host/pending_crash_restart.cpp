// TEMPORARY: placeholders that let the host link until the crash handler and
// the restart are merged. Delete this file when they are.
#include "host/crash_handler.h"
#include "host/restart_service.h"

void RestartService() {}

LONG WINAPI UnhandledExceptionHandler(PEXCEPTION_POINTERS)
{
    return EXCEPTION_CONTINUE_SEARCH;
}
